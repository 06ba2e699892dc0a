// The transform kernels' 128-bit vector layer: one complex value (two
// doubles, real then imaginary) per register, on SSE2 (x86), NEON (aarch64)
// or two plain doubles elsewhere.  Each operation is the IEEE one on each
// double, with no fused multiply-add, so every processor gives the same bits.
// Everything here has internal linkage: each translation unit that includes
// it gets its own copy, built with that unit's own instruction-set flags.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace {

struct Vec128 {
    static constexpr int lanes = 1;  // complex values per register

#if defined(__SSE2__)
    using Reg = __m128d;
    static Reg load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, Reg v) { _mm_storeu_pd(p, v); }
    static Reg add(Reg a, Reg b) { return _mm_add_pd(a, b); }
    static Reg sub(Reg a, Reg b) { return _mm_sub_pd(a, b); }
    static Reg mul(Reg a, Reg b) { return _mm_mul_pd(a, b); }
    static Reg splat(double v) { return _mm_set1_pd(v); }
    static Reg swap(Reg v) { return _mm_shuffle_pd(v, v, 1); }
    static Reg dupReal(Reg v) { return _mm_unpacklo_pd(v, v); }
    static Reg dupImag(Reg v) { return _mm_unpackhi_pd(v, v); }
#elif defined(__aarch64__)
    using Reg = float64x2_t;
    static Reg load(const double* p) { return vld1q_f64(p); }
    static void store(double* p, Reg v) { vst1q_f64(p, v); }
    static Reg add(Reg a, Reg b) { return vaddq_f64(a, b); }
    static Reg sub(Reg a, Reg b) { return vsubq_f64(a, b); }
    static Reg mul(Reg a, Reg b) { return vmulq_f64(a, b); }
    static Reg splat(double v) { return vdupq_n_f64(v); }
    static Reg swap(Reg v) { return vextq_f64(v, v, 1); }
    static Reg dupReal(Reg v) { return vzip1q_f64(v, v); }
    static Reg dupImag(Reg v) { return vzip2q_f64(v, v); }
#else
    struct Reg {
        double re, im;
    };
    static Reg load(const double* p) { return {p[0], p[1]}; }
    static void store(double* p, Reg v) { p[0] = v.re, p[1] = v.im; }
    static Reg add(Reg a, Reg b) { return {a.re + b.re, a.im + b.im}; }
    static Reg sub(Reg a, Reg b) { return {a.re - b.re, a.im - b.im}; }
    static Reg mul(Reg a, Reg b) { return {a.re * b.re, a.im * b.im}; }
    static Reg splat(double v) { return {v, v}; }
    static Reg swap(Reg v) { return {v.im, v.re}; }
    static Reg dupReal(Reg v) { return {v.re, v.re}; }
    static Reg dupImag(Reg v) { return {v.im, v.im}; }
#endif

    // One complex value in every lane, lanes values one per lane, and the
    // transpose of lanes x lanes values: nothing to do at one per register.
    static Reg broadcast(Reg v) { return v; }
    static Reg gather(const Reg (&v)[lanes]) { return v[0]; }
    static void transpose(Reg (&)[lanes]) {}
};

using Pair = Vec128::Reg;

}  // namespace
