// The spectral estimate's diagnostics (see psd_diagnostics.h).
#include "analysis/psd_diagnostics.h"

#include <algorithm>
#include <cmath>

namespace psd {

double tQuantile995(int df)
{
    static const double table[10] = {63.6567, 9.9248, 5.8409, 4.6041, 4.0321, 3.7074, 3.4995, 3.3554, 3.2498, 3.1693};
    return studentQuantile(2.5758293035489, table, df);
}

double curvatureT(const std::vector<PsdBin>& bins, const std::vector<double>& kept, double kappa)
{
    const WeightedBins p = weightBins(bins, kept, kappa);
    std::vector<double> x, y, w;
    for (std::size_t i = 0; i < bins.size(); ++i)
        if (bins[i].fitted) {
            x.push_back(bins[i].lnQ);
            y.push_back(p.y[i]);
            w.push_back(p.w[i]);
        }
    return curvatureT(x, y, w);
}

double curvatureT(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& w)
{
    const int m = static_cast<int>(x.size());
    if (m < 5) return 0;
    double sw = 0, swx = 0;
    for (int i = 0; i < m; ++i) {
        sw += w[i];
        swx += w[i] * x[i];
    }
    // Normal equations of y = a + b u + c u^2, u = x - its weighted mean.
    const double mx = swx / sw;
    double s[5] = {0, 0, 0, 0, 0}, t[3] = {0, 0, 0};
    for (int i = 0; i < m; ++i) {
        const double u = x[i] - mx;
        double power = w[i];
        for (int k = 0; k < 5; ++k) {
            s[k] += power;
            if (k < 3) t[k] += power * y[i];
            power *= u;
        }
    }
    // Solved through the adjugate of the symmetric matrix; the inverse's
    // last diagonal entry gives c's variance.
    const double a00 = s[0], a01 = s[1], a02 = s[2], a11 = s[2], a12 = s[3], a22 = s[4];
    const double c00 = a11 * a22 - a12 * a12, c01 = a12 * a02 - a01 * a22, c02 = a01 * a12 - a11 * a02;
    const double c11 = a00 * a22 - a02 * a02, c12 = a01 * a02 - a00 * a12, c22 = a00 * a11 - a01 * a01;
    const double det = a00 * c00 + a01 * c01 + a02 * c02;
    if (!(std::fabs(det) > 0)) return 0;
    const double a = (c00 * t[0] + c01 * t[1] + c02 * t[2]) / det;
    const double b = (c01 * t[0] + c11 * t[1] + c12 * t[2]) / det;
    const double c = (c02 * t[0] + c12 * t[1] + c22 * t[2]) / det;
    double chi2 = 0;
    for (int i = 0; i < m; ++i) {
        const double u = x[i] - mx, r = y[i] - (a + b * u + c * u * u);
        chi2 += w[i] * r * r;
    }
    const double varC = c22 / det * std::max(1.0, chi2 / (m - 3));
    return c / std::sqrt(varC);
}

void ValueStats::merge(const ValueStats& other, int limit)
{
    Extremes::merge(other);
    for (int i = 0; i < other.distinct; ++i) addDistinct(other.seen[i], limit);
}

template <class T>
ValueStats valueStats(const T* values, std::size_t count, int limit)
{
    limit = std::min(limit, 16);
    ValueStats stats;
    for (std::size_t i = 0; i < count; ++i) stats.add(static_cast<double>(values[i]), limit);
    return stats;
}

#define ORVANE_PSD_TYPE(T) template ValueStats valueStats(const T*, std::size_t, int);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_PSD_TYPE)
#undef ORVANE_PSD_TYPE

int binsCutByNoise(const RadialSpectrum& spectrum, double fitMin, double fitMax, int binsFitted)
{
    int inRange = 0;
    for (std::size_t j = 0; j < spectrum.count.size(); ++j) {
        if (spectrum.count[j] == 0) continue;
        const double q = std::exp(spectrum.lnQ[j]);
        inRange += q >= fitMin && q <= fitMax;
    }
    return std::max(0, inRange - binsFitted);
}

std::vector<std::string> diagnose(const PsdResult& result, double curvature, int curvatureDf, int floorCut,
                                  const ValueStats& values, std::size_t samples)
{
    std::vector<std::string> flags;
    const double low = result.dimensionLow, high = result.dimensionHigh;
    const double inside = std::max(0.0, std::min(high, 3.0) - std::max(low, 2.0));
    if (!(result.dimension >= 2 && result.dimension <= 3) || inside < 0.5 * (high - low)) flags.push_back("out_of_range");
    if (curvatureDf >= 2 && std::fabs(curvature) > tQuantile995(curvatureDf)) flags.push_back("curved");
    double first = INFINITY, last = -INFINITY;
    for (const PsdBin& b : result.bins)
        if (b.fitted) {
            first = std::min(first, b.lnQ);
            last = std::max(last, b.lnQ);
        }
    if (floorCut > 0 && (last - first < std::log(2.0) || result.binsFitted < 6)) flags.push_back("noise_floor");
    if (values.distinct <= 16) flags.push_back("few_levels");
    const double share = 0.01 * static_cast<double>(samples);
    if (samples >= 100 && (values.atSmallest >= share || values.atLargest >= share)) flags.push_back("clipped");
    if (result.binsFitted < 6) flags.push_back("few_bins");
    return flags;
}

}  // namespace psd
