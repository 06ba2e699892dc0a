// Accuracy of the spectral dimension on fractional-Brownian surfaces of known
// dimension, beside the plain estimate a user writes first; how often its
// flags catch pictures that are no such surface (and how rarely they fire on
// clean ones); how much the sample type changes it; and its time on
// 4096 x 4096 and 1024 x 1024 images beside the transform's.
//
//   orvane_bench_psd [SURFACES_PER_CELL [FIT_CYCLES FIT_MAX [D]]]
//   orvane_bench_psd time          (the time alone)
//
// 20 surfaces per cell by default; the fit range is the estimator's default
// unless FIT_CYCLES / (the shorter side) and FIT_MAX are given (0 0 for the
// default), which is how the default was chosen; D alone runs only the cells
// of that dimension.
// Surfaces are made on a grid four times larger than the picture and a
// window is cut out of it, so that their edges do not wrap, as in a real
// measurement; each is quantised to 256 levels (8 bits, as a BMP holds it),
// to 65536 (16 bits), to 200 (a 16-bit picture that uses a few hundred), and
// to the 32 and 8 levels of a low-contrast picture.  Bias, RMSE, worst and
// "in 95 %" count the estimates with a number; "flagged" those with any
// quality flag, "in|flag" those whose interval holds the truth or that
// carry a flag, "no fit" those flagged no_fit, all of the cell.
#include "analysis/matrix.h"
#include "tests/fractal_surface.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

// The surface's range mapped to 0 .. levels - 1 and rounded.
std::vector<double> quantised(const std::vector<double>& z, int levels)
{
    const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
    std::vector<double> out(z.size());
    for (std::size_t i = 0; i < z.size(); ++i) out[i] = std::round((z[i] - *lo) / (*hi - *lo) * (levels - 1));
    return out;
}

// The surface with white noise added, as a detector adds it: of half the
// spread of the steps between neighbours along a row, enough to flatten the
// top octave of the spectrum.
std::vector<double> withWhiteNoise(std::vector<double> z, int W, std::mt19937_64& random)
{
    double steps = 0;
    for (std::size_t i = 1; i < z.size(); ++i)
        if (i % static_cast<std::size_t>(W) != 0) steps += (z[i] - z[i - 1]) * (z[i] - z[i - 1]);
    std::normal_distribution<double> noise(0, 0.5 * std::sqrt(steps / static_cast<double>(z.size())));
    for (double& v : z) v += noise(random);
    return z;
}

// What a user writes first: mean removed, no window, the periodogram
// averaged over rings one frequency step wide up to Nyquist, and a straight
// line through all of them by ordinary least squares.
double plainDimension(const std::vector<double>& z, int W, int H)
{
    const std::uint32_t PW = powerOfTwoAtLeast(W), PH = powerOfTwoAtLeast(H);
    double mean = 0;
    for (double v : z) mean += v / z.size();
    matrix m(static_cast<int>(PH), static_cast<int>(2 * PW), nullptr);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) m.getData()[2 * (std::size_t{PW} * y + x)] = z[std::size_t(y) * W + x] - mean;
    fourierTransform2D(m.getData(), PW, PH, 1);
    const double step = 1.0 / std::max(PW, PH);
    const std::size_t rings = static_cast<std::size_t>(0.5 / step) + 1;
    std::vector<double> sum(rings, 0.0);
    std::vector<long> n(rings, 0);
    for (std::uint32_t y = 0; y < PH; ++y)
        for (std::uint32_t x = 0; x < PW; ++x) {
            const double fy = (y <= PH / 2 ? double(y) : double(y) - PH) / PH;
            const double fx = (x <= PW / 2 ? double(x) : double(x) - PW) / PW;
            const std::size_t r = static_cast<std::size_t>(std::lround(std::sqrt(fx * fx + fy * fy) / step));
            if (r == 0 || r >= rings) continue;
            const double* c = m.getData() + 2 * (std::size_t{PW} * y + x);
            sum[r] += c[0] * c[0] + c[1] * c[1];
            ++n[r];
        }
    std::vector<double> xs, ys;
    for (std::size_t r = 1; r < rings; ++r)
        if (n[r] > 0 && sum[r] > 0) {
            xs.push_back(std::log(r * step));
            ys.push_back(std::log(sum[r] / n[r]));
        }
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        mx += xs[i] / xs.size();
        my += ys[i] / ys.size();
    }
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        sxy += (xs[i] - mx) * (ys[i] - my);
        sxx += (xs[i] - mx) * (xs[i] - mx);
    }
    return (8 + sxy / sxx) / 2;
}

