// The stages of the spectral estimate (see psd_stages.h) but the trend
// (psd_trend.cpp) and the radial spectrum (psd_radial.cpp): the window, the
// windowed residuals, the weighted fit and its interval.
#include "analysis/psd_stages.h"

#include "analysis/lanes2.h"
#include "analysis/psd_noise.h"
#include "analysis/row_blocks.h"

#include <algorithm>
#include <cmath>

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
