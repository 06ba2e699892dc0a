// The spectrum's noise floor and the fit range it leaves: what rounding to
// whole numbers adds to each radial bin, and which bins stand far enough
// above it to be fitted.
#pragma once

#include "analysis/psd_stages.h"

#include <cstdint>
#include <vector>

namespace psd {

// The expected power of rounding error in each bin of `spectrum`, scaled as
// its power is (window and padding), for values that are all whole numbers;
// all 0 otherwise.  The rounding error is the sawtooth of the surface, so
// its harmonic j is a wave whose local frequency is j times the surface's
// gradient in levels per pixel.  With the gradient Gaussian (its mean the
// trend's slope, its spread from the mean step between neighbours, which
// rounding does not bias) harmonic j's power 1 / (2 pi^2 j^2) spreads over
// that Gaussian scaled by j and folded into the band.  On a surface that
// changes by many levels between neighbours this is white noise of variance
// 1/12; on a smooth one (few levels, a low dimension) it piles up at the
// frequencies of the terraces' edges.
std::vector<double> roundingNoise(const RadialSpectrum& spectrum, const Trend& trend, const std::vector<double>& wx,
                                  const std::vector<double>& wy, std::uint32_t PW, std::uint32_t PH);

// The spread of a Gaussian whose absolute value has mean `meanAbs` when its
// mean is `mean`; 0 when |mean| already reaches meanAbs.
double gaussianSpread(double meanAbs, double mean);

// A white noise floor (detector or electronic noise, of the same power at
// every frequency) under the spectrum, found from the data: the floor N0
// that best straightens ln(power - rounding - N0) against ln q over the
// bins from fitMin to 0.5 (each weighted by the independent frequencies it
// averages, kappa as in weightBins), kept only when it improves the line by
// more than chance would at 99 %; 0 otherwise.
double whiteNoiseFloor(const RadialSpectrum& spectrum, const std::vector<double>& rounding, double fitMin,
                       double kappa);

// How far the noise model is trusted: its estimate of a bin's noise may be
// off by this share either way.
constexpr double noiseModelError = 0.3;
// The default fit range ends below the first bin whose noise is more than
// this share of its power.
constexpr double noiseShareAtTop = 0.2;

// The bins that hold a frequency and rise above the noise, with the noise
// taken off, each marked fitted when it lies in [fitMin, fitMax] and its
// noise is at most half its power; with `chooseTop` (the default range) the
// fit also stops below the first bin past fitMin whose noise is more than
// noiseShareAtTop of its power.  `kept` receives each bin's share of power
// left once the noise is off.
std::vector<PsdBin> binsAboveNoise(const RadialSpectrum& spectrum, const std::vector<double>& noise, double fitMin,
                                   double fitMax, bool chooseTop, std::vector<double>& kept);

}  // namespace psd
