// The spectral estimate's stages, each against what it promises.
#include "analysis/psd_diagnostics.h"
#include "analysis/psd_noise.h"
#include "analysis/psd_stages.h"
#include "tests/fractal_surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <random>
#include <stdexcept>
#include <vector>

TEST(PsdStages, TheTrendIsThePlaneOfTheValuesAndTheirKind)
{
    const int W = 70, H = 90;
    std::vector<double> plane;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) plane.push_back(3.0 + 0.5 * x - 0.25 * y);
    const psd::Trend t = psd::measureTrend(plane.data(), W, H, PsdOptions::Trend::plane, 2);
    // At the centre (34.5, 44.5) the plane is 3 + 17.25 - 11.125.
    EXPECT_NEAR(t.mean, 9.125, 1e-12);
    EXPECT_NEAR(t.bx, 0.5, 1e-12);
    EXPECT_NEAR(t.by, -0.25, 1e-12);
    EXPECT_EQ(t.largest, 3.0 + 0.5 * 69);
    EXPECT_FALSE(t.wholeNumbers);  // the quarter steps
    const psd::Trend meanOnly = psd::measureTrend(plane.data(), W, H, PsdOptions::Trend::mean, 1);
    EXPECT_EQ(meanOnly.bx, 0);
    EXPECT_NEAR(meanOnly.mean, 9.125, 1e-12);

    std::vector<double> whole(static_cast<std::size_t>(W) * H, 7.0);
    EXPECT_TRUE(psd::measureTrend(whole.data(), W, H, PsdOptions::Trend::plane, 1).wholeNumbers);
    whole[5 * W + 3] = INFINITY;
    EXPECT_THROW(
        {
            try {
                psd::measureTrend(whole.data(), W, H, PsdOptions::Trend::plane, 2);
            } catch (const std::invalid_argument& e) {
                EXPECT_STREQ(e.what(), "the value at row 6, column 4 is not a finite number");
                throw;
            }
        },
        std::invalid_argument);
}

namespace {

// The first pass's findings checked against plain loops over the values:
// two columns side by side in registers must see every column, the last of
// an odd row and the missing points among them, as the plain loops do.
template <class T>
void expectTheTrendPassSeesWhatPlainLoopsSee(int W, int H, const std::vector<T>& v)
{
    SCOPED_TRACE(std::to_string(W) + " x " + std::to_string(H));
    double largest = 0, stepX = 0, stepY = 0;
    long long missing = 0, pairsX = 0, pairsY = 0;
    bool whole = true;
    std::vector<T> measured;
    auto at = [&](int x, int y) { return static_cast<double>(v[static_cast<std::size_t>(y) * W + x]); };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double a = at(x, y);
            if (std::isnan(a)) {
                ++missing;
            } else {
                measured.push_back(v[static_cast<std::size_t>(y) * W + x]);
                largest = std::max(largest, std::fabs(a));
                whole = whole && a == std::floor(a);
            }
            if (x + 1 < W && !std::isnan(a - at(x + 1, y))) stepX += std::fabs(a - at(x + 1, y)), ++pairsX;
            if (y + 1 < H && !std::isnan(a - at(x, y + 1))) stepY += std::fabs(a - at(x, y + 1)), ++pairsY;
        }
    const psd::ValueStats stats = psd::valueStats(measured.data(), measured.size(), psd::distinctCounted);
    for (int threads = 1; threads <= 2; ++threads) {
        const psd::Trend t = psd::measureTrend(v.data(), W, H, PsdOptions::Trend::plane, threads);
        EXPECT_EQ(t.missing, missing);
        EXPECT_EQ(t.largest, largest);
        EXPECT_EQ(t.wholeNumbers, whole);
        EXPECT_NEAR(t.stepX, pairsX ? stepX / pairsX : 0.0, 1e-12 * largest);
        EXPECT_NEAR(t.stepY, pairsY ? stepY / pairsY : 0.0, 1e-12 * largest);
        EXPECT_EQ(t.values.distinct, stats.distinct);
        EXPECT_EQ(t.values.smallest, stats.smallest);
        EXPECT_EQ(t.values.largest, stats.largest);
        EXPECT_EQ(t.values.atSmallest, stats.atSmallest);
        EXPECT_EQ(t.values.atLargest, stats.atLargest);
    }
}

}  // namespace

