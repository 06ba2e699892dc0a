// The seam between the transform's plan (fourier.cpp: stage groups, passes,
// threads) and its kernels, which are written once (fourier_kernel_templates.h)
// and built once per vector width, each in a translation unit of its own with
// that instruction set's flags: fourier_vec128.cpp (SSE2 on x86-64, NEON on
// aarch64), fourier_avx2.cpp and fourier_avx512.cpp (x86-64 only, called only
// when the processor has them).  Only plain data and function pointers cross
// it, so nothing compiled for one width is shared with another.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the twiddle-factor recurrences of one group of S fused stages, from
// stage h, start (m = 0): w[0] for stage h; w[1], w[2] for stage 2h at m and
// m + h; w[3..6] for stage 4h at m, m + h, m + 2h, m + 3h.  Stage j's
// recurrence is w <- (w*alpha[j] - ...) + w, in doubles.
struct TwiddleStart {
    int stages = 0;  // S: 1, 2 or 3
    double alpha[3] = {};
    double beta[3] = {};
    double w[7][2] = {};  // (wr, wi)
};

// The kernels of one vector width.  Lengths n are powers of two; data are
// complex values, interleaved real and imaginary.
struct TransformKernels {
    int lanes;  // complex values per register: 1, 2 or 4

    // Bit reversal fused with the first three stages of one sequence of
    // n >= 64 contiguous values.
    void (*reverseFirstStages)(double* seq, std::uint32_t n, const TwiddleStart& first);

    // A stage group of the contiguous pass, h >= lanes, on the sequences
    // [g0, g1) of length n; with `scale`, each result is multiplied by *scale.
    void (*contiguousGroup)(double* data, std::uint32_t n, std::uint32_t g0, std::uint32_t g1, std::uint32_t h,
                            const TwiddleStart& start, const double* scale);

    // A stage group of the strided pass on one block of n lines, `line`
    // doubles apart, over the strip [t0, t1) of every line (doubles, even).
    void (*stridedGroup)(double* block, std::uint32_t n, std::size_t line, std::uint32_t h,
                         const TwiddleStart& start, const double* scale, std::size_t t0, std::size_t t1);

    // The first three stages on the strip [t0, t1) of 8 lines `stride`
    // doubles apart, point k in line k with its three bits reversed.
    void (*reversedStrip)(double* base, std::size_t stride, const TwiddleStart& first, std::size_t t0,
                          std::size_t t1);
};

extern const TransformKernels vec128Kernels;
#if defined(__x86_64__)
extern const TransformKernels avx2Kernels;
extern const TransformKernels avx512Kernels;
#endif
