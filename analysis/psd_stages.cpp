// The stages of the spectral estimate (see psd_stages.h).
#include "analysis/psd_stages.h"

#include "analysis/thread_pool.h"

#include "analysis/fourier.h"
#include "analysis/psd_noise.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>

namespace psd {

namespace {

constexpr double pi = 3.14159265358979323846;

// Sums over rows are kept in this many blocks of rows at most (at least 64
// rows each), added in order at the end: the digits do not depend on how
// many threads share the blocks.
constexpr int rowBlocks = 8;

// Runs body(first, last, block) for the blocks of rows that split `rows`
// (see rowBlocks), shared between up to `threads` threads of the process's
// pool.
template <class Body>
void splitRows(int rows, int threads, const Body& body)
{
    const int blocks = std::max(1, std::min(rowBlocks, rows / 64));
    threads = std::max(1, std::min(threads, blocks));
    runParts(threads, [&](int thread) {
        for (int block = thread; block < blocks; block += threads)
            body(static_cast<int>(static_cast<long long>(rows) * block / blocks),
                 static_cast<int>(static_cast<long long>(rows) * (block + 1) / blocks), block);
    });
}

// Whether v is a whole number, without a call to floor (which is a library
// call on processors without SSE4.1).
inline bool isWholeNumber(double v)
{
    // Below 2^52 adding and taking away 2^52 rounds to a whole number (in
    // the default rounding); from 2^52 up every double is whole.
    const double a = std::fabs(v);
    return !(a < 0x1p52) || (a + 0x1p52) - 0x1p52 == a;
}

std::vector<double> hann(int n)
{
    std::vector<double> w(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double s = std::sin(pi * (i + 0.5) / n);
        w[static_cast<std::size_t>(i)] = s * s;
    }
    return w;
}

// The mean of ln q over an annulus a <= q < b of the plane, where the
// frequencies lie with density proportional to q.
double meanLnQ(double a, double b)
{
    auto f = [](double q) { return q > 0 ? q * q * (std::log(q) - 0.5) : 0.0; };
    return (f(b) - f(a)) / (b * b - a * a);
}

}  // namespace

// A quantile of Student's t from its table up to 10 degrees of freedom,
// above them the Cornish-Fisher expansion about the normal quantile z
// (within 0.1 % there).
double studentQuantile(double z, const double (&table)[10], int df)
{
    if (df >= 1 && df <= 10) return table[df - 1];
    const double n = df;
    const double z3 = z * z * z, z5 = z3 * z * z, z7 = z5 * z * z;
    return z + (z3 + z) / (4 * n) + (5 * z5 + 16 * z3 + 3 * z) / (96 * n * n) +
           (3 * z7 + 19 * z5 + 17 * z3 - 15 * z) / (384 * n * n * n);
}

double tQuantile975(int df)
{
    static const double table[10] = {12.7062, 4.3027, 3.1824, 2.7764, 2.5706, 2.4469, 2.3646, 2.3060, 2.2622, 2.2281};
    return studentQuantile(1.959963984540054, table, df);
}

// The trend of values some of which are missing: the mean of the measured
// points, and the plane by its normal equations over them (the measured
// points' own sums of centred x, y and their products, in a second pass).
template <class T>
Trend trendOfMeasured(const T* values, int W, int H, PsdOptions::Trend kind, double sum, double sumX, double sumY,
                      long long missing, double largest, bool wholeNumbers, double stepX, double stepY)
{
    const double n = static_cast<double>(W) * H - static_cast<double>(missing);
    if (!(n > 0)) throw std::invalid_argument("no point of the image was measured: every value is missing (NaN)");
    Trend trend;
    trend.missing = missing;
    trend.largest = largest;
    trend.wholeNumbers = wholeNumbers;
    trend.stepX = stepX;
    trend.stepY = stepY;
    trend.mean = sum / n;
    if (kind != PsdOptions::Trend::plane) return trend;
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (std::isnan(static_cast<double>(values[static_cast<std::size_t>(y) * W + x]))) continue;
            const double u = x - cx, v = y - cy;
            sx += u;
            sy += v;
            sxx += u * u;
            syy += v * v;
            sxy += u * v;
        }
    // [n sx sy; sx sxx sxy; sy sxy syy] (c, bx, by) = (sum, sumX, sumY), by Cramer's rule.
    const double m[3][3] = {{n, sx, sy}, {sx, sxx, sxy}, {sy, sxy, syy}};
    const double t[3] = {sum, sumX, sumY};
    auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    if (!(std::fabs(d) > 1e-12 * n * sxx * syy)) return trend;  // the measured points lie on a line: the mean alone
    double c[3];
    for (int k = 0; k < 3; ++k) {
        double a[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) a[i][j] = j == k ? t[i] : m[i][j];
        c[k] = det(a) / d;
    }
    trend.mean = c[0];
    trend.bx = c[1];
    trend.by = c[2];
    return trend;
}

