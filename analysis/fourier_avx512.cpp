// The transform's kernels on 512-bit vectors, four complex values per
// register, for processors with AVX-512F and DQ (the plan checks at run
// time).  Only this unit is compiled with -mavx512f -mavx512dq, and nothing
// in it but its table has external linkage, so none of its code can be
// linked into another width's.
#include "analysis/fourier_kernel_templates.h"

#include <immintrin.h>

// GCC 12's own AVX-512 headers start some results from a self-initialised
// "undefined" register, which its uninitialised-use warning reports.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

struct Avx512 {
    static constexpr int lanes = 4;
    using Reg = __m512d;
    static Reg load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, Reg v) { _mm512_storeu_pd(p, v); }
    static Reg add(Reg a, Reg b) { return _mm512_add_pd(a, b); }
    static Reg sub(Reg a, Reg b) { return _mm512_sub_pd(a, b); }
    static Reg mul(Reg a, Reg b) { return _mm512_mul_pd(a, b); }
    static Reg splat(double v) { return _mm512_set1_pd(v); }
    static Reg swap(Reg v) { return _mm512_permute_pd(v, 0x55); }
    static Reg broadcast(__m128d v) { return _mm512_broadcast_f64x2(v); }
    static Reg gather(const __m128d (&v)[4])
    {
        const Reg low = _mm512_insertf64x2(_mm512_castpd128_pd512(v[0]), v[1], 1);
        return _mm512_insertf64x2(_mm512_insertf64x2(low, v[2], 2), v[3], 3);
    }

    // x[l] lane j <- x[j] lane l, in two rounds of 128-bit shuffles.
    static void transpose(Reg (&x)[4])
    {
        const Reg t0 = _mm512_shuffle_f64x2(x[0], x[1], 0x44), t1 = _mm512_shuffle_f64x2(x[0], x[1], 0xEE);
        const Reg t2 = _mm512_shuffle_f64x2(x[2], x[3], 0x44), t3 = _mm512_shuffle_f64x2(x[2], x[3], 0xEE);
        x[0] = _mm512_shuffle_f64x2(t0, t2, 0x88);
        x[1] = _mm512_shuffle_f64x2(t0, t2, 0xDD);
        x[2] = _mm512_shuffle_f64x2(t1, t3, 0x88);
        x[3] = _mm512_shuffle_f64x2(t1, t3, 0xDD);
    }
};

}  // namespace

constexpr TransformKernels avx512Kernels = kernelTable<Avx512>();
