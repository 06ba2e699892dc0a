// Extended arithmetic in integers: operands widened into 128 bits with room
// for guard bits, the exact or sticky-bit-marked result rounded once.
#include "analysis/extended.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

__extension__ typedef unsigned __int128 u128;

int topBit(u128 v)
{
    const std::uint64_t high = static_cast<std::uint64_t>(v >> 64);
    return high ? 127 - __builtin_clzll(high) : 63 - __builtin_clzll(static_cast<std::uint64_t>(v));
}

Extended special(Extended::Kind kind, bool negative)
{
    Extended r;
    r.kind = kind;
    r.negative = negative;
    return r;
}

// The value (-1)^negative * v * 2^(scale) for v > 0, the lowest bit of v
// standing for any non-zero bits already dropped (sticky), rounded to 64
// bits, ties to even.
Extended rounded(bool negative, u128 v, int scale)
{
    int p = topBit(v);
    std::uint64_t m;
    if (p <= 63) {
        m = static_cast<std::uint64_t>(v) << (63 - p);
    } else {
        const int drop = p - 63;
        const u128 kept = v >> drop;
        const u128 rest = v & ((u128{1} << drop) - 1);
        const u128 half = u128{1} << (drop - 1);
        m = static_cast<std::uint64_t>(kept);
        if (rest > half || (rest == half && (m & 1))) {
            if (++m == 0) {  // carried out of 64 bits: 2^64
                m = std::uint64_t{1} << 63;
                ++p;
            }
        }
    }
    Extended r;
    r.kind = Extended::Kind::finite;
    r.negative = negative;
    r.significand = m;
    r.exponent = scale + p;
    return r;
}

// v shifted right by `by`, the bits shifted out kept as a sticky lowest bit.
u128 shiftSticky(u128 v, int by)
{
    if (by <= 0) return v;
    if (by >= 128) return v != 0 ? 1 : 0;
    const u128 lost = v & ((u128{1} << by) - 1);
    return (v >> by) | (lost != 0 ? 1 : 0);
}

// Adds magnitudes when the signs agree, else subtracts the smaller.
Extended addSigned(const Extended& a, bool bNegative, const Extended& bIn)
{
    using K = Extended::Kind;
    Extended b = bIn;
    b.negative = bNegative;
    if (a.kind == K::nan || b.kind == K::nan) return special(K::nan, false);
    if (a.kind == K::infinite || b.kind == K::infinite) {
        if (a.kind == K::infinite && b.kind == K::infinite && a.negative != b.negative) return special(K::nan, true);
        return a.kind == K::infinite ? a : b;
    }
    if (a.kind == K::zero && b.kind == K::zero) return special(K::zero, a.negative && b.negative);
    if (a.kind == K::zero) return b;
    if (b.kind == K::zero) return a;

    // Both significands with 62 guard bits below them, in units of
    // 2^(big.exponent - 125); the sum stays below 2^127.
    const bool aLarger = a.exponent > b.exponent || (a.exponent == b.exponent && a.significand >= b.significand);
    const Extended& big = aLarger ? a : b;
    const Extended& small = aLarger ? b : a;
    const u128 x = u128{big.significand} << 62;
    const u128 y = shiftSticky(u128{small.significand} << 62, big.exponent - small.exponent);
    if (big.negative == small.negative) return rounded(big.negative, x + y, big.exponent - 125);
    if (x == y) return special(K::zero, false);  // exact cancellation gives +0
    return rounded(big.negative, x - y, big.exponent - 125);
}

}  // namespace

Extended::Extended(double value)
{
    if (value != value) {
        kind = Kind::nan;
        return;
    }
    negative = std::signbit(value);
    if (value == 0) return;
    if (value == std::numeric_limits<double>::infinity() || value == -std::numeric_limits<double>::infinity()) {
        kind = Kind::infinite;
        return;
    }
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    int e = biased - 1023;  // value = 1.f * 2^e
    if (biased == 0) {      // subnormal: 0.f * 2^-1022
        const int shift = __builtin_clzll(fraction) - 11;
        fraction <<= shift;
        e = -1022 - shift;
        fraction &= (std::uint64_t{1} << 52) - 1;
    }
    kind = Kind::finite;
    significand = (fraction | (std::uint64_t{1} << 52)) << 11;
    exponent = e;
}

Extended::Extended(long long value)
{
    if (value == 0) return;
    negative = value < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    *this = rounded(negative, magnitude, 0);
}

Extended operator+(const Extended& a, const Extended& b) { return addSigned(a, b.negative, b); }
Extended operator-(const Extended& a, const Extended& b) { return addSigned(a, !b.negative, b); }

Extended operator*(const Extended& a, const Extended& b)
{
    using K = Extended::Kind;
    const bool negative = a.negative != b.negative;
    if (a.kind == K::nan || b.kind == K::nan) return special(K::nan, false);
    if ((a.kind == K::infinite && b.kind == K::zero) || (a.kind == K::zero && b.kind == K::infinite))
        return special(K::nan, true);
    if (a.kind == K::infinite || b.kind == K::infinite) return special(K::infinite, negative);
    if (a.kind == K::zero || b.kind == K::zero) return special(K::zero, negative);
    return rounded(negative, u128{a.significand} * b.significand, a.exponent + b.exponent - 126);
}

Extended operator/(const Extended& a, const Extended& b)
{
    using K = Extended::Kind;
    const bool negative = a.negative != b.negative;
    if (a.kind == K::nan || b.kind == K::nan) return special(K::nan, false);
    if ((a.kind == K::infinite && b.kind == K::infinite) || (a.kind == K::zero && b.kind == K::zero))
        return special(K::nan, true);
    if (a.kind == K::infinite || b.kind == K::zero) return special(K::infinite, negative);
    if (a.kind == K::zero || b.kind == K::infinite) return special(K::zero, negative);
    // 66 bits of the quotient a.m * 2^66 / b.m, then whether anything is left.
    const u128 numerator = u128{a.significand} << 64;
    u128 q = numerator / b.significand, r = numerator % b.significand;
    q = q << 2 | (r << 2) / b.significand;
    r = (r << 2) % b.significand;
    const u128 v = q << 1 | (r != 0 ? 1 : 0);
    return rounded(negative, v, a.exponent - b.exponent - 67);
}

double Extended::toDouble() const
{
    switch (kind) {
    case Kind::nan: return std::numeric_limits<double>::quiet_NaN();
    case Kind::infinite: return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    case Kind::zero: return negative ? -0.0 : 0.0;
    case Kind::finite: break;
    }
    // The last kept bit is worth 2^(exponent - 52), or 2^-1074 below the
    // normal range; the bits below it decide the rounding.
    const int lsb = exponent < -1022 ? -1074 : exponent - 52;
    const int drop = lsb - (exponent - 63);
    const u128 v = significand;
    u128 kept = drop >= 128 ? 0 : v >> drop;
    const u128 rest = drop >= 128 ? v : v & ((u128{1} << drop) - 1);
    const u128 half = drop - 1 >= 128 ? 0 : u128{1} << (drop - 1);
    if (drop - 1 < 128 && (rest > half || (rest == half && (kept & 1)))) ++kept;
    const double magnitude = std::ldexp(static_cast<double>(kept), lsb);
    return negative ? -magnitude : magnitude;
}
