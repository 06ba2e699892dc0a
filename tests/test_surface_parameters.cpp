// The height and hybrid parameters against an independent computation, on
// surfaces whose values are known in closed form, and their invariances.
#include "analysis/surface_parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

// The least-squares plane by its normal equations in x, y and 1, solved by
// Cramer's rule, and the heights above it: independent of the estimate's
// centred sums.
std::vector<double> aboveOwnPlane(const std::vector<double>& z, int W, int H)
{
    double s[3][3] = {}, t[3] = {};
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double v[3] = {double(x), double(y), 1.0};
            for (int i = 0; i < 3; ++i) {
                t[i] += v[i] * z[static_cast<std::size_t>(y * W + x)];
                for (int j = 0; j < 3; ++j) s[i][j] += v[i] * v[j];
            }
        }
    auto det = [](double m[3][3]) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    double c[3];
    for (int k = 0; k < 3; ++k) {
        double m[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) m[i][j] = j == k ? t[i] : s[i][j];
        c[k] = det(m) / det(s);
    }
    std::vector<double> out(z.size());
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            out[static_cast<std::size_t>(y * W + x)] = z[static_cast<std::size_t>(y * W + x)] - (c[0] * x + c[1] * y + c[2]);
    return out;
}

}  // namespace

TEST(SurfaceParameters, AgreeWithTheirDefinitionsOnARandomTiltedSurface)
{
    const int W = 7, H = 5;
    std::mt19937_64 random(3);
    std::normal_distribution<double> normal;
    std::vector<double> z(W * H);
    for (int i = 0; i < W * H; ++i) z[static_cast<std::size_t>(i)] = 3 * normal(random) + 0.4 * (i % W) - 0.7 * (i / W) + 12;
    const std::vector<double> r = aboveOwnPlane(z, W, H);
    double a = 0, q = 0, c = 0, f = 0, hi = -1e300, lo = 1e300;
    for (double v : r) {
        a += std::fabs(v);
        q += v * v;
        c += v * v * v;
        f += v * v * v * v;
        hi = std::max(hi, v);
        lo = std::min(lo, v);
    }
    const double n = W * H, sq = std::sqrt(q / n);
    // Slopes of the plane-free heights, cell by cell, pixels 2 um x 3 um, heights in 1e-7 m.
    const double dx = 2e-6, dy = 3e-6, scale = 1e-7;
    double g = 0, area = 0;
    for (int y = 0; y + 1 < H; ++y)
        for (int x = 0; x + 1 < W; ++x) {
            auto at = [&](int u, int v) { return r[static_cast<std::size_t>(v * W + u)] * scale; };
            const double zx = (at(x + 1, y) - at(x, y) + at(x + 1, y + 1) - at(x, y + 1)) / (2 * dx);
            const double zy = (at(x, y + 1) - at(x, y) + at(x + 1, y + 1) - at(x + 1, y)) / (2 * dy);
            g += zx * zx + zy * zy;
            area += std::sqrt(1 + zx * zx + zy * zy);
        }
    const SurfaceParameters p = surfaceParameters(z.data(), W, H, dx, dy, scale);
    EXPECT_NEAR(p.sa, a / n * scale, 1e-12 * scale);
    EXPECT_NEAR(p.sq, sq * scale, 1e-12 * scale);
    EXPECT_NEAR(p.ssk, c / n / (sq * sq * sq), 1e-10);
    EXPECT_NEAR(p.sku, f / n / (sq * sq * sq * sq), 1e-10);
    EXPECT_NEAR(p.sz, (hi - lo) * scale, 1e-12 * scale);
    EXPECT_NEAR(p.sdq, std::sqrt(g / ((W - 1) * (H - 1))), 1e-10 * p.sdq);
    EXPECT_NEAR(p.sdr, 100 * (area / ((W - 1) * (H - 1)) - 1), 1e-10 * p.sdr);  // in percent
    // Without a length unit for the heights, or without the pixel size, no slopes.
    EXPECT_TRUE(std::isnan(surfaceParameters(z.data(), W, H, dx, dy).sdq));
    EXPECT_TRUE(std::isnan(surfaceParameters(z.data(), W, H, 0, 0, scale).sdr));
    EXPECT_DOUBLE_EQ(surfaceParameters(z.data(), W, H).sq, sq);
}

