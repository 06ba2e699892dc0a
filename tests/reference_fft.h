// The transform in its plain loop order, kept as the yardstick that the
// shipped transform must match bit for bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

namespace reference {

inline void fourierTransformND(double* data, const std::uint32_t* lengths, int dims, int direction)
{
    const double K = 6.28318530717959;
    std::uint32_t N = 1;
    for (int k = 0; k < dims; ++k) N *= lengths[k];
    std::uint32_t s = 1;
    for (int k = dims - 1; k >= 0; --k) {
        const std::uint32_t n = lengths[k];
        const std::uint32_t r = N / (n * s);
        std::uint32_t bits = 0;
        while ((1u << bits) < n) ++bits;
        for (std::uint32_t j = 0; j < n; ++j) {
            std::uint32_t rj = 0;
            for (std::uint32_t b = 0; b < bits; ++b)
                if (j & (1u << b)) rj |= 1u << (bits - 1 - b);
            if (j >= rj) continue;
            for (std::uint32_t t = 0; t < s; ++t)
                for (std::uint32_t q = 0; q < r; ++q) {
                    const std::uint32_t e1 = q * n * s + j * s + t;
                    const std::uint32_t e2 = q * n * s + rj * s + t;
                    std::swap(data[2 * e1], data[2 * e2]);
                    std::swap(data[2 * e1 + 1], data[2 * e2 + 1]);
                }
        }
        for (std::uint32_t h = 1; h < n; h *= 2) {
            const double theta = direction * K / (2 * h);
            const double sigma = std::sin(theta / 2);
            const double alpha = -2 * sigma * sigma;
            const double beta = std::sin(theta);
            double wr = 1.0, wi = 0.0;
            for (std::uint32_t m = 0; m < h; ++m) {
                for (std::uint32_t t = 0; t < s; ++t)
                    for (std::uint32_t b = 0; b < N / (2 * h * s); ++b) {
                        const std::uint32_t a = b * 2 * h * s + m * s + t;
                        const std::uint32_t c = a + h * s;
                        const double tr = wr * data[2 * c] - wi * data[2 * c + 1];
                        const double ti = wr * data[2 * c + 1] + wi * data[2 * c];
                        data[2 * c] = data[2 * a] - tr;
                        data[2 * c + 1] = data[2 * a + 1] - ti;
                        data[2 * a] = data[2 * a] + tr;
                        data[2 * a + 1] = data[2 * a + 1] + ti;
                    }
                const double nwr = (wr * alpha - wi * beta) + wr;
                const double nwi = (wi * alpha + wr * beta) + wi;
                wr = nwr;
                wi = nwi;
            }
        }
        s *= n;
    }
}

inline void fourierTransform2D(double* data, std::uint32_t cols, std::uint32_t rows, int direction)
{
    const std::uint32_t lengths[2] = {rows, cols};
    fourierTransformND(data, lengths, 2, direction);
    if (direction != 1) return;
    const double f = 1.0 / (rows * cols);
    for (std::uint32_t i = 0; i < 2 * rows * cols; ++i) data[i] = f * data[i];
}

}  // namespace reference