TEST(PsdStages, TheTrendPassSeesEveryValueAsPlainLoopsDo)
{
    std::mt19937_64 random(11);
    std::uniform_int_distribution<int> level(0, 9);
    std::bernoulli_distribution gone(0.07);
    for (const auto& [W, H] : {std::pair{1, 1}, {2, 3}, {1, 9}, {9, 1}, {7, 130}, {130, 7}, {65, 67}, {128, 66}}) {
        const std::size_t n = static_cast<std::size_t>(W) * H;
        std::vector<double> d(n);
        std::vector<float> f(n);
        std::vector<std::uint16_t> u(n);
        std::vector<std::int8_t> s(n);
        for (std::size_t i = 0; i < n; ++i) {
            // Few levels, so that the extremes repeat; a half now and then,
            // so that the values are not all whole; NaN for points missing.
            d[i] = level(random) + (level(random) == 0 ? 0.5 : 0.0);
            if (gone(random)) d[i] = NAN;
            f[i] = static_cast<float>(gone(random) ? NAN : -level(random) * 1e3);
            u[i] = static_cast<std::uint16_t>(level(random) * 7000);
            s[i] = static_cast<std::int8_t>(level(random) * 25 - 120);
        }
        // A missing point in the last column and in the first.
        if (n > 1) d[n - 1] = f[0] = NAN;
        expectTheTrendPassSeesWhatPlainLoopsSee(W, H, d);
        expectTheTrendPassSeesWhatPlainLoopsSee(W, H, f);
        expectTheTrendPassSeesWhatPlainLoopsSee(W, H, u);
        expectTheTrendPassSeesWhatPlainLoopsSee(W, H, s);
    }
}

// A large hole is filled with the harmonic interpolation itself, not an
// unfinished approximation of it: x^2 - y^2 + 3xy is discretely harmonic,
// so a hole of 200 x 200 pixels in its middle, and holes of any outline
// (a ring, scattered points beside it), must come back as the function.
TEST(PsdStages, LargeHolesAreFilledWithTheHarmonicInterpolation)
{
    const int W = 256, H = 240;
    std::vector<double> truth(static_cast<std::size_t>(W) * H), z(truth.size());
    std::mt19937_64 random(3);
    std::bernoulli_distribution gone(0.05);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double u = x - 100.0, v = y - 90.0;
            const std::size_t i = static_cast<std::size_t>(y) * W + x;
            truth[i] = u * u - v * v + 3 * u * v;
            const bool hole = x >= 28 && x < 228 && y >= 20 && y < 220;
            const double r = std::hypot(x - 128.0, y - 120.0);
            const bool inside = x > 0 && y > 0 && x + 1 < W && y + 1 < H;
            z[i] = inside && (hole || (r > 105 && r < 110) || gone(random)) ? NAN : truth[i];
        }
    const psd::Trend trend = psd::measureTrend(z.data(), W, H, PsdOptions::Trend::plane, 1);
    const std::vector<double> filled = psd::fillMissing(z.data(), W, H, trend);
    const auto [lo, hi] = std::minmax_element(truth.begin(), truth.end());
    double worst = 0;
    for (std::size_t i = 0; i < truth.size(); ++i) worst = std::max(worst, std::fabs(filled[i] - truth[i]));
    EXPECT_LT(worst, 1e-6 * (*hi - *lo));
}

