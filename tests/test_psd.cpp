#include "analysis/matrix.h"
#include "fractal_surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

std::string failure(const std::vector<double>& z, int W, int H)
{
    try {
        estimatePsdDimension(z.data(), W, H);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(PsdDimension, RecoversTheDimensionOfFractalSurfaces)
{
    // The plain estimate (no window) is 0.3 to 0.5 off at the lower two.
    std::mt19937_64 random(11);
    for (double D : {2.2, 2.5, 2.8}) {
        for (int k = 0; k < 3; ++k) {
            const std::vector<double> z = fractalSurface(D, 192, 160, random);
            const PsdResult r = estimatePsdDimension(z.data(), 192, 160);
            EXPECT_NEAR(r.dimension, D, 0.12) << D;
            EXPECT_LT(r.dimensionLow, r.dimension);
            EXPECT_GT(r.dimensionHigh, r.dimension);
            EXPECT_GT(r.r2, 0.9);
        }
    }
}

TEST(PsdDimension, ScaleOffsetAndTiltDoNotChangeTheDimension)
{
    std::mt19937_64 random(5);
    const int W = 100, H = 90;
    const std::vector<double> z = fractalSurface(2.4, W, H, random);
    std::vector<double> moved(z.size());
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) moved[y * W + x] = 3.5 * z[y * W + x] - 40 + 0.7 * x - 1.9 * y;
    const PsdResult a = estimatePsdDimension(z.data(), W, H), b = estimatePsdDimension(moved.data(), W, H);
    EXPECT_NEAR(a.dimension, b.dimension, 1e-9);
    EXPECT_NEAR(a.dimensionHigh, b.dimensionHigh, 1e-9);
    ASSERT_EQ(a.bins.size(), b.bins.size());
    EXPECT_NEAR(b.bins[5].lnPsd - a.bins[5].lnPsd, 2 * std::log(3.5), 1e-9);
}

TEST(PsdDimension, EverySampleTypeGivesTheDigitsOfItsValuesAsDoubles)
{
    std::mt19937_64 random(2);
    const std::vector<double> z = fractalSurface(2.3, 80, 72, random);
    const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
    std::vector<double> levels(z.size());
    std::vector<std::uint8_t> bytes(z.size());
    std::vector<std::int16_t> shorts(z.size());
    std::vector<float> floats(z.size());
    for (std::size_t i = 0; i < z.size(); ++i) {
        levels[i] = std::round((z[i] - *lo) / (*hi - *lo) * 255);
        bytes[i] = static_cast<std::uint8_t>(levels[i]);
        shorts[i] = static_cast<std::int16_t>(levels[i] - 128);
        floats[i] = static_cast<float>(levels[i]);
    }
    const PsdResult asDoubles = estimatePsdDimension(levels.data(), 80, 72);
    const double d = asDoubles.dimension;
    EXPECT_EQ(estimatePsdDimension(bytes.data(), 80, 72).dimension, d);
    EXPECT_EQ(estimatePsdDimension(floats.data(), 80, 72).dimension, d);
    // The offset moves only the mean, which the plane takes away.
    EXPECT_NEAR(estimatePsdDimension(shorts.data(), 80, 72).dimension, d, 1e-12);
    EXPECT_EQ(estimatePsdDimension(shorts.data(), 80, 72).fitMax, asDoubles.fitMax);
}

TEST(PsdDimension, BinsHoldTheMeanPowerOfTheirFrequencies)
{
    // A direct transform of the detrended, windowed, zero-padded values.
    const int W = 12, H = 9, PW = 16, PH = 16;
    std::vector<double> z(W * H);
    for (int i = 0; i < W * H; ++i) z[i] = std::sin(i * 0.37) * 5 + (i * 7919 % 13);
    PsdOptions options;
    options.fitMin = 0.12;
    options.trend = PsdOptions::Trend::mean;
    const PsdResult r = estimatePsdDimension(z.data(), W, H, options);

    double mean = 0;
    for (double v : z) mean += v / (W * H);
    const double pi = std::acos(-1.0);
    auto hann = [&](int i, int n) { return std::pow(std::sin(pi * (i + 0.5) / n), 2); };
    std::vector<double> sum(100, 0.0);
    std::vector<long long> count(100, 0);
    for (int ky = 0; ky < PH; ++ky)
        for (int kx = 0; kx <= PW / 2; ++kx) {
            const double fy = (ky <= PH / 2 ? ky : ky - PH) / double(PH), fx = kx / double(PW);
            const double q = std::hypot(fx, fy);
            if (q == 0 || q >= 0.5 || ((kx == 0 || kx == PW / 2) && fy < 0)) continue;
            std::complex<double> X = 0;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x)
                    X += (z[y * W + x] - mean) * hann(x, W) * hann(y, H) *
                         std::polar(1.0, 2 * pi * (fx * x + fy * y));
            // Bin k holds (0.5 * 2^(-(k+1)/8))^2 <= q^2 < (0.5 * 2^(-k/8))^2.
            int bin = 0;
            while (fx * fx + fy * fy < 0.25 * std::exp2(-(bin + 1) / 4.0)) ++bin;
            sum[bin] += std::norm(X / double(PW * PH));
            ++count[bin];
        }
    std::size_t i = r.bins.size();
    for (int bin = 0; bin < 100; ++bin) {
        if (count[bin] == 0) continue;
        ASSERT_GT(i, 0u);
        const PsdBin& b = r.bins[--i];
        EXPECT_EQ(b.count, count[bin]) << bin;
        EXPECT_NEAR(b.lnPsd, std::log(sum[bin] / count[bin]), 1e-9) << bin;
    }
    EXPECT_EQ(i, 0u);
}

