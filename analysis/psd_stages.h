// The stages of the spectral estimate, each with its own contract, in the
// order estimatePsdDimension runs them: the trend, the window, the windowed
// residuals (padded), the periodogram in radial bins, the noise floor and
// the fit range (psd_noise.h), the weighted fit, and its interval.
// Estimators of their own reuse the first stages.
#pragma once

#include "analysis/matrix.h"
#include "analysis/psd.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Applies X to every sample type the stages take, for their explicit
// instantiations.
#define ORVANE_PSD_SAMPLE_TYPES(X) \
    X(std::uint8_t) X(std::uint16_t) X(std::uint32_t) X(std::int8_t) X(std::int16_t) X(std::int32_t) X(float) X(double)

namespace psd {

// The smallest and the largest of values met one by one, and how many
// were each.
struct Extremes {
    double smallest = INFINITY, largest = -INFINITY;
    long long atSmallest = 0, atLargest = 0;

    void add(double v)
    {
        if (v < smallest) {
            smallest = v;
            atSmallest = 0;
        }
        if (v > largest) {
            largest = v;
            atLargest = 0;
        }
        atSmallest += v == smallest;
        atLargest += v == largest;
    }
    // The extremes of both sets of values.
    void merge(const Extremes& other)
    {
        if (other.smallest < smallest) atSmallest = 0;
        if (other.smallest <= smallest) {
            smallest = other.smallest;
            atSmallest += other.atSmallest;
        }
        if (other.largest > largest) atLargest = 0;
        if (other.largest >= largest) {
            largest = other.largest;
            atLargest += other.atLargest;
        }
    }
};

// What the values are made of: how many distinct values (counted up to
// `limit` + 1), and how many samples lie at the smallest and the largest.
// Gathered value by value (add) in the pass that measures the trend, part by
// part, and the parts merged.
struct ValueStats : Extremes {
    int distinct = 0;
    // The distinct values met first, at most limit + 1 (limit <= 16).
    double seen[17] = {};

    void addDistinct(double v, int limit)
    {
        if (distinct > limit) return;
        for (int i = 0; i < distinct; ++i)
            if (seen[i] == v) return;
        seen[distinct++] = v;
    }
    void add(double v, int limit)
    {
        Extremes::add(v);
        addDistinct(v, limit);
    }
    void merge(const ValueStats& other, int limit);
};

// How many distinct values a picture may have and still be flagged
// few_levels.
constexpr int distinctCounted = 16;

// What the first pass over the values finds: the trend to remove
// (value ~ mean + bx (x - cx) + by (y - cy), centred coordinates), the
// largest magnitude, whether every value is a whole number, and the mean
// absolute difference between neighbours along x and along y (before the
// trend is removed).
struct Trend {
    double mean = 0, bx = 0, by = 0;
    double largest = 0;
    bool wholeNumbers = true;
    double stepX = 0, stepY = 0;
    // Whole numbers' own step: the greatest common divisor of their
    // differences (64 for 10-bit values in the top of 16-bit words, 255 for
    // 1-bit levels scaled to 0 .. 255), 1 otherwise.  Their rounding is
    // modelled with it.
    double levelStep = 1;
    // Values that are NaN: points not measured, left out of every sum (the
    // plane is then fitted to the measured points alone).
    long long missing = 0;
    // Of the measured values, distinct ones counted up to distinctCounted + 1.
    ValueStats values;
};

// The least-squares plane (or the mean alone) of W x H values, summed on up
// to `parts` threads; NaN values are missing points.  Throws
// std::invalid_argument naming the first value that is infinite, and when
// no point is measured.
template <class T>
Trend measureTrend(const T* values, int W, int H, PsdOptions::Trend kind, int parts);

// The values with each missing point (NaN) filled from its neighbours: the
// harmonic interpolation of the measured points, each filled point the mean
// of its neighbours in the picture, from the trend's plane: Gauss-Seidel
// while it settles within 64 sweeps (no point moving by more than 1e-9 of
// the values' range), multigrid V-cycles otherwise (until every filled point
// lies that near its neighbours' mean, or 100 cycles).
// Leaving the points out (a window of zero there) leaks the residual's
// power at the holes evenly over the band, which buries the fine scales of
// a steep spectrum; the interpolation lacks only the fine scales' share of
// the holes (D some 0.01 low for 3 % of points at random).
template <class T>
std::vector<double> fillMissing(const T* values, int W, int H, const Trend& trend);

// The window along a side of n samples: Hann (sin^2 over the side, at the
// samples' centres) or ones.
std::vector<double> sideWindow(int n, PsdOptions::Window window);

// Writes (value - trend) * wx[x] * wy[y] into the first W columns of the
// first H rows of `out` (PH rows of PW reals) and zeros everywhere else, so
// that `out` need not be filled first, and returns the
// sum of the squared residuals before the window.
template <class T>
double windowedResiduals(const T* values, int W, int H, const Trend& trend, const std::vector<double>& wx,
                         const std::vector<double>& wy, matrix& out, int parts);

// The power spectrum of `padded` (PH rows of PW reals, transformed in place
// by this call) averaged over radial bins of |q|, q in cycles per pixel.
// Bins have their edges at 0.5 * 2^(-k / binsPerOctave) (or, for
// binsPerOctave 0, every 1 / max(PW, PH)); one frequency of each conjugate
// pair below 0.5 is counted, the mean excluded.  The power is scaled as
// the transform of direction +1 scales it (1 / (PW PH)).
struct RadialSpectrum {
    std::vector<double> edges;       // bins + 1 edges, rising, from 0 to 0.5
    std::vector<double> power;       // summed power in each bin
    std::vector<long long> count;    // frequencies in each bin
    std::vector<double> lnQ;         // mean ln q of each bin's frequencies
};
RadialSpectrum radialPowerSpectrum(matrix& padded, std::uint32_t PW, std::uint32_t PH, int binsPerOctave, int parts);

// Each fitted bin's weight (the independent frequencies it averages, its
// count / kappa with kappa the padding's and the window's repetition, less
// what taking off the noise and the noise's own uncertainty cost) and its
// ln PSD corrected for the bias of a log of a mean; the weighted sums of
// the weights, ln q and that ln PSD.  Entries of bins not fitted are 0.
struct WeightedBins {
    std::vector<double> w, y;
    double sw = 0, swx = 0, swy = 0;
    int m = 0;
};
WeightedBins weightBins(const std::vector<PsdBin>& bins, const std::vector<double>& kept, double kappa);

// A weighted straight line through the fitted bins' (ln q, ln PSD).
struct LineFit {
    int bins = 0;                 // fitted bins
    double slope = 0, intercept = 0;
    double sxx = 0, syy = 0;      // weighted sums of squares about the means
    double chi2 = 0;              // weighted squared residuals
};
double independenceFactor(int W, int H, std::uint32_t PW, std::uint32_t PH, PsdOptions::Window window);
LineFit fitLine(const std::vector<PsdBin>& bins, const std::vector<double>& kept, double kappa);

// The slope's standard error (widened when the bins scatter more than the
// weights predict) and the 95 % interval of D = (8 + slope) / 2 into
// `result`, with beta, hurst, D, r2 and the bins fitted.
void fillDimension(const LineFit& fit, PsdResult& result);

// The 0.975 quantile of Student's t with `df` degrees of freedom; and any
// quantile, from its table for 1 to 10 degrees of freedom and the normal
// quantile z it tends to.
double tQuantile975(int df);
double studentQuantile(double z, const double (&table)[10], int df);

}  // namespace psd