struct Cell {
    std::vector<double> errors;  // of the estimates with a number (not no_fit)
    int tried = 0;
    int noFit = 0;
    int covered = 0;
    double halfWidth = 0;  // summed over the surfaces
    std::vector<double> plainErrors;
    int flagged = 0;        // with any flag
    int heldOrFlagged = 0;  // the truth in the interval, or a flag said not to trust it

    void print(const char* label) const
    {
        auto stats = [](const std::vector<double>& e, double& bias, double& rmse, double& worst) {
            bias = rmse = worst = 0;
            if (e.empty()) return;
            for (double v : e) {
                bias += v / e.size();
                rmse += v * v / e.size();
                worst = std::max(worst, std::fabs(v));
            }
            rmse = std::sqrt(rmse);
        };
        double b, r, w, pb, pr, pw;
        stats(errors, b, r, w);
        stats(plainErrors, pb, pr, pw);
        const double fitted = std::max<std::size_t>(errors.size(), 1);
        std::printf("%-24s %+8.4f %8.4f %8.4f %7.1f %% %8.4f %7.1f %% %7.1f %% %7.1f %%   | %+8.4f %8.4f %8.4f\n", label,
                    b, r, w, 100.0 * covered / fitted, halfWidth / fitted, 100.0 * flagged / tried,
                    100.0 * heldOrFlagged / tried, 100.0 * noFit / tried, pb, pr, pw);
    }
};

// A midpoint-displacement (diamond-square) surface of nominal dimension D on
// an N x N grid (N a power of two), the other common generator: its spectrum
// is not a straight line.
std::vector<double> midpointSurface(double D, int N, std::mt19937_64& random)
{
    const int G = N + 1;
    const double H = 3 - D;
    std::vector<double> z(static_cast<std::size_t>(G) * G, 0.0);
    std::normal_distribution<double> normal;
    auto at = [&](int x, int y) -> double& { return z[static_cast<std::size_t>(y) * G + x]; };
    double scale = 1;
    for (int step = N; step > 1; step /= 2) {
        const int half = step / 2;
        scale *= std::pow(0.5, H);
        for (int y = half; y < G; y += step)
            for (int x = half; x < G; x += step)
                at(x, y) = (at(x - half, y - half) + at(x + half, y - half) + at(x - half, y + half) +
                            at(x + half, y + half)) / 4 + scale * normal(random);
        for (int y = 0; y < G; y += half)
            for (int x = (y / half) % 2 == 0 ? half : 0; x < G; x += step) {
                double sum = 0;
                int n = 0;
                for (const auto& [dx, dy] : {std::pair{-half, 0}, {half, 0}, {0, -half}, {0, half}})
                    if (x + dx >= 0 && x + dx < G && y + dy >= 0 && y + dy < G) {
                        sum += at(x + dx, y + dy);
                        ++n;
                    }
                at(x, y) = sum / n + scale * normal(random);
            }
    }
    std::vector<double> out(static_cast<std::size_t>(N) * N);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) out[static_cast<std::size_t>(y) * N + x] = at(x, y);
    return out;
}