TEST(PsdDimension, RefusesWhatItCannotEstimateAndSaysWhy)
{
    const int W = 80, H = 80;
    std::vector<double> flat(W * H, 7.0), plane(W * H), z(W * H);
    for (int i = 0; i < W * H; ++i) {
        plane[i] = 0.5 * (i % W) + 2.0 * (i / W);
        z[i] = (i * 7919) % 251;
    }
    EXPECT_NE(failure(flat, W, H).find("flat once its plane is removed"), std::string::npos);
    EXPECT_NE(failure(plane, W, H).find("flat once its plane is removed"), std::string::npos);
    z[2 * W + 4] = -std::numeric_limits<double>::infinity();
    EXPECT_NE(failure(z, W, H).find("row 3, column 5 is not a finite number"), std::string::npos);
    std::vector<double> none(W * H, std::numeric_limits<double>::quiet_NaN());
    EXPECT_NE(failure(none, W, H).find("no point of the image was measured"), std::string::npos);
    EXPECT_NE(failure(z, 60, 40).find("too small for the spectral estimate: its shorter side must be at least 45 pixels"),
              std::string::npos)
        << failure(z, 60, 40);
}

TEST(PsdDimension, ThreeScatteredBinsGetTheWideIntervalOfOneDegreeOfFreedom)
{
    // A tone inside the fit range bends the spectrum: the bins scatter more
    // than their weights predict, and with three bins Student's t has one
    // degree of freedom (12.706, not the normal 1.96).
    std::mt19937_64 random(1);
    std::normal_distribution<double> noise;
    std::vector<double> z(64 * 64);
    for (int i = 0; i < 64 * 64; ++i) z[i] = noise(random) + 5 * std::cos(2 * std::acos(-1.0) * 0.34 * (i % 64));
    PsdOptions options;
    options.fitMin = 0.30;
    options.fitMax = 0.38;
    const PsdResult r = estimatePsdDimension(z.data(), 64, 64, options);
    ASSERT_EQ(r.binsFitted, 3);
    EXPECT_NEAR((r.dimensionHigh - r.dimensionLow) / r.slopeStdError, 12.7062, 1e-4);
}

TEST(PsdDimension, PicturesThatAreNoSurfacesAreFlagged)
{
    std::mt19937_64 random(11);
    const int N = 128;
    const std::vector<double> surface = fractalSurface(2.5, N, N, random);
    const auto [low, high] = std::minmax_element(surface.begin(), surface.end());
    auto flagsOf = [&](auto change) {
        std::vector<double> z = surface;
        for (double& v : z) v = change((v - *low) / (*high - *low));
        return estimatePsdDimension(z.data(), N, N).flags;
    };
    using Flags = std::vector<std::string>;
    EXPECT_EQ(flagsOf([](double u) { return u * 1000; }), Flags{});
    // 16 levels: too few to trust, and their rounding noise leaves less
    // than an octave above 12 cycles across the picture.
    EXPECT_EQ(flagsOf([](double u) { return std::round(u * 15); }), (Flags{"noise_floor", "few_levels"}));
    EXPECT_EQ(flagsOf([](double u) { return std::clamp(u, 0.2, 0.8); }), Flags{"clipped"});
    std::normal_distribution<double> white;
    std::vector<double> noise(static_cast<std::size_t>(N) * N);
    for (double& v : noise) v = white(random);
    EXPECT_EQ(estimatePsdDimension(noise.data(), N, N).flags, Flags{"out_of_range"});

    // A smooth bump in whole numbers sinks under the rounding floor at once:
    // no line to fit, which the result says instead of failing.
    std::vector<double> bump;
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) bump.push_back(std::round(255 * std::exp(-((x - 64.0) * (x - 64.0) + (y - 64.0) * (y - 64.0)) / 500)));
    const PsdResult none = estimatePsdDimension(bump.data(), N, N);
    EXPECT_EQ(none.flags, Flags{"no_fit"});
    EXPECT_FALSE(none.fitted());
    EXPECT_TRUE(std::isnan(none.dimension) && std::isnan(none.dimensionLow) && std::isnan(none.beta));
    EXPECT_NE(none.note.find("radial bins above the noise floor; at least 3 are needed"), std::string::npos) << none.note;
}

