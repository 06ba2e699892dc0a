// The surface dimension from a debiased Whittle likelihood fit of the whole
// 2-D periodogram: every frequency counts, and direction is kept, so it is
// more precise than the radial estimate on small pictures and tells how the
// surface is stretched.  The model and its expected periodogram are in
// whittle_model.h.
#pragma once

#include <string>
#include <vector>

struct WhittleOptions {
    // Fit the anisotropy (ratio and angle) and a white noise floor.
    bool anisotropy = true;
    bool noise = true;
    // The share of each side a Tukey taper rounds off.
    double taper = 0.3;
    // Frequencies below this many cycles across the shorter side are left
    // out (0 keeps all but the mean).
    double lowestCycles = 0.0;
    int maxIterations = 40;
};

// A ring of the periodogram fitted, eight to an octave: the mean of the
// picture's periodogram and of the fitted model's over its frequencies.
struct WhittleRing {
    double lnQ;          // mean ln q, q in cycles per pixel
    double lnData;       // ln of the mean periodogram
    double lnModel;      // ln of the mean expected periodogram of the fit
    long long count;
};

struct WhittleResult {
    double dimension = 0;        // 3 - hurst
    double dimensionLow = 0;     // its 95 % interval, from the sandwich covariance
    double dimensionHigh = 0;
    double hurst = 0;
    double hurstStdError = 0;
    double variance = 0;         // of the model's surface (its semivariogram's sill)
    double crossover = 0;        // 1 / kappa, pixels: the scale above which the surface stops being self-affine
    double noise = 0;            // the white noise's variance (0 when not fitted)
    double anisoRatio = 0;       // >= 1: how many times longer features are along than across
    double anisoAngle = 0;       // the long direction, degrees counter-clockwise from the rows, y up, [0, 180)
    int iterations = 0;
    bool converged = false;
    int frequencies = 0;         // the periodogram's ordinates fitted
    std::vector<WhittleRing> rings;  // by rising q, for a plot
    // out_of_range (D, or most of its interval, outside [2, 3]) and
    // no_convergence (the fit stopped at its iteration limit).
    std::vector<std::string> flags;
};

// The flags joined by ';'.
std::string whittleFlagsText(const WhittleResult& result);

// `values` holds height rows of width values of any sample type the spectral
// estimate takes.  Throws std::invalid_argument, saying why, for a value
// that is not a finite number, a picture smaller than 16 x 16 or too large
// to transform, and one that is flat once its plane is removed.
template <class T>
WhittleResult estimateWhittleDimension(const T* values, int width, int height, const WhittleOptions& options = {});
