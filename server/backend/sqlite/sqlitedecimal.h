#pragma once
// Oracle's numbers are decimal; SQLite's are binary doubles, where 0.1 + 0.2
// is not 0.3 and 0.29 * 3 is 0.8699999999999999. SQLite's arithmetic is
// done here on the decimals its doubles stand for (the shortest digits that
// read back as the same double, as PostgreSQL writes a double), and each
// answer is the double nearest to the exact decimal one. A quotient is
// rounded to 15 significant digits on both databases alike.
#include <cstdint>

namespace vorel::server::decimal {

// mantissa * 10^exponent.
struct Decimal {
    __int128 mantissa = 0;
    int exponent = 0;
};

// The significant digits a quotient keeps.
inline constexpr int kQuotientDigits = 15;

// The decimal a finite double stands for; false for an infinity or NaN.
bool fromDouble(double d, Decimal *out);
// The double nearest to `d` (its digits read as C reads them).
double nearestDouble(const Decimal &d);

// Exact, or false where the digits would not fit (the caller falls back to
// binary arithmetic, whose error is then below a double's last digit).
bool add(const Decimal &a, const Decimal &b, Decimal *out);
bool multiply(const Decimal &a, const Decimal &b, Decimal *out);
// a - b * trunc(a / b), exact (the sign of a); b != 0.
bool remainder(const Decimal &a, const Decimal &b, Decimal *out);
// a / b rounded half away from zero to kQuotientDigits digits; b != 0.
bool divide(const Decimal &a, const Decimal &b, Decimal *out);

} // namespace vorel::server::decimal