TEST(SurfaceParameters, ACosineAcrossTheRowsHasItsTextbookValues)
{
    // z = A cos(2 pi (x - cx) / 8), cx the middle column, over whole periods:
    // even about the middle, so the plane (added on top) takes none of it.
    // Sampled at eight phases (k + 1/2) pi / 4: Sq = A / sqrt 2,
    // Sa = A (cos pi/8 + cos 3pi/8) / 2, Ssk = 0, Sku = 3/2, Sz = 2A cos pi/8.
    const int W = 32, H = 9;
    const double A = 2.5, cx = (W - 1) / 2.0;
    std::vector<double> s(static_cast<std::size_t>(W * H));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) s[static_cast<std::size_t>(y * W + x)] = A * std::cos(2 * pi * (x - cx) / 8) + 5 * x - 3 * y;
    const SurfaceParameters p = surfaceParameters(s.data(), W, H);
    EXPECT_NEAR(p.sq, A / std::sqrt(2.0), 1e-9);
    EXPECT_NEAR(p.sa, A * (std::cos(pi / 8) + std::cos(3 * pi / 8)) / 2, 1e-9);
    EXPECT_NEAR(p.ssk, 0, 1e-9);
    EXPECT_NEAR(p.sku, 1.5, 1e-9);
    EXPECT_NEAR(p.sz, 2 * A * std::cos(pi / 8), 1e-9);
    // Stored as whole numbers in nanometres, with pixels of a micrometre:
    // the same heights in metres, and the slopes of the plane-free cosine.
    std::vector<std::int32_t> z(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) z[i] = static_cast<std::int32_t>(std::lround(s[i] * 1e6)) - 70000;
    const SurfaceParameters scaled = surfaceParameters(z.data(), W, H, 1e-6, 1e-6, 1e-9);
    EXPECT_NEAR(scaled.sq, p.sq * 1e-3, 1e-9);  // to the nanometre the values were rounded to
    EXPECT_NEAR(scaled.sku, p.sku, 1e-6);
    // Cell slopes of the cosine alone: zx = A (cos(phase + 2 pi/8) - cos(phase)) 1e-3 / 1e-6 at the cells.
    double g = 0;
    for (int x = 0; x + 1 < W; ++x) {
        const double zx = A * (std::cos(2 * pi * (x + 1 - cx) / 8) - std::cos(2 * pi * (x - cx) / 8)) * 1e-3 / 1e-6;
        g += zx * zx;
    }
    EXPECT_NEAR(scaled.sdq, std::sqrt(g / (W - 1)), 1e-3 * scaled.sdq);
    EXPECT_THROW(surfaceParameters(s.data(), 1, 5), std::invalid_argument);
    const double bad[4] = {1, INFINITY, 2, 3};
    EXPECT_THROW(surfaceParameters(bad, 2, 2), std::invalid_argument);
    // A point not measured (NaN) is left out, with the cells around it: a
    // whole period of columns gone leaves the cosine's values as they were.
    for (int y = 0; y < H; ++y)
        for (int x = 8; x < 16; ++x) s[static_cast<std::size_t>(y * W + x)] = NAN;
    const SurfaceParameters holed = surfaceParameters(s.data(), W, H, 1e-6, 1e-6, 1e-3);
    EXPECT_NEAR(holed.sq * 1e3, p.sq, 1e-9);
    EXPECT_NEAR(holed.sku, 1.5, 1e-9);
    EXPECT_TRUE(std::isfinite(holed.sdq));
}

// Heights near 1e100 or 1e-300: sums of fourth powers that would overflow or
// vanish are taken in a unit near the heights, so every parameter scales
// with them and the ratios do not move.
TEST(SurfaceParameters, ScaleWithHeightsOfAnySize)
{
    std::vector<double> z(32 * 24);
    for (std::size_t i = 0; i < z.size(); ++i) z[i] = std::sin(0.37 * static_cast<double>(i)) + 0.01 * static_cast<double>(i % 7);
    const SurfaceParameters base = surfaceParameters(z.data(), 32, 24, 0, 0, 0);
    for (double scale : {1e100, 1e160, 1e-300}) {
        std::vector<double> scaled(z);
        for (double& v : scaled) v *= scale;
        const SurfaceParameters p = surfaceParameters(scaled.data(), 32, 24, 0, 0, 0);
        EXPECT_NEAR(p.sq / scale, base.sq, 1e-12 * base.sq) << scale;
        EXPECT_NEAR(p.sa / scale, base.sa, 1e-12 * base.sa) << scale;
        EXPECT_NEAR(p.sz / scale, base.sz, 1e-12 * base.sz) << scale;
        EXPECT_NEAR(p.ssk, base.ssk, 1e-9) << scale;
        EXPECT_NEAR(p.sku, base.sku, 1e-9) << scale;
    }
}