TEST(PsdStages, MissingPointsAreLeftOutOfThePlaneAndFilledFromTheirNeighbours)
{
    // A tilted plane with noise, a tenth of it missing (NaN): the trend is the
    // least-squares plane of the measured points alone, by its normal
    // equations solved here in plain coordinates.
    const int W = 23, H = 17;
    std::mt19937_64 random(5);
    std::normal_distribution<double> normal;
    std::bernoulli_distribution gone(0.1);
    std::vector<double> z(static_cast<std::size_t>(W) * H);
    double s[3][3] = {}, t[3] = {};
    long long missing = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            double& v = z[static_cast<std::size_t>(y) * W + x];
            v = 4 + 0.3 * x - 0.2 * y + normal(random);
            if (gone(random)) {
                v = NAN;
                ++missing;
                continue;
            }
            const double u[3] = {1.0, x - (W - 1) / 2.0, y - (H - 1) / 2.0};
            for (int i = 0; i < 3; ++i) {
                t[i] += u[i] * v;
                for (int j = 0; j < 3; ++j) s[i][j] += u[i] * u[j];
            }
        }
    // Gaussian elimination of the 3 x 3 system.
    for (int c = 0; c < 3; ++c)
        for (int r = c + 1; r < 3; ++r) {
            const double f = s[r][c] / s[c][c];
            for (int k = c; k < 3; ++k) s[r][k] -= f * s[c][k];
            t[r] -= f * t[c];
        }
    double c[3];
    for (int r = 2; r >= 0; --r) {
        c[r] = t[r];
        for (int k = r + 1; k < 3; ++k) c[r] -= s[r][k] * c[k];
        c[r] /= s[r][r];
    }
    const psd::Trend trend = psd::measureTrend(z.data(), W, H, PsdOptions::Trend::plane, 2);
    EXPECT_EQ(trend.missing, missing);
    EXPECT_NEAR(trend.mean, c[0], 1e-12);
    EXPECT_NEAR(trend.bx, c[1], 1e-12);
    EXPECT_NEAR(trend.by, c[2], 1e-12);
    // Filled, each missing point is the mean of its four neighbours and the
    // measured ones are as they were.
    const std::vector<double> filled = psd::fillMissing(z.data(), W, H, trend);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * W + x;
            if (!std::isnan(z[i])) {
                EXPECT_EQ(filled[i], z[i]);
                continue;
            }
            double sum = 0;
            int n = 0;
            if (x > 0) sum += filled[i - 1], ++n;
            if (x + 1 < W) sum += filled[i + 1], ++n;
            if (y > 0) sum += filled[i - W], ++n;
            if (y + 1 < H) sum += filled[i + W], ++n;
            EXPECT_NEAR(filled[i], sum / n, 1e-6) << x << ", " << y;
        }
}

TEST(PsdStages, TheWindowAndTheResidualsLeaveNothingOfAPlane)
{
    // sin^2 at the samples' centres sums to exactly half the side (n >= 2).
    for (int n : {2, 7, 64, 101}) {
        const std::vector<double> w = psd::sideWindow(n, PsdOptions::Window::hann);
        EXPECT_NEAR(std::accumulate(w.begin(), w.end(), 0.0), n / 2.0, 1e-12) << n;
        EXPECT_EQ(psd::sideWindow(n, PsdOptions::Window::none), std::vector<double>(static_cast<std::size_t>(n), 1.0));
    }
    const int W = 30, H = 20;
    std::vector<double> values;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) values.push_back(100 + 2.0 * x + 3.0 * y + ((x + y) % 2 ? 1 : -1));
    const psd::Trend t = psd::measureTrend(values.data(), W, H, PsdOptions::Trend::plane, 1);
    matrix padded(32, 32, nullptr);
    const std::vector<double> ones = psd::sideWindow(W, PsdOptions::Window::none), onesY = psd::sideWindow(H, PsdOptions::Window::none);
    const double residual = psd::windowedResiduals(values.data(), W, H, t, ones, onesY, padded, 2);
    // What is left is the checkerboard of +-1 (its own plane is nearly 0).
    EXPECT_NEAR(residual, W * H, 1e-6);
    EXPECT_NEAR(std::fabs(padded.getData()[0]), 1.0, 1e-3);
    EXPECT_EQ(padded.getData()[32 * 5 + W], 0.0);   // padding stays zero
    EXPECT_EQ(padded.getData()[32 * H + 3], 0.0);
}

namespace {

// The radial spectrum of W x N values with their plane removed, Hann window.
psd::RadialSpectrum spectrumOf(const std::vector<double>& v, int N, psd::Trend& trend)
{
    trend = psd::measureTrend(v.data(), N, N, PsdOptions::Trend::plane, 2);
    const std::vector<double> w = psd::sideWindow(N, PsdOptions::Window::hann);
    matrix padded(N, N, nullptr);
    psd::windowedResiduals(v.data(), N, N, trend, w, w, padded, 2);
    return psd::radialPowerSpectrum(padded, N, N, 8, 2);
}

}  // namespace

