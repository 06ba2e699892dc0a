// The spectrum's noise floor and the fit range it leaves (see psd_noise.h).
#include "analysis/psd_noise.h"

#include "analysis/psd_diagnostics.h"

#include <algorithm>
#include <cmath>

namespace psd {

namespace {

constexpr double pi = 3.14159265358979323846;

// The density at q of a Gaussian of mean mu and spread s folded onto the
// unit period: summed directly when narrow, by its Fourier series (Poisson
// summation) when wide, and 1 (uniform) once wider than the period.
double foldedGaussian(double q, double mu, double s)
{
    if (s >= 1.2) return 1.0;
    double d = q - mu;
    d -= std::floor(d + 0.5);  // into [-0.5, 0.5)
    if (s < 0.25) {
        if (s <= 0) return 0.0;
        double sum = 0;
        for (int n = -2; n <= 2; ++n) {
            const double u = (d + n) / s;
            sum += std::exp(-0.5 * u * u);
        }
        return sum / (s * std::sqrt(2 * pi));
    }
    double sum = 1;
    for (int m = 1; m <= 4; ++m) sum += 2 * std::exp(-2 * pi * pi * m * m * s * s) * std::cos(2 * pi * m * d);
    return sum;
}

// The density of rounding error's power at (qx, qy), for gradients of mean
// (mx, my) and spreads (sx, sy) levels per pixel; integrates to 1/12 over
// the band.
double roundingDensity(double qx, double qy, double mx, double my, double sx, double sy)
{
    constexpr int most = 512;
    double sum = 0;
    int j = 1;
    for (; j <= most && std::min(j * sx, j * sy) < 1.2; ++j) {
        const double plus = foldedGaussian(qx, j * mx, j * sx) * foldedGaussian(qy, j * my, j * sy);
        const double minus = foldedGaussian(qx, -j * mx, j * sx) * foldedGaussian(qy, -j * my, j * sy);
        sum += 0.5 * (plus + minus) / (2 * pi * pi * static_cast<double>(j) * j);
    }
    // The harmonics from j on are spread evenly: sum 1/k^2 over k >= j is
    // 1 / (j - 1/2) within 1 % for j >= 1.
    return sum + 1.0 / (2 * pi * pi * (j - 0.5));
}

}  // namespace

double gaussianSpread(double meanAbs, double mean)
{
    // E|X| for X ~ N(mu, s^2) rises with s from |mu|; bisection.
    const double mu = std::fabs(mean);
    if (!(meanAbs > mu)) return 0.0;
    auto folded = [mu](double s) {
        return s * std::sqrt(2 / pi) * std::exp(-mu * mu / (2 * s * s)) + mu * std::erf(mu / (s * std::sqrt(2.0)));
    };
    double lo = 0, hi = meanAbs * std::sqrt(pi / 2);
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        (folded(mid) < meanAbs ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

std::vector<double> roundingNoise(const RadialSpectrum& spectrum, const Trend& trend, const std::vector<double>& wx,
                                  const std::vector<double>& wy, std::uint32_t PW, std::uint32_t PH)
{
    std::vector<double> noise(spectrum.count.size(), 0.0);
    if (!trend.wholeNumbers) return noise;
    // Values that step by k are k times whole numbers that step by 1: the
    // rounding is modelled in levels of k, its power k^2 times theirs (for
    // k = 1 the same bits as without, as x / 1 and x * 1 are x).
    const double k = trend.levelStep;
    const double bx = trend.bx / k, by = trend.by / k;
    // A density d over the band shows in a bin as d sum(wx^2) sum(wy^2) / (PW PH)^2.
    double sx = 0, sy = 0;
    for (double v : wx) sx += v * v;
    for (double v : wy) sy += v * v;
    const double scale = sx * sy / (static_cast<double>(PW) * PH) / (static_cast<double>(PW) * PH) * (k * k);
    // A spread of 0 (a picture whose levels never change between
    // neighbours along a side) is held at a small one.
    const double spreadX = std::max(gaussianSpread(trend.stepX / k, bx), 1e-3);
    const double spreadY = std::max(gaussianSpread(trend.stepY / k, by), 1e-3);
    constexpr int angles = 8;
    for (std::size_t j = 0; j < noise.size(); ++j) {
        if (spectrum.count[j] == 0) continue;
        const double q = std::exp(spectrum.lnQ[j]);
        double sum = 0;
        for (int a = 0; a < angles; ++a) {
            const double theta = pi * (a + 0.5) / angles;
            sum += roundingDensity(q * std::cos(theta), q * std::sin(theta), bx, by, spreadX, spreadY);
        }
        noise[j] = scale * sum / angles;
    }
    return noise;
}

double whiteNoiseFloor(const RadialSpectrum& spectrum, const std::vector<double>& rounding, double fitMin,
                       double kappa)
{
    // The bins it can see: from fitMin up, where rounding leaves most of the power.
    std::vector<double> x, signal, w;
    double lowest = INFINITY;
    for (std::size_t j = 0; j < spectrum.count.size(); ++j) {
        if (spectrum.count[j] == 0 || std::exp(spectrum.lnQ[j]) < fitMin) continue;
        const double mean = spectrum.power[j] / spectrum.count[j], s = mean - rounding[j];
        if (!(s > 0.5 * mean)) continue;
        x.push_back(spectrum.lnQ[j]);
        signal.push_back(s);
        // Weights held fixed over every floor tried, so that their chi^2 compare.
        w.push_back(std::max(1.0, spectrum.count[j] / kappa) * (s / mean) * (s / mean));
        lowest = std::min(lowest, s);
    }
    const int m = static_cast<int>(x.size());
    if (m < 6) return 0.0;
    // chi^2 of the weighted line through (x, ln(signal - floor)).
    auto chi2 = [&](double floor) {
        double sw = 0, swx = 0, swy = 0;
        std::vector<double> y(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            y[i] = std::log(signal[i] - floor);
            sw += w[i];
            swx += w[i] * x[i];
            swy += w[i] * y[i];
        }
        const double mx = swx / sw, my = swy / sw;
        double sxx = 0, sxy = 0, syy = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            sxx += w[i] * (x[i] - mx) * (x[i] - mx);
            sxy += w[i] * (x[i] - mx) * (y[i] - my);
            syy += w[i] * (y[i] - my) * (y[i] - my);
        }
        return syy - sxy * sxy / sxx;
    };
    const double none = chi2(0);
    double best = none, bestFloor = 0;
    for (int k = 1; k < 100; ++k) {
        const double floor = lowest * k / 100.0;
        const double c = chi2(floor);
        if (c < best) {
            best = c;
            bestFloor = floor;
        }
    }
    // Significant when the drop beats the 99 % point of F(1, m - 3), the
    // square of Student's 99.5 % quantile, on the scatter left.
    const double t = tQuantile995(m - 3);
    if (!((none - best) > t * t * best / (m - 3))) return 0.0;
    // A floor explains a spectrum that is straight once it is off; one that
    // still bends (a generator or a surface whose spectrum curves all
    // along) is no floor, and the curvature is left for the flags to see.
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) y[i] = std::log(signal[i] - bestFloor);
    return std::fabs(curvatureT(x, y, w)) > tQuantile995(m - 3) ? 0.0 : bestFloor;
}

std::vector<PsdBin> binsAboveNoise(const RadialSpectrum& spectrum, const std::vector<double>& noise, double fitMin,
                                   double fitMax, bool chooseTop, std::vector<double>& kept)
{
    std::vector<PsdBin> bins;
    kept.clear();
    bool topReached = false;
    for (std::size_t j = 0; j < spectrum.count.size(); ++j) {
        if (spectrum.count[j] == 0) continue;
        const double mean = spectrum.power[j] / spectrum.count[j];
        const double signal = mean - noise[j];
        const double q = std::exp(spectrum.lnQ[j]);
        if (chooseTop && q >= fitMin && noise[j] > noiseShareAtTop * mean) topReached = true;
        if (!(signal > 0)) continue;
        PsdBin bin;
        bin.count = spectrum.count[j];
        bin.lnQ = spectrum.lnQ[j];
        bin.lnPsd = std::log(signal);
        bin.fitted = q >= fitMin && q <= fitMax && signal >= noise[j] && !topReached;
        bins.push_back(bin);
        kept.push_back(signal / mean);
    }
    return bins;
}

}  // namespace psd
