// Points not measured, filled from their measured neighbours: the harmonic
// interpolation (each filled point the mean of its neighbours in the
// picture), by relaxing point by point while that settles quickly
// (scattered holes), and otherwise by multigrid V-cycles.  Relaxing the points one by one
// alone needs sweeps in proportion to the square of a hole's width (2000
// were not enough for a hole of 700 x 700 pixels); a V-cycle corrects the
// smooth part of the error on grids twice, four times, ... as coarse, so a
// few cycles reach the solution whatever the holes' size.
#include "analysis/psd_stages.h"

#include "analysis/fourier.h"
#include "analysis/thread_pool.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace psd {

namespace {

// One grid of the hierarchy: which points are unknown (the rest are held
// at zero correction), and the correction and right-hand side there.  The
// equation at an unknown point i is  sum over its neighbours in the grid of
// (e_j - e_i) = -r_i ... written  A e = r  with  (A e)_i = n_i e_i - sum e_j.
struct Grid {
    int W = 0, H = 0;
    std::vector<char> free;
    std::vector<double> e, r;
    std::size_t at(int x, int y) const { return static_cast<std::size_t>(y) * static_cast<std::size_t>(W) + static_cast<std::size_t>(x); }
};

// (A v)_i at point (x, y) of g's grid, with v's values at its neighbours.
inline double applyAt(const Grid& g, const std::vector<double>& v, int x, int y)
{
    const std::size_t i = g.at(x, y);
    double sum = 0;
    int n = 0;
    if (x > 0) sum += v[i - 1], ++n;
    if (x + 1 < g.W) sum += v[i + 1], ++n;
    if (y > 0) sum += v[i - static_cast<std::size_t>(g.W)], ++n;
    if (y + 1 < g.H) sum += v[i + static_cast<std::size_t>(g.W)], ++n;
    return n * v[i] - sum;
}

// How many neighbours (x, y) has in g's grid.
inline int neighboursAt(const Grid& g, int x, int y) { return (x > 0) + (x + 1 < g.W) + (y > 0) + (y + 1 < g.H); }

// Red-black Gauss-Seidel: the points of one colour depend only on the
// other's, so the rows of a colour are shared between threads with the
// same result.
void relax(Grid& g, int sweeps, int threads)
{
    for (int sweep = 0; sweep < sweeps; ++sweep)
        for (int colour = 0; colour < 2; ++colour) {
            const int parts = g.W * g.H >= (1 << 16) ? threads : 1;
            runParts(parts, [&](int part) {
                for (int y = g.H * part / parts; y < g.H * (part + 1) / parts; ++y)
                    for (int x = (y + colour) & 1; x < g.W; x += 2) {
                        const std::size_t i = g.at(x, y);
                        if (!g.free[i]) continue;
                        const int n = neighboursAt(g, x, y);
                        if (n == 0) continue;  // a 1 x 1 picture
                        g.e[i] += (g.r[i] - applyAt(g, g.e, x, y)) / n;
                    }
            });
        }
}

// The coarse grid under g: point (X, Y) at g's (2X, 2Y), unknown when every
// fine point it interpolates to is, so that every coarse point near a
// measured one is held: each part of the coarse unknowns then meets a held
// point, and its equations have one solution.  The fine points at a hole's
// edge that no coarse unknown reaches lie beside measured ones, where the
// relaxation alone settles them.
Grid coarser(const Grid& g)
{
    Grid c;
    c.W = (g.W + 1) / 2;
    c.H = (g.H + 1) / 2;
    c.free.assign(static_cast<std::size_t>(c.W) * static_cast<std::size_t>(c.H), 1);
    for (int y = 0; y < g.H; ++y)
        for (int x = 0; x < g.W; ++x)
            if (!g.free[g.at(x, y)])
                for (int Y = y / 2; Y <= std::min((y + 1) / 2, c.H - 1); ++Y)
                    for (int X = x / 2; X <= std::min((x + 1) / 2, c.W - 1); ++X) c.free[c.at(X, Y)] = 0;
    c.e.assign(c.free.size(), 0.0);
    c.r.assign(c.free.size(), 0.0);
    return c;
}

// Walks the bilinear interpolation from the coarse grid to the fine one:
// visit(fine index, coarse index, weight) for every weight.
template <class Visit>
void interpolation(const Grid& fine, const Grid& coarse, Visit&& visit)
{
    for (int y = 0; y < fine.H; ++y)
        for (int x = 0; x < fine.W; ++x) {
            const std::size_t i = fine.at(x, y);
            const int X0 = x / 2, Y0 = y / 2, X1 = std::min((x + 1) / 2, coarse.W - 1), Y1 = std::min((y + 1) / 2, coarse.H - 1);
            const double wx = X0 == X1 ? 1.0 : 0.5, wy = Y0 == Y1 ? 1.0 : 0.5;
            visit(i, coarse.at(X0, Y0), wx * wy);
            if (X1 != X0) visit(i, coarse.at(X1, Y0), wx * wy);
            if (Y1 != Y0) visit(i, coarse.at(X0, Y1), wx * wy);
            if (X1 != X0 && Y1 != Y0) visit(i, coarse.at(X1, Y1), wx * wy);
        }
}

// One V-cycle on A e = r from the e given.
void vCycle(std::vector<Grid>& grids, std::size_t level, int threads)
{
    Grid& g = grids[level];
    if (level + 1 == grids.size()) {
        relax(g, 64, threads);  // the coarsest grid: a few points
        return;
    }
    relax(g, 2, threads);
    Grid& c = grids[level + 1];
    std::fill(c.e.begin(), c.e.end(), 0.0);
    std::fill(c.r.begin(), c.r.end(), 0.0);
    // The residual restricted by the interpolation's transpose: the sum of
    // its weights over the fine points (the coarse equation's scale is four
    // times the fine one's, as its spacing is twice).
    std::vector<double> residual(g.free.size(), 0.0);
    for (int y = 0; y < g.H; ++y)
        for (int x = 0; x < g.W; ++x)
            if (g.free[g.at(x, y)]) residual[g.at(x, y)] = g.r[g.at(x, y)] - applyAt(g, g.e, x, y);
    interpolation(g, c, [&](std::size_t i, std::size_t k, double w) {
        if (c.free[k]) c.r[k] += w * residual[i];
    });
    vCycle(grids, level + 1, threads);
    interpolation(g, c, [&](std::size_t i, std::size_t k, double w) {
        if (g.free[i]) g.e[i] += w * c.e[k];
    });
    relax(g, 2, threads);
}

// Scattered holes settle in a few sweeps of relaxing each point to its
// neighbours' mean, in the order of the picture: tried first, for up to 64
// sweeps, so that they are filled as quickly as ever.  True when no point
// moved by more than the tolerance in the last sweep.
bool relaxedPointByPoint(std::vector<double>& z, const Grid& g, std::size_t holes, double tolerance)
{
    std::vector<std::size_t> at;
    at.reserve(holes);
    for (std::size_t i = 0; i < g.free.size(); ++i)
        if (g.free[i]) at.push_back(i);
    const std::size_t w = static_cast<std::size_t>(g.W);
    for (int sweep = 0; sweep < 64; ++sweep) {
        double moved = 0;
        for (std::size_t i : at) {
            const std::size_t x = i % w, y = i / w;
            double sum = 0;
            int count = 0;
            if (x > 0) sum += z[i - 1], ++count;
            if (x + 1 < w) sum += z[i + 1], ++count;
            if (y > 0) sum += z[i - w], ++count;
            if (y + 1 < static_cast<std::size_t>(g.H)) sum += z[i + w], ++count;
            if (count == 0) continue;  // a 1 x 1 picture
            const double next = sum / count;
            moved = std::max(moved, std::fabs(next - z[i]));
            z[i] = next;
        }
        if (moved <= tolerance) return true;
    }
    return false;
}

}  // namespace

