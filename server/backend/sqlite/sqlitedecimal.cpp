#include "server/backend/sqlite/sqlitedecimal.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vorel::server::decimal {

namespace {

using Int = __int128;

// 10^0 .. 10^38, all an __int128 holds.
constexpr auto kPowers = [] {
    std::array<Int, 39> p{};
    p[0] = 1;
    for (size_t i = 1; i < p.size(); ++i)
        p[i] = p[i - 1] * 10;
    return p;
}();

int digitCount(Int m)
{
    if (m < 0)
        m = -m;
    int n = 1;
    while (n < int(kPowers.size()) && m >= kPowers[size_t(n)])
        ++n;
    return n;
}

Int power(int n) { return kPowers[size_t(n)]; }

// m * 10^n, false past what an __int128 holds.
bool scaled(Int m, int n, Int *out)
{
    if (n > 38)
        return m == 0 ? (*out = 0, true) : false;
    return !__builtin_mul_overflow(m, power(n), out);
}

} // namespace

bool fromDouble(double d, Decimal *out)
{
    if (!std::isfinite(d))
        return false;
    // Few places (money), without printing: the digits the double reads
    // back from with them are its shortest but for trailing zeros, since two
    // decimals of four places lie further apart than a double's rounding.
    static const double scale[] = {1, 10, 100, 1000, 10000};
    for (int k = 0; k < 5; ++k) {
        const double m = d * scale[k];
        if (std::fabs(m) < 9007199254740992.0 && m == std::trunc(m) && m / scale[k] == d) {
            *out = {Int(int64_t(m)), -k};
            return true;
        }
    }
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, d); // the shortest that reads back
    const char *p = buf;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    Int m = 0;
    int exponent = 0;
    bool fraction = false;
    for (; p < r.ptr && *p != 'e'; ++p) {
        if (*p == '.') {
            fraction = true;
            continue;
        }
        m = m * 10 + (*p - '0');
        if (fraction)
            --exponent;
    }
    if (p < r.ptr) {
        int e = 0;
        std::from_chars(p + 1 + (p[1] == '+'), r.ptr, e);
        exponent += e;
    }
    while (m != 0 && m % 10 == 0) {
        m /= 10;
        ++exponent;
    }
    *out = {negative ? -m : m, exponent};
    return true;
}

double nearestDouble(const Decimal &d)
{
    static const double exact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (d.mantissa == 0)
        return 0.0;
    // Both factors exact and one rounding: the nearest double.
    const Int limit = Int(1) << 53;
    if (d.mantissa < limit && d.mantissa > -limit && d.exponent >= -22 && d.exponent <= 22)
        return d.exponent >= 0 ? double(d.mantissa) * exact[d.exponent] : double(d.mantissa) / exact[-d.exponent];
    char buf[64];
    char *p = buf + sizeof buf;
    Int m = d.mantissa < 0 ? -d.mantissa : d.mantissa;
    do {
        *--p = char('0' + int(m % 10));
        m /= 10;
    } while (m != 0);
    if (d.mantissa < 0)
        *--p = '-';
    char text[96];
    const int n = std::snprintf(text, sizeof text, "%.*se%d", int(buf + sizeof buf - p), p, d.exponent);
    double out = 0;
    const auto r = std::from_chars(text, text + n, out);
    if (r.ec == std::errc::result_out_of_range)
        return std::strtod(text, nullptr); // ±HUGE_VAL or a denormal's zero, as C reads it
    return out;
}

bool add(const Decimal &a, const Decimal &b, Decimal *out)
{
    const int e = std::min(a.exponent, b.exponent);
    Int x, y, sum;
    if (!scaled(a.mantissa, a.exponent - e, &x) || !scaled(b.mantissa, b.exponent - e, &y)
        || __builtin_add_overflow(x, y, &sum))
        return false;
    *out = {sum, e};
    return true;
}

bool multiply(const Decimal &a, const Decimal &b, Decimal *out)
{
    Int product;
    if (__builtin_mul_overflow(a.mantissa, b.mantissa, &product))
        return false;
    *out = {product, a.exponent + b.exponent};
    return true;
}

bool remainder(const Decimal &a, const Decimal &b, Decimal *out)
{
    const int e = std::min(a.exponent, b.exponent);
    Int x, y;
    if (!scaled(a.mantissa, a.exponent - e, &x) || !scaled(b.mantissa, b.exponent - e, &y))
        return false;
    *out = {x % y, e};
    return true;
}

bool divide(const Decimal &a, const Decimal &b, Decimal *out)
{
    if (a.mantissa == 0) {
        *out = {};
        return true;
    }
    // Enough digits of the quotient to round at the last one kept.
    const int k = std::max(0, kQuotientDigits + 2 + digitCount(b.mantissa) - digitCount(a.mantissa));
    Int dividend;
    if (!scaled(a.mantissa, k, &dividend))
        return false;
    Int q = dividend / b.mantissa; // toward zero
    const bool negative = q < 0;
    if (negative)
        q = -q;
    const int drop = digitCount(q) - kQuotientDigits;
    int exponent = a.exponent - b.exponent - k;
    if (drop > 0) {
        const Int unit = power(drop);
        const Int rest = q % unit;
        q /= unit;
        // The digits dropped are a truncation, so they reach half only
        // where the exact quotient does.
        if (rest * 2 >= unit)
            ++q;
        exponent += drop;
    }
    if (q <= Int(UINT64_MAX)) { // the usual case, in 64-bit steps
        uint64_t small = uint64_t(q);
        while (small != 0 && small % 10 == 0) {
            small /= 10;
            ++exponent;
        }
        q = small;
    }
    *out = {negative ? -q : q, exponent};
    return true;
}

} // namespace vorel::server::decimal