// How often each kind of picture that is not a self-affine surface (or not
// one a single D describes) is flagged, and with what, on 256 x 256 pictures.
void notSurfaces(int perKind)
{
    const int N = 256;
    std::printf("\nPictures that are no self-affine surface, %d of each, %d x %d:\n", perKind, N, N);
    std::printf("%-34s %9s %9s  %s\n", "picture", "flagged", "mean D", "flags seen");
    std::mt19937_64 random(20261210u);
    const std::vector<std::pair<const char*, std::function<std::vector<double>()>>> kinds = {
        {"smooth bump, 256 levels", [&] {
             std::uniform_real_distribution<double> u(60, 196), w(200, 2000);
             const double cx = u(random), cy = u(random), s = w(random);
             std::vector<double> z;
             for (int y = 0; y < N; ++y)
                 for (int x = 0; x < N; ++x) z.push_back(std::round(255 * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / s)));
             return z;
         }},
        {"white noise", [&] {
             std::normal_distribution<double> n;
             std::vector<double> z(static_cast<std::size_t>(N) * N);
             for (double& v : z) v = n(random);
             return z;
         }},
        {"D 2.5 with one outlier (x1000)", [&] {
             std::vector<double> z = quantised(fractalSurface(2.5, N, N, random), 65536);
             z[static_cast<std::size_t>(N) * 100 + 77] = 65535.0 * 1000;
             return z;
         }},
        {"D 2.5 saturated (20 % each end)", [&] {
             std::vector<double> z = fractalSurface(2.5, N, N, random), sorted = z;
             std::sort(sorted.begin(), sorted.end());
             const double lo = sorted[sorted.size() / 5], hi = sorted[sorted.size() * 4 / 5];
             for (double& v : z) v = std::round(255 * (std::clamp(v, lo, hi) - lo) / (hi - lo));
             return z;
         }},
        {"D 2.5 over 8 levels", [&] { return quantised(fractalSurface(2.5, N, N, random), 8); }},
        {"midpoint displacement, D 2.2", [&] { return quantised(midpointSurface(2.2, N, random), 65536); }},
        {"midpoint displacement, D 2.5", [&] { return quantised(midpointSurface(2.5, N, random), 65536); }},
        {"clean D 2.5 (false alarms)", [&] { return quantised(fractalSurface(2.5, N, N, random), 65536); }},
    };
    for (const auto& [name, make] : kinds) {
        int flagged = 0, fitted = 0;
        double sumD = 0;
        std::map<std::string, int> seen;
        for (int k = 0; k < perKind; ++k) {
            const std::vector<double> z = make();
            const PsdResult r = estimatePsdDimension(z.data(), N, N);
            flagged += !r.flags.empty();
            for (const std::string& f : r.flags) ++seen[f];
            if (r.fitted()) {
                sumD += r.dimension;
                ++fitted;
            }
        }
        std::string words;
        for (const auto& [flag, n] : seen) words += flag + " " + std::to_string(n) + "  ";
        std::printf("%-34s %7.1f %% %9.3f  %s\n", name, 100.0 * flagged / perKind, fitted ? sumD / fitted : NAN,
                    words.c_str());
    }
}

// The D of `u` (values in 0 .. 1) stored as T: scaled by `scale`, moved by
// `offset`, rounded where T holds whole numbers.
template <class T>
double storedAs(const std::vector<double>& u, double scale, double offset, int N)
{
    std::vector<T> stored(u.size());
    for (std::size_t i = 0; i < u.size(); ++i) {
        const double v = offset + scale * u[i];
        stored[i] = static_cast<T>(std::is_integral_v<T> ? std::round(v) : v);
    }
    return estimatePsdDimension(stored.data(), N, N).dimension;
}

