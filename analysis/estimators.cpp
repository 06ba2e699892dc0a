#include "analysis/matrix.h"

#include "analysis/extended.h"
#include "analysis/fourier.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>

// The arithmetic here is pinned to the last bit: intermediate values are
// extended (a 64-bit significand, as the x87's, the same on every
// processor), one tenth is the extended value nearest to 0.1, and every
// stored point, every sum after each addition and the slope are rounded to
// double.  The logarithms and exponentials are the double ones.

namespace {

const Extended tenth = Extended(1LL) / Extended(10LL);

Extended ext(double v) { return Extended(v); }

double checkedLog(double v)
{
    if (!(v > 0.0)) throw std::domain_error("logarithm of " + std::to_string(v));
    return std::log(v);
}

enum class Thresholds { logarithmic, linear };

double estimate(Thresholds kind, const matrix& spectrum, int cols, int rows, const Notifier& notify,
                FitPoints* points)
{
    const long long extent = static_cast<long long>(cols) * rows;
    if (extent > static_cast<long long>(spectrum.getRows()) * spectrum.getCols())
        throw std::invalid_argument("estimator: " + std::to_string(cols) + " x " + std::to_string(rows) +
                                    " values asked of a smaller spectrum");

    const bool logarithmic = kind == Thresholds::logarithmic;
    const int first = logarithmic ? 0 : 1;
    const int last = logarithmic ? 9 : 8;
    const Extended w = logarithmic ? tenth : ext(0.125);

    const double M = lastRowMaximum(spectrum);
    double x[10];
    double y[10];
    for (int i = 0; i < 10; ++i) x[i] = y[i] = std::numeric_limits<double>::quiet_NaN();
    double Sx = 0.0, Sxx = 0.0, Sy = 0.0, Sxy = 0.0;

    try {
        for (int i = first; i <= last; ++i) {
            if (logarithmic)
                x[i] = ((ext(checkedLog(M)) - ext(0.35)) - Extended(2LL * i) * tenth).toDouble();
            else
                x[i] = checkedLog(((Extended(static_cast<long long>(i)) * ext(M)) * tenth).toDouble());
            const double t = std::exp(x[i]);
            const double n = countAbove(spectrum.getData(), cols, rows, t);
            y[i] = checkedLog(n);
        }
    } catch (...) {
        notify("PALANT!!!");
    }

    for (int j = first; j <= last; ++j) {
        const Extended xj = ext(x[j]);
        const Extended yj = ext(y[j]);
        Sx = (w * xj + ext(Sx)).toDouble();
        Sxx = ((xj * xj) * w + ext(Sxx)).toDouble();
        Sy = (w * yj + ext(Sy)).toDouble();
        Sxy = ((xj * yj) * w + ext(Sxy)).toDouble();
    }
    if (points) {
        points->first = first;
        points->count = last - first + 1;
        for (int i = 0; i < 10; ++i) {
            points->x[i] = x[i];
            points->y[i] = y[i];
        }
    }
    const Extended sx = ext(Sx);
    return ((ext(Sxy) - sx * ext(Sy)) / (ext(Sxx) - sx * ext(Sx))).toDouble();
}

}  // namespace

void notifyOnStandardError(const std::string& message) { std::cerr << message << '\n'; }

#if defined(__x86_64__) || defined(__i386__)
namespace {

// A compare gives all ones (-1) per value above the threshold; subtracting
// the masks counts them, eight values per round in four 64-bit pairs.
long long countAbove128(const double* values, long long n, double threshold, std::int64_t& count)
{
    const __m128d t = _mm_set1_pd(threshold);
    __m128i c0 = _mm_setzero_si128(), c1 = c0, c2 = c0, c3 = c0;
    long long i = 0;
    for (; i + 8 <= n; i += 8) {
        c0 = _mm_sub_epi64(c0, _mm_castpd_si128(_mm_cmpgt_pd(_mm_loadu_pd(values + i), t)));
        c1 = _mm_sub_epi64(c1, _mm_castpd_si128(_mm_cmpgt_pd(_mm_loadu_pd(values + i + 2), t)));
        c2 = _mm_sub_epi64(c2, _mm_castpd_si128(_mm_cmpgt_pd(_mm_loadu_pd(values + i + 4), t)));
        c3 = _mm_sub_epi64(c3, _mm_castpd_si128(_mm_cmpgt_pd(_mm_loadu_pd(values + i + 6), t)));
    }
    std::int64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(_mm_add_epi64(c0, c1), _mm_add_epi64(c2, c3)));
    count += lanes[0] + lanes[1];
    return i;
}

}  // namespace
#endif

