// Oracle's built-in functions as SQLite user functions. Oracle has no empty
// text: '' is NULL, so every function here reads an empty text as NULL and
// never returns one.
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/core/oramessages.h"
#include "server/core/oraerror.h"

#include "server/backend/sqlite/sqlitedecimal.h"
#include "server/backend/sqlite/sqlitestatement.h"
#include "server/backend/sqlite/textsearch.h"

#include <QDateTime>
#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <QRegularExpression>
#include <cmath>
#include <cstring>

namespace vorel::server {

namespace {

bool isNull(sqlite3_value *v)
{
    const int t = sqlite3_value_type(v);
    return t == SQLITE_NULL || (t == SQLITE_TEXT && sqlite3_value_bytes(v) == 0);
}

QString textOf(sqlite3_value *v)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
}

void resultText(sqlite3_context *ctx, const QString &text)
{
    if (text.isEmpty()) {
        sqlite3_result_null(ctx);
        return;
    }
    const QByteArray u = text.toUtf8();
    sqlite3_result_text(ctx, u.constData(), int(u.size()), SQLITE_TRANSIENT);
}

QString oraText(sqlite3_value *v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: return QString();
    case SQLITE_INTEGER: return QString::number(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return oracleNumberText(sqlite3_value_double(v));
    default: return textOf(v);
    }
}

bool numeric(sqlite3_value *v, double *out)
{
    const int t = sqlite3_value_type(v);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) {
        *out = sqlite3_value_double(v);
        return true;
    }
    if (t == SQLITE_TEXT) {
        bool ok = false;
        *out = textOf(v).trimmed().toDouble(&ok);
        return ok;
    }
    return false;
}

// DECODE compares NULL with NULL as equal, numbers as numbers.
bool decodeEqual(sqlite3_value *a, sqlite3_value *b)
{
    const bool an = isNull(a), bn = isNull(b);
    if (an || bn)
        return an && bn;
    const int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    const bool na = ta == SQLITE_INTEGER || ta == SQLITE_FLOAT, nb = tb == SQLITE_INTEGER || tb == SQLITE_FLOAT;
    if (na || nb) {
        double x, y;
        if (numeric(a, &x) && numeric(b, &y))
            return x == y;
        return false;
    }
    return textOf(a) == textOf(b);
}

void resultValue(sqlite3_context *ctx, sqlite3_value *v)
{
    if (isNull(v))
        sqlite3_result_null(ctx);
    else
        sqlite3_result_value(ctx, v);
}

void fnNvl(sqlite3_context *ctx, int, sqlite3_value **a)
{
    resultValue(ctx, isNull(a[0]) ? a[1] : a[0]);
}

void fnNvl2(sqlite3_context *ctx, int, sqlite3_value **a)
{
    resultValue(ctx, isNull(a[0]) ? a[2] : a[1]);
}

void fnDecode(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (argc < 3) {
        sqlite3_result_error(ctx, ora::kNotEnoughArguments, -1);
        return;
    }
    int i = 1;
    for (; i + 1 < argc; i += 2)
        if (decodeEqual(a[0], a[i])) {
            resultValue(ctx, a[i + 1]);
            return;
        }
    if (i < argc)
        resultValue(ctx, a[i]); // the default
    else
        sqlite3_result_null(ctx);
}

void fnDecodeEqual(sqlite3_context *ctx, int, sqlite3_value **a)
{
    sqlite3_result_int(ctx, decodeEqual(a[0], a[1]) ? 1 : 0);
}

void fnSign(sqlite3_context *ctx, int, sqlite3_value **a)
{
    double d;
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
    } else if (!numeric(a[0], &d)) {
        sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
    } else {
        sqlite3_result_int(ctx, d > 0 ? 1 : (d < 0 ? -1 : 0));
    }
}

// A hierarchical query's guard: a row met again above itself is a loop.
void fnNoLoop(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_int64(a[0]) > 0)
        sqlite3_result_error(ctx, ora::kConnectByLoop, -1);
    else
        sqlite3_result_int(ctx, 0);
}

void fnUpper(sqlite3_context *ctx, int, sqlite3_value **a)
{
    resultText(ctx, oraText(a[0]).toUpper());
}

void fnLower(sqlite3_context *ctx, int, sqlite3_value **a)
{
    resultText(ctx, oraText(a[0]).toLower());
}