template <class T>
std::vector<double> fillMissing(const T* values, int W, int H, const Trend& trend)
{
    const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
    std::vector<double> z(n);
    std::vector<Grid> grids(1);
    Grid& fine = grids[0];
    fine.W = W;
    fine.H = H;
    fine.free.assign(n, 0);
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    double low = INFINITY, high = -INFINITY;
    std::size_t holes = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = static_cast<double>(values[i]);
        const double x = static_cast<double>(i % static_cast<std::size_t>(W)), y = static_cast<double>(i / static_cast<std::size_t>(W));
        if (std::isnan(v)) {
            fine.free[i] = 1;
            ++holes;
            z[i] = trend.mean + trend.bx * (x - cx) + trend.by * (y - cy);  // the start: the trend's plane
        } else {
            z[i] = v;
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    if (holes == 0) return z;
    const double tolerance = 1e-9 * std::max(high - low, 1e-300);
    if (relaxedPointByPoint(z, fine, holes, tolerance)) return z;
    // Coarser grids while they are larger than 4 x 4 and hold unknowns.
    while (grids.back().W * grids.back().H > 16 && grids.size() < 40) {
        Grid c = coarser(grids.back());
        if (std::find(c.free.begin(), c.free.end(), 1) == c.free.end()) break;
        grids.push_back(std::move(c));
    }
    const int threads = std::min(analysisThreadsFor(n), 8);

    // The residual of z's equation at the unknown points, A z = 0 there with
    // the measured values held, is the right-hand side of its correction.
    Grid& g = grids[0];
    g.e.assign(n, 0.0);
    g.r.assign(n, 0.0);
    for (int cycle = 0; cycle < 100; ++cycle) {
        double largest = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const std::size_t i = g.at(x, y);
                const int neighbours = neighboursAt(g, x, y);
                if (!g.free[i] || neighbours == 0) continue;
                g.r[i] = -applyAt(g, z, x, y);
                // The residual over the point's neighbours is how far it lies from their mean.
                largest = std::max(largest, std::fabs(g.r[i]) / neighbours);
            }
        if (largest <= tolerance) break;
        std::fill(g.e.begin(), g.e.end(), 0.0);
        vCycle(grids, 0, threads);
        for (std::size_t i = 0; i < n; ++i)
            if (g.free[i]) z[i] += g.e[i];
    }
    return z;
}

#define ORVANE_FILL_TYPE(T) template std::vector<double> fillMissing(const T*, int, int, const Trend&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_FILL_TYPE)
#undef ORVANE_FILL_TYPE

}  // namespace psd
