// Two doubles side by side in one register, with the comparisons and masks
// that passes over values need: SSE2 (x86), NEON (aarch64) or two plain
// doubles elsewhere.  Every operation is the IEEE one on each lane, with no
// fused multiply-add, so each lane gives the same bits as the scalar code it
// replaces on every processor.  A mask is a register whose lanes are all
// ones (true) or all zeros (false).
// Everything here has internal linkage, built with the including unit's flags.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace {
namespace lanes2 {

#if defined(__SSE2__)
using Reg = __m128d;
inline Reg load(const double* p) { return _mm_loadu_pd(p); }
inline void store(double* p, Reg v) { _mm_storeu_pd(p, v); }
inline Reg set(double lane0, double lane1) { return _mm_set_pd(lane1, lane0); }
inline Reg splat(double v) { return _mm_set1_pd(v); }
inline Reg add(Reg a, Reg b) { return _mm_add_pd(a, b); }
inline Reg sub(Reg a, Reg b) { return _mm_sub_pd(a, b); }
inline Reg mul(Reg a, Reg b) { return _mm_mul_pd(a, b); }
// The larger of lanes that are not NaN (processors differ on NaN).
inline Reg max(Reg a, Reg b) { return _mm_max_pd(a, b); }
inline Reg less(Reg a, Reg b) { return _mm_cmplt_pd(a, b); }
inline Reg atLeast(Reg a, Reg b) { return _mm_cmpge_pd(a, b); }
inline Reg equal(Reg a, Reg b) { return _mm_cmpeq_pd(a, b); }
inline Reg notNaN(Reg a) { return _mm_cmpord_pd(a, a); }
inline Reg both(Reg a, Reg b) { return _mm_and_pd(a, b); }
inline Reg either(Reg a, Reg b) { return _mm_or_pd(a, b); }
// a where the mask is true, b elsewhere.
inline Reg select(Reg mask, Reg a, Reg b) { return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b)); }
// a where the mask is true (where) or false (unless), 0 elsewhere.
inline Reg where(Reg mask, Reg a) { return _mm_and_pd(mask, a); }
inline Reg unless(Reg mask, Reg a) { return _mm_andnot_pd(mask, a); }
inline Reg abs(Reg a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
// Whether every lane of a mask is true.
inline bool all(Reg mask) { return _mm_movemask_pd(mask) == 3; }
inline double lane0(Reg v) { return _mm_cvtsd_f64(v); }
inline double lane1(Reg v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }
// The lanes of a, then of b, taken in their even and odd places: (a0, b0), (a1, b1).
inline Reg evens(Reg a, Reg b) { return _mm_unpacklo_pd(a, b); }
inline Reg odds(Reg a, Reg b) { return _mm_unpackhi_pd(a, b); }
#elif defined(__aarch64__)
using Reg = float64x2_t;
inline Reg fromMask(uint64x2_t m) { return vreinterpretq_f64_u64(m); }
inline uint64x2_t toMask(Reg m) { return vreinterpretq_u64_f64(m); }
inline Reg load(const double* p) { return vld1q_f64(p); }
inline void store(double* p, Reg v) { vst1q_f64(p, v); }
inline Reg set(double lane0, double lane1) { return vsetq_lane_f64(lane1, vdupq_n_f64(lane0), 1); }
inline Reg splat(double v) { return vdupq_n_f64(v); }
inline Reg add(Reg a, Reg b) { return vaddq_f64(a, b); }
inline Reg sub(Reg a, Reg b) { return vsubq_f64(a, b); }
inline Reg mul(Reg a, Reg b) { return vmulq_f64(a, b); }
inline Reg max(Reg a, Reg b) { return vmaxq_f64(a, b); }
inline Reg less(Reg a, Reg b) { return fromMask(vcltq_f64(a, b)); }
inline Reg atLeast(Reg a, Reg b) { return fromMask(vcgeq_f64(a, b)); }
inline Reg equal(Reg a, Reg b) { return fromMask(vceqq_f64(a, b)); }
inline Reg notNaN(Reg a) { return fromMask(vceqq_f64(a, a)); }
inline Reg both(Reg a, Reg b) { return fromMask(vandq_u64(toMask(a), toMask(b))); }
inline Reg either(Reg a, Reg b) { return fromMask(vorrq_u64(toMask(a), toMask(b))); }
inline Reg select(Reg mask, Reg a, Reg b) { return vbslq_f64(toMask(mask), a, b); }
inline Reg where(Reg mask, Reg a) { return fromMask(vandq_u64(toMask(mask), toMask(a))); }
inline Reg unless(Reg mask, Reg a) { return fromMask(vbicq_u64(toMask(a), toMask(mask))); }
inline Reg abs(Reg a) { return vabsq_f64(a); }
inline bool all(Reg mask) { return (vgetq_lane_u64(toMask(mask), 0) & vgetq_lane_u64(toMask(mask), 1)) != 0; }
inline double lane0(Reg v) { return vgetq_lane_f64(v, 0); }
inline double lane1(Reg v) { return vgetq_lane_f64(v, 1); }
inline Reg evens(Reg a, Reg b) { return vzip1q_f64(a, b); }
inline Reg odds(Reg a, Reg b) { return vzip2q_f64(a, b); }
#else
struct Reg {
    double l0, l1;
};
inline double maskOf(bool b)
{
    const std::uint64_t bits = b ? ~std::uint64_t{0} : 0;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}
inline bool isTrue(double m)
{
    std::uint64_t bits;
    std::memcpy(&bits, &m, sizeof bits);
    return bits != 0;
}
inline Reg load(const double* p) { return {p[0], p[1]}; }
inline void store(double* p, Reg v) { p[0] = v.l0, p[1] = v.l1; }
inline Reg set(double lane0, double lane1) { return {lane0, lane1}; }
inline Reg splat(double v) { return {v, v}; }
inline Reg add(Reg a, Reg b) { return {a.l0 + b.l0, a.l1 + b.l1}; }
inline Reg sub(Reg a, Reg b) { return {a.l0 - b.l0, a.l1 - b.l1}; }
inline Reg mul(Reg a, Reg b) { return {a.l0 * b.l0, a.l1 * b.l1}; }
inline Reg max(Reg a, Reg b) { return {a.l0 > b.l0 ? a.l0 : b.l0, a.l1 > b.l1 ? a.l1 : b.l1}; }
inline Reg less(Reg a, Reg b) { return {maskOf(a.l0 < b.l0), maskOf(a.l1 < b.l1)}; }
inline Reg atLeast(Reg a, Reg b) { return {maskOf(a.l0 >= b.l0), maskOf(a.l1 >= b.l1)}; }
inline Reg equal(Reg a, Reg b) { return {maskOf(a.l0 == b.l0), maskOf(a.l1 == b.l1)}; }
inline Reg notNaN(Reg a) { return {maskOf(a.l0 == a.l0), maskOf(a.l1 == a.l1)}; }
inline Reg both(Reg a, Reg b) { return {maskOf(isTrue(a.l0) && isTrue(b.l0)), maskOf(isTrue(a.l1) && isTrue(b.l1))}; }
inline Reg either(Reg a, Reg b) { return {maskOf(isTrue(a.l0) || isTrue(b.l0)), maskOf(isTrue(a.l1) || isTrue(b.l1))}; }
inline Reg select(Reg mask, Reg a, Reg b) { return {isTrue(mask.l0) ? a.l0 : b.l0, isTrue(mask.l1) ? a.l1 : b.l1}; }
inline Reg where(Reg mask, Reg a) { return select(mask, a, splat(0.0)); }
inline Reg unless(Reg mask, Reg a) { return select(mask, splat(0.0), a); }
inline Reg abs(Reg a) { return {std::fabs(a.l0), std::fabs(a.l1)}; }
inline bool all(Reg mask) { return isTrue(mask.l0) && isTrue(mask.l1); }
inline double lane0(Reg v) { return v.l0; }
inline double lane1(Reg v) { return v.l1; }
inline Reg evens(Reg a, Reg b) { return {a.l0, b.l0}; }
inline Reg odds(Reg a, Reg b) { return {a.l1, b.l1}; }
#endif


// Two neighbouring values of any sample type as doubles, the first in lane 0.
template <class T>
inline Reg loadAsDoubles(const T* p)
{
    if constexpr (std::is_same_v<T, double>) {
        return load(p);
    } else if constexpr (std::is_same_v<T, float>) {
#if defined(__SSE2__)
        return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
#elif defined(__aarch64__)
        return vcvt_f64_f32(vld1_f32(p));
#else
        return set(static_cast<double>(p[0]), static_cast<double>(p[1]));
#endif
    } else {
        return set(static_cast<double>(p[0]), static_cast<double>(p[1]));
    }
}

}  // namespace lanes2
}  // namespace
