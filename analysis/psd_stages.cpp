// The stages of the spectral estimate (see psd_stages.h).
#include "analysis/psd_stages.h"

#include "analysis/fourier.h"
#include "analysis/lanes2.h"
#include "analysis/row_blocks.h"
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
            // Four columns at a time in two registers, lane by lane the
            // arithmetic of `residual`.
            using namespace lanes2;
            const Reg baseR = splat(base), bxR = splat(bx), wyR = splat(wyy), four = splat(4.0);
            Reg u01 = set(-cx, 1 - cx), u23 = set(2 - cx, 3 - cx);
            Reg l01 = set(l4[0], l4[1]), l23 = set(l4[2], l4[3]);
            int x = 0;
            for (; x + 4 <= W; x += 4) {
                const Reg r01 = sub(loadAsDoubles(in + x), add(baseR, mul(bxR, u01)));
                const Reg r23 = sub(loadAsDoubles(in + x + 2), add(baseR, mul(bxR, u23)));
                store(out + x, mul(mul(r01, load(w + x)), wyR));
                store(out + x + 2, mul(mul(r23, load(w + x + 2)), wyR));
                l01 = add(l01, mul(r01, r01));
                l23 = add(l23, mul(r23, r23));
                u01 = add(u01, four);
                u23 = add(u23, four);
            }
            l4[0] = lane0(l01), l4[1] = lane1(l01), l4[2] = lane0(l23), l4[3] = lane1(l23);
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
        // kx runs from 0 to M, and M is 0 modulo M: no division needed.
        const std::uint32_t k = kx == M ? 0 : kx;
        const double* a = row + 2 * k;
        const double* m = mirror + 2 * (k == 0 ? 0 : M - k);
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
    template double windowedResiduals(const T*, int, int, const Trend&, const std::vector<double>&, \
                                      const std::vector<double>&, matrix&, int);
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
