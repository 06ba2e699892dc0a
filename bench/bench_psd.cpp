// Accuracy of the spectral dimension on fractional-Brownian surfaces of known
// dimension, beside the plain estimate a user writes first; and its time on
// a 4096 x 4096 image beside the transform's.
//
//   orvane_bench_psd [SURFACES_PER_CELL [FIT_CYCLES FIT_MAX [D]]]
//
// 20 surfaces per cell by default; the fit range is the estimator's default
// unless FIT_CYCLES / (the shorter side) and FIT_MAX are given (0 0 for the
// default), which is how the default was chosen; D alone runs only the cells
// of that dimension.
// Surfaces are made on a grid four times larger than the picture and a
// window is cut out of it, so that their edges do not wrap, as in a real
// measurement; each is quantised to 256 levels (8 bits, as a BMP holds it),
// to 65536 (16 bits), and to the 32 and 8 levels of a low-contrast picture.
// "flagged" counts the estimates with any quality flag; "in|flag" those
// whose interval holds the truth or that carry a flag.
#include "analysis/matrix.h"
#include "tests/fractal_surface.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
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
    std::vector<double> errors;
    int covered = 0;
    double halfWidth = 0;  // summed over the surfaces
    std::vector<double> plainErrors;
    int flagged = 0;        // with any flag
    int heldOrFlagged = 0;  // the truth in the interval, or a flag said not to trust it

    void print(const char* label) const
    {
        auto stats = [](const std::vector<double>& e, double& bias, double& rmse, double& worst) {
            bias = rmse = worst = 0;
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
        std::printf("%-24s %+8.4f %8.4f %8.4f %7.1f %% %8.4f %7.1f %% %7.1f %%   | %+8.4f %8.4f %8.4f\n", label, b, r,
                    w, 100.0 * covered / errors.size(), halfWidth / errors.size(), 100.0 * flagged / errors.size(),
                    100.0 * heldOrFlagged / errors.size(), pb, pr, pw);
    }
};

double seconds(const std::chrono::steady_clock::time_point& since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const int perCell = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    const double fitCycles = argc > 3 ? std::atof(argv[2]) : 0.0;
    PsdOptions options;
    if (argc > 3) options.fitMax = std::atof(argv[3]);  // 0: the default
    const double dimensions[] = {2.1, 2.3, 2.5, 2.7, 2.9};
    std::vector<std::array<int, 2>> sizes = {{256, 256}, {512, 512}, {300, 200}};
    if (std::getenv("ONLY512")) sizes = {{512, 512}};
    std::printf("Spectral dimension on %d surfaces per cell: error = estimate - true D\n", perCell);
    if (fitCycles > 0) std::printf("fit range %g / (shorter side) to %g cycles per pixel\n", fitCycles, options.fitMax);
    std::printf("\n");
    std::printf("%-24s %8s %8s %8s %9s %8s %9s %9s   | %8s %8s %8s\n", "size, levels, true D", "bias", "RMSE",
                "worst", "in 95 %", "+-", "flagged", "in|flag", "plain:bias", "RMSE", "worst");
    const double only = argc > 4 ? std::atof(argv[4]) : 0.0;
    for (const auto& size : sizes) {
        // 8 and 16 bits over the whole range, and the few levels of a
        // low-contrast picture.
        for (int levels : {256, 65536, 200, 32, 8}) {
            for (double D : dimensions) {
                if (only > 0 && std::fabs(D - only) > 1e-9) continue;
                // The same surfaces at both depths.
                std::mt19937_64 cellRandom(20261209u + static_cast<std::uint64_t>(std::lround(D * 10)) * 1000003u +
                                           static_cast<std::uint64_t>(size[0]) * 7919u + static_cast<std::uint64_t>(size[1]));
                Cell cell;
                for (int k = 0; k < perCell; ++k) {
                    const std::vector<double> z =
                        quantised(fractalSurface(D, size[0], size[1], cellRandom), levels);
                    if (fitCycles > 0) options.fitMin = fitCycles / std::min(size[0], size[1]);
                    const PsdResult r = estimatePsdDimension(z.data(), size[0], size[1], options);
                    cell.errors.push_back(r.dimension - D);
                    const bool held = r.dimensionLow <= D && D <= r.dimensionHigh;
                    cell.covered += held;
                    cell.flagged += !r.flags.empty();
                    cell.heldOrFlagged += held || !r.flags.empty();
                    cell.halfWidth += (r.dimensionHigh - r.dimensionLow) / 2;
                    cell.plainErrors.push_back(plainDimension(z, size[0], size[1]) - D);
                }
                char label[64];
                std::snprintf(label, sizeof label, "%dx%d %5d D=%.1f", size[0], size[1], levels, D);
                cell.print(label);
            }
        }
        std::printf("\n");
    }

    // Time: the estimate of a 4096 x 4096 image beside the transform alone.
    const int N = 4096;
    std::mt19937_64 r(7);
    std::uniform_real_distribution<double> level(0, 255);
    std::vector<double> image(std::size_t(N) * N);
    for (double& v : image) v = std::round(level(r));
    double estimate = 1e9, transform = 1e9;
    for (int k = 0; k < 3; ++k) {
        auto t0 = std::chrono::steady_clock::now();
        estimatePsdDimension(image.data(), N, N);
        estimate = std::min(estimate, seconds(t0));
        matrix m(N, 2 * N, nullptr);
        for (std::size_t i = 0; i < image.size(); ++i) m.getData()[2 * i] = image[i];
        t0 = std::chrono::steady_clock::now();
        fourierTransform2D(m.getData(), N, N, 1);
        transform = std::min(transform, seconds(t0));
    }
    std::printf("4096 x 4096: spectral estimate %.1f ms, transform alone %.1f ms, ratio %.2f (target <= 2)\n",
                estimate * 1e3, transform * 1e3, estimate / transform);
}