TEST(PsdStages, TheRingsHoldThePowerOfAPlainTransform)
{
    // The rings of a 16 x 8 grid (rows read as complex numbers of half the
    // width, every kx from 0 to PW/2 among them) against the power of each
    // frequency summed straight from the definition, one of each conjugate
    // pair, with linear edges no frequency falls on.
    const std::uint32_t PW = 16, PH = 8;
    std::mt19937_64 random(4);
    std::normal_distribution<double> normal;
    std::vector<double> x(PW * PH);
    for (double& v : x) v = normal(random);
    matrix padded(static_cast<int>(PH), static_cast<int>(PW), x.data());
    const psd::RadialSpectrum rings = psd::radialPowerSpectrum(padded, PW, PH, 0, 1);
    std::vector<double> power(rings.power.size(), 0.0);
    std::vector<long long> count(rings.count.size(), 0);
    for (std::uint32_t ky = 0; ky < PH; ++ky)
        for (std::uint32_t kx = 0; kx <= PW / 2; ++kx) {
            const double fx = static_cast<double>(kx) / PW, fy = (ky <= PH / 2 ? ky : ky - static_cast<double>(PH)) / PH;
            if ((kx == 0 && ky == 0) || ((kx == 0 || kx == PW / 2) && fy < 0) || !(fx * fx + fy * fy < 0.25)) continue;
            double re = 0, im = 0;
            for (std::uint32_t y = 0; y < PH; ++y)
                for (std::uint32_t c = 0; c < PW; ++c) {
                    const double angle = -2 * 3.14159265358979323846 * (static_cast<double>(kx * c) / PW + static_cast<double>(ky * y) / PH);
                    re += x[y * PW + c] * std::cos(angle);
                    im += x[y * PW + c] * std::sin(angle);
                }
            const double q = std::sqrt(fx * fx + fy * fy);
            const std::size_t j = static_cast<std::size_t>(std::upper_bound(rings.edges.begin(), rings.edges.end(), q) - rings.edges.begin()) - 1;
            power[j] += (re * re + im * im) / (static_cast<double>(PW) * PH * PW * PH);
            ++count[j];
        }
    EXPECT_EQ(rings.count, count);
    for (std::size_t j = 0; j < power.size(); ++j) EXPECT_NEAR(rings.power[j], power[j], 1e-12 * (1 + power[j])) << j;
}

TEST(PsdStages, TheRoundingNoiseModelFollowsTheErrorItModels)
{
    // Rounded values against the error rounding actually left, bin by bin:
    // white on a rough picture, piled up at low frequencies on a smooth
    // one (a surface of dimension 2.1 over 32 levels changes level between
    // about one neighbour in ten).
    const int N = 256;
    std::mt19937_64 random(3);
    const std::vector<double> w = psd::sideWindow(N, PsdOptions::Window::hann);
    for (double D : {2.1, 2.9}) {
        std::vector<double> z = fractalSurface(D, N, N, random);
        const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
        const double low = *lo, high = *hi;
        std::vector<double> rounded(z.size()), error(z.size());
        for (std::size_t i = 0; i < z.size(); ++i) {
            const double level = (z[i] - low) / (high - low) * 31;
            rounded[i] = std::round(level);
            error[i] = rounded[i] - level;
        }
        psd::Trend trend, errorTrend;
        const psd::RadialSpectrum observed = spectrumOf(rounded, N, trend);
        const psd::RadialSpectrum actual = spectrumOf(error, N, errorTrend);
        ASSERT_TRUE(trend.wholeNumbers);
        const std::vector<double> noise = psd::roundingNoise(observed, trend, w, w, N, N);
        for (std::size_t j = 0; j < noise.size(); ++j) {
            if (actual.count[j] < 50 || std::exp(actual.lnQ[j]) < 0.03) continue;
            EXPECT_NEAR(std::log(noise[j] / (actual.power[j] / actual.count[j])), 0.0, std::log(1.7))
                << "D " << D << ", q " << std::exp(actual.lnQ[j]);
        }
        EXPECT_EQ(psd::roundingNoise(actual, errorTrend, w, w, N, N), std::vector<double>(noise.size(), 0.0));
    }
    // The spread of a Gaussian from the mean of its absolute value, against
    // that mean summed on a fine grid.
    for (double mean : {0.0, 0.3, -1.0})
        for (double spread : {0.1, 0.5, 2.0}) {
            if (spread < std::fabs(mean) / 4) continue;  // |X| is X there, to double precision
            double meanAbs = 0;
            for (int i = -200000; i <= 200000; ++i) {
                const double x = mean + spread * i * 1e-4;
                meanAbs += std::fabs(x) * std::exp(-0.5 * (i * 1e-4) * (i * 1e-4)) * 1e-4 / std::sqrt(2 * M_PI);
            }
            EXPECT_NEAR(psd::gaussianSpread(meanAbs, mean), spread, 1e-5 * spread) << mean << " " << spread;
        }
    EXPECT_EQ(psd::gaussianSpread(0.2, 0.3), 0.0);
}

