// Inside the analysis only: two doubles in one vector register and the few
// operations the transform's 128-bit path uses, on SSE2 (x86), NEON (aarch64)
// or two plain doubles elsewhere.  Each operation is the IEEE one on each
// lane, with no fused multiply-add, so every processor gives the same bits.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#define ORVANE_X86 1
#include <emmintrin.h>

using Pair = __m128d;
inline Pair pairAdd(Pair a, Pair b) { return _mm_add_pd(a, b); }
inline Pair pairSub(Pair a, Pair b) { return _mm_sub_pd(a, b); }
inline Pair pairMul(Pair a, Pair b) { return _mm_mul_pd(a, b); }
inline Pair pairLoad(const double* p) { return _mm_loadu_pd(p); }
inline void pairStore(double* p, Pair v) { _mm_storeu_pd(p, v); }
inline Pair pairSplat(double v) { return _mm_set1_pd(v); }
inline Pair pairSet(double high, double low) { return _mm_set_pd(high, low); }
inline Pair pairSwap(Pair v) { return _mm_shuffle_pd(v, v, 1); }
inline Pair pairLows(Pair a, Pair b) { return _mm_unpacklo_pd(a, b); }
inline Pair pairHighs(Pair a, Pair b) { return _mm_unpackhi_pd(a, b); }
inline void cpuRelax() { _mm_pause(); }

#elif defined(__aarch64__)
#include <arm_neon.h>

using Pair = float64x2_t;
inline Pair pairAdd(Pair a, Pair b) { return vaddq_f64(a, b); }
inline Pair pairSub(Pair a, Pair b) { return vsubq_f64(a, b); }
inline Pair pairMul(Pair a, Pair b) { return vmulq_f64(a, b); }
inline Pair pairLoad(const double* p) { return vld1q_f64(p); }
inline void pairStore(double* p, Pair v) { vst1q_f64(p, v); }
inline Pair pairSplat(double v) { return vdupq_n_f64(v); }
inline Pair pairSet(double high, double low) { return vcombine_f64(vdup_n_f64(low), vdup_n_f64(high)); }
inline Pair pairSwap(Pair v) { return vextq_f64(v, v, 1); }
inline Pair pairLows(Pair a, Pair b) { return vzip1q_f64(a, b); }
inline Pair pairHighs(Pair a, Pair b) { return vzip2q_f64(a, b); }
inline void cpuRelax() { __asm__ __volatile__("yield"); }

#else
struct Pair {
    double low, high;
};
inline Pair pairAdd(Pair a, Pair b) { return {a.low + b.low, a.high + b.high}; }
inline Pair pairSub(Pair a, Pair b) { return {a.low - b.low, a.high - b.high}; }
inline Pair pairMul(Pair a, Pair b) { return {a.low * b.low, a.high * b.high}; }
inline Pair pairLoad(const double* p) { return {p[0], p[1]}; }
inline void pairStore(double* p, Pair v) { p[0] = v.low, p[1] = v.high; }
inline Pair pairSplat(double v) { return {v, v}; }
inline Pair pairSet(double high, double low) { return {low, high}; }
inline Pair pairSwap(Pair v) { return {v.high, v.low}; }
inline Pair pairLows(Pair a, Pair b) { return {a.low, b.low}; }
inline Pair pairHighs(Pair a, Pair b) { return {a.high, b.high}; }
inline void cpuRelax() {}
#endif
