// Extended: binary floating point with a 64-bit significand and rounding to
// nearest, ties to even, after every operation: the arithmetic of the x87's
// extended precision, done in integers so that it gives the same bits on
// every processor (long double is 80-bit on x86-64, 128-bit on aarch64 and
// plain double elsewhere).  Only what the estimators need: exact conversion
// from double and integers, + - * /, and rounding to double.
#pragma once

#include <cstdint>

class Extended {
public:
    Extended() = default;
    explicit Extended(double value);
    explicit Extended(long long value);
    // Rounded to the nearest double, ties to even.
    double toDouble() const;

    friend Extended operator+(const Extended& a, const Extended& b);
    friend Extended operator-(const Extended& a, const Extended& b);
    friend Extended operator*(const Extended& a, const Extended& b);
    friend Extended operator/(const Extended& a, const Extended& b);

    // value = (-1)^negative * significand * 2^(exponent - 63); a finite non-zero
    // value has the significand's top bit set.
    enum class Kind : std::uint8_t { zero, finite, infinite, nan };
    Kind kind = Kind::zero;
    bool negative = false;
    int exponent = 0;
    std::uint64_t significand = 0;
};