// Whole numbers that step by k (10- or 12-bit values in 16-bit words, 1-bit
// levels scaled to 0 .. 255) round as k times whole numbers that step by 1:
// the same D at every k, not a floor k^2 too low.
TEST(PsdDimension, TheRoundingNoiseFollowsTheValuesOwnStep)
{
    std::mt19937_64 random(8);
    const int N = 256;
    const std::vector<double> z = fractalSurface(2.6, N, N, random);
    const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
    for (int levels : {6, 40}) {
        std::vector<std::uint16_t> base(z.size());
        for (std::size_t i = 0; i < z.size(); ++i) base[i] = static_cast<std::uint16_t>(std::lround((z[i] - *lo) / (*hi - *lo) * (levels - 1)));
        const PsdResult one = estimatePsdDimension(base.data(), N, N);
        for (int k : {3, 16, 64}) {
            std::vector<std::uint16_t> stepped(base);
            for (auto& v : stepped) v = static_cast<std::uint16_t>(v * k);
            const PsdResult r = estimatePsdDimension(stepped.data(), N, N);
            EXPECT_EQ(r.fitted(), one.fitted()) << levels << " " << k;
            if (!one.fitted()) continue;
            EXPECT_NEAR(r.dimension, one.dimension, 1e-6) << levels << " " << k;
            EXPECT_NEAR(r.fitMax, one.fitMax, 1e-9) << levels << " " << k;
        }
    }
}

TEST(PsdDimension, TheFitEndsWhereTheRoundingNoiseBegins)
{
    // A smooth surface over 4096 and over 32 levels: the coarse one's range
    // stops early, and what it fits is the surface, not its terraces (a flat
    // floor of 1/12 leaves D about 0.5 too high here).  A range given is the
    // range used, as far as the noise allows.
    std::mt19937_64 random(5);
    const int N = 256;
    const std::vector<double> z = fractalSurface(2.2, N, N, random);
    const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
    auto levels = [&](int n) {
        std::vector<double> out(z.size());
        for (std::size_t i = 0; i < z.size(); ++i) out[i] = std::round((z[i] - *lo) / (*hi - *lo) * (n - 1));
        return out;
    };
    const std::vector<double> fine = levels(4096), coarse = levels(32);
    const PsdResult f = estimatePsdDimension(fine.data(), N, N), c = estimatePsdDimension(coarse.data(), N, N);
    EXPECT_NEAR(f.fitMax, 0.37, 0.01);
    EXPECT_NEAR(f.fitMin, 12.0 / N, 0.005);
    EXPECT_LT(c.fitMax, 0.15);
    EXPECT_EQ(c.fitMin, f.fitMin);
    EXPECT_LT(std::fabs(c.dimension - f.dimension), 0.1) << c.dimension << " " << f.dimension;
    EXPECT_GT(c.dimensionHigh - c.dimensionLow, f.dimensionHigh - f.dimensionLow);
    for (const PsdBin& b : c.bins)
        EXPECT_EQ(b.fitted, std::exp(b.lnQ) >= c.fitMin && std::exp(b.lnQ) <= c.fitMax) << b.lnQ;

    PsdOptions given;
    given.fitMin = 0.05;
    given.fitMax = 0.2;
    const PsdResult g = estimatePsdDimension(fine.data(), N, N, given);
    EXPECT_GE(g.fitMin, 0.05);
    EXPECT_LE(g.fitMax, 0.2);
    EXPECT_GT(g.fitMax, 0.18);
    given.fitMin = g.fitMin;  // the range reported, given back, fits the same bins
    given.fitMax = g.fitMax;
    EXPECT_EQ(estimatePsdDimension(fine.data(), N, N, given).dimension, g.dimension);
}
