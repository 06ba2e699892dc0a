// The surface dimension from the radially averaged power spectrum: the
// standard spectral estimate, with its uncertainty and the binned spectrum
// behind it.
#pragma once

#include <string>
#include <vector>

struct PsdOptions {
    enum class Window { hann, none };
    enum class Trend { plane, mean };
    // A Hann window (sin^2 across each side) keeps the edges of a picture
    // that does not repeat from leaking power into high frequencies.
    Window window = Window::hann;
    // Removed before the window: the least-squares plane, or the mean only.
    Trend trend = Trend::plane;
    // The fit range in cycles per pixel; 0 takes the default: from
    // defaultFitCycles / (the shorter side) to defaultFitMax.
    double fitMin = 0.0;
    double fitMax = 0.0;
    // Radial bins: this many per octave of frequency, their edges at
    // 0.5 * 2^(-k / binsPerOctave); 0 gives one bin per step of frequency
    // (1 / the longer padded side) instead.
    int binsPerOctave = 8;
};

// Whether a fit range a user gives is one: 0 < low < high <= 0.5 cycles per
// pixel (NaN fails every comparison).
inline bool validFitRange(double low, double high) { return 0 < low && low < high && high <= 0.5; }

// The defaults of the fit range, chosen by the accuracy benchmark.
constexpr double defaultFitCycles = 12.0;
constexpr double defaultFitMax = 0.4;

struct PsdBin {
    double lnQ;        // mean ln q of the bin's frequencies, q in cycles per pixel
    double lnPsd;      // ln of the mean power of the bin
    long long count;   // how many frequencies (one of each conjugate pair)
    bool fitted;       // inside the fit range
};

struct PsdResult {
    double beta;            // PSD proportional to q^-beta
    double hurst;           // (beta - 2) / 2
    double dimension;       // (8 - beta) / 2
    double slopeStdError;   // of the fitted slope, -beta
    double intercept;       // the fitted line: ln PSD = intercept - beta ln q
    double dimensionLow;    // the 95 % confidence interval of the dimension
    double dimensionHigh;
    double r2;              // of the weighted fit
    int binsFitted;
    double fitMin;          // the fit range used, cycles per pixel: the frequencies
    double fitMax;          // of the first and last bins fitted (the range asked when fewer than two are)
    std::vector<PsdBin> bins;  // every bin that holds a frequency, by rising q
    // What the estimate knows about itself, words of one vocabulary, in this
    // order: out_of_range (D, or most of its interval, outside [2, 3]),
    // curved (the spectrum bends inside the fit range: a quadratic term
    // significant at 99 %), noise_floor (the floor cuts the fit range to
    // less than an octave or fewer than 6 bins), few_levels (16 distinct
    // values or fewer), clipped (1 % or more of the samples at the smallest
    // or at the largest value), few_bins (fewer than 6 bins fitted).  A flag
    // is not a failure: the numbers stand, with this said about them.
    // no_fit alone, with every number NaN, when fewer than 3 bins are left
    // to fit (a smooth picture whose spectrum sinks under the noise floor at
    // once); `note` then says so in words.  `note` also says when a white
    // noise floor was found under the spectrum and ended the fit range.
    std::vector<std::string> flags;
    std::string note;
    bool fitted() const { return !(flags.size() == 1 && flags[0] == "no_fit"); }
};

// The flags joined by ';', as the CSV and the window show them.
std::string psdFlagsText(const PsdResult& result);

// `values` holds height rows of width values, of any of the types a picture
// stores (8-, 16- and 32-bit integers, signed or not, float and double), each
// taken at its full value in double precision.  Throws std::invalid_argument,
// saying what is wrong, for a value that is not a finite number, an image
// with nothing left once the trend is removed, an image too small for the
// fit range (and what the smallest is), a fit range that is not one, and an
// image too large to transform.  A spectrum with too few bins to fit is a
// result flagged no_fit, not a failure.
template <class T>
PsdResult estimatePsdDimension(const T* values, int width, int height, const PsdOptions& options = {});
