// The Whittle estimate beside the radial one on fractional-Brownian
// surfaces of known dimension, isotropic and stretched: bias, RMSE and how
// often the 95 % interval holds the truth, for both; the anisotropy found;
// and the time of each on the same pictures.
//
//   orvane_bench_whittle [SURFACES_PER_CELL [LARGEST_SIDE [MAP_SIDE]]]
//
// 10 surfaces per cell by default, sides 64 to 256 (LARGEST_SIDE 512 adds
// the 512 x 512 cells).  Surfaces are float64, cut from a grid four times
// larger so that their edges do not wrap.  Last, a local dimension map of a
// MAP_SIDE square picture (4096 by default) with the default windows, timed
// against the radial estimate of the whole picture: the picture is a
// 1024-pixel surface of D = 2.4 tiled in mirror images, so that it is
// continuous at the seams.
#include "analysis/dimension_map.h"
#include "analysis/psd.h"
#include "analysis/whittle.h"
#include "tests/fractal_surface.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct Errors {
    std::vector<double> e;
    int covered = 0;
    double seconds = 0;

    void add(double estimate, double low, double high, double truth, double time)
    {
        e.push_back(estimate - truth);
        covered += low <= truth && truth <= high;
        seconds += time;
    }
    double bias() const
    {
        double s = 0;
        for (double v : e) s += v;
        return s / e.size();
    }
    double rmse() const
    {
        double s = 0;
        for (double v : e) s += v * v;
        return std::sqrt(s / e.size());
    }
    double coverage() const { return 100.0 * covered / e.size(); }
    double milliseconds() const { return 1e3 * seconds / e.size(); }
};

double since(const std::chrono::steady_clock::time_point& t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The difference of two directions of lines, in degrees, 0 .. 90.
double angleApart(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 180.0);
    return std::min(d, 180 - d);
}

// The map of a mirror-tiled surface of D = 2.4: its time against the
// radial estimate of the whole picture, and its windows' D.
void mapTiming(int side)
{
    std::mt19937_64 random(20261210u);
    const int tile = std::min(side, 1024);
    const std::vector<double> z = fractalSurface(2.4, tile, tile, random);
    std::vector<float> picture(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    auto mirrored = [tile](int i) {
        const int k = i % (2 * tile);
        return k < tile ? k : 2 * tile - 1 - k;
    };
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            picture[static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)] =
                static_cast<float>(z[static_cast<std::size_t>(mirrored(y)) * static_cast<std::size_t>(tile) +
                                     static_cast<std::size_t>(mirrored(x))]);
    auto t0 = std::chrono::steady_clock::now();
    const DimensionMap map = dimensionMap(picture.data(), side, side, 64, 32);
    const double mapSeconds = since(t0);
    t0 = std::chrono::steady_clock::now();
    const PsdResult whole = estimatePsdDimension(picture.data(), side, side);
    const double radialSeconds = since(t0);
    double sum = 0, squares = 0;
    int count = 0;
    for (double d : map.d)
        if (std::isfinite(d)) {
            sum += d;
            squares += d * d;
            ++count;
        }
    const double mean = sum / count;
    std::printf("\nmap of %d x %d (windows 64, step 32: %d x %d): %.2f s, %.0f x the radial estimate of the whole "
                "picture (%.1f ms, D %.3f); windows' D %.3f +- %.3f (true 2.4), %d not estimated\n",
                side, side, map.columns, map.rows, mapSeconds, mapSeconds / radialSeconds, 1e3 * radialSeconds,
                whole.dimension, mean, std::sqrt(std::max(0.0, squares / count - mean * mean)),
                static_cast<int>(map.d.size()) - count);
}

}  // namespace

int main(int argc, char** argv)
{
    const int perCell = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int largest = argc > 2 ? std::atoi(argv[2]) : 256;
    const int mapSide = argc > 3 ? std::max(64, std::atoi(argv[3])) : 4096;
    struct Case {
        double D, ratio, angle;
    };
    const Case cases[] = {{2.2, 1, 0},    {2.5, 1, 0},    {2.8, 1, 0},     {2.5, 1.5, 0},
                          {2.3, 2, 30},   {2.7, 2, 75},   {2.5, 3, 120},   {2.4, 3, 160}};
    std::printf("Whittle and radial estimates on %d surfaces per cell: error = estimate - true D\n\n", perCell);
    std::printf("%-26s | %8s %8s %7s %8s | %8s %8s %7s %8s | %6s %6s | %8s %8s\n", "side, D, ratio, angle", "W bias",
                "W RMSE", "W in95", "W ms", "R bias", "R RMSE", "R in95", "R ms", "RMSE W/R", "ms W/R", "ratio", "angle");
    for (int side : {64, 128, 256, 512}) {
        if (side > largest) break;
        for (const Case& c : cases) {
            std::mt19937_64 random(20261210u + static_cast<std::uint64_t>(side) * 7919u +
                                   static_cast<std::uint64_t>(std::lround(c.D * 10 + c.ratio * 100 + c.angle)));
            Errors whittle, radial;
            double ratioError = 0, angleError = 0, ratioFound = 0;
            for (int k = 0; k < perCell; ++k) {
                const std::vector<double> z = fractalSurface(c.D, side, side, random, c.ratio, c.angle);
                auto t0 = std::chrono::steady_clock::now();
                const WhittleResult w = estimateWhittleDimension(z.data(), side, side);
                whittle.add(w.dimension, w.dimensionLow, w.dimensionHigh, c.D, since(t0));
                t0 = std::chrono::steady_clock::now();
                const PsdResult r = estimatePsdDimension(z.data(), side, side);
                radial.add(r.dimension, r.dimensionLow, r.dimensionHigh, c.D, since(t0));
                ratioFound += w.anisoRatio / perCell;
                ratioError = std::max(ratioError, std::fabs(w.anisoRatio / c.ratio - 1));
                angleError = std::max(angleError, angleApart(w.anisoAngle, c.angle));
            }
            char label[64];
            std::snprintf(label, sizeof label, "%4d D=%.1f r=%.1f %5.0f deg", side, c.D, c.ratio, c.angle);
            char found[32];
            if (c.ratio > 1)
                std::snprintf(found, sizeof found, "%6.1f %% %6.1f deg", 100 * ratioError, angleError);
            else
                std::snprintf(found, sizeof found, "mean %.3f", ratioFound);
            std::printf("%-26s | %+8.4f %8.4f %5.0f %% %8.1f | %+8.4f %8.4f %5.0f %% %8.2f | %8.2f %6.0f | %s\n", label,
                        whittle.bias(), whittle.rmse(), whittle.coverage(), whittle.milliseconds(), radial.bias(),
                        radial.rmse(), radial.coverage(), radial.milliseconds(), whittle.rmse() / radial.rmse(),
                        whittle.seconds / radial.seconds, found);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    std::printf("ratio: the largest |found / true - 1|, angle: the largest difference; isotropic: the mean ratio found\n");
    mapTiming(mapSide);
}
