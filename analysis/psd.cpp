// The radially averaged power spectrum estimate: trend removal, window,
// transform, log-spaced radial bins, and a weighted straight-line fit whose
// weights come from how many independent frequencies each bin averages.
// The stages are in psd_stages.cpp; this file checks the request and runs
// them in order.
#include "analysis/psd.h"

#include "analysis/fourier.h"
#include "analysis/matrix.h"
#include "analysis/psd_diagnostics.h"
#include "analysis/psd_noise.h"
#include "analysis/psd_stages.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

// %.3g's digits, with a decimal point whatever the locale.
std::string number(double v)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 3);
    return std::string(text, written.ptr);
}

// The fit range as used: from the lowest to the highest frequency of the
// bins fitted (so that giving it back fits the same bins), or the range
// asked for when fewer than two are.
void fitRangeUsed(PsdResult& result, double fitMin, double fitMax)
{
    result.fitMin = fitMin;
    result.fitMax = fitMax;
    double low = INFINITY, high = -INFINITY;
    for (const PsdBin& b : result.bins)
        if (b.fitted) {
            low = std::min(low, b.lnQ);
            high = std::max(high, b.lnQ);
        }
    if (low < high) {
        result.fitMin = std::exp(low);
        result.fitMax = std::exp(high);
    }
}

}  // namespace

// Points not measured (NaN) are filled from their measured neighbours (see
// psd::fillMissing) and the estimate made on the result, flagged
// missing_points, its note saying how many.
template <class T>
PsdResult estimateWithMissingPoints(const T* values, int W, int H, const PsdOptions& options, const psd::Trend& trend)
{
    const std::vector<double> filled = psd::fillMissing(values, W, H, trend);
    PsdResult result = estimatePsdDimension(filled.data(), W, H, options);
    result.flags.push_back("missing_points");
    const double share = 100.0 * static_cast<double>(trend.missing) / (static_cast<double>(W) * H);
    result.note += (result.note.empty() ? "" : "; ") + number(share) +
                   " % of the points were not measured (NaN): each was filled from its measured neighbours";
    return result;
}

template <class T>
PsdResult estimatePsdDimension(const T* values, int W, int H, const PsdOptions& options)
{
    if (W < 1 || H < 1) throw std::invalid_argument("the image has no pixels");
    const int shorter = std::min(W, H);
    const double fitMin = options.fitMin > 0 ? options.fitMin : defaultFitCycles / shorter;
    const double fitMax = options.fitMax > 0 ? options.fitMax : defaultFitMax;
    const int smallest = static_cast<int>(std::ceil(defaultFitCycles / defaultFitMax * 1.5));
    if (fitMin * shorter < 1.0 || (options.fitMin <= 0 && shorter < smallest))
        throw std::invalid_argument("the image (" + std::to_string(W) + " x " + std::to_string(H) +
                                    " pixels) is too small for the spectral estimate: " +
                                    (options.fitMin <= 0 ? "its shorter side must be at least " +
                                                               std::to_string(smallest) + " pixels"
                                                         : "the fit range must start at " + number(1.0 / shorter) +
                                                               " cycles per pixel (one cycle across it) or above"));
    if (!(fitMin < fitMax) || fitMax > 0.5)
        throw std::invalid_argument("the fit range " + number(fitMin) + " to " + number(fitMax) +
                                    " cycles per pixel is not a range of frequencies up to 0.5");
    const std::uint32_t PW = powerOfTwoAtLeast(W), PH = powerOfTwoAtLeast(H);
    if (2.0 * PW * PH >= static_cast<double>(matrixSizeLimit))
        throw std::invalid_argument("the image (" + std::to_string(W) + " x " + std::to_string(H) +
                                    " pixels) is too large for the spectral estimate");
    const int parts = std::min(analysisThreadsFor(static_cast<std::size_t>(PW) * PH), 8);

    const psd::Trend trend = psd::measureTrend(values, W, H, options.trend, parts);
    if (trend.missing > 0) return estimateWithMissingPoints(values, W, H, options, trend);
    const std::vector<double> wx = psd::sideWindow(W, options.window), wy = psd::sideWindow(H, options.window);
    // The real rows padded to powers of two: each pair of neighbours reads
    // as one complex number, so a transform of half the width gives the
    // whole spectrum.
    matrix padded(static_cast<int>(PH), static_cast<int>(PW), matrix::Unfilled{});
    const double residual = psd::windowedResiduals(values, W, H, trend, wx, wy, padded, parts);
    if (!(residual > 1e-24 * trend.largest * trend.largest * W * H))
        throw std::invalid_argument(std::string("the image is flat once its ") +
                                    (options.trend == PsdOptions::Trend::plane ? "plane" : "mean") +
                                    " is removed: there is no spectrum to fit");
    const psd::RadialSpectrum spectrum = psd::radialPowerSpectrum(padded, PW, PH, options.binsPerOctave, parts);

    // Rounding noise is taken off each bin; the default range ends where it
    // grows to a visible share of the power, and a bin where it is more
    // than half the power is never fitted.
    // With the default range a white floor found under the spectrum is
    // taken off too, and ends the range where it grows.
    const double kappa = psd::independenceFactor(W, H, PW, PH, options.window);
    std::vector<double> noise = psd::roundingNoise(spectrum, trend, wx, wy, PW, PH);
    const double white = options.fitMax <= 0 ? psd::whiteNoiseFloor(spectrum, noise, fitMin, kappa) : 0.0;
    for (double& n : noise) n += white;
    PsdResult result{};
    std::vector<double> kept;
    result.bins = psd::binsAboveNoise(spectrum, noise, fitMin, fitMax, options.fitMax <= 0, kept);
    fitRangeUsed(result, fitMin, fitMax);

    const psd::LineFit fit = psd::fitLine(result.bins, kept, kappa);
    if (fit.bins < 3) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        result.beta = result.hurst = result.dimension = result.dimensionLow = result.dimensionHigh = nan;
        result.slopeStdError = result.intercept = result.r2 = nan;
        result.binsFitted = fit.bins;
        result.flags = {"no_fit"};
        result.note = "the fit range " + number(fitMin) + " to " + number(fitMax) + " cycles per pixel holds " +
                      std::to_string(fit.bins) + " radial bins above the noise floor; at least 3 are needed";
        return result;
    }
    psd::fillDimension(fit, result);
    if (white > 0)
        result.note = "a white noise floor (detector noise, or a surface rougher at the smallest scales than its "
                      "line) was found under the spectrum and taken off; the fit ends at " +
                      number(result.fitMax) + " cycles per pixel, where it passes a fifth of the power";

    const std::size_t samples = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
    result.flags = psd::diagnose(result, psd::curvatureT(result.bins, kept, kappa), fit.bins - 3,
                                 psd::binsCutByNoise(spectrum, fitMin, fitMax, fit.bins),
                                 trend.values, samples);
    return result;
}

#define ORVANE_PSD_TYPE(T) template PsdResult estimatePsdDimension(const T*, int, int, const PsdOptions&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_PSD_TYPE)
#undef ORVANE_PSD_TYPE

std::string psdFlagsText(const PsdResult& result)
{
    std::string text;
    for (const std::string& flag : result.flags) text += (text.empty() ? "" : ";") + flag;
    return text;
}