TEST(PsdStages, TheFitFindsAStraightLineAndItsDimension)
{
    // Bins on ln PSD = 2 - 3 ln q, equal counts: slope -3 whatever the
    // correction for the log of a mean (the same for every bin).
    std::vector<PsdBin> bins;
    for (int k = 0; k < 12; ++k) {
        const double lnQ = std::log(0.02) + 0.2 * k;
        bins.push_back({lnQ, 2 - 3 * lnQ, 400, k >= 2 && k <= 10});
    }
    const std::vector<double> kept(bins.size(), 1.0);
    const psd::LineFit fit = psd::fitLine(bins, kept, 4.0);
    EXPECT_EQ(fit.bins, 9);
    EXPECT_NEAR(fit.slope, -3.0, 1e-12);
    EXPECT_NEAR(fit.intercept, 2 + 0.5 * 4.0 / 400, 1e-12);
    EXPECT_NEAR(fit.chi2, 0.0, 1e-18);
    PsdResult r{};
    psd::fillDimension(fit, r);
    EXPECT_NEAR(r.dimension, 2.5, 1e-12);
    EXPECT_NEAR(r.beta, 3.0, 1e-12);
    EXPECT_NEAR(r.dimension - r.dimensionLow, r.dimensionHigh - r.dimension, 1e-12);
    // The interval from the weights alone: 1.96 / sqrt(sxx) on the slope, half on D.
    EXPECT_NEAR(r.dimensionHigh - r.dimension, 1.959963984540054 / std::sqrt(fit.sxx) / 2, 1e-12);
    EXPECT_EQ(psd::fitLine(bins, kept, 1e9).bins, 9);
    for (PsdBin& b : bins) b.fitted = b.fitted && b.lnQ < std::log(0.03);
    EXPECT_LT(psd::fitLine(bins, kept, 4.0).bins, 3);
}

TEST(PsdStages, FlagsFollowTheirRules)
{
    PsdResult r{};
    r.binsFitted = 20;
    for (int k = 0; k < 20; ++k) r.bins.push_back({-4.0 + 0.1 * k, 0, 100, true});  // 1.9 in ln q: over 2 octaves
    auto flags = [&](double d, double low, double high, double curvature = 0, int floorCut = 0, int distinct = 1000,
                     long long atEdge = 1) {
        r.dimension = d;
        r.dimensionLow = low;
        r.dimensionHigh = high;
        psd::ValueStats values;
        values.distinct = distinct;
        values.atSmallest = atEdge;
        values.atLargest = 1;
        return psd::diagnose(r, curvature, r.binsFitted - 3, floorCut, values, 10000);
    };
    using Flags = std::vector<std::string>;
    EXPECT_EQ(flags(2.5, 2.45, 2.55), Flags{});
    EXPECT_EQ(flags(3.5, 3.4, 3.6), Flags{"out_of_range"});
    EXPECT_EQ(flags(2.1, 1.2, 2.4), Flags{"out_of_range"});   // most of the interval below 2
    EXPECT_EQ(flags(2.9, 2.7, 3.2), Flags{});                 // most of it inside
    EXPECT_EQ(flags(2.5, 2.4, 2.6, 3.0), Flags{"curved"});    // t(17) at 99.5 % is 2.90
    EXPECT_EQ(flags(2.5, 2.4, 2.6, 2.8), Flags{});
    EXPECT_EQ(flags(2.5, 2.4, 2.6, 0, 3), Flags{});           // the floor cut, but two octaves are left
    EXPECT_EQ(flags(2.5, 2.4, 2.6, 0, 0, 16), Flags{"few_levels"});
    EXPECT_EQ(flags(2.5, 2.4, 2.6, 0, 0, 17), Flags{});
    EXPECT_EQ(flags(2.5, 2.4, 2.6, 0, 0, 1000, 100), Flags{"clipped"});
    EXPECT_EQ(flags(2.5, 2.4, 2.6, 0, 0, 1000, 99), Flags{});
    r.bins.resize(5);
    r.binsFitted = 5;
    EXPECT_EQ(flags(2.5, 2.4, 2.6, 0, 2), (Flags{"noise_floor", "few_bins"}));
}

