// Gaussian surfaces of known fractal dimension, for the spectral estimate's
// tests and its accuracy benchmark.
#pragma once

#include "analysis/matrix.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

// A W x H window of a surface whose power spectrum is q^-beta, beta = 8 - 2D:
// white noise filtered on a grid four times larger (so that the window's
// edges do not wrap, as in a real measurement), cut at a random place.
inline std::vector<double> fractalSurface(double D, int W, int H, std::mt19937_64& random)
{
    const std::uint32_t G = 4 * powerOfTwoAtLeast(std::max(W, H));
    const double beta = 8 - 2 * D;
    matrix grid(static_cast<int>(G), static_cast<int>(2 * G), nullptr);
    std::normal_distribution<double> normal;
    double* c = grid.getData();
    for (std::uint32_t y = 0; y < G; ++y)
        for (std::uint32_t x = 0; x < G; ++x) {
            const double fy = (y <= G / 2 ? double(y) : double(y) - G) / G;
            const double fx = (x <= G / 2 ? double(x) : double(x) - G) / G;
            const double q = std::sqrt(fx * fx + fy * fy);
            const double a = q > 0 ? std::pow(q, -beta / 2) : 0.0;
            const std::size_t at = 2 * (std::size_t{G} * y + x);
            c[at] = a * normal(random);
            c[at + 1] = a * normal(random);
        }
    fourierTransform2D(c, G, G, -1);
    std::uniform_int_distribution<std::uint32_t> corner(0, G - static_cast<std::uint32_t>(std::max(W, H)));
    const std::uint32_t x0 = corner(random), y0 = corner(random);
    std::vector<double> out(static_cast<std::size_t>(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) out[std::size_t(y) * W + x] = c[2 * (std::size_t{G} * (y0 + y) + x0 + x)];
    return out;
}