// The same surfaces in the sample types a TIFF holds, each filling its type:
// the largest difference in D from the surface in 64-bit floating point.
void sampleTypes(int perType)
{
    const int N = 256;
    std::printf("\nSample types, %d surfaces of D 2.2 and 2.8 each, %d x %d: largest |D - D(float64)|\n", perType, N, N);
    const std::vector<std::pair<const char*, std::function<double(const std::vector<double>&)>>> types = {
        {"uint16", [](const std::vector<double>& u) { return storedAs<std::uint16_t>(u, 65535, 0, N); }},
        {"int16", [](const std::vector<double>& u) { return storedAs<std::int16_t>(u, 65535, -32768, N); }},
        {"int32", [](const std::vector<double>& u) { return storedAs<std::int32_t>(u, 4294967295.0, -2147483648.0, N); }},
        {"uint32, offset 2^31", [](const std::vector<double>& u) { return storedAs<std::uint32_t>(u, 2147483647.0, 2147483648.0, N); }},
        {"float32 (metres)", [](const std::vector<double>& u) { return storedAs<float>(u, 1e-6, 0, N); }},
    };
    std::mt19937_64 random(20261211u);
    std::vector<double> worst(types.size(), 0.0);
    for (double D : {2.2, 2.8})
        for (int k = 0; k < perType; ++k) {
            const std::vector<double> z = fractalSurface(D, N, N, random);
            const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
            std::vector<double> u(z.size());
            for (std::size_t i = 0; i < z.size(); ++i) u[i] = (z[i] - *lo) / (*hi - *lo);
            const double reference = estimatePsdDimension(u.data(), N, N).dimension;
            for (std::size_t t = 0; t < types.size(); ++t)
                worst[t] = std::max(worst[t], std::fabs(types[t].second(u) - reference));
        }
    for (std::size_t t = 0; t < types.size(); ++t) std::printf("%-24s %.2e\n", types[t].first, worst[t]);
}

// Points not measured: the same float64 surfaces with a share of their
// points NaN at random, and with a square hole in the middle; D against the
// whole surface's.
void missingPoints(int perCell)
{
    const int N = 256;
    std::printf("\nMissing points (NaN), %d surfaces a cell, %d x %d: D with them - D of the whole surface\n", perCell, N, N);
    std::printf("%-28s %9s %9s %9s\n", "missing, D", "mean", "RMS", "worst");
    std::mt19937_64 random(20261212u);
    for (const double share : {0.01, 0.03, 0.1, 0.3})
        for (double D : {2.2, 2.5, 2.8}) {
            double sum = 0, squares = 0, worst = 0;
            for (int k = 0; k < perCell; ++k) {
                std::vector<double> z = fractalSurface(D, N, N, random);
                const double whole = estimatePsdDimension(z.data(), N, N).dimension;
                std::bernoulli_distribution gone(share);
                for (double& v : z)
                    if (gone(random)) v = NAN;
                const double e = estimatePsdDimension(z.data(), N, N).dimension - whole;
                sum += e;
                squares += e * e;
                worst = std::max(worst, std::fabs(e));
            }
            char label[64];
            std::snprintf(label, sizeof label, "%4.0f %% at random, D=%.1f", 100 * share, D);
            std::printf("%-28s %+9.4f %9.4f %9.4f\n", label, sum / perCell, std::sqrt(squares / perCell), worst);
        }
    for (double D : {2.2, 2.5, 2.8}) {
        double sum = 0, worst = 0;
        for (int k = 0; k < perCell; ++k) {
            std::vector<double> z = fractalSurface(D, N, N, random);
            const double whole = estimatePsdDimension(z.data(), N, N).dimension;
            for (int y = 112; y < 144; ++y)
                for (int x = 112; x < 144; ++x) z[static_cast<std::size_t>(y) * N + x] = NAN;
            const double e = estimatePsdDimension(z.data(), N, N).dimension - whole;
            sum += e;
            worst = std::max(worst, std::fabs(e));
        }
        std::printf("32 x 32 hole (1.6 %%), D=%.1f  %+9.4f %9s %9.4f\n", D, sum / perCell, "", worst);
    }
}