TEST(PsdStages, ACurvedSpectrumAndItsValuesAreSeenForWhatTheyAre)
{
    std::vector<PsdBin> line, bent;
    for (int k = 0; k < 16; ++k) {
        const double x = -5 + 0.25 * k;
        line.push_back({x, 1 - 3 * x, 2000, true});
        bent.push_back({x, 1 - 3 * x + 0.3 * x * x, 2000, true});
    }
    const std::vector<double> kept(16, 1.0);
    EXPECT_NEAR(psd::curvatureT(line, kept, 4.0), 0.0, 1e-6);
    EXPECT_GT(psd::curvatureT(bent, kept, 4.0), 10.0);

    const std::vector<double> values = {3, 1, 1, 2, 3, 3, 0.5, 3};
    const psd::ValueStats v = psd::valueStats(values.data(), values.size(), 16);
    EXPECT_EQ(v.distinct, 4);
    EXPECT_EQ(v.atSmallest, 1);
    EXPECT_EQ(v.atLargest, 4);
    EXPECT_EQ(psd::valueStats(values.data(), values.size(), 2).distinct, 3);  // counted up to the limit + 1
    // Gathered in parts and merged, the same as in one pass.
    for (std::size_t cut = 0; cut <= values.size(); ++cut) {
        psd::ValueStats merged = psd::valueStats(values.data(), cut, 16);
        merged.merge(psd::valueStats(values.data() + cut, values.size() - cut, 16), 16);
        EXPECT_EQ(merged.distinct, 4) << cut;
        EXPECT_EQ(merged.atSmallest, 1) << cut;
        EXPECT_EQ(merged.atLargest, 4) << cut;
    }
}

TEST(PsdStages, AWhiteFloorIsFoundOnlyWhereItStraightensTheSpectrum)
{
    // Bins eight to an octave from 0.02 to 0.5 cycles per pixel, each of
    // 10^4 frequencies, on spectra known exactly.
    auto spectrumOf = [](auto power) {
        psd::RadialSpectrum s;
        for (double q = 0.02; q <= 0.5; q *= std::exp2(1.0 / 8)) {
            s.count.push_back(10000);
            s.lnQ.push_back(std::log(q));
            s.power.push_back(10000 * power(std::log(q)));
        }
        return s;
    };
    // The floor is searched in steps of 1 % of the lowest bin's power, 8 + floor.
    const double floor = 0.3 * 8, step = 0.011 * (8 + floor);
    const psd::RadialSpectrum withFloor = spectrumOf([&](double lnQ) { return std::exp(-3 * lnQ) + floor; });
    const std::vector<double> none(withFloor.count.size(), 0.0);
    EXPECT_NEAR(psd::whiteNoiseFloor(withFloor, none, 0.02, 1.0), floor, step);
    // Part of the power already put down to rounding is not found again.
    std::vector<double> rounding(withFloor.count.size(), 0.5 * floor);
    EXPECT_NEAR(psd::whiteNoiseFloor(withFloor, rounding, 0.02, 1.0), 0.5 * floor, step);
    // A straight line has no floor; nor has a spectrum that bends on either
    // side of one, which a floor cannot straighten.
    EXPECT_EQ(psd::whiteNoiseFloor(spectrumOf([](double lnQ) { return std::exp(-3 * lnQ); }), none, 0.02, 1.0), 0.0);
    EXPECT_EQ(psd::whiteNoiseFloor(spectrumOf([](double lnQ) { return std::exp(-3 * lnQ - 0.3 * lnQ * lnQ); }), none, 0.02, 1.0), 0.0);
    EXPECT_EQ(psd::whiteNoiseFloor(spectrumOf([](double lnQ) { return std::exp(-3 * lnQ + 0.2 * (lnQ + 3) * (lnQ + 3)); }), none, 0.02, 1.0), 0.0);
}