#if defined(__x86_64__)
namespace {

// The wider counts, compiled for their instruction sets and called only on
// processors that have them (the count is exact whichever counts).  Each
// counts values [0, n - n % lanes) and returns how many it looked at.
__attribute__((target("avx512f"))) long long countAbove512(const double* values, long long n, double threshold,
                                                           std::int64_t& count)
{
    const __m512d t = _mm512_set1_pd(threshold);
    const __m512i one = _mm512_set1_epi64(1);
    __m512i c0 = _mm512_setzero_si512(), c1 = c0;
    long long i = 0;
    for (; i + 16 <= n; i += 16) {
        c0 = _mm512_mask_add_epi64(c0, _mm512_cmp_pd_mask(_mm512_loadu_pd(values + i), t, _CMP_GT_OQ), c0, one);
        c1 = _mm512_mask_add_epi64(c1, _mm512_cmp_pd_mask(_mm512_loadu_pd(values + i + 8), t, _CMP_GT_OQ), c1, one);
    }
    std::int64_t lanes[8];
    _mm512_storeu_si512(lanes, _mm512_add_epi64(c0, c1));
    for (std::int64_t lane : lanes) count += lane;
    return i;
}

__attribute__((target("avx2"))) long long countAbove256(const double* values, long long n, double threshold,
                                                        std::int64_t& count)
{
    const __m256d t = _mm256_set1_pd(threshold);
    __m256i c0 = _mm256_setzero_si256(), c1 = c0;
    long long i = 0;
    for (; i + 8 <= n; i += 8) {
        c0 = _mm256_sub_epi64(c0, _mm256_castpd_si256(_mm256_cmp_pd(_mm256_loadu_pd(values + i), t, _CMP_GT_OQ)));
        c1 = _mm256_sub_epi64(c1, _mm256_castpd_si256(_mm256_cmp_pd(_mm256_loadu_pd(values + i + 4), t, _CMP_GT_OQ)));
    }
    std::int64_t lanes[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), _mm256_add_epi64(c0, c1));
    count += lanes[0] + lanes[1] + lanes[2] + lanes[3];
    return i;
}

const int countLanes = processorVectorBits(512) / 64;

}  // namespace
#endif

double countAbove(const double* values, int cols, int rows, double threshold)
{
    const long long n = static_cast<long long>(cols) * rows;
    if (n <= 0) return 0.0;
    long long i = 0;
    std::int64_t count = 0;
#if defined(__x86_64__)
    i = countLanes == 8   ? countAbove512(values, n, threshold, count)
        : countLanes == 4 ? countAbove256(values, n, threshold, count)
                          : countAbove128(values, n, threshold, count);
#elif defined(__i386__)
    i = countAbove128(values, n, threshold, count);
#endif
    for (; i < n; ++i) count += values[i] > threshold ? 1 : 0;
    return static_cast<double>(count);
}

double estimateMethod1(const matrix& spectrum, int cols, int rows, const Notifier& notify, FitPoints* points)
{
    return estimate(Thresholds::logarithmic, spectrum, cols, rows, notify, points);
}

double estimateMethod2(const matrix& spectrum, int cols, int rows, const Notifier& notify, FitPoints* points)
{
    return estimate(Thresholds::linear, spectrum, cols, rows, notify, points);
}