double seconds(const std::chrono::steady_clock::time_point& since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

// Time: the estimate of an N x N image beside its transform alone (the
// complex transform of the picture, as the window and the methods run it),
// the best of several runs.
void timeAgainstTransform(int N)
{
    std::mt19937_64 r(7);
    std::uniform_real_distribution<double> level(0, 255);
    std::vector<double> image(std::size_t(N) * N);
    for (double& v : image) v = std::round(level(r));
    double estimate = 1e9, transform = 1e9;
    const int runs = N >= 4096 ? 5 : 20;
    for (int k = 0; k < runs; ++k) {
        auto t0 = std::chrono::steady_clock::now();
        estimatePsdDimension(image.data(), N, N);
        estimate = std::min(estimate, seconds(t0));
        matrix m(N, 2 * N, nullptr);
        for (std::size_t i = 0; i < image.size(); ++i) m.getData()[2 * i] = image[i];
        t0 = std::chrono::steady_clock::now();
        fourierTransform2D(m.getData(), N, N, 1);
        transform = std::min(transform, seconds(t0));
    }
    std::printf("%d x %d: spectral estimate %.2f ms, transform alone %.2f ms, ratio %.2f (target <= 1.3)\n", N, N,
                estimate * 1e3, transform * 1e3, estimate / transform);
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "time") {
        // The timing alone: orvane_bench_psd time
        timeAgainstTransform(4096);
        timeAgainstTransform(1024);
        return 0;
    }
    const int perCell = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    const double fitCycles = argc > 3 ? std::atof(argv[2]) : 0.0;
    PsdOptions options;
    if (argc > 3) options.fitMax = std::atof(argv[3]);  // 0: the default
    const double dimensions[] = {2.1, 2.3, 2.5, 2.7, 2.9};
    const int sizes[][2] = {{256, 256}, {512, 512}, {300, 200}};
    std::printf("Spectral dimension on %d surfaces per cell: error = estimate - true D\n", perCell);
    if (fitCycles > 0) std::printf("fit range %g / (shorter side) to %g cycles per pixel\n", fitCycles, options.fitMax);
    std::printf("\n");
    std::printf("%-24s %8s %8s %8s %9s %8s %9s %9s %9s   | %8s %8s %8s\n", "size, levels, true D", "bias", "RMSE",
                "worst", "in 95 %", "+-", "flagged", "in|flag", "no fit", "plain:bias", "RMSE", "worst");
    const double only = argc > 4 ? std::atof(argv[4]) : 0.0;
    for (const auto& size : sizes) {
        // 8 and 16 bits over the whole range, the few levels of a
        // low-contrast picture, and (0) white detector noise on the surface.
        for (int levels : {256, 65536, 200, 32, 8, 0}) {
            for (double D : dimensions) {
                if (only > 0 && std::fabs(D - only) > 1e-9) continue;
                // The same surfaces at both depths.
                std::mt19937_64 cellRandom(20261209u + static_cast<std::uint64_t>(std::lround(D * 10)) * 1000003u +
                                           static_cast<std::uint64_t>(size[0]) * 7919u + static_cast<std::uint64_t>(size[1]));
                Cell cell;
                for (int k = 0; k < perCell; ++k) {
                    const std::vector<double> z =
                        levels > 0 ? quantised(fractalSurface(D, size[0], size[1], cellRandom), levels)
                                   : withWhiteNoise(fractalSurface(D, size[0], size[1], cellRandom), size[0], cellRandom);
                    if (fitCycles > 0) options.fitMin = fitCycles / std::min(size[0], size[1]);
                    const PsdResult r = estimatePsdDimension(z.data(), size[0], size[1], options);
                    ++cell.tried;
                    cell.plainErrors.push_back(plainDimension(z, size[0], size[1]) - D);
                    cell.flagged += !r.flags.empty();
                    if (!r.fitted()) {
                        ++cell.noFit;
                        ++cell.heldOrFlagged;
                        continue;
                    }
                    cell.errors.push_back(r.dimension - D);
                    const bool held = r.dimensionLow <= D && D <= r.dimensionHigh;
                    cell.covered += held;
                    cell.heldOrFlagged += held || !r.flags.empty();
                    cell.halfWidth += (r.dimensionHigh - r.dimensionLow) / 2;
                }
                char label[64];
                if (levels > 0)
                    std::snprintf(label, sizeof label, "%dx%d %5d D=%.1f", size[0], size[1], levels, D);
                else
                    std::snprintf(label, sizeof label, "%dx%d noise D=%.1f", size[0], size[1], D);
                cell.print(label);
            }
        }
        std::printf("\n");
    }

    notSurfaces(perCell);
    sampleTypes(std::max(2, perCell / 4));
    missingPoints(std::max(2, perCell / 2));

    timeAgainstTransform(4096);
    timeAgainstTransform(1024);
}
