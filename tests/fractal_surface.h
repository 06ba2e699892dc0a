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
// With `ratio` > 1 the surface is stretched: its features are `ratio`
// times longer along `angleDegrees` (counter-clockwise from the rows, y up
// as the picture is seen) than across, the spectrum (q' exp(T) q)^(-beta/2)
// with T = ln ratio [[cos 2t, sin 2t], [sin 2t, -cos 2t]], t the angle in the
// array's axes (y down).
inline std::vector<double> fractalSurface(double D, int W, int H, std::mt19937_64& random, double ratio = 1,
                                          double angleDegrees = 0)
{
    const double turn = -angleDegrees * 3.14159265358979323846 / 180;
    const double a = std::log(ratio) * std::cos(2 * turn), b = std::log(ratio) * std::sin(2 * turn);
    const double t = std::log(ratio), ch = std::cosh(t), sh = t > 0 ? std::sinh(t) / t : 1.0;
    const std::uint32_t G = 4 * powerOfTwoAtLeast(std::max(W, H));
    const double beta = 8 - 2 * D;
    matrix grid(static_cast<int>(G), static_cast<int>(2 * G), nullptr);
    std::normal_distribution<double> normal;
    double* c = grid.getData();
    for (std::uint32_t y = 0; y < G; ++y)
        for (std::uint32_t x = 0; x < G; ++x) {
            const double fy = (y <= G / 2 ? double(y) : double(y) - G) / G;
            const double fx = (x <= G / 2 ? double(x) : double(x) - G) / G;
            const double q = std::sqrt(ch * (fx * fx + fy * fy) + sh * (a * (fx * fx - fy * fy) + 2 * b * fx * fy));
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
