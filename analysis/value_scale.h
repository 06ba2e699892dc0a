// Values far from 1 brought near it before the likelihood fits: a power of
// two, so the values' digits are kept, chosen only when the largest
// magnitude lies so far out that its square (and the periodogram's sums of
// squares) would overflow or fall into the subnormals.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace scaling {

// 2^-k for the largest finite magnitude among `values` near 2^k, when that
// lies outside [2^-128, 2^128]; 1 otherwise, and for values with no finite
// value other than zero.
template <class T>
double extremeScale(const T* values, std::size_t n)
{
    double largest = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = std::fabs(static_cast<double>(values[i]));
        if (v > largest && v <= 1.7976931348623157e308) largest = v;
    }
    if (!(largest > 0) || (largest >= 0x1p-128 && largest <= 0x1p128)) return 1.0;
    return std::ldexp(1.0, -std::ilogb(largest));
}

// The values times `factor`, as doubles.
template <class T>
std::vector<double> scaledCopy(const T* values, std::size_t n, double factor)
{
    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<double>(values[i]) * factor;
    return out;
}

}  // namespace scaling
