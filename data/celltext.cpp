#include "data/celltext.h"

#include <QString>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace vorel {

int FloatText15(double value, char *out)
{
    if (value == 0) {
        out[0] = '0'; // negative zero too, as Qt writes it
        return 1;
    }
    // Subnormal numbers hold fewer digits than fifteen: the slow way.
    if (std::isfinite(value) && std::fabs(value) >= std::numeric_limits<double>::min()) {
        // The shortest digits that read back as the value. Up to fifteen of
        // them are also its fifteen-digit rounding (any decimal of fifteen
        // digits survives a trip through a double), so only the layout of
        // %.15g is left to do; longer ones go the slow way.
        char sci[40];
        const char *end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
        const char *p = sci;
        const bool negative = *p == '-';
        if (negative)
            ++p;
        const char *e = std::find(p, end, 'e');
        char digits[24];
        int count = 0;
        for (const char *q = p; q < e && count < 20; ++q)
            if (*q != '.')
                digits[count++] = *q;
        if (count <= 15 && e + 2 < end) {
            int exponent = 0;
            std::from_chars(e + 2, end, exponent);
            if (e[1] == '-')
                exponent = -exponent;
            char *o = out;
            if (negative)
                *o++ = '-';
            if (exponent < -4 || exponent >= 15) {
                *o++ = digits[0];
                if (count > 1) {
                    *o++ = '.';
                    std::memcpy(o, digits + 1, size_t(count - 1));
                    o += count - 1;
                }
                *o++ = 'e';
                *o++ = exponent < 0 ? '-' : '+';
                const int magnitude = exponent < 0 ? -exponent : exponent;
                if (magnitude < 10)
                    *o++ = '0';
                o = std::to_chars(o, o + 4, magnitude).ptr;
            } else if (exponent >= 0) {
                for (int i = 0; i <= exponent; ++i)
                    *o++ = i < count ? digits[i] : '0';
                if (count > exponent + 1) {
                    *o++ = '.';
                    std::memcpy(o, digits + exponent + 1, size_t(count - exponent - 1));
                    o += count - exponent - 1;
                }
            } else {
                *o++ = '0';
                *o++ = '.';
                for (int i = 0; i < -exponent - 1; ++i)
                    *o++ = '0';
                std::memcpy(o, digits, size_t(count));
                o += count;
            }
            return int(o - out);
        }
    }
    const QByteArray text = QString::number(value, 'g', 15).toLatin1();
    const int n = int(std::min<qsizetype>(text.size(), CellTextRoom));
    std::memcpy(out, text.constData(), size_t(n));
    return n;
}

TWireDateTime SplitWireDateTime(qint64 wireMs)
{
    constexpr qint64 kDay = 86400000;
    // Floor division, for the readings before 1970.
    qint64 days = wireMs / kDay;
    qint64 inDay = wireMs % kDay;
    if (inDay < 0) {
        inDay += kDay;
        --days;
    }
    // Days to the civil calendar, by eras of 400 years counted from March.
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    TWireDateTime t;
    t.Day = int(doy - (153 * mp + 2) / 5 + 1);
    t.Month = int(mp < 10 ? mp + 3 : mp - 9);
    t.Year = yoe + era * 400 + (t.Month <= 2 ? 1 : 0);
    t.Hour = int(inDay / 3600000);
    t.Minute = int(inDay / 60000 % 60);
    t.Second = int(inDay / 1000 % 60);
    t.Msec = int(inDay % 1000);
    return t;
}

int DayMonthYearText(const TWireDateTime &t, bool withTime, char *out)
{
    if (t.Year < 1000 || t.Year > 9999)
        return 0;
    auto two = [out](int at, int v) {
        out[at] = char('0' + v / 10);
        out[at + 1] = char('0' + v % 10);
    };
    two(0, t.Day);
    out[2] = '/';
    two(3, t.Month);
    out[5] = '/';
    two(6, int(t.Year / 100));
    two(8, int(t.Year % 100));
    if (!withTime)
        return 10;
    out[10] = ' ';
    two(11, t.Hour);
    out[13] = ':';
    two(14, t.Minute);
    out[16] = ':';
    two(17, t.Second);
    return 19;
}

} // namespace vorel
