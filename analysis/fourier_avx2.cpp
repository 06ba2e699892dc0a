// The transform's kernels on 256-bit vectors, two complex values per
// register, for processors with AVX2 (the plan checks at run time).  Only
// this unit is compiled with -mavx2, and nothing in it but its table has
// external linkage, so none of its code can be linked into another width's.
#include "analysis/fourier_kernel_templates.h"

#include <immintrin.h>

namespace {

struct Avx2 {
    static constexpr int lanes = 2;
    using Reg = __m256d;
    static Reg load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, Reg v) { _mm256_storeu_pd(p, v); }
    static Reg add(Reg a, Reg b) { return _mm256_add_pd(a, b); }
    static Reg sub(Reg a, Reg b) { return _mm256_sub_pd(a, b); }
    static Reg mul(Reg a, Reg b) { return _mm256_mul_pd(a, b); }
    static Reg splat(double v) { return _mm256_set1_pd(v); }
    static Reg swap(Reg v) { return _mm256_permute_pd(v, 0x5); }
    static Reg broadcast(__m128d v) { return _mm256_broadcast_pd(&v); }
    static Reg gather(const __m128d (&v)[2]) { return _mm256_set_m128d(v[1], v[0]); }

    // x[l] lane j <- x[j] lane l.
    static void transpose(Reg (&x)[2])
    {
        const Reg lows = _mm256_permute2f128_pd(x[0], x[1], 0x20);
        const Reg highs = _mm256_permute2f128_pd(x[0], x[1], 0x31);
        x[0] = lows;
        x[1] = highs;
    }
};

}  // namespace

constexpr TransformKernels avx2Kernels = kernelTable<Avx2>();
