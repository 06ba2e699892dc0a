// ISO 25178 height and hybrid parameters (see surface_parameters.h).
#include "analysis/surface_parameters.h"

#include "analysis/fourier.h"
#include "analysis/psd_stages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

// The moments of the heights above the plane: sum |z|, z^2, z^3, z^4, and
// the extremes.
struct Moments {
    double absolute = 0, square = 0, cube = 0, fourth = 0;
    double highest = -INFINITY, lowest = INFINITY;
};

// The power of two nearest the largest height above the plane (1 when none
// is finite): the moments are summed in that unit, so that the fourth
// powers of heights near 1e100 or 1e-100 neither overflow nor vanish.
// Scaling by a power of two keeps every digit.
template <class T>
double heightUnit(const T* values, int W, int H, const psd::Trend& plane, double scale)
{
    double largest = 0;
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    for (int y = 0; y < H; ++y) {
        const T* row = values + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
        const double base = plane.mean + plane.by * (y - cy);
        for (int x = 0; x < W; ++x) {
            const double z = std::fabs((static_cast<double>(row[x]) - (base + plane.bx * (x - cx))) * scale);
            if (z > largest && std::isfinite(z)) largest = z;
        }
    }
    return largest > 0 ? std::ldexp(1.0, std::ilogb(largest)) : 1.0;
}

// The moments of the heights above the plane, times `scale` (a power of
// two times the height scale).
template <class T>
Moments momentsAbovePlane(const T* values, int W, int H, const psd::Trend& plane, double scale)
{
    Moments m;
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    for (int y = 0; y < H; ++y) {
        const T* row = values + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
        const double base = plane.mean + plane.by * (y - cy);
        for (int x = 0; x < W; ++x) {
            const double z = (static_cast<double>(row[x]) - (base + plane.bx * (x - cx))) * scale;
            if (std::isnan(z)) continue;  // a point not measured
            const double z2 = z * z;
            m.absolute += std::fabs(z);
            m.square += z2;
            m.cube += z2 * z;
            m.fourth += z2 * z2;
            m.highest = std::max(m.highest, z);
            m.lowest = std::min(m.lowest, z);
        }
    }
    return m;
}

// Sums of zx^2 + zy^2 and of sqrt(1 + zx^2 + zy^2) over the 2 x 2 cells whose
// points are all measured, the plane's slope taken off, and how many.
template <class T>
void cellSlopes(const T* values, int W, int H, const psd::Trend& plane, double dx, double dy, double scale,
                double& gradient, double& area, double& cells)
{
    gradient = area = cells = 0;
    const std::size_t w = static_cast<std::size_t>(W);
    for (std::size_t y = 0; y + 1 < static_cast<std::size_t>(H); ++y) {
        const T* top = values + y * w;
        const T* bottom = top + w;
        for (std::size_t x = 0; x + 1 < w; ++x) {
            const double z00 = static_cast<double>(top[x]), z10 = static_cast<double>(top[x + 1]);
            const double z01 = static_cast<double>(bottom[x]), z11 = static_cast<double>(bottom[x + 1]);
            const double zx = ((z10 - z00) + (z11 - z01) - 2 * plane.bx) * scale / (2 * dx);
            const double zy = ((z01 - z00) + (z11 - z10) - 2 * plane.by) * scale / (2 * dy);
            const double g = zx * zx + zy * zy;
            if (std::isnan(g)) continue;  // a cell with a point not measured
            gradient += g;
            area += std::sqrt(1 + g);
            ++cells;
        }
    }
}

}  // namespace

template <class T>
SurfaceParameters surfaceParameters(const T* values, int W, int H, double dx, double dy, double heightScale)
{
    if (W < 2 || H < 2)
        throw std::invalid_argument("the surface (" + std::to_string(W) + " x " + std::to_string(H) +
                                    " values) is too small for its parameters: each side must be at least 2");
    const psd::Trend plane = psd::measureTrend(values, W, H, PsdOptions::Trend::plane, std::min(availableCores(), 8));
    const double scale = heightScale > 0 ? heightScale : 1.0;
    const double unit = heightUnit(values, W, H, plane, scale);
    const Moments m = momentsAbovePlane(values, W, H, plane, scale / unit);
    const double n = static_cast<double>(W) * H - static_cast<double>(plane.missing);
    SurfaceParameters p;
    const double sq = std::sqrt(m.square / n);  // in the unit
    p.sa = m.absolute / n * unit;
    p.sq = sq * unit;
    p.ssk = sq > 0 ? m.cube / n / (sq * sq * sq) : NAN;
    p.sku = sq > 0 ? m.fourth / n / (sq * sq * sq * sq) : NAN;
    p.sz = (m.highest - m.lowest) * unit;
    if (heightScale > 0 && dx > 0 && dy > 0) {
        double gradient = 0, area = 0, cells = 0;
        cellSlopes(values, W, H, plane, dx, dy, scale, gradient, area, cells);
        if (cells > 0) {
            p.sdq = std::sqrt(gradient / cells);
            p.sdr = (area / cells - 1) * 100;  // in percent, as ISO 25178 tools give it
        }
    }
    return p;
}

#define ORVANE_PARAMETERS_TYPE(T) \
    template SurfaceParameters surfaceParameters(const T*, int, int, double, double, double);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_PARAMETERS_TYPE)
#undef ORVANE_PARAMETERS_TYPE