void fnSysdate(sqlite3_context *ctx, int, sqlite3_value **)
{
    resultText(ctx, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void fnConcat(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    QString out;
    for (int i = 0; i < argc; ++i)
        out += oraText(a[i]);
    resultText(ctx, out);
}

// SUBSTR counts from 1, reads position 0 as 1 and a negative one from the end.
void fnSubstr(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (isNull(a[0]) || isNull(a[1]) || (argc > 2 && isNull(a[2]))) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString s = oraText(a[0]);
    qint64 pos = sqlite3_value_int64(a[1]);
    if (pos == 0)
        pos = 1;
    if (pos < 0)
        pos = s.size() + pos + 1;
    if (pos < 1 || pos > s.size()) {
        sqlite3_result_null(ctx);
        return;
    }
    qint64 len = argc > 2 ? qint64(std::floor(sqlite3_value_double(a[2]))) : s.size();
    if (len < 1) {
        sqlite3_result_null(ctx);
        return;
    }
    resultText(ctx, s.mid(pos - 1, len));
}

// Dates are held as 'YYYY-MM-DD HH:MM:SS'; formats use Oracle's elements.
QDateTime readDate(const QString &text)
{
    static const char *const forms[] = {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd",
                                        "yyyy-MM-ddTHH:mm:ss"};
    for (const char *f : forms) {
        const QDateTime d = QDateTime::fromString(text.left(19), QString::fromLatin1(f));
        if (d.isValid())
            return d;
    }
    return {};
}

// Letters that are no element are written as they are, in one quoted run:
// two quoted letters side by side would read as a quote between them.
QString oracleFormatToQt(const QString &fmt)
{
    static const std::pair<const char *, const char *> map[] = {
        {"YYYY", "yyyy"}, {"YY", "yy"}, {"MM", "MM"}, {"DD", "dd"}, {"HH24", "HH"}, {"HH", "hh"},
        {"MI", "mm"},     {"SS", "ss"},
    };
    QString out, literal;
    auto flush = [&] {
        if (!literal.isEmpty())
            out += QLatin1Char('\'') + literal + QLatin1Char('\'');
        literal.clear();
    };
    const QString up = fmt.toUpper();
    for (qsizetype i = 0; i < up.size();) {
        bool hit = false;
        for (const auto &[ora, qt] : map) {
            if (up.mid(i, qsizetype(strlen(ora))) == QLatin1String(ora)) {
                flush();
                out += QLatin1String(qt);
                i += qsizetype(strlen(ora));
                hit = true;
                break;
            }
        }
        if (!hit) {
            const QChar c = fmt[i++];
            if (c.isLetter()) {
                literal += c;
            } else if (c == QLatin1Char('\'')) {
                flush();
                out += QLatin1String("''");
            } else {
                flush();
                out += c;
            }
        }
    }
    flush();
    return out;
}

// A date written by an Oracle format: numbers, and names in Spanish (the
// language the server's sessions speak, NLS_DATE_LANGUAGE SPANISH), in
// capitals, with a capital first or in small letters as the element is
// written; names padded to the longest and numbers to their width until
// FM turns that off. A "quoted" text and anything that is no element are
// written as they are.
QString formatDate(const QDateTime &d, const QString &fmt)
{
    static const char *const months[] = {"enero", "febrero", "marzo",      "abril",   "mayo",      "junio",
                                         "julio", "agosto",  "septiembre", "octubre", "noviembre", "diciembre"};
    static const char *const monthsShort[] = {"ene", "feb", "mar", "abr", "may", "jun",
                                              "jul", "ago", "sep", "oct", "nov", "dic"};
    static const char *const days[] = {"lunes", "martes", "miércoles", "jueves", "viernes", "sábado", "domingo"};
    static const char *const daysShort[] = {"lun", "mar", "mié", "jue", "vie", "sáb", "dom"};
    const QDate date = d.date();
    const QTime time = d.time();
    const int dow = date.dayOfWeek(); // 1 Monday, as in Spain
    const int h12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    const QString up = fmt.toUpper();
    bool fill = true;
    QString out;
    qsizetype i = 0;
    auto num = [&](qint64 v, int width) {
        return fill ? QStringLiteral("%1").arg(v, width, 10, QLatin1Char('0')) : QString::number(v);
    };
    auto name = [&](const char *n, int width) {
        QString t = QString::fromUtf8(n);
        if (fmt[i].isUpper() && i + 1 < fmt.size() && fmt[i + 1].isUpper())
            t = t.toUpper();
        else if (fmt[i].isUpper())
            t[0] = t[0].toUpper();
        return fill ? t.leftJustified(width) : t;
    };
    struct Element {
        const char *text;
        std::function<QString()> write;
    };
    const Element elements[] = {
        {"YYYY", [&] { return num(date.year(), 4); }},
        {"YYY", [&] { return num(date.year() % 1000, 3); }},
        {"YY", [&] { return num(date.year() % 100, 2); }},
        {"MONTH", [&] { return name(months[date.month() - 1], 10); }},
        {"MON", [&] { return name(monthsShort[date.month() - 1], 3); }},
        {"MM", [&] { return num(date.month(), 2); }},
        {"MI", [&] { return num(time.minute(), 2); }},
        {"DAY", [&] { return name(days[dow - 1], 9); }},
        {"DDD", [&] { return num(date.dayOfYear(), 3); }},
        {"DD", [&] { return num(date.day(), 2); }},
        {"DY", [&] { return name(daysShort[dow - 1], 3); }},
        {"D", [&] { return num(dow, 1); }},
        {"HH24", [&] { return num(time.hour(), 2); }},
        {"HH12", [&] { return num(h12, 2); }},
        {"HH", [&] { return num(h12, 2); }},
        {"SS", [&] { return num(time.second(), 2); }},
        {"AM", [&] { return QString::fromLatin1(time.hour() < 12 ? "AM" : "PM"); }},
        {"PM", [&] { return QString::fromLatin1(time.hour() < 12 ? "AM" : "PM"); }},
        {"IW", [&] { return num(date.weekNumber(), 2); }},
        {"WW", [&] { return num((date.dayOfYear() - 1) / 7 + 1, 2); }},
        {"Q", [&] { return num((date.month() - 1) / 3 + 1, 1); }},
        {"Y", [&] { return num(date.year() % 10, 1); }},
    };
    while (i < fmt.size()) {
        if (fmt[i] == QLatin1Char('"')) {
            qsizetype end = fmt.indexOf(QLatin1Char('"'), i + 1);
            if (end < 0)
                end = fmt.size();
            out += fmt.mid(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        if (up.mid(i, 2) == QLatin1String("FM")) {
            fill = !fill;
            i += 2;
            continue;
        }
        bool hit = false;
        for (const Element &e : elements) {
            const qsizetype n = qsizetype(strlen(e.text));
            if (up.mid(i, n) == QLatin1String(e.text)) {
                out += e.write();
                i += n;
                hit = true;
                break;
            }
        }
        if (!hit)
            out += fmt[i++];
    }
    return out;
}

double decimalPlaces(double d, int places, bool round);

// ---- numbers by a format model -------------------------------------------

// TO_CHAR(n, fmt): Oracle's number format model, with Oracle's default
// characters (NLS_NUMERIC_CHARACTERS '.,': D is ".", G is ","), and "€" for
// L. Elements: 9 0 . , D G (digits and separators), FM (no padding, no
// trailing zeros of 9s), S (sign first or last), MI (last: "-" or blank),
// PR (<n> when negative), L (the currency), EEEE (scientific), X (hex, of a
// whole number not below 0). A number too wide for its digits is all "#".
// Anything else is "ORA-01481". The same algorithm is ora_format_number of
// backend/postgres/functions/ora_numbers.sql.
struct NumberFormat {
    bool fm = false, signFirst = false, signLast = false, mi = false, pr = false, eeee = false, hex = false,
         lowerHex = false;
    QString currencyBefore, currencyAfter; // L where it stands
    QString intPart, fracPart;             // the 9 0 , G of each side; D or . between
    bool point = false;
};

std::optional<NumberFormat> readNumberFormat(const QString &fmt)
{
    NumberFormat f;
    const QString u = fmt.toUpper();
    qsizetype i = 0;
    bool digitsSeen = false;
    while (i < u.size()) {
        const QStringView rest = QStringView(u).mid(i);
        if (rest.startsWith(QLatin1String("FM")) && !digitsSeen && f.currencyBefore.isEmpty()) {
            f.fm = true;
            i += 2;
        } else if (rest.startsWith(QLatin1Char('S')) && !digitsSeen && !f.signFirst && f.currencyBefore.isEmpty()) {
            f.signFirst = true;
            ++i;
        } else if (rest.startsWith(QLatin1Char('L')) && !digitsSeen && f.currencyBefore.isEmpty()) {
            f.currencyBefore = QStringLiteral("€");
            ++i;
        } else if (rest.startsWith(QLatin1Char('9')) || rest.startsWith(QLatin1Char('0'))
                   || ((rest.startsWith(QLatin1Char(',')) || rest.startsWith(QLatin1Char('G'))) && digitsSeen)) {
            if (f.eeee || f.hex)
                return std::nullopt;
            const QChar c = rest[0] == QLatin1Char('G') ? QLatin1Char(',') : rest[0];
            if (f.point && c == QLatin1Char(','))
                return std::nullopt;
            (f.point ? f.fracPart : f.intPart) += c;
            digitsSeen = true;
            ++i;
        } else if ((rest.startsWith(QLatin1Char('.')) || rest.startsWith(QLatin1Char('D'))) && !f.point && !f.hex) {
            f.point = true;
            digitsSeen = true;
            ++i;
        } else if (rest.startsWith(QLatin1Char('X')) && !f.point && !f.eeee
                   && !f.intPart.contains(QLatin1Char('9')) && !f.intPart.contains(QLatin1Char(','))) {
            f.hex = true;
            f.lowerHex = fmt[i] == QLatin1Char('x');
            f.intPart += QLatin1Char('X');
            digitsSeen = true;
            ++i;
        } else if (rest.startsWith(QLatin1String("EEEE")) && digitsSeen && !f.eeee && !f.hex) {
            f.eeee = true;
            i += 4;
        } else if (rest.startsWith(QLatin1String("MI")) && i + 2 == u.size() && digitsSeen) {
            f.mi = true;
            i += 2;
        } else if (rest.startsWith(QLatin1String("PR")) && i + 2 == u.size() && digitsSeen) {
            f.pr = true;
            i += 2;
        } else if (rest.startsWith(QLatin1Char('S')) && i + 1 == u.size() && digitsSeen && !f.signFirst) {
            f.signLast = true;
            ++i;
        } else if (rest.startsWith(QLatin1Char('L')) && digitsSeen && f.currencyBefore.isEmpty()
                   && f.currencyAfter.isEmpty()) {
            f.currencyAfter = QStringLiteral("€");
            ++i;
        } else {
            return std::nullopt;
        }
    }
    if (!digitsSeen || (f.hex && (f.signFirst || f.signLast || f.mi || f.pr || !f.currencyBefore.isEmpty()
                                  || !f.currencyAfter.isEmpty())))
        return std::nullopt;
    if (f.eeee && (f.intPart.contains(QLatin1Char(',')) || f.intPart.isEmpty()))
        return std::nullopt;
    return f;
}

// The digits of `d` at `places` decimals (rounded half away from zero on its
// 15 decimal digits), without sign: "123.40", "0.5" for places 1.
QString fixedDigits(double d, int places)
{
    return QString::number(std::fabs(decimalPlaces(d, places, true)), 'f', places);
}

QString formatNumber(double d, const NumberFormat &f)
{
    const bool negative = d < 0 && decimalPlaces(d, f.eeee ? 400 : int(f.fracPart.size()), true) != 0;
    auto hashes = [&](qsizetype width) { return QString(width, QLatin1Char('#')); };
    // The digits and separators, blanks where a leading 9 has no digit.
    QString body;
    if (f.hex) {
        const double r = decimalPlaces(d, 0, true);
        const qsizetype width = f.intPart.size() + (f.fm ? 0 : 1);
        if (r < 0 || r >= 9.2e18)
            return hashes(width);
        QString h = QString::number(qint64(r), 16);
        if (!f.lowerHex)
            h = h.toUpper();
        const qsizetype zeros = f.intPart.size() - f.intPart.indexOf(QLatin1Char('0'));
        if (f.intPart.contains(QLatin1Char('0')) && h.size() < zeros)
            h = QString(zeros - h.size(), QLatin1Char('0')) + h;
        if (h.size() > f.intPart.size())
            return hashes(width);
        return f.fm ? h : h.rightJustified(width);
    }
    if (f.eeee) {
        const int places = int(f.fracPart.size());
        int exponent = 0;
        QString mantissa;
        if (d != 0) {
            exponent = int(std::floor(std::log10(std::fabs(d))));
            mantissa = fixedDigits(d / std::pow(10.0, exponent), places);
            if (mantissa.startsWith(QLatin1String("10"))) {
                ++exponent;
                mantissa = fixedDigits(d / std::pow(10.0, exponent), places);
            }
        } else {
            mantissa = fixedDigits(0, places);
        }
        if (!f.point)
            mantissa = mantissa.left(1);
        const QString e = QStringLiteral("E%1%2").arg(exponent < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                              .arg(std::abs(exponent), 2, 10, QLatin1Char('0'));
        body = mantissa + e;
        if (f.fm)
            return (negative ? QStringLiteral("-") : QString()) + body;
        return (negative ? QStringLiteral(" -") : QStringLiteral("  ")) + body;
    }
    const qsizetype width = f.intPart.size() + (f.point ? 1 + f.fracPart.size() : 0) + f.currencyBefore.size()
                            + f.currencyAfter.size() + (f.pr ? 2 : 1);
    const QString digits = fixedDigits(d, int(f.fracPart.size()));
    const qsizetype dot = digits.indexOf(QLatin1Char('.'));
    QString whole = dot < 0 ? digits : digits.left(dot);
    QString fraction = dot < 0 ? QString() : digits.mid(dot + 1);
    if (whole == QLatin1String("0"))
        whole.clear();
    const qsizetype room = f.intPart.count(QLatin1Char('9')) + f.intPart.count(QLatin1Char('0'));
    if (whole.size() > room)
        return hashes(width);
    const qsizetype firstZero = f.intPart.indexOf(QLatin1Char('0'));
    // A zero shows as 0 where nothing else would show a digit.
    if (whole.isEmpty() && firstZero < 0 && (!f.point || (f.fm && !fraction.contains(QRegularExpression(QStringLiteral("[1-9]"))))))
        whole = QStringLiteral("0");
    // The integer side right to left: a digit, a zero a 0 asks for, or
    // nothing; a separator only between digits.
    QString side;
    qsizetype next = whole.size() - 1;
    for (qsizetype p = f.intPart.size() - 1; p >= 0; --p) {
        const bool digitLeft = next >= 0 || (firstZero >= 0 && firstZero < p);
        if (f.intPart[p] == QLatin1Char(',')) {
            if (digitLeft)
                side.prepend(QLatin1Char(','));
        } else if (next >= 0) {
            side.prepend(whole[next--]);
        } else if (firstZero >= 0 && p >= firstZero) {
            side.prepend(QLatin1Char('0'));
        }
    }
    if (f.fm) {
        // trailing zeros of the 9s after the point go
        qsizetype keep = fraction.size();
        while (keep > 0 && fraction[keep - 1] == QLatin1Char('0') && f.fracPart[keep - 1] == QLatin1Char('9'))
            --keep;
        fraction.truncate(keep);
    }
    QString shown = f.currencyBefore + side + (f.point ? QStringLiteral(".") + fraction : QString()) + f.currencyAfter;
    if (f.signFirst)
        shown.prepend(QLatin1Char(negative ? '-' : '+'));
    else if (f.signLast)
        shown.append(QLatin1Char(negative ? '-' : '+'));
    else if (f.mi)
        shown.append(negative ? QStringLiteral("-") : f.fm ? QString() : QStringLiteral(" "));
    else if (f.pr)
        shown = negative ? QLatin1Char('<') + shown + QLatin1Char('>') : f.fm ? shown : QLatin1Char(' ') + shown + QLatin1Char(' ');
    else if (negative)
        shown.prepend(QLatin1Char('-'));
    return f.fm ? shown : shown.rightJustified(width);
}

// TO_NUMBER(text, fmt): the text as the format writes a number; what it
// cannot read is ORA-01722.
std::optional<double> readNumber(QString t, const NumberFormat &f)
{
    t = t.trimmed();
    if (f.hex) {
        bool ok = false;
        const qint64 v = t.toLongLong(&ok, 16);
        if (!ok || t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+')))
            return std::nullopt;
        return double(v);
    }
    bool negative = false;
    if (t.startsWith(QLatin1Char('<')) && t.endsWith(QLatin1Char('>'))) {
        negative = true;
        t = t.mid(1, t.size() - 2).trimmed();
    } else if (t.endsWith(QLatin1Char('-')) || t.endsWith(QLatin1Char('+'))) {
        negative = t.endsWith(QLatin1Char('-'));
        t.chop(1);
    }
    if (!negative && (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+')))) {
        negative = t.startsWith(QLatin1Char('-'));
        t.remove(0, 1);
    }
    t.remove(QStringLiteral("€"));
    t.remove(QLatin1Char(','));
    static const QRegularExpression number(QStringLiteral("^([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    if (!number.match(t).hasMatch())
        return std::nullopt;
    const double v = t.toDouble();
    return negative ? -v : v;
}

void fnToChar(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (argc > 1 && sqlite3_value_type(a[0]) == SQLITE_TEXT) {
        const QDateTime d = readDate(textOf(a[0]));
        if (d.isValid()) {
            resultText(ctx, formatDate(d, oraText(a[1])));
            return;
        }
    }
    if (argc > 1 && isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (argc > 1) {
        double d;
        if (!numeric(a[0], &d)) {
            sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
            return;
        }
        const std::optional<NumberFormat> f = readNumberFormat(oraText(a[1]));
        if (!f) {
            sqlite3_result_error(ctx, ora::kNumberFormat, -1);
            return;
        }
        resultText(ctx, formatNumber(d, *f));
        return;
    }
    resultText(ctx, oraText(a[0]));
}

void fnToDate(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString text = oraText(a[0]).trimmed();
    const QString fmt = argc > 1 ? oracleFormatToQt(oraText(a[1])) : QStringLiteral("dd/MM/yyyy");
    QDateTime d = QDateTime::fromString(text, fmt);
    if (!d.isValid())
        d = readDate(text);
    if (!d.isValid()) {
        sqlite3_result_error(ctx, ora::kNonNumericFound, -1);
        return;
    }
    resultText(ctx, d.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void fnToNumber(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    double d;
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    bool read = true;
    if (argc > 1 && sqlite3_value_type(a[0]) == SQLITE_TEXT) {
        const std::optional<NumberFormat> f = readNumberFormat(oraText(a[1]));
        if (!f) {
            sqlite3_result_error(ctx, ora::kNumberFormat, -1);
            return;
        }
        const std::optional<double> n = readNumber(oraText(a[0]), *f);
        read = n.has_value();
        d = n.value_or(0);
    } else {
        read = numeric(a[0], &d);
    }
    if (!read) {
        sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
    } else if (d == std::trunc(d) && std::fabs(d) < 9e18) {
        sqlite3_result_int64(ctx, qint64(d));
    } else {
        sqlite3_result_double(ctx, d);
    }
}

// ---- dates as days ---------------------------------------------------------

// A date as Oracle counts it: a day and the seconds into it, with no time
// zone, so that adding days never meets a change of clock.
struct Stamp {
    QDate date;
    int secs = 0;

    qint64 total() const { return date.toJulianDay() * 86400 + secs; }
    static Stamp fromTotal(qint64 t)
    {
        const qint64 day = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
        return Stamp{QDate::fromJulianDay(day), int(t - day * 86400)};
    }
    QString text() const
    {
        return QStringLiteral("%1-%2-%3 %4:%5:%6")
            .arg(date.year(), 4, 10, QLatin1Char('0'))
            .arg(date.month(), 2, 10, QLatin1Char('0'))
            .arg(date.day(), 2, 10, QLatin1Char('0'))
            .arg(secs / 3600, 2, 10, QLatin1Char('0'))
            .arg(secs / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(secs % 60, 2, 10, QLatin1Char('0'));
    }
};

// A stored date ('YYYY-MM-DD', with ' HH:MM[:SS]' or 'THH:MM:SS') as a stamp.
bool readStamp(const QString &text, Stamp *out)
{
    const QString t = text.left(19);
    if (t.size() < 10 || t[4] != QLatin1Char('-') || t[7] != QLatin1Char('-'))
        return false;
    const QDate d = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid())
        return false;
    int secs = 0;
    if (t.size() > 10) {
        if (t[10] != QLatin1Char(' ') && t[10] != QLatin1Char('T'))
            return false;
        const QString rest = t.mid(11);
        QTime time = QTime::fromString(rest, QStringLiteral("HH:mm:ss"));
        if (!time.isValid())
            time = QTime::fromString(rest, QStringLiteral("HH:mm"));
        if (!time.isValid())
            return false;
        secs = time.msecsSinceStartOfDay() / 1000;
    }
    *out = Stamp{d, secs};
    return true;
}

bool stampOf(sqlite3_value *v, Stamp *out) { return sqlite3_value_type(v) == SQLITE_TEXT && readStamp(textOf(v), out); }

// Oracle's dates run from year 1 to 9999 here.
bool resultStamp(sqlite3_context *ctx, const Stamp &s)
{
    if (!s.date.isValid() || s.date.year() < 1 || s.date.year() > 9999) {
        sqlite3_result_error(ctx, ora::kYearOutOfRange, -1);
        return false;
    }
    resultText(ctx, s.text());
    return true;
}

void resultNumber(sqlite3_context *ctx, double d)
{
    if (d == std::trunc(d) && std::fabs(d) < 9e18)
        sqlite3_result_int64(ctx, qint64(d));
    else
        sqlite3_result_double(ctx, d);
}

// Days added to a date, a fraction of a day to the nearest second.
void addDays(sqlite3_context *ctx, const Stamp &s, double days)
{
    if (!std::isfinite(days) || std::fabs(days) > 4e6) {
        sqlite3_result_error(ctx, ora::kYearOutOfRange, -1);
        return;
    }
    resultStamp(ctx, Stamp::fromTotal(s.total() + std::llround(days * 86400)));
}

bool integerOf(sqlite3_value *v, qint64 *out)
{
    if (sqlite3_value_type(v) == SQLITE_INTEGER) {
        *out = sqlite3_value_int64(v);
        return true;
    }
    if (sqlite3_value_type(v) != SQLITE_TEXT)
        return false;
    bool ok = false;
    *out = textOf(v).trimmed().toLongLong(&ok);
    return ok;
}

// A number's operand of arithmetic as its decimal; false (and Oracle's
// error given) for a date or a text that is no number.
bool decimalOperand(sqlite3_context *ctx, sqlite3_value *v, decimal::Decimal *out)
{
    if (sqlite3_value_type(v) == SQLITE_INTEGER) {
        *out = {sqlite3_value_int64(v), 0};
        return true;
    }
    double d;
    Stamp s;
    if (numeric(v, &d) && decimal::fromDouble(d, out))
        return true;
    sqlite3_result_error(ctx, stampOf(v, &s) ? ora::kNumberGotDate : ora::kInvalidNumber, -1);
    return false;
}

// * and /: whole numbers multiply as whole numbers; the rest in decimals.
void fnMul(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    qint64 r;
    if (sqlite3_value_type(a[0]) == SQLITE_INTEGER && sqlite3_value_type(a[1]) == SQLITE_INTEGER
        && !__builtin_mul_overflow(sqlite3_value_int64(a[0]), sqlite3_value_int64(a[1]), &r)) {
        sqlite3_result_int64(ctx, r);
        return;
    }
    decimal::Decimal x, y, p;
    if (!decimalOperand(ctx, a[0], &x) || !decimalOperand(ctx, a[1], &y))
        return;
    sqlite3_result_double(ctx, decimal::multiply(x, y, &p) ? decimal::nearestDouble(p)
                                                            : decimal::nearestDouble(x) * decimal::nearestDouble(y));
}

void fnDiv(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    decimal::Decimal x, y, q;
    if (!decimalOperand(ctx, a[0], &x) || !decimalOperand(ctx, a[1], &y))
        return;
    if (y.mantissa == 0)
        sqlite3_result_error(ctx, ora::kDivisionByZero, -1);
    else
        sqlite3_result_double(ctx, decimal::divide(x, y, &q) ? decimal::nearestDouble(q)
                                                              : decimal::nearestDouble(x) / decimal::nearestDouble(y));
}

// POWER: a whole exponent (up to 100) multiplies the base that often in
// decimals, exactly while 38 digits hold it; any other in binary.
void fnPower(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    decimal::Decimal x, n;
    if (!decimalOperand(ctx, a[0], &x) || !decimalOperand(ctx, a[1], &n))
        return;
    const double base = decimal::nearestDouble(x), exponent = decimal::nearestDouble(n);
    if (exponent != std::trunc(exponent) || std::fabs(exponent) > 100) {
        const double d = std::pow(base, exponent);
        if (std::isfinite(d))
            sqlite3_result_double(ctx, d);
        else // a negative base to a fraction, or past a double
            sqlite3_result_error(ctx, ora::kArgumentOutOfRange, -1);
        return;
    }
    decimal::Decimal r{1, 0};
    bool exact = true;
    for (int k = 0; k < int(std::fabs(exponent)) && exact; ++k)
        exact = decimal::multiply(r, x, &r);
    if (exact && exponent < 0) {
        if (r.mantissa == 0) {
            sqlite3_result_error(ctx, ora::kDivisionByZero, -1);
            return;
        }
        exact = decimal::divide({1, 0}, r, &r);
    }
    // A whole base to a whole power stays a whole number while it fits.
    if (exact && r.exponent == 0 && sqlite3_value_type(a[0]) == SQLITE_INTEGER
        && r.mantissa >= std::numeric_limits<qint64>::min() && r.mantissa <= std::numeric_limits<qint64>::max())
        sqlite3_result_int64(ctx, qint64(r.mantissa));
    else
        sqlite3_result_double(ctx, exact ? decimal::nearestDouble(r) : std::pow(base, exponent));
}

// A count of seconds in days (or months of 31 days), rounded as a quotient.
double secondsIn(qint64 seconds, qint64 unit)
{
    decimal::Decimal q;
    decimal::divide({seconds, 0}, {unit, 0}, &q);
    return decimal::nearestDouble(q);
}

// + and -: days onto a date, a date minus a date in days, numbers in
// decimals (whole numbers stay whole).
void arithmetic(sqlite3_context *ctx, sqlite3_value **a, bool plus)
{
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    Stamp x, y;
    const bool dx = stampOf(a[0], &x), dy = stampOf(a[1], &y);
    double n;
    if (dx && dy) {
        if (plus)
            sqlite3_result_error(ctx, ora::kDatePlusDate, -1);
        else
            resultNumber(ctx, secondsIn(x.total() - y.total(), 86400));
        return;
    }
    if (dx || dy) {
        if (!dx && !plus) {
            sqlite3_result_error(ctx, ora::kNumberGotDate, -1);
        } else if (!numeric(a[dx ? 1 : 0], &n)) {
            sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
        } else {
            addDays(ctx, dx ? x : y, plus ? n : -n);
        }
        return;
    }
    qint64 i, j, r;
    if (integerOf(a[0], &i) && integerOf(a[1], &j)
        && !(plus ? __builtin_add_overflow(i, j, &r) : __builtin_sub_overflow(i, j, &r))) {
        sqlite3_result_int64(ctx, r);
        return;
    }
    decimal::Decimal p, q, sum;
    if (!decimalOperand(ctx, a[0], &p) || !decimalOperand(ctx, a[1], &q))
        return;
    if (!plus)
        q.mantissa = -q.mantissa;
    if (decimal::add(p, q, &sum))
        sqlite3_result_double(ctx, decimal::nearestDouble(sum));
    else
        sqlite3_result_double(ctx, decimal::nearestDouble(p) + decimal::nearestDouble(q));
}

void fnAdd(sqlite3_context *ctx, int, sqlite3_value **a) { arithmetic(ctx, a, true); }

void fnSub(sqlite3_context *ctx, int, sqlite3_value **a) { arithmetic(ctx, a, false); }

enum class DateUnit { Invalid, Year, Quarter, Month, Week, IsoWeek, MonthWeek, Day, Hour, Minute };

// The format elements TRUNC and ROUND take for a date. DAY, DY and D start
// the week on Monday, as in Spain.
DateUnit dateUnit(const QString &format)
{
    static const std::pair<const char *, DateUnit> units[] = {
        {"SYYYY", DateUnit::Year},  {"YYYY", DateUnit::Year},  {"YEAR", DateUnit::Year},   {"SYEAR", DateUnit::Year},
        {"YYY", DateUnit::Year},    {"YY", DateUnit::Year},    {"Y", DateUnit::Year},      {"Q", DateUnit::Quarter},
        {"MONTH", DateUnit::Month}, {"MON", DateUnit::Month},  {"MM", DateUnit::Month},    {"RM", DateUnit::Month},
        {"WW", DateUnit::Week},     {"IW", DateUnit::IsoWeek}, {"W", DateUnit::MonthWeek}, {"DAY", DateUnit::IsoWeek},
        {"DY", DateUnit::IsoWeek},  {"D", DateUnit::IsoWeek},  {"DDD", DateUnit::Day},     {"DD", DateUnit::Day},
        {"J", DateUnit::Day},       {"HH", DateUnit::Hour},    {"HH12", DateUnit::Hour},   {"HH24", DateUnit::Hour},
        {"MI", DateUnit::Minute},
    };
    const QString f = format.trimmed().toUpper();
    for (const auto &[name, unit] : units)
        if (f == QLatin1String(name))
            return unit;
    return DateUnit::Invalid;
}

// The start of the unit `s` falls in; with `round`, the start of the next
// one from its middle on (July 1 for a year, the 16th for a month and for
// the second month of a quarter, noon for a day, half a week for a week).
Stamp dateStart(const Stamp &s, DateUnit unit, bool round)
{
    const QDate d = s.date;
    switch (unit) {
    case DateUnit::Year: return {QDate(d.year() + (round && d.month() >= 7 ? 1 : 0), 1, 1), 0};
    case DateUnit::Quarter: {
        const int first = (d.month() - 1) / 3 * 3 + 1;
        const bool up = round && (d.month() > first + 1 || (d.month() == first + 1 && d.day() >= 16));
        return {QDate(d.year(), first, 1).addMonths(up ? 3 : 0), 0};
    }
    case DateUnit::Month: return {QDate(d.year(), d.month(), 1).addMonths(round && d.day() >= 16 ? 1 : 0), 0};
    case DateUnit::Week:
    case DateUnit::IsoWeek:
    case DateUnit::MonthWeek: {
        qint64 back = 0;
        if (unit == DateUnit::IsoWeek)
            back = d.dayOfWeek() - 1;
        else if (unit == DateUnit::Week)
            back = (d.dayOfYear() - 1) % 7;
        else
            back = (d.day() - 1) % 7;
        Stamp start{d.addDays(-back), 0};
        if (round && s.total() - start.total() >= 7 * 86400 / 2)
            start.date = start.date.addDays(7);
        return start;
    }
    case DateUnit::Day: return {d.addDays(round && s.secs >= 43200 ? 1 : 0), 0};
    case DateUnit::Hour:
        return Stamp::fromTotal(s.total() - s.secs % 3600 + (round && s.secs % 3600 >= 1800 ? 3600 : 0));
    case DateUnit::Minute: return Stamp::fromTotal(s.total() - s.secs % 60 + (round && s.secs % 60 >= 30 ? 60 : 0));
    case DateUnit::Invalid: break;
    }
    return s;
}

// A number cut or rounded at `places` decimals, on its decimal digits (the
// 15 a double holds): 0.29 cut at two places is 0.29, not 0.28.
double decimalPlaces(double d, int places, bool round)
{
    if (!std::isfinite(d) || d == 0)
        return d;
    places = std::clamp(places, -400, 400);
    const QString e = QString::number(std::fabs(d), 'e', 14); // D.DDDDDDDDDDDDDDe±XX
    QString digits = e.left(1) + e.mid(2, 14);
    const int exponent = e.mid(e.indexOf(QLatin1Char('e')) + 1).toInt();
    const int kept = exponent + 1 + places; // digits before the cut
    if (kept >= 15)
        return d;
    bool up = false;
    if (kept < 0) {
        digits.clear();
    } else {
        up = round && digits[kept] >= QLatin1Char('5');
        digits.truncate(kept);
    }
    // Carry the rounding through the kept digits.
    int carryAt = int(digits.size()) - 1;
    int shift = 0;
    while (up) {
        if (carryAt < 0) {
            digits.prepend(QLatin1Char('1'));
            shift = 1;
            break;
        }
        if (digits[carryAt] == QLatin1Char('9')) {
            digits[carryAt] = QLatin1Char('0');
            --carryAt;
        } else {
            digits[carryAt] = QChar(digits[carryAt].unicode() + 1);
            up = false;
        }
    }
    if (digits.isEmpty())
        return 0;
    // Read back from its decimal digits: built by arithmetic, 10 would come
    // out as 10.000000000000002.
    const double r = (QStringLiteral("0.") + digits + QStringLiteral("e%1").arg(exponent + 1 + shift)).toDouble();
    return d < 0 ? -r : r;
}

// TRUNC and ROUND: of a date, to a unit of its format (a day without one);
// of a number, to decimal places.
void truncOrRound(sqlite3_context *ctx, int argc, sqlite3_value **a, bool round)
{
    if (isNull(a[0]) || (argc > 1 && isNull(a[1]))) {
        sqlite3_result_null(ctx);
        return;
    }
    Stamp s;
    if (stampOf(a[0], &s)) {
        const DateUnit unit = argc > 1 ? dateUnit(oraText(a[1])) : DateUnit::Day;
        if (unit == DateUnit::Invalid)
            sqlite3_result_error(ctx, ora::kDateFormatUnknown, -1);
        else
            resultStamp(ctx, dateStart(s, unit, round));
        return;
    }
    double d, places = 0;
    if (!numeric(a[0], &d) || (argc > 1 && !numeric(a[1], &places))) {
        sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
        return;
    }
    const int p = int(std::clamp(std::trunc(places), -400.0, 400.0));
    const double r = decimalPlaces(d, p, round);
    if (p <= 0)
        resultNumber(ctx, r);
    else
        sqlite3_result_double(ctx, r);
}

void fnTrunc(sqlite3_context *ctx, int argc, sqlite3_value **a) { truncOrRound(ctx, argc, a, false); }

void fnRound(sqlite3_context *ctx, int argc, sqlite3_value **a) { truncOrRound(ctx, argc, a, true); }

// A date's argument that must be one; false (and the error given) if not.
bool dateArgument(sqlite3_context *ctx, sqlite3_value *v, Stamp *s)
{
    if (stampOf(v, s))
        return true;
    sqlite3_result_error(ctx, ora::kNonNumericFound, -1);
    return false;
}

// ADD_MONTHS: the same day so many months on; the last day of a month, or
// a day the month lacks, gives the last day of that month.
void fnAddMonths(sqlite3_context *ctx, int, sqlite3_value **a)
{
    Stamp s;
    double n;
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
    } else if (dateArgument(ctx, a[0], &s)) {
        if (!numeric(a[1], &n)) {
            sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
            return;
        }
        if (std::fabs(n) > 120000) {
            sqlite3_result_error(ctx, ora::kYearOutOfRange, -1);
            return;
        }
        const QDate first = QDate(s.date.year(), s.date.month(), 1).addMonths(int(std::trunc(n)));
        const bool last = s.date.day() == s.date.daysInMonth();
        const int day = last ? first.daysInMonth() : std::min(s.date.day(), first.daysInMonth());
        resultStamp(ctx, Stamp{QDate(first.year(), first.month(), day), s.secs});
    }
}

void fnLastDay(sqlite3_context *ctx, int, sqlite3_value **a)
{
    Stamp s;
    if (isNull(a[0]))
        sqlite3_result_null(ctx);
    else if (dateArgument(ctx, a[0], &s))
        resultStamp(ctx, Stamp{QDate(s.date.year(), s.date.month(), s.date.daysInMonth()), s.secs});
}

// MONTHS_BETWEEN: whole months when both days are the same or both the last
// of their months; otherwise the rest counted in months of 31 days, times
// of day included.
void fnMonthsBetween(sqlite3_context *ctx, int, sqlite3_value **a)
{
    Stamp x, y;
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (!dateArgument(ctx, a[0], &x) || !dateArgument(ctx, a[1], &y))
        return;
    const double months = (x.date.year() - y.date.year()) * 12.0 + (x.date.month() - y.date.month());
    const bool bothLast = x.date.day() == x.date.daysInMonth() && y.date.day() == y.date.daysInMonth();
    if (x.date.day() == y.date.day() || bothLast) {
        resultNumber(ctx, months);
        return;
    }
    decimal::Decimal rest, sum;
    decimal::divide({(x.date.day() - y.date.day()) * qint64(86400) + (x.secs - y.secs), 0}, {31 * 86400, 0}, &rest);
    decimal::add({qint64(months), 0}, rest, &sum);
    resultNumber(ctx, decimal::nearestDouble(sum));
}

// A day of the week by its name in Spanish or English, whole or in its
// first three letters, capitals or not, accents or not: 1 Monday .. 7 Sunday.
int weekday(const QString &name)
{
    QString n = name.trimmed().toUpper();
    n.replace(QChar(0xC9), QLatin1Char('E')).replace(QChar(0xC1), QLatin1Char('A'));
    static const char *const names[][2] = {
        {"LUNES", "MONDAY"},   {"MARTES", "TUESDAY"},  {"MIERCOLES", "WEDNESDAY"}, {"JUEVES", "THURSDAY"},
        {"VIERNES", "FRIDAY"}, {"SABADO", "SATURDAY"}, {"DOMINGO", "SUNDAY"},
    };
    for (int i = 0; i < 7; ++i)
        for (const char *full : names[i])
            if (n == QLatin1String(full) || (n.size() == 3 && QLatin1String(full).startsWith(n)))
                return i + 1;
    return 0;
}

void fnNextDay(sqlite3_context *ctx, int, sqlite3_value **a)
{
    Stamp s;
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
    } else if (dateArgument(ctx, a[0], &s)) {
        const int want = weekday(oraText(a[1]));
        if (want == 0) {
            sqlite3_result_error(ctx, ora::kNotWeekday, -1);
            return;
        }
        const int ahead = (want - s.date.dayOfWeek() + 7) % 7;
        resultStamp(ctx, Stamp{s.date.addDays(ahead == 0 ? 7 : ahead), s.secs});
    }
}

// EXTRACT(field FROM date), the field passed as its name.
void fnExtract(sqlite3_context *ctx, int, sqlite3_value **a)
{
    Stamp s;
    if (isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (!dateArgument(ctx, a[1], &s))
        return;
    const QString field = oraText(a[0]).toUpper();
    const int values[] = {s.date.year(), s.date.month(), s.date.day(), s.secs / 3600, s.secs / 60 % 60, s.secs % 60};
    static const char *const fields[] = {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND"};
    for (int i = 0; i < 6; ++i)
        if (field == QLatin1String(fields[i])) {
            sqlite3_result_int(ctx, values[i]);
            return;
        }
    sqlite3_result_error(ctx, ora::kMissingKeyword, -1);
}

void fnMod(sqlite3_context *ctx, int, sqlite3_value **a)
{
    double x, y;
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
    } else if (!numeric(a[0], &x) || !numeric(a[1], &y)) {
        sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
    } else if (y == 0) {
        sqlite3_result_double(ctx, x);
    } else if (sqlite3_value_type(a[0]) == SQLITE_INTEGER && sqlite3_value_type(a[1]) == SQLITE_INTEGER) {
        const qint64 i = sqlite3_value_int64(a[0]), j = sqlite3_value_int64(a[1]);
        sqlite3_result_int64(ctx, j == -1 ? 0 : i % j);
    } else {
        // On the decimals, as Oracle's numbers are: MOD(-7, 0.29) is -0.04,
        // where the binary remainder is not.
        auto read = [](sqlite3_value *v, double d, decimal::Decimal *out) {
            if (sqlite3_value_type(v) != SQLITE_INTEGER)
                return decimal::fromDouble(d, out);
            *out = {sqlite3_value_int64(v), 0};
            return true;
        };
        decimal::Decimal p, q, r;
        const bool exact = read(a[0], x, &p) && read(a[1], y, &q) && decimal::remainder(p, q, &r);
        sqlite3_result_double(ctx, exact ? decimal::nearestDouble(r) : std::fmod(x, y));
    }
}

// ---- texts -----------------------------------------------------------------

bool anyNull(int argc, sqlite3_value **a)
{
    for (int i = 0; i < argc; ++i)
        if (isNull(a[i]))
            return true;
    return false;
}

// A count argument: a number cut to a whole one, within bounds that keep
// what it builds small enough to hold.
bool countOf(sqlite3_context *ctx, sqlite3_value *v, qint64 *out)
{
    double d;
    if (!numeric(v, &d)) {
        sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
        return false;
    }
    *out = qint64(std::clamp(std::trunc(d), -1e9, 1e9));
    return true;
}

// LPAD and RPAD: the text made `n` characters long, cut or filled from the
// pad text (a blank without one) on its left or right.
void pad(sqlite3_context *ctx, int argc, sqlite3_value **a, bool left)
{
    qint64 n;
    if (anyNull(argc, a) || !countOf(ctx, a[1], &n)) {
        if (anyNull(argc, a))
            sqlite3_result_null(ctx);
        return;
    }
    const QString s = oraText(a[0]);
    const QString fill = argc > 2 ? oraText(a[2]) : QStringLiteral(" ");
    if (n > sqlite3_limit(sqlite3_context_db_handle(ctx), SQLITE_LIMIT_LENGTH, -1)) {
        sqlite3_result_error_toobig(ctx);
        return;
    }
    if (n <= s.size()) {
        resultText(ctx, n > 0 ? s.left(n) : QString());
        return;
    }
    QString padding;
    padding.reserve(n - s.size());
    while (padding.size() < n - s.size())
        padding += fill;
    padding.truncate(n - s.size());
    resultText(ctx, left ? padding + s : s + padding);
}

void fnLpad(sqlite3_context *ctx, int argc, sqlite3_value **a) { pad(ctx, argc, a, true); }

void fnRpad(sqlite3_context *ctx, int argc, sqlite3_value **a) { pad(ctx, argc, a, false); }

// INSTR: where the `occurrence`th `sub` begins, looking forward from
// `start`, or backward from the end when `start` is negative; 0 if nowhere.
void fnInstr(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    qint64 start = 1, occurrence = 1;
    if (anyNull(argc, a)) {
        sqlite3_result_null(ctx);
        return;
    }
    if ((argc > 2 && !countOf(ctx, a[2], &start)) || (argc > 3 && !countOf(ctx, a[3], &occurrence)))
        return;
    if (occurrence < 1) {
        sqlite3_result_error(ctx, ora::kArgumentOutOfRange, -1);
        return;
    }
    const QString s = oraText(a[0]), sub = oraText(a[1]);
    const auto *stop = static_cast<const std::atomic<bool> *>(sqlite3_user_data(ctx));
    const TextSearch search(sub);
    qint64 found = 0;
    // The wanted'th place found from `from` on, overlapping as INSTR counts.
    const auto nth = [&](qsizetype from, qint64 wanted) {
        qint64 seen = 0;
        return search.scan(s, from, true, stop, [&](qsizetype at) {
            if (++seen < wanted)
                return true;
            found = at + 1;
            return false;
        });
    };
    TextSearch::Outcome outcome = TextSearch::Outcome::Done;
    if (start > 0) {
        outcome = nth(start - 1, occurrence);
    } else if (start < 0 && -start <= s.size()) {
        // Backward from the last place a match may begin: the places up to
        // it counted, then the occurrence'th from their end taken.
        const qsizetype last = s.size() + start;
        qint64 count = 0;
        outcome = search.scan(s, 0, true, stop, [&](qsizetype at) {
            if (at > last)
                return false;
            ++count;
            return true;
        });
        if (outcome == TextSearch::Outcome::Done && count >= occurrence)
            outcome = nth(0, count - occurrence + 1);
    }
    if (outcome == TextSearch::Outcome::Stopped) {
        sqlite3_result_error_code(ctx, SQLITE_INTERRUPT);
        return;
    }
    sqlite3_result_int64(ctx, found);
}

// INITCAP: each word's first letter a capital, the rest small; a word is a
// run of letters and digits.
QString initcap(const QString &s)
{
    QString out = s;
    bool inWord = false;
    for (QChar &c : out) {
        c = inWord ? c.toLower() : c.toUpper();
        inWord = c.isLetterOrNumber();
    }
    return out;
}

void fnInitcap(sqlite3_context *ctx, int, sqlite3_value **a) { resultText(ctx, initcap(oraText(a[0]))); }

// TRANSLATE: each character of `from` becomes the one at its place in
// `to`, or goes when `to` is shorter.
void fnTranslate(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc, a)) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString s = oraText(a[0]), from = oraText(a[1]), to = oraText(a[2]);
    QString out;
    out.reserve(s.size());
    for (const QChar c : s) {
        const qsizetype i = from.indexOf(c);
        if (i < 0)
            out += c;
        else if (i < to.size())
            out += to[i];
    }
    resultText(ctx, out);
}

// REPLACE: without a replacement (or a NULL one) the text found goes; a
// NULL or empty search leaves the text as it is.
void fnReplace(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString s = oraText(a[0]);
    if (isNull(a[1])) {
        resultText(ctx, s);
        return;
    }
    const QString sub = oraText(a[1]);
    const QString with = argc > 2 ? oraText(a[2]) : QString();
    const qint64 limit = sqlite3_limit(sqlite3_context_db_handle(ctx), SQLITE_LIMIT_LENGTH, -1);
    const auto *stop = static_cast<const std::atomic<bool> *>(sqlite3_user_data(ctx));
    QString out;
    qsizetype copied = 0;
    bool tooBig = false;
    const TextSearch::Outcome outcome = TextSearch(sub).scan(s, 0, false, stop, [&](qsizetype at) {
        out += QStringView(s).sliced(copied, at - copied);
        out += with;
        copied = at + sub.size();
        tooBig = out.size() > limit;
        return !tooBig;
    });
    if (outcome == TextSearch::Outcome::Stopped) {
        sqlite3_result_error_code(ctx, SQLITE_INTERRUPT);
        return;
    }
    if (tooBig || out.size() + (s.size() - copied) > limit) {
        sqlite3_result_error_toobig(ctx);
        return;
    }
    out += QStringView(s).sliced(copied);
    resultText(ctx, out);
}

// LTRIM and RTRIM: the characters of the set (a blank without one) taken
// off the left or the right end.
void trim(sqlite3_context *ctx, int argc, sqlite3_value **a, bool left)
{
    if (anyNull(argc, a)) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString s = oraText(a[0]);
    const QString set = argc > 1 ? oraText(a[1]) : QStringLiteral(" ");
    qsizetype from = 0, to = s.size();
    if (left)
        while (from < to && set.contains(s[from]))
            ++from;
    else
        while (to > from && set.contains(s[to - 1]))
            --to;
    resultText(ctx, s.mid(from, to - from));
}

void fnLtrim(sqlite3_context *ctx, int argc, sqlite3_value **a) { trim(ctx, argc, a, true); }

void fnRtrim(sqlite3_context *ctx, int argc, sqlite3_value **a) { trim(ctx, argc, a, false); }

// GREATEST and LEAST: NULL if any is; compared as the first one is, a
// number against numbers, anything else as text.
void extreme(sqlite3_context *ctx, int argc, sqlite3_value **a, bool greatest)
{
    if (argc < 1 || anyNull(argc, a)) {
        if (argc < 1)
            sqlite3_result_error(ctx, ora::kNotEnoughArguments, -1);
        else
            sqlite3_result_null(ctx);
        return;
    }
    const int t = sqlite3_value_type(a[0]);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) {
        int best = 0;
        double bestValue = sqlite3_value_double(a[0]);
        for (int i = 1; i < argc; ++i) {
            double d;
            if (!numeric(a[i], &d)) {
                sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
                return;
            }
            if (greatest ? d > bestValue : d < bestValue) {
                best = i;
                bestValue = d;
            }
        }
        const int bt = sqlite3_value_type(a[best]);
        if (bt == SQLITE_INTEGER || bt == SQLITE_FLOAT)
            sqlite3_result_value(ctx, a[best]);
        else
            resultNumber(ctx, bestValue);
        return;
    }
    int best = 0;
    QString bestText = oraText(a[0]);
    for (int i = 1; i < argc; ++i) {
        const QString s = oraText(a[i]);
        const int c = QString::compare(s, bestText);
        if (greatest ? c > 0 : c < 0) {
            best = i;
            bestText = s;
        }
    }
    resultText(ctx, bestText);
    (void)best;
}

void fnGreatest(sqlite3_context *ctx, int argc, sqlite3_value **a) { extreme(ctx, argc, a, true); }

void fnLeast(sqlite3_context *ctx, int argc, sqlite3_value **a) { extreme(ctx, argc, a, false); }

// ---- LISTAGG -----------------------------------------------------------------

// ora_listagg(value, separator, key, how, key, how, ...): the values
// (NULLs left out) joined in the order of their keys; `how` 1 sorts a key
// descending, 2 puts its NULLs apart from the direction's default (last
// ascending, first descending).
struct ListItem {
    QString value;
    std::vector<sqlite3_value *> keys;
};

struct ListAgg {
    std::vector<ListItem> items;
    QString separator;
    std::vector<int> how;
};

int compareKeys(sqlite3_value *a, sqlite3_value *b, int how)
{
    const bool an = isNull(a), bn = isNull(b);
    const bool nullsFirst = (how & 1) != ((how & 2) != 0);
    if (an || bn) {
        if (an && bn)
            return 0;
        return (an ? -1 : 1) * (nullsFirst ? 1 : -1);
    }
    int c;
    double x, y;
    const int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    const bool na = ta == SQLITE_INTEGER || ta == SQLITE_FLOAT, nb = tb == SQLITE_INTEGER || tb == SQLITE_FLOAT;
    if (na && nb && numeric(a, &x) && numeric(b, &y))
        c = x < y ? -1 : (x > y ? 1 : 0);
    else if (na != nb)
        c = na ? -1 : 1; // numbers before texts, as SQLite sorts them
    else
        c = QString::compare(textOf(a), textOf(b));
    return (how & 1) ? -c : c;
}

void listaggStep(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    // SQLite's context holds a pointer to the list, freed by the final call.
    auto **slot = static_cast<ListAgg **>(sqlite3_aggregate_context(ctx, sizeof(ListAgg *)));
    if (!slot)
        return sqlite3_result_error_nomem(ctx);
    if (argc < 2 || argc % 2 != 0)
        return sqlite3_result_error(ctx, ora::kInvalidArgumentCount, -1);
    if (!*slot) {
        *slot = new ListAgg{{}, oraText(a[1]), {}};
        for (int i = 3; i < argc; i += 2)
            (*slot)->how.push_back(sqlite3_value_int(a[i]));
    }
    if (isNull(a[0]))
        return;
    ListItem item{oraText(a[0]), {}};
    for (int i = 2; i < argc; i += 2)
        item.keys.push_back(sqlite3_value_dup(a[i]));
    (*slot)->items.push_back(std::move(item));
}

void listaggFinal(sqlite3_context *ctx)
{
    auto **slot = static_cast<ListAgg **>(sqlite3_aggregate_context(ctx, 0));
    if (!slot || !*slot) {
        sqlite3_result_null(ctx);
        return;
    }
    const std::unique_ptr<ListAgg> agg(*slot);
    *slot = nullptr;
    std::vector<ListItem> &items = agg->items;
    std::stable_sort(items.begin(), items.end(), [&agg](const ListItem &x, const ListItem &y) {
        for (size_t k = 0; k < x.keys.size(); ++k)
            if (const int c = compareKeys(x.keys[k], y.keys[k], agg->how[k]))
                return c < 0;
        return false;
    });
    QString out;
    qint64 size = 0;
    const qint64 most = sqlite3_limit(sqlite3_context_db_handle(ctx), SQLITE_LIMIT_LENGTH, -1);
    bool tooBig = false;
    for (size_t i = 0; i < items.size() && !tooBig; ++i) {
        size += items[i].value.size() + (i ? agg->separator.size() : 0);
        tooBig = size > most;
        if (!tooBig)
            out += (i ? agg->separator : QString()) + items[i].value;
    }
    for (ListItem &item : items)
        for (sqlite3_value *v : item.keys)
            sqlite3_value_free(v);
    if (tooBig)
        sqlite3_result_error(ctx, ora::kConcatenationTooLong, -1);
    else
        resultText(ctx, out);
}

// ---- SUM, TOTAL and AVG -----------------------------------------------------

// SQLite adds doubles in binary, where ten times 0.1 is not 1 and a ledger's
// debits less its credits need not come to 0; these add the decimals the
// values stand for. Whole numbers alone sum to a whole number, as SQLite's
// do. Past what 38 digits hold the sum goes on in binary.
struct DecimalSum {
    decimal::Decimal sum; // zero in SQLite's zeroed context
    double binary;
    qint64 count;
    bool inBinary;
    bool fractional;
};

enum class SumKind { Sum, Total, Avg };

// SQLite aligns an aggregate's context to 8 bytes, an __int128 wants 16:
// the sum is copied in and out.
bool loadSum(sqlite3_context *ctx, int size, DecimalSum *s)
{
    const void *at = sqlite3_aggregate_context(ctx, size);
    if (at)
        std::memcpy(static_cast<void *>(s), at, sizeof(DecimalSum));
    return at != nullptr;
}

void sumStep(sqlite3_context *ctx, sqlite3_value *v, bool add)
{
    DecimalSum sum;
    if (!loadSum(ctx, sizeof(DecimalSum), &sum))
        return sqlite3_result_error_nomem(ctx);
    if (isNull(v))
        return;
    decimal::Decimal d;
    if (!decimalOperand(ctx, v, &d))
        return;
    DecimalSum *s = &sum;
    s->fractional = s->fractional || sqlite3_value_type(v) != SQLITE_INTEGER;
    if (!add)
        d.mantissa = -d.mantissa;
    s->count += add ? 1 : -1;
    if (!s->inBinary && !decimal::add(s->sum, d, &s->sum)) {
        s->inBinary = true;
        s->binary = decimal::nearestDouble(s->sum);
    }
    if (s->inBinary)
        s->binary += decimal::nearestDouble(d);
    std::memcpy(sqlite3_aggregate_context(ctx, sizeof(DecimalSum)), static_cast<const void *>(s), sizeof(DecimalSum));
}

void sumResult(sqlite3_context *ctx, SumKind kind)
{
    DecimalSum sum;
    const DecimalSum *s = loadSum(ctx, 0, &sum) ? &sum : nullptr;
    if (!s || s->count == 0) {
        if (kind == SumKind::Total)
            sqlite3_result_double(ctx, 0);
        else
            sqlite3_result_null(ctx);
        return;
    }
    if (kind == SumKind::Avg) {
        decimal::Decimal q;
        sqlite3_result_double(ctx, !s->inBinary && decimal::divide(s->sum, {s->count, 0}, &q)
                                       ? decimal::nearestDouble(q)
                                       : (s->inBinary ? s->binary : decimal::nearestDouble(s->sum)) / double(s->count));
        return;
    }
    const double d = s->inBinary ? s->binary : decimal::nearestDouble(s->sum);
    const bool whole = !s->fractional && !s->inBinary && s->sum.exponent == 0
                       && s->sum.mantissa >= std::numeric_limits<qint64>::min()
                       && s->sum.mantissa <= std::numeric_limits<qint64>::max();
    if (kind == SumKind::Sum && whole)
        sqlite3_result_int64(ctx, qint64(s->sum.mantissa));
    else
        sqlite3_result_double(ctx, d);
}

void sumAdd(sqlite3_context *ctx, int, sqlite3_value **a) { sumStep(ctx, a[0], true); }
void sumRemove(sqlite3_context *ctx, int, sqlite3_value **a) { sumStep(ctx, a[0], false); }
void sumFinal(sqlite3_context *ctx) { sumResult(ctx, SumKind::Sum); }
void totalFinal(sqlite3_context *ctx) { sumResult(ctx, SumKind::Total); }
void avgFinal(sqlite3_context *ctx) { sumResult(ctx, SumKind::Avg); }

} // namespace

void registerOracleFunctions(sqlite3 *db, const std::atomic<bool> *stop)
{
    struct Fn {
        const char *name;
        int args;
        void (*fn)(sqlite3_context *, int, sqlite3_value **);
        bool deterministic;
    };
    static const Fn fns[] = {
        {"nvl", 2, fnNvl, true},
        {"nvl2", 3, fnNvl2, true},
        {"decode", -1, fnDecode, true},
        {"ora_decode_eq", 2, fnDecodeEqual, true},
        {"sign", 1, fnSign, true},
        {"ora_no_loop", 1, fnNoLoop, true},
        {"upper", 1, fnUpper, true},
        {"lower", 1, fnLower, true},
        {"ora_sysdate", 0, fnSysdate, false},
        {"ora_concat", -1, fnConcat, true},
        {"substr", 2, fnSubstr, true},
        {"substr", 3, fnSubstr, true},
        {"to_char", 1, fnToChar, true},
        {"to_char", 2, fnToChar, true},
        {"to_date", 1, fnToDate, true},
        {"to_date", 2, fnToDate, true},
        {"to_number", 1, fnToNumber, true},
        {"to_number", 2, fnToNumber, true},
        {"trunc", 1, fnTrunc, true},
        {"trunc", 2, fnTrunc, true},
        {"mod", 2, fnMod, true},
        {"round", 1, fnRound, true},
        {"round", 2, fnRound, true},
        {"ora_add", 2, fnAdd, true},
        {"ora_sub", 2, fnSub, true},
        {"ora_mul", 2, fnMul, true},
        {"ora_div", 2, fnDiv, true},
        {"power", 2, fnPower, true},
        {"add_months", 2, fnAddMonths, true},
        {"last_day", 1, fnLastDay, true},
        {"months_between", 2, fnMonthsBetween, true},
        {"next_day", 2, fnNextDay, true},
        {"ora_extract", 2, fnExtract, true},
        {"lpad", 2, fnLpad, true},
        {"lpad", 3, fnLpad, true},
        {"rpad", 2, fnRpad, true},
        {"rpad", 3, fnRpad, true},
        {"instr", 2, fnInstr, true},
        {"instr", 3, fnInstr, true},
        {"instr", 4, fnInstr, true},
        {"initcap", 1, fnInitcap, true},
        {"translate", 3, fnTranslate, true},
        {"replace", 2, fnReplace, true},
        {"replace", 3, fnReplace, true},
        {"ltrim", 1, fnLtrim, true},
        {"ltrim", 2, fnLtrim, true},
        {"rtrim", 1, fnRtrim, true},
        {"rtrim", 2, fnRtrim, true},
        {"concat", 2, fnConcat, true},
        {"greatest", -1, fnGreatest, true},
        {"least", -1, fnLeast, true},
    };
    for (const Fn &f : fns) {
        const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        // The watchdog's flag, for the functions that search long texts.
        sqlite3_create_function_v2(db, f.name, f.args, flags, const_cast<std::atomic<bool> *>(stop), f.fn, nullptr,
                                   nullptr, nullptr);
    }
    sqlite3_create_function_v2(db, "ora_listagg", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, nullptr, listaggStep,
                               listaggFinal, nullptr);
    // In place of SQLite's own, as aggregates and as window functions.
    const struct {
        const char *name;
        void (*final)(sqlite3_context *);
    } sums[] = {{"sum", sumFinal}, {"total", totalFinal}, {"avg", avgFinal}};
    for (const auto &f : sums)
        sqlite3_create_window_function(db, f.name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, sumAdd, f.final,
                                       f.final, sumRemove, nullptr);
    // Oracle's LIKE tells capitals from small letters.
    sqlite3_exec(db, "PRAGMA case_sensitive_like = ON", nullptr, nullptr, nullptr);
}

ColumnLookup schemaLookup(sqlite3 *db)
{
    return [db](const QString &table, const QString &column) {
        const sqlite::Statement st =
            sqlite::prepare(db, "SELECT type FROM pragma_table_info(?1) WHERE name = ?2 COLLATE NOCASE");
        if (!st)
            return ColumnType::Absent;
        sqlite::bindText(st.get(), 1, table);
        sqlite::bindText(st.get(), 2, column);
        if (sqlite3_step(st.get()) != SQLITE_ROW)
            return ColumnType::Absent;
        const QString type = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st.get(), 0)));
        return type.startsWith(QLatin1String("DATE"), Qt::CaseInsensitive)
                       || type.startsWith(QLatin1String("TIMESTAMP"), Qt::CaseInsensitive)
                   ? ColumnType::Date
                   : ColumnType::Other;
    };
}

void runMerge(sqlite3 *db, const MergeSteps &steps,
              const std::function<sqlite3_stmt *(const QString &sql, bool read)> &prepare,
              const std::function<QString()> &failure)
{
    auto exec = [&](const char *sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw OraError(failure());
    };
    auto run = [&](const QString &sql, bool read, const std::function<void(sqlite3_stmt *)> &row) {
        const sqlite::Statement stmt(prepare(sql, read));
        int rc;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW)
            if (row)
                row(stmt.get());
        if (rc != SQLITE_DONE)
            throw OraError(failure());
    };
    exec("SAVEPOINT vorel_merge");
    try {
        if (!steps.conflicts.isEmpty()) {
            bool twice = false;
            run(steps.conflicts, true, [&](sqlite3_stmt *) { twice = true; });
            if (twice)
                throw OraError(QString::fromLatin1(ora::kUnstableRows));
        }
        QStringList updated;
        if (!steps.update.isEmpty())
            run(steps.update, false, [&](sqlite3_stmt *st) {
                if (!steps.remove.isEmpty())
                    updated << QString::number(sqlite3_column_int64(st, 0));
            });
        if (!steps.insert.isEmpty())
            run(steps.insert, false, {});
        if (!steps.remove.isEmpty() && !updated.isEmpty())
            run(QString(steps.remove).replace(QLatin1String("vorel_updated"), updated.join(QLatin1Char(','))), false, {});
        exec("RELEASE vorel_merge");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK TO vorel_merge; RELEASE vorel_merge", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace vorel::server
