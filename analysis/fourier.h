#pragma once

#include <cstddef>
#include <cstdint>

// In-place radix-2 FFT of a complex array (interleaved real, imaginary) with
// `dims` dimensions whose lengths, slowest first, are powers of two.  Output
// element k holds sum_j x(j) * exp(direction * i * K * sum_d k_d j_d / L_d)
// with K = 6.28318530717959; no scaling.  dims <= 0 leaves the array alone.
// Throws std::invalid_argument for a length that is 0 or not a power of two,
// 2*N at or above 2^28, or a direction other than +1 and -1.
void fourierTransformND(double* data, const std::uint32_t* lengths, int dims, int direction);

// The 2-D transform of a complex matrix of `rows` rows and `cols` complex
// columns (the matrix's cols/2).  Direction +1 also divides by rows*cols.
// `threads` above 0 asks for that many threads (at most analysisThreads())
// whatever the size, for a caller whose other cores wait for it meanwhile;
// 0 leaves it to analysisThreadsFor.  The result does not depend on it.
void fourierTransform2D(double* data, std::uint32_t cols, std::uint32_t rows, int direction, int threads = 0);

// The smallest power of two at least n (1 for n <= 1): the length a side is
// padded to for the transform (at most 2^31).
inline std::uint32_t powerOfTwoAtLeast(long long n)
{
    std::uint32_t p = 1;
    while (p < n && p < (1u << 31)) p *= 2;
    return p;
}

// How many threads the transform may use (0, the default: one per core this
// process may run on).  The result does not depend on it.
void setTransformThreads(int threads);
// What setTransformThreads last set (0 at the start).
int transformThreadsSetting();
// The threads the transform and the spectral estimate's passes may use: the
// number set above, or one per core this process may run on.
int analysisThreads();
// The threads worth using on an array of `values` (complex values for the
// transform, samples for the spectral estimate's passes): one below 2^19,
// where a second thread costs more than it saves, analysisThreads() above.
int analysisThreadsFor(std::size_t values);

// How many cores this process may run on.
int availableCores();

// The widest vectors this processor has, up to `bits`: 128 (SSE2 or NEON),
// 256 (AVX2) or 512 (AVX-512F and DQ).  Every vector code chooses by it.
int processorVectorBits(int bits);

// The widest vectors the transform may use: 128 (SSE2), 256 (AVX2) or 512
// bits (AVX-512); by default the widest the processor has.  Returns the width
// it will use, the widest the processor has up to `bits`.  The result does
// not depend on it.
int setTransformVectorBits(int bits);
