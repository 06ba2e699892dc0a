// The seam between the Whittle fit and its kernels over the ordinates (the
// model's spectrum, and the anchored model with the likelihood's sums),
// which are written once (whittle_kernel_templates.h) on four doubles at a
// time and built twice: whittle_kernels.cpp for every
// processor, whittle_kernels_avx2.cpp (x86-64 only) for those with AVX2.
// Both do the same IEEE operations lane by lane and keep four partial sums
// whatever the width, so they give the same bits; only plain data and
// function pointers cross the seam.
#pragma once

#include "analysis/whittle_model.h"

#include <cstddef>

namespace whittle {

// What the anchored model reads at each ordinate: its frequency, the
// anchors' ratios on either side of H, the Laplacian's gain and the noise's
// expected periodogram; and where H lies between the anchors.
struct AnchoredInputs {
    const double *fx, *fy, *r0, *r1, *gain, *noise;
    double t = 0;      // the mean is ((1 - t) r0 + t r1) gain f + eta noise
    double span = 1;   // the anchors' distance in H (infinite: no slope)
    double eta = 0;    // the noise's variance
};

// The likelihood's sums over a range of ordinates.
struct LikelihoodSums {
    double objective = 0;                                         // sum of ln mean + I / mean
    double score[parameterCount] = {};                           // sum of g_j (I - mean) / mean^2
    double information[parameterCount][parameterCount] = {};     // sum of g_j g_k / mean^2, k <= j
};

struct WhittleKernels {
    // f at n frequencies (fx[i], fy[i]).
    void (*spectrum)(const Spectrum::Terms& f, const double* fx, const double* fy, std::size_t n, double* out);
    // f and its derivatives by H, ln kappa, a and b at one frequency.
    void (*derivatives)(const Spectrum::Terms& f, double fx, double fy, double out[5]);
    // The anchored model at the ordinates [first, last) and the
    // likelihood's sums over them, with `derivatives` the score and the
    // information of the m parameters `active` too; false, the sums
    // unfinished, when a mean is not positive.  The model's mean, and with
    // `derivatives` its derivatives by every parameter, are kept in `mean`
    // and `gradient` (parameterCount arrays) when they are not null.
    bool (*fit)(const Spectrum::Terms& f, const AnchoredInputs& in, const double* I, const int* active, int m,
                bool derivatives, std::size_t first, std::size_t last, LikelihoodSums& out, double* mean,
                double* const* gradient);
    // The exp and the ln these kernels use, of n values.
    void (*exp)(const double* x, std::size_t n, double* out);
    void (*log)(const double* x, std::size_t n, double* out);
};

// The kernels for this processor: the widest it has.
const WhittleKernels& whittleKernels();
// The kernels on vectors of `bits` bits (128 or 256), or null when this
// processor has no such; every width gives the same bits.
const WhittleKernels* whittleKernelsOfWidth(int bits);

}  // namespace whittle