template <class T>
std::vector<double> fillMissing(const T* values, int W, int H, const Trend& trend)
{
    const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
    std::vector<double> z(n);
    std::vector<std::size_t> holes;
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    double low = INFINITY, high = -INFINITY;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = static_cast<double>(values[i]);
        const double x = static_cast<double>(i % static_cast<std::size_t>(W)), y = static_cast<double>(i / static_cast<std::size_t>(W));
        if (std::isnan(v)) {
            holes.push_back(i);
            z[i] = trend.mean + trend.bx * (x - cx) + trend.by * (y - cy);
        } else {
            z[i] = v;
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    const double tolerance = 1e-9 * std::max(high - low, 1e-300);
    const std::size_t w = static_cast<std::size_t>(W);
    for (int sweep = 0; sweep < 2000; ++sweep) {
        double moved = 0;
        for (std::size_t i : holes) {
            const std::size_t x = i % w, y = i / w;
            double sum = 0;
            int count = 0;
            if (x > 0) sum += z[i - 1], ++count;
            if (x + 1 < w) sum += z[i + 1], ++count;
            if (y > 0) sum += z[i - w], ++count;
            if (y + 1 < static_cast<std::size_t>(H)) sum += z[i + w], ++count;
            if (count == 0) continue;  // a 1 x 1 picture
            const double next = sum / count;
            moved = std::max(moved, std::fabs(next - z[i]));
            z[i] = next;
        }
        if (moved <= tolerance) break;
    }
    return z;
}

template <class T>
Trend measureTrend(const T* values, int W, int H, PsdOptions::Trend kind, int parts)
{
    // With centred coordinates the normal equations of the plane are
    // independent (mean, x slope, y slope).
    struct Sums {
        double sum = 0, sumX = 0, sumY = 0, largest = 0, stepX = 0, stepY = 0;
        long long bad = -1, missing = 0, pairsX = 0, pairsY = 0;
        bool wholeNumbers = true;
        ValueStats values;
    };
    std::vector<Sums> sums(rowBlocks);
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    splitRows(H, parts, [&](int first, int last, int part) {
        Sums& s = sums[static_cast<std::size_t>(part)];
        // The value statistics' extremes in a local of their own, so that
        // they stay in registers; the distinct values in `stats`.
        ValueStats stats;
        Extremes extremes;
        auto count = [&](double v) {
            extremes.add(v);
            if (stats.distinct <= distinctCounted) stats.addDistinct(v, distinctCounted);
        };
        for (int y = first; y < last; ++y) {
            const T* r = values + static_cast<std::size_t>(y) * W;
            // Two interleaved partial sums each, added at the row's end, so
            // that the additions do not wait on each other; a NaN (a point
            // not measured) adds 0 and is counted instead.
            double row2[2] = {0, 0}, rowX2[2] = {0, 0}, stepX2[2] = {0, 0}, stepY2[2] = {0, 0};
            double largest = s.largest;
            bool whole = s.wholeNumbers;
            long long missing = 0, pairsX = 0, pairsY = 0;
            // The value at x (0 for a point not measured, which is counted),
            // and the step from `from` to it (0 when either is missing).
            auto value = [&](const T* p) {
                double v = static_cast<double>(*p);
                if constexpr (std::is_floating_point_v<T>) {
                    const bool measured = v == v;
                    missing += !measured;
                    if (measured) count(v);
                    return measured ? v : 0.0;
                } else {
                    count(v);
                    return v;
                }
            };
            auto step = [](double a, double b, long long& pairs) {
                const double d = std::fabs(a - b);
                if constexpr (std::is_floating_point_v<T>) {
                    const bool measured = d == d;
                    pairs += measured;
                    return measured ? d : 0.0;
                } else {
                    (void)pairs;
                    return d;
                }
            };
            auto at = [&](const T* p, int x) { return static_cast<double>(p[x]); };
            const T* next = r + W;
            const bool below = y + 1 < H;
            // The values, then the steps, in two loops: one loop with every
            // sum would not keep them all in registers.
            int x = 0;
            for (; x + 2 <= W; x += 2) {
                const double v0 = value(r + x), v1 = value(r + x + 1);
                row2[0] += v0;
                row2[1] += v1;
                rowX2[0] += (x - cx) * v0;
                rowX2[1] += (x + 1 - cx) * v1;
                largest = std::max(largest, std::max(std::fabs(v0), std::fabs(v1)));
                if constexpr (std::is_floating_point_v<T>) whole = whole && isWholeNumber(v0) && isWholeNumber(v1);
            }
            for (; x < W; ++x) {
                const double v = value(r + x);
                row2[x & 1] += v;
                rowX2[x & 1] += (x - cx) * v;
                largest = std::max(largest, std::fabs(v));
                if constexpr (std::is_floating_point_v<T>) whole = whole && isWholeNumber(v);
            }
            // Steps between measured neighbours (a step to a missing point is NaN).
            for (x = 1; x + 2 <= W; x += 2) {
                stepX2[0] += step(at(r, x), at(r, x - 1), pairsX);
                stepX2[1] += step(at(r, x + 1), at(r, x), pairsX);
            }
            for (; x < W; ++x) stepX2[x & 1] += step(at(r, x), at(r, x - 1), pairsX);
            if (below) {
                for (x = 0; x + 2 <= W; x += 2) {
                    stepY2[0] += step(at(next, x), at(r, x), pairsY);
                    stepY2[1] += step(at(next, x + 1), at(r, x + 1), pairsY);
                }
                for (; x < W; ++x) stepY2[x & 1] += step(at(next, x), at(r, x), pairsY);
            }
            if constexpr (!std::is_floating_point_v<T>) {
                pairsX = W - 1;
                pairsY = y + 1 < H ? W : 0;
            }
            const double row = row2[0] + row2[1], rowX = rowX2[0] + rowX2[1];
            const double stepX = stepX2[0] + stepX2[1], stepY = stepY2[0] + stepY2[1];
            s.missing += missing;
            s.pairsX += pairsX;
            s.pairsY += pairsY;
            s.stepX += stepX;
            s.stepY += stepY;
            s.wholeNumbers = whole;
            if (!std::isfinite(row + rowX) && s.bad < 0)
                for (int x = 0; x < W; ++x)
                    if (std::isinf(static_cast<double>(r[x]))) {
                        s.bad = static_cast<long long>(y) * W + x;
                        break;
                    }
            s.largest = largest;
            s.sum += row;
            s.sumX += rowX;
            s.sumY += (y - cy) * row;
        }
        static_cast<Extremes&>(stats) = extremes;
        s.values = stats;
    });
    Sums all;
    for (const Sums& s : sums) {
        if (s.bad >= 0 && all.bad < 0) all.bad = s.bad;
        all.sum += s.sum;
        all.sumX += s.sumX;
        all.sumY += s.sumY;
        all.largest = std::max(all.largest, s.largest);
        all.stepX += s.stepX;
        all.stepY += s.stepY;
        all.missing += s.missing;
        all.pairsX += s.pairsX;
        all.pairsY += s.pairsY;
        all.wholeNumbers = all.wholeNumbers && s.wholeNumbers;
        all.values.merge(s.values, distinctCounted);
    }
    if (all.bad >= 0)
        throw std::invalid_argument("the value at row " + std::to_string(all.bad / W + 1) + ", column " +
                                    std::to_string(all.bad % W + 1) + " is not a finite number");
    if (all.missing > 0) {
        Trend trend = trendOfMeasured(values, W, H, kind, all.sum, all.sumX, all.sumY, all.missing, all.largest,
                                      all.wholeNumbers, all.pairsX ? all.stepX / all.pairsX : 0.0,
                                      all.pairsY ? all.stepY / all.pairsY : 0.0);
        trend.values = std::move(all.values);
        return trend;
    }
    Trend trend;
    trend.values = std::move(all.values);
    trend.mean = all.sum / (static_cast<double>(W) * H);
    trend.largest = all.largest;
    trend.wholeNumbers = all.wholeNumbers;
    if (W > 1) trend.stepX = all.stepX / (static_cast<double>(W - 1) * H);
    if (H > 1) trend.stepY = all.stepY / (static_cast<double>(H - 1) * W);
    if (kind == PsdOptions::Trend::plane) {
        // the sum of (x - cx)^2 over the grid is H W (W^2 - 1) / 12
        if (W > 1) trend.bx = all.sumX / (H * (W * (static_cast<double>(W) * W - 1) / 12.0));
        if (H > 1) trend.by = all.sumY / (W * (H * (static_cast<double>(H) * H - 1) / 12.0));
    }
    return trend;
}

std::vector<double> sideWindow(int n, PsdOptions::Window window)
{
    return window == PsdOptions::Window::hann ? hann(n) : std::vector<double>(static_cast<std::size_t>(n), 1.0);
}

template <class T>
double windowedResiduals(const T* values, int W, int H, const Trend& trend, const std::vector<double>& wx,
                         const std::vector<double>& wy, matrix& out, int parts)
{
    const std::size_t PW = static_cast<std::size_t>(out.getCols()), PH = static_cast<std::size_t>(out.getRows());
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    const double mean = trend.mean, bx = trend.bx, by = trend.by;
    std::vector<double> left(rowBlocks, 0.0);
    matrix& spectrum = out;
    splitRows(H, parts, [&](int first, int last, int part) {
        // Four interleaved partial sums, as in measureTrend.
        double l4[4] = {0, 0, 0, 0};
        for (int y = first; y < last; ++y) {
            double* out = spectrum.getData() + PW * static_cast<std::size_t>(y);
            const T* in = values + static_cast<std::size_t>(y) * W;
            const double base = mean + by * (y - cy), wyy = wy[static_cast<std::size_t>(y)];
            const double* w = wx.data();
            auto residual = [&](int x) {
                const double r = static_cast<double>(in[x]) - (base + bx * (x - cx));
                out[x] = r * w[x] * wyy;
                return r * r;
            };
            int x = 0;
            for (; x + 4 <= W; x += 4) {
                l4[0] += residual(x);
                l4[1] += residual(x + 1);
                l4[2] += residual(x + 2);
                l4[3] += residual(x + 3);
            }
            for (; x < W; ++x) l4[x & 3] += residual(x);
            std::fill(out + W, out + PW, 0.0);
        }
        const double l = (l4[0] + l4[1]) + (l4[2] + l4[3]);
        // The padding rows below the picture, shared out as the rows are.
        const std::size_t rows = static_cast<std::size_t>(H), pad = PH - rows;
        const std::size_t padFirst = rows + pad * static_cast<std::size_t>(first) / rows,
                          padLast = rows + pad * static_cast<std::size_t>(last) / rows;
        std::fill(spectrum.getData() + PW * padFirst, spectrum.getData() + PW * padLast, 0.0);
        left[static_cast<std::size_t>(part)] = l;
    });
    double residual = 0;
    for (double l : left) residual += l;
    return residual;
}

RadialSpectrum radialPowerSpectrum(matrix& padded, std::uint32_t PW, std::uint32_t PH, int binsPerOctave, int parts)
{
    const std::uint32_t M = PW / 2;
    fourierTransform2D(padded.getData(), M, PH, 1);
    const matrix& spectrum = padded;
    // Bin edges by rising q, the last at 0.5; below the lowest frequency the
    // first bin starts at 0, which no frequency but the excluded 0 has.
    const double step = 1.0 / std::max(PW, PH);
    std::vector<double> edges;
    if (binsPerOctave > 0) {
        for (int k = 0;; ++k) {
            const double e = 0.5 * std::exp2(-static_cast<double>(k) / binsPerOctave);
            edges.push_back(e);
            if (e < step * 0.5) break;
        }
        edges.push_back(0.0);
        std::reverse(edges.begin(), edges.end());
    } else {
        edges.push_back(0.0);
        for (double e = 0.5 * step; e < 0.5; e += step) edges.push_back(e);
        edges.push_back(0.5);
    }
    const std::size_t bins = edges.size() - 1;
    // Squared edges from the exponent itself, so that every other one of a
    // log-spaced set is a power of two exactly, as are the squared
    // frequencies that fall on it.
    std::vector<double> edges2(edges.size());
    for (std::size_t j = 0; j < edges.size(); ++j)
        edges2[j] = binsPerOctave > 0 && edges[j] > 0
                        ? 0.25 * std::exp2(-2.0 * static_cast<double>(edges.size() - 1 - j) / binsPerOctave)
                        : edges[j] * edges[j];
    // Bins with few frequencies get their mean ln q from the frequencies
    // themselves; the others from the annulus they cover.
    std::vector<char> exact(bins);
    for (std::size_t j = 0; j < bins; ++j) exact[j] = pi / 2 * (edges2[j + 1] - edges2[j]) * PW * PH < 4096;

    // Third pass: each row's frequencies in order of kx, so that a bin is a
    // run of them; its end is found from the edge and checked exactly.
    struct Accumulated {
        std::vector<double> power, lnQ;
        std::vector<long long> count;
    };
    std::vector<Accumulated> acc(rowBlocks);
    // C, the transform of the rows read as M complex numbers, is E + iO with
    // E and O the transforms of the even and the odd columns, both of real
    // values and so Hermitian.  With b = conj C(-ky, -kx) (indices modulo PH
    // and M): E = (C + b) / 2, O = (C - b) / 2i, and the transform of the
    // real rows is E + e^(2 pi i kx / PW) O, half of it after the scaling by
    // 1 / (PH M) rather than 1 / (PH PW).
    const double* data = spectrum.getData();
    std::vector<double> twiddle(2 * (std::size_t{M} + 1));
    for (std::uint32_t kx = 0; kx <= M; ++kx) {
        twiddle[2 * kx] = std::cos(2 * pi * kx / PW);
        twiddle[2 * kx + 1] = std::sin(2 * pi * kx / PW);
    }
    auto powerAt = [&](const double* row, const double* mirror, std::uint32_t kx) {
        const double* a = row + 2 * (kx % M);
        const double* m = mirror + 2 * ((M - kx % M) % M);
        const double br = m[0], bi = -m[1];
        const double er = a[0] + br, ei = a[1] + bi;      // 2E
        const double dr = a[0] - br, di = a[1] - bi;      // 2iO
        const double c = twiddle[2 * kx], s = twiddle[2 * kx + 1];
        // four times the transform: 2E - i w (2iO), w = c + i s
        const double rr = er + s * dr + c * di, ri = ei + s * di - c * dr;
        return (rr * rr + ri * ri) / 16;
    };
    splitRows(static_cast<int>(PH), parts, [&](int first, int last, int part) {
        Accumulated& a = acc[static_cast<std::size_t>(part)];
        a.power.assign(bins, 0.0);
        a.lnQ.assign(bins, 0.0);
        a.count.assign(bins, 0);
        for (std::uint32_t ky = static_cast<std::uint32_t>(first); ky < static_cast<std::uint32_t>(last); ++ky) {
            const double fy = (ky <= PH / 2 ? static_cast<double>(ky) : static_cast<double>(ky) - PH) / PH;
            const double fy2 = fy * fy;
            if (fy2 >= 0.25) continue;
            // One of each conjugate pair: the half-plane kx >= 0, and on the
            // columns kx = 0 and PW/2 (their own conjugates) fy >= 0 only.
            const bool ownConjugates = ky <= PH / 2;
            auto q2 = [&](std::uint32_t kx) {
                const double fx = static_cast<double>(kx) / PW;
                return fx * fx + fy2;
            };
            std::uint32_t kx = ownConjugates ? 0 : 1;
            if (ky == 0) kx = 1;  // the mean
            std::uint32_t end = ownConjugates || PW == 1 ? PW / 2 + 1 : PW / 2;
            while (end > kx && q2(end - 1) >= 0.25) --end;
            if (kx >= end) continue;
            std::size_t j = static_cast<std::size_t>(std::upper_bound(edges2.begin(), edges2.end(), q2(kx)) - edges2.begin()) - 1;
            const double* row = data + std::size_t{PW} * ky;
            const double* mirror = data + std::size_t{PW} * ((PH - ky) % PH);
            while (kx < end) {
                // The first kx past bin j.
                const double room = edges2[j + 1] - fy2;
                std::uint32_t stop = room <= 0 ? kx : static_cast<std::uint32_t>(std::min<double>(end, std::ceil(std::sqrt(room) * PW)));
                stop = std::max(stop, kx);
                while (stop > kx && q2(stop - 1) >= edges2[j + 1]) --stop;
                while (stop < end && q2(stop) < edges2[j + 1]) ++stop;
                double p = 0;
                for (std::uint32_t k = kx; k < stop; ++k) p += powerAt(row, mirror, k);
                a.power[j] += p;
                a.count[j] += stop - kx;
                if (exact[j])
                    for (std::uint32_t k = kx; k < stop; ++k) a.lnQ[j] += 0.5 * std::log(q2(k));
                kx = stop;
                ++j;
            }
        }
    });
    std::vector<double> power(bins, 0.0), lnQ(bins, 0.0);
    std::vector<long long> count(bins, 0);
    for (const Accumulated& a : acc) {
        if (a.count.empty()) continue;
        for (std::size_t j = 0; j < bins; ++j) {
            power[j] += a.power[j];
            lnQ[j] += a.lnQ[j];
            count[j] += a.count[j];
        }
    }

    // Bins with few frequencies get their mean ln q from the frequencies
    // themselves; the others from the annulus they cover.
    for (std::size_t j = 0; j < bins; ++j)
        lnQ[j] = count[j] == 0 ? 0.0 : exact[j] ? lnQ[j] / count[j] : meanLnQ(edges[j], edges[j + 1]);
    RadialSpectrum out;
    out.power = std::move(power);
    out.count = std::move(count);
    out.lnQ = std::move(lnQ);
    out.edges = std::move(edges);
    return out;
}

double independenceFactor(int W, int H, std::uint32_t PW, std::uint32_t PH, PsdOptions::Window window)
{
    // The padding repeats each frequency PW*PH / (W*H) times, and the Hann
    // window correlates neighbours (the sum of their squared correlations,
    // 1 + 2 ((2/3)^2 + (1/6)^2) along each side).
    const double windowFactor = window == PsdOptions::Window::hann ? 1 + 2 * (4.0 / 9 + 1.0 / 36) : 1.0;
    return windowFactor * windowFactor * (static_cast<double>(PW) * PH) / (static_cast<double>(W) * H);
}

#define ORVANE_PSD_TYPE(T)                                                                          \
    template Trend measureTrend(const T*, int, int, PsdOptions::Trend, int);                        \
    template double windowedResiduals(const T*, int, int, const Trend&, const std::vector<double>&, \
                                      const std::vector<double>&, matrix&, int);                    \
    template std::vector<double> fillMissing(const T*, int, int, const Trend&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_PSD_TYPE)
#undef ORVANE_PSD_TYPE

WeightedBins weightBins(const std::vector<PsdBin>& bins, const std::vector<double>& kept, double kappa)
{
    WeightedBins p;
    p.w.assign(bins.size(), 0.0);
    p.y.assign(bins.size(), 0.0);
    for (std::size_t i = 0; i < bins.size(); ++i) {
        const PsdBin& b = bins[i];
        if (!b.fitted) continue;
        const double independent = std::max(1.0, b.count / kappa);
        // ln of a mean of n exponential values falls short of ln of their
        // expectation by about 1 / (2n); taking off the noise magnifies the
        // spread of what is left by mean / signal, and the noise's own
        // uncertainty adds its share of what is left.
        const double modelled = noiseModelError * (1 - kept[i]) / kept[i];
        const double spread = 1.0 / (independent * kept[i] * kept[i]) + modelled * modelled;
        p.y[i] = b.lnPsd + 0.5 / (independent * kept[i] * kept[i]);
        p.w[i] = 1.0 / spread;
        p.sw += p.w[i];
        p.swx += p.w[i] * b.lnQ;
        p.swy += p.w[i] * p.y[i];
        ++p.m;
    }
    return p;
}

LineFit fitLine(const std::vector<PsdBin>& bins, const std::vector<double>& kept, double kappa)
{
    LineFit fit;
    const WeightedBins p = weightBins(bins, kept, kappa);
    const std::vector<double>&w = p.w, &y = p.y;
    const double sw = p.sw, swx = p.swx, swy = p.swy;
    const int m = p.m;
    fit.bins = m;
    if (m < 3) return fit;
    const double mx = swx / sw, my = swy / sw;
    double sxy = 0;
    for (std::size_t i = 0; i < bins.size(); ++i) {
        if (!bins[i].fitted) continue;
        const double dx = bins[i].lnQ - mx, dy = y[i] - my;
        fit.sxx += w[i] * dx * dx;
        sxy += w[i] * dx * dy;
        fit.syy += w[i] * dy * dy;
    }
    fit.slope = sxy / fit.sxx;
    for (std::size_t i = 0; i < bins.size(); ++i) {
        if (!bins[i].fitted) continue;
        const double r = y[i] - (my + fit.slope * (bins[i].lnQ - mx));
        fit.chi2 += w[i] * r * r;
    }
    fit.intercept = my - fit.slope * mx;
    return fit;
}

void fillDimension(const LineFit& fit, PsdResult& result)
{
    // The spread the weights predict, widened when the bins scatter more
    // than that (a spectrum that is not a straight line there).
    const int m = fit.bins;
    const double reduced = fit.chi2 / (m - 2);
    const double widen = std::max(1.0, std::sqrt(reduced));
    result.slopeStdError = widen / std::sqrt(fit.sxx);
    const double t = reduced > 1 ? tQuantile975(m - 2) : 1.959963984540054;
    result.beta = -fit.slope;
    result.intercept = fit.intercept;
    result.hurst = (result.beta - 2) / 2;
    result.dimension = (8 - result.beta) / 2;
    result.dimensionLow = result.dimension - t * result.slopeStdError / 2;
    result.dimensionHigh = result.dimension + t * result.slopeStdError / 2;
    result.r2 = fit.syy > 0 ? 1 - fit.chi2 / fit.syy : 1.0;
    result.binsFitted = m;
}

}  // namespace psd
