#include "analysis/fourier.h"

#include "analysis/pair.h"

#if ORVANE_X86
#include <immintrin.h>
#endif

#ifdef __linux__
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// Every butterfly is  t = w * c;  c = a - t;  a = a + t  with
// tr = wr*cr - wi*ci and ti = wr*ci + wi*cr, and the twiddle factor w of
// index m in a stage is the m-th value of the recurrence
// w <- (w*alpha - ...) + w started at (1, 0).  The code below only chooses
// the order of the disjoint butterflies of a stage, runs up to three stages
// on the same points while they are in registers, does the bit reversal
// where the first three stages load and store their points, splits the work
// between threads and reruns the recurrence where it needs a value again, so
// the result is bit for bit that of the plain loop order.  No FMA: this file
// is compiled with -ffp-contract=off.

namespace {

constexpr double K = 6.28318530717959;

struct Rotation {
    double alpha;  // cos(theta) - 1, as -2 sin^2(theta/2)
    double beta;   // sin(theta)
};

Rotation stageRotation(int direction, std::uint32_t h)
{
    const double theta = direction * K / (2.0 * h);
    const double sigma = std::sin(theta / 2);
    return {-2.0 * sigma * sigma, std::sin(theta)};
}

// A twiddle factor as the vector butterfly wants it: (wr, wr) and (-wi, wi).
struct TwiddleVec {
    Pair wr;
    Pair wiSign;
};

// One butterfly on two complex values in registers.  (-wi)*ci added equals
// wi*ci subtracted exactly, so this is the scalar formula bit for bit.
inline void butterfly(Pair& a, Pair& c, const TwiddleVec& w)
{
    const Pair swapped = pairSwap(c);
    const Pair t = pairAdd(pairMul(w.wr, c), pairMul(w.wiSign, swapped));
    c = pairSub(a, t);
    a = pairAdd(a, t);
}

// Three-bit numbers with their bits in reverse order.
constexpr int rev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// Where point k of a group sits: row k, or with Reversed (three stages
// only) row k with its three bits reversed.
template <bool Reversed>
constexpr std::size_t pointRow(int k)
{
    return static_cast<std::size_t>(Reversed ? rev3[k] : k);
}

// S consecutive stages h, 2h, .. on the 2^S points p[k*stride] (stride in
// doubles), k = 0 .. 2^S - 1, the points of index m + k*h of one block
// (with Reversed, point k at p[pointRow(k)*stride]).
// tw holds the twiddles of stage h at m; of stage 2h at m, m + h; of stage
// 4h at m, m + h, m + 2h, m + 3h.  With `scale`, every result is multiplied
// by *scale after its last butterfly, as the separate scaling pass would.
template <int S>
inline void stagesInRegisters(Pair (&x)[1 << S], const TwiddleVec* tw)
{
    constexpr int points = 1 << S;
    for (int k = 0; k < points; k += 2) butterfly(x[k], x[k + 1], tw[0]);
    if constexpr (S >= 2) {
        for (int k = 0; k < points; k += 4) {
            butterfly(x[k], x[k + 2], tw[1]);
            butterfly(x[k + 1], x[k + 3], tw[2]);
        }
    }
    if constexpr (S >= 3) {
        for (int k = 0; k < 4; ++k) butterfly(x[k], x[k + 4], tw[3 + k]);
    }
}

template <int S, bool Reversed = false>
inline void fusedStages(double* p, std::size_t stride, const TwiddleVec* tw, const Pair* scale)
{
    constexpr int points = 1 << S;
    Pair x[points];
    for (int k = 0; k < points; ++k) x[k] = pairLoad(p + pointRow<Reversed>(k) * stride);
    stagesInRegisters<S>(x, tw);
    if (scale)
        for (int k = 0; k < points; ++k) x[k] = pairMul(*scale, x[k]);
    for (int k = 0; k < points; ++k) pairStore(p + pointRow<Reversed>(k) * stride, x[k]);
}

// The twiddle factors of S fused stages starting at h, for m = 0, 1, ...:
// one recurrence per value needed, the later ones started ahead by h, 2h, 3h
// steps of their stage's own recurrence.  Each runs on (wr, wi) in one
// register: (wr*alpha + wi*(-beta)) + wr and (wi*alpha + wr*beta) + wi are
// the scalar recurrence's operations exactly.
class FusedTwiddles {
public:
    FusedTwiddles() = default;
    FusedTwiddles(int direction, std::uint32_t h, int S) : stages(S)
    {
        int index = 0;
        for (int j = 0; j < S; ++j) {
            const Rotation r = stageRotation(direction, h << j);
            alpha[j] = pairSplat(r.alpha);
            betaSign[j] = pairSet(r.beta, -r.beta);
            for (std::uint32_t copy = 0; copy < (1u << j); ++copy, ++index) {
                w[index] = pairSet(0.0, 1.0);
                for (std::uint32_t step = 0; step < copy * h; ++step) w[index] = next(w[index], j);
            }
        }
    }

    void load(TwiddleVec* out) const
    {
        for (int i = 0; i < (1 << stages) - 1; ++i) out[i] = {pairLows(w[i], w[i]), wiSign(w[i])};
    }

    // How many values there are, and (wr, wi) of each.
    int count() const { return (1 << stages) - 1; }
    const Pair* values() const { return w; }

    // The stage of value i, and that stage's alpha and (-beta, beta).
    static int stageOf(int i) { return i == 0 ? 0 : i < 3 ? 1 : 2; }
    Pair alphaOf(int stage) const { return alpha[stage]; }
    Pair betaSignOf(int stage) const { return betaSign[stage]; }

    void advance()
    {
        int index = 0;
        for (int j = 0; j < stages; ++j)
            for (int copy = 0; copy < (1 << j); ++copy, ++index) w[index] = next(w[index], j);
    }

    // (-wi, wi) of a value.
    static Pair wiSign(Pair v) { return pairMul(pairHighs(v, v), pairSet(1.0, -1.0)); }

private:
    Pair next(Pair v, int stage) const
    {
        const Pair swapped = pairSwap(v);
        return pairAdd(pairAdd(pairMul(v, alpha[stage]), pairMul(swapped, betaSign[stage])), v);
    }

    int stages = 0;
    Pair alpha[3];
    Pair betaSign[3];
    Pair w[7];
};

// The stages of a dimension of length n, grouped: the first three (fewer
// when n < 8), then the one or two left over from threes, then threes.  The
// short group comes early, where it has few twiddle factors to work out.
// Calls pass(h, S) for each group in order; there are at most 10 groups.
template <class Pass>
void forEachStageGroup(std::uint32_t n, Pass pass)
{
    int stagesLeft = 0;
    while ((1u << stagesLeft) < n) ++stagesLeft;
    std::uint32_t h = 1;
    int S = std::min(stagesLeft, 3);
    while (stagesLeft > 0) {
        pass(h, S);
        h <<= S;
        stagesLeft -= S;
        S = stagesLeft % 3 != 0 ? stagesLeft % 3 : 3;
    }
}

// The low `bits` bits of x in reverse order.
inline std::uint32_t reverseBits(std::uint32_t x, int bits)
{
    if (bits == 0) return 0;
    x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    x = ((x >> 4) & 0x0f0f0f0fu) | ((x & 0x0f0f0f0fu) << 4);
    return __builtin_bswap32(x) >> (32 - bits);
}

// Bit reversal fused with the first three stages, for a sequence of n >= 64
// values.  Write a position as (A, X, B): A its top three bits, B its low
// three, X those between.  Reversal sends (A, X, B) to (rev B, rev X, rev A),
// so the tile of X (rows A, each 8 neighbours B, rows n/8 apart) holds
// exactly the inputs of the first three stages' blocks in the tile of rev X:
// block (A, rev X) takes column rev A of tile X, row rev k as its point k.
// Tiles X and rev X are read whole, then each one's butterflies are written
// into the other, so every block gets the values the separate reversal
// would have given it.  forEachTilePair calls pair(X, rev X) once for every
// X <= rev X.
template <class Pair>
void forEachTilePair(std::uint32_t n, Pair pair)
{
    int bits = 0;
    while ((64u << bits) < n) ++bits;
    for (std::uint32_t X = 0; X < (1u << bits); ++X) {
        const std::uint32_t revX = reverseBits(X, bits);
        if (revX >= X) pair(X, revX);
    }
}

// One complex value per register: the points of a column go straight to
// their row.  Wider registers hold neighbouring columns and transpose.
void sse2ReverseFirstStages(double* seq, std::uint32_t n, const TwiddleVec* tw)
{
    const std::size_t rowStride = 2ull * (n / 8);
    auto load = [&](std::uint32_t X, Pair (&r)[8][8]) {
        const double* tile = seq + 16ull * X;
        for (std::size_t a = 0; a < 8; ++a)
            for (std::size_t b = 0; b < 8; ++b) r[a][b] = pairLoad(tile + a * rowStride + 2 * b);
    };
    auto stages = [&](const Pair (&r)[8][8], std::uint32_t destTile) {
        for (int b = 0; b < 8; ++b) {
            Pair x[8];
            for (int k = 0; k < 8; ++k) x[k] = r[rev3[k]][b];
            stagesInRegisters<3>(x, tw);
            double* row = seq + 16ull * destTile + static_cast<std::size_t>(rev3[b]) * rowStride;
            for (int k = 0; k < 8; ++k) pairStore(row + 2 * k, x[k]);
        }
    };
    forEachTilePair(n, [&](std::uint32_t X, std::uint32_t revX) {
        Pair r[8][8];
        load(X, r);
        if (revX == X) {
            stages(r, X);
            return;
        }
        Pair other[8][8];
        load(revX, other);
        stages(r, revX);
        stages(other, X);
    });
}

// A strip of the strided pass: the group of points at base + t + k*stride
// for every t in [t0, t1) (doubles, even).
using StripKernel = void (*)(double* base, std::size_t stride, const TwiddleVec* tw, const Pair* scale,
                             std::size_t t0, std::size_t t1);

template <int S, bool Reversed = false>
void sse2Strip(double* base, std::size_t stride, const TwiddleVec* tw, const Pair* scale, std::size_t t0,
               std::size_t t1)
{
    for (std::size_t t = t0; t < t1; t += 2) fusedStages<S, Reversed>(base + t, stride, tw, scale);
}

// The same arithmetic on two complex values per 256-bit register, for
// processors with AVX2 (checked at run time; the program runs on any x86-64).
#if ORVANE_X86
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

struct TwiddleVec256 {
    __m256d wr;
    __m256d wiSign;
};

inline void butterfly256(__m256d& a, __m256d& c, const TwiddleVec256& w)
{
    const __m256d swapped = _mm256_permute_pd(c, 0x5);
    const __m256d t = _mm256_add_pd(_mm256_mul_pd(w.wr, c), _mm256_mul_pd(w.wiSign, swapped));
    c = _mm256_sub_pd(a, t);
    a = _mm256_add_pd(a, t);
}

// S fused stages on 2^S pairs of complex values, each pair in one register;
// the lanes may have twiddle factors of their own.
template <int S>
inline void avx2Stages(__m256d (&x)[1 << S], const TwiddleVec256* tw)
{
    constexpr int points = 1 << S;
    for (int k = 0; k < points; k += 2) butterfly256(x[k], x[k + 1], tw[0]);
    if constexpr (S >= 2) {
        for (int k = 0; k < points; k += 4) {
            butterfly256(x[k], x[k + 2], tw[1]);
            butterfly256(x[k + 1], x[k + 3], tw[2]);
        }
    }
    if constexpr (S >= 3) {
        for (int k = 0; k < 4; ++k) butterfly256(x[k], x[k + 4], tw[3 + k]);
    }
}

template <int S, bool Reversed = false>
inline void avx2Points(double* p, std::size_t stride, const TwiddleVec256* tw, const __m256d* scale)
{
    constexpr int points = 1 << S;
    __m256d x[points];
    for (int k = 0; k < points; ++k) x[k] = _mm256_loadu_pd(p + pointRow<Reversed>(k) * stride);
    avx2Stages<S>(x, tw);
    if (scale)
        for (int k = 0; k < points; ++k) x[k] = _mm256_mul_pd(*scale, x[k]);
    for (int k = 0; k < points; ++k) _mm256_storeu_pd(p + pointRow<Reversed>(k) * stride, x[k]);
}

template <int S, bool Reversed = false>
void avx2Strip(double* base, std::size_t stride, const TwiddleVec* tw128, const __m128d* scale128, std::size_t t0,
               std::size_t t1)
{
    TwiddleVec256 tw[7];
    for (int i = 0; i < (1 << S) - 1; ++i)
        tw[i] = {_mm256_broadcast_pd(&tw128[i].wr), _mm256_broadcast_pd(&tw128[i].wiSign)};
    const __m256d scale = scale128 ? _mm256_broadcast_pd(scale128) : _mm256_set1_pd(1.0);
    std::size_t t = t0;
    for (; t + 4 <= t1; t += 4) avx2Points<S, Reversed>(base + t, stride, tw, scale128 ? &scale : nullptr);
    if (t < t1) fusedStages<S, Reversed>(base + t, stride, tw128, scale128);
}

// A stage group of the contiguous pass with h >= 2 on sequences [g0, g1):
// the lanes of a register hold the points of index m and m + 1.
template <int S>
void avx2ContiguousGroup(double* data, std::uint32_t n, std::uint32_t g0, std::uint32_t g1, std::uint32_t h,
                         FusedTwiddles& twiddles, const __m128d* scale128)
{
    const std::uint32_t span = h << S;
    const __m256d scale = scale128 ? _mm256_broadcast_pd(scale128) : _mm256_set1_pd(1.0);
    // Four values of m at a time, one cache line of each point: the twiddles
    // of the four are worked out once for all the sequences of the group.
    const std::uint32_t chunk = h >= 4 ? 4 : 2;
    TwiddleVec256 tw[2][7];
    for (std::uint32_t m0 = 0; m0 < h; m0 += chunk) {
        for (std::uint32_t pair = 0; pair < chunk / 2; ++pair) {
            __m128d first[7];
            for (int i = 0; i < (1 << S) - 1; ++i) first[i] = twiddles.values()[i];
            twiddles.advance();
            const __m128d* second = twiddles.values();
            for (int i = 0; i < (1 << S) - 1; ++i)
                tw[pair][i] = {_mm256_set_m128d(_mm_unpacklo_pd(second[i], second[i]), _mm_unpacklo_pd(first[i], first[i])),
                               _mm256_set_m128d(FusedTwiddles::wiSign(second[i]), FusedTwiddles::wiSign(first[i]))};
            twiddles.advance();
        }
        for (std::uint32_t g = g0; g < g1; ++g) {
            double* seq = data + 2ull * n * g;
            for (std::uint32_t b = 0; b < n; b += span)
                for (std::uint32_t pair = 0; pair < chunk / 2; ++pair)
                    avx2Points<S>(seq + 2 * (b + m0 + 2 * pair), 2 * h, tw[pair], scale128 ? &scale : nullptr);
        }
    }
}

// The fused bit reversal and first three stages with two columns per
// register: rows of two complex values come back by a 2 x 2 transpose.
void avx2ReverseFirstStages(double* seq, std::uint32_t n, const TwiddleVec* tw128)
{
    TwiddleVec256 tw[7];
    for (int i = 0; i < 7; ++i) tw[i] = {_mm256_broadcast_pd(&tw128[i].wr), _mm256_broadcast_pd(&tw128[i].wiSign)};
    const std::size_t rowStride = 2ull * (n / 8);
    auto load = [&](std::uint32_t X, __m256d (&r)[8][4]) {
        const double* tile = seq + 16ull * X;
        for (std::size_t a = 0; a < 8; ++a)
            for (std::size_t q = 0; q < 4; ++q) r[a][q] = _mm256_loadu_pd(tile + a * rowStride + 4 * q);
    };
    auto stages = [&](const __m256d (&r)[8][4], std::uint32_t destTile) {
        for (int q = 0; q < 4; ++q) {
            __m256d x[8];
            for (int k = 0; k < 8; ++k) x[k] = r[rev3[k]][q];
            avx2Stages<3>(x, tw);
            // The low lane of x[k] is point k of row rev3(2q), the high lane of row rev3(2q + 1).
            double* low = seq + 16ull * destTile + static_cast<std::size_t>(rev3[2 * q]) * rowStride;
            double* high = seq + 16ull * destTile + static_cast<std::size_t>(rev3[2 * q + 1]) * rowStride;
            for (int k = 0; k < 8; k += 2) {
                _mm256_storeu_pd(low + 2 * k, _mm256_permute2f128_pd(x[k], x[k + 1], 0x20));
                _mm256_storeu_pd(high + 2 * k, _mm256_permute2f128_pd(x[k], x[k + 1], 0x31));
            }
        }
    };
    forEachTilePair(n, [&](std::uint32_t X, std::uint32_t revX) {
        __m256d r[8][4];
        load(X, r);
        if (revX == X) {
            stages(r, X);
            return;
        }
        __m256d other[8][4];
        load(revX, other);
        stages(r, revX);
        stages(other, X);
    });
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// Four complex values per 512-bit register, for processors with AVX-512F
// and DQ (checked at run time).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq")
// GCC 12's own AVX-512 headers start some results from a self-initialised
// "undefined" register, which its uninitialised-use warning reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

struct TwiddleVec512 {
    __m512d wr;
    __m512d wiSign;
};

inline void butterfly512(__m512d& a, __m512d& c, const TwiddleVec512& w)
{
    const __m512d swapped = _mm512_permute_pd(c, 0x55);
    const __m512d t = _mm512_add_pd(_mm512_mul_pd(w.wr, c), _mm512_mul_pd(w.wiSign, swapped));
    c = _mm512_sub_pd(a, t);
    a = _mm512_add_pd(a, t);
}

template <int S>
inline void avx512Stages(__m512d (&x)[1 << S], const TwiddleVec512* tw)
{
    constexpr int points = 1 << S;
    for (int k = 0; k < points; k += 2) butterfly512(x[k], x[k + 1], tw[0]);
    if constexpr (S >= 2) {
        for (int k = 0; k < points; k += 4) {
            butterfly512(x[k], x[k + 2], tw[1]);
            butterfly512(x[k + 1], x[k + 3], tw[2]);
        }
    }
    if constexpr (S >= 3) {
        for (int k = 0; k < 4; ++k) butterfly512(x[k], x[k + 4], tw[3 + k]);
    }
}

template <int S, bool Reversed = false>
inline void avx512Points(double* p, std::size_t stride, const TwiddleVec512* tw, const __m512d* scale)
{
    constexpr int points = 1 << S;
    __m512d x[points];
    for (int k = 0; k < points; ++k) x[k] = _mm512_loadu_pd(p + pointRow<Reversed>(k) * stride);
    avx512Stages<S>(x, tw);
    if (scale)
        for (int k = 0; k < points; ++k) x[k] = _mm512_mul_pd(*scale, x[k]);
    for (int k = 0; k < points; ++k) _mm512_storeu_pd(p + pointRow<Reversed>(k) * stride, x[k]);
}

template <int S, bool Reversed = false>
void avx512Strip(double* base, std::size_t stride, const TwiddleVec* tw128, const __m128d* scale128, std::size_t t0,
                 std::size_t t1)
{
    TwiddleVec512 tw[7];
    for (int i = 0; i < (1 << S) - 1; ++i)
        tw[i] = {_mm512_broadcast_f64x2(tw128[i].wr), _mm512_broadcast_f64x2(tw128[i].wiSign)};
    const __m512d scale = _mm512_broadcast_f64x2(scale128 ? *scale128 : _mm_set1_pd(1.0));
    std::size_t t = t0;
    for (; t + 8 <= t1; t += 8) avx512Points<S, Reversed>(base + t, stride, tw, scale128 ? &scale : nullptr);
    for (; t < t1; t += 2) fusedStages<S, Reversed>(base + t, stride, tw128, scale128);
}

// The twiddle factors of a FusedTwiddles for m .. m + 3 in the four lanes
// of 512-bit registers.  Lane l of each register runs its own copy of the
// scalar recurrence, started l steps ahead, so every lane sees the exact
// value; advance() moves all lanes on by four steps.
class LaneTwiddles {
public:
    LaneTwiddles() = default;

    explicit LaneTwiddles(FusedTwiddles twiddles) : values(twiddles.count())
    {
        __m128d lanes[4][7];
        for (int l = 0; l < 4; ++l) {
            for (int i = 0; i < values; ++i) lanes[l][i] = twiddles.values()[i];
            twiddles.advance();
        }
        for (int i = 0; i < values; ++i) {
            w[i] = _mm512_insertf64x2(_mm512_insertf64x2(_mm512_insertf64x2(_mm512_castpd128_pd512(lanes[0][i]),
                                                                            lanes[1][i], 1),
                                                         lanes[2][i], 2),
                                      lanes[3][i], 3);
            alpha[i] = _mm512_broadcast_f64x2(twiddles.alphaOf(FusedTwiddles::stageOf(i)));
            betaSign[i] = _mm512_broadcast_f64x2(twiddles.betaSignOf(FusedTwiddles::stageOf(i)));
        }
    }

    void load(TwiddleVec512* out) const
    {
        const __m512d sign = _mm512_broadcast_f64x2(_mm_set_pd(1.0, -1.0));
        for (int i = 0; i < values; ++i)
            out[i] = {_mm512_unpacklo_pd(w[i], w[i]), _mm512_mul_pd(_mm512_unpackhi_pd(w[i], w[i]), sign)};
    }

    void advance()
    {
        for (int step = 0; step < 4; ++step)
            for (int i = 0; i < values; ++i) {
                const __m512d swapped = _mm512_permute_pd(w[i], 0x55);
                w[i] = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(w[i], alpha[i]), _mm512_mul_pd(swapped, betaSign[i])),
                                     w[i]);
            }
    }

private:
    int values = 0;
    __m512d w[7], alpha[7], betaSign[7];
};

// A stage group of the contiguous pass with h >= 4 on sequences [g0, g1):
// the lanes of a register hold the points of index m .. m + 3, one cache line.
template <int S>
void avx512ContiguousGroup(double* data, std::uint32_t n, std::uint32_t g0, std::uint32_t g1, std::uint32_t h,
                           const FusedTwiddles& twiddles, const __m128d* scale128)
{
    const std::uint32_t span = h << S;
    const __m512d scale = _mm512_broadcast_f64x2(scale128 ? *scale128 : _mm_set1_pd(1.0));
    LaneTwiddles lanes(twiddles);
    for (std::uint32_t m0 = 0; m0 < h; m0 += 4) {
        TwiddleVec512 tw[7];
        lanes.load(tw);
        for (std::uint32_t g = g0; g < g1; ++g) {
            double* seq = data + 2ull * n * g;
            for (std::uint32_t b = 0; b < n; b += span)
                avx512Points<S>(seq + 2 * (b + m0), 2 * h, tw, scale128 ? &scale : nullptr);
        }
        lanes.advance();
    }
}

// The first three stages on tile rows r (rows A', columns B' in two halves)
// and the results stored as rows of the tile at `dest` (rows `rowStride`
// doubles apart).  Lanes hold columns; a 4 x 4 transpose of complex values
// turns them back into rows.
inline void avx512TileStages(const __m512d (&r)[8][2], double* dest, std::size_t rowStride, const TwiddleVec512* tw)
{
    for (int half = 0; half < 2; ++half) {
        __m512d x[8];
        for (int k = 0; k < 8; ++k) x[k] = r[rev3[k]][half];
        avx512Stages<3>(x, tw);
        // Lane l of x[k] is point k of the block in row rev3(4*half + l).
        for (int quarter = 0; quarter < 2; ++quarter) {
            const __m512d* q = x + 4 * quarter;
            const __m512d t0 = _mm512_shuffle_f64x2(q[0], q[1], 0x44);
            const __m512d t1 = _mm512_shuffle_f64x2(q[0], q[1], 0xEE);
            const __m512d t2 = _mm512_shuffle_f64x2(q[2], q[3], 0x44);
            const __m512d t3 = _mm512_shuffle_f64x2(q[2], q[3], 0xEE);
            const __m512d rows[4] = {_mm512_shuffle_f64x2(t0, t2, 0x88), _mm512_shuffle_f64x2(t0, t2, 0xDD),
                                     _mm512_shuffle_f64x2(t1, t3, 0x88), _mm512_shuffle_f64x2(t1, t3, 0xDD)};
            for (int l = 0; l < 4; ++l)
                _mm512_storeu_pd(dest + rev3[4 * half + l] * rowStride + 8 * quarter, rows[l]);
        }
    }
}

void avx512ReverseFirstStages(double* seq, std::uint32_t n, const TwiddleVec* tw128)
{
    TwiddleVec512 tw[7];
    for (int i = 0; i < 7; ++i)
        tw[i] = {_mm512_broadcast_f64x2(tw128[i].wr), _mm512_broadcast_f64x2(tw128[i].wiSign)};
    const std::size_t rowStride = 2ull * (n / 8);
    auto load = [&](std::uint32_t X, __m512d (&r)[8][2]) {
        const double* tile = seq + 16ull * X;
        for (int a = 0; a < 8; ++a) {
            r[a][0] = _mm512_loadu_pd(tile + a * rowStride);
            r[a][1] = _mm512_loadu_pd(tile + a * rowStride + 8);
        }
    };
    forEachTilePair(n, [&](std::uint32_t X, std::uint32_t revX) {
        __m512d r[8][2];
        load(X, r);
        if (revX == X) {
            avx512TileStages(r, seq + 16ull * X, rowStride, tw);
            return;
        }
        __m512d other[8][2];
        load(revX, other);
        avx512TileStages(r, seq + 16ull * revX, rowStride, tw);
        avx512TileStages(other, seq + 16ull * X, rowStride, tw);
    });
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif
#endif  // ORVANE_X86

// The widest vectors this processor has, up to `bits`.
int supportedVectorBits(int bits)
{
#if ORVANE_X86
    __builtin_cpu_init();
    if (bits >= 512 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) return 512;
    if (bits >= 256 && __builtin_cpu_supports("avx2")) return 256;
#else
    (void)bits;
#endif
    return 128;
}

int vectorBits = supportedVectorBits(512);  // widest vectors in use: 128, 256 or 512

StripKernel sse2StripFor(int S) { return S == 1 ? sse2Strip<1> : S == 2 ? sse2Strip<2> : sse2Strip<3>; }

// Three stages with the points in bit-reversed rows, as the fused reversal wants.
StripKernel reversedStripKernel()
{
#if ORVANE_X86
    if (vectorBits >= 512) return avx512Strip<3, true>;
    if (vectorBits >= 256) return avx2Strip<3, true>;
#endif
    return sse2Strip<3, true>;
}

StripKernel stripKernelFor(int S)
{
#if ORVANE_X86
    if (vectorBits >= 512) return S == 1 ? avx512Strip<1> : S == 2 ? avx512Strip<2> : avx512Strip<3>;
    if (vectorBits >= 256) return S == 1 ? avx2Strip<1> : S == 2 ? avx2Strip<2> : avx2Strip<3>;
#endif
    return sse2StripFor(S);
}

// Calls swap(j, rev(j)) for every j < rev(j), rev reversing the low log2(n) bits.
template <class Swap>
void forEachBitReversedPair(std::uint32_t n, Swap swap)
{
    std::uint32_t rj = 0;
    for (std::uint32_t j = 0; j < n; ++j) {
        if (j < rj) swap(j, rj);
        std::uint32_t bit = n >> 1;
        while (bit != 0 && (rj & bit) != 0) {
            rj ^= bit;
            bit >>= 1;
        }
        rj |= bit;
    }
}

void swapDoubles(double* a, double* b, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const double t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

// 0: as many as the machine has.  Front ends may set it from any thread.
std::atomic<int> configuredThreads{0};

// Helper threads kept for all the passes of one transform: starting a
// thread costs about 50 us, a pass over a 1024 x 1024 array about 1 ms.
// Between passes the helpers spin briefly, then yield.
class Team {
public:
    explicit Team(int size)
    {
        for (int i = 1; i < size; ++i) {
            try {
                helpers.emplace_back(&Team::helperLoop, this, i);
            } catch (const std::system_error&) {
                break;  // fewer threads: the same result, later
            }
        }
    }

    ~Team()
    {
        stopping.store(true, std::memory_order_relaxed);
        generation.fetch_add(1, std::memory_order_release);
        for (std::thread& t : helpers) t.join();
    }

    Team(const Team&) = delete;
    Team& operator=(const Team&) = delete;

    int size() const { return static_cast<int>(helpers.size()) + 1; }

    // Runs body(part) for part = 0 .. parts - 1 (parts <= size()), part 0 on
    // the calling thread; returns when all are done.
    template <class Body>
    void run(int parts, Body& body)
    {
        if (parts <= 1 || helpers.empty()) {
            for (int part = 0; part < parts; ++part) body(part);
            return;
        }
        job = [](void* context, int part) { (*static_cast<Body*>(context))(part); };
        context = &body;
        jobParts = parts;
        pending.store(static_cast<int>(helpers.size()), std::memory_order_relaxed);
        generation.fetch_add(1, std::memory_order_release);
        body(0);
        waitUntil([this] { return pending.load(std::memory_order_acquire) == 0; });
    }

private:
    template <class Done>
    static void waitUntil(Done done)
    {
        for (int spins = 0; !done(); ++spins) {
            if (spins < 20000)
                cpuRelax();
            else
                std::this_thread::yield();
        }
    }

    void helperLoop(int part)
    {
        unsigned seen = 0;
        for (;;) {
            unsigned now = 0;
            waitUntil([&] { return (now = generation.load(std::memory_order_acquire)) != seen; });
            seen = now;
            if (stopping.load(std::memory_order_relaxed)) return;
            if (part < jobParts) job(context, part);
            pending.fetch_sub(1, std::memory_order_acq_rel);
        }
    }

    std::vector<std::thread> helpers;
    std::atomic<unsigned> generation{0};
    std::atomic<int> pending{0};
    std::atomic<bool> stopping{false};
    void (*job)(void*, int) = nullptr;
    void* context = nullptr;
    int jobParts = 0;
};

// How many threads a transform of `elements` complex values is worth.
int threadsFor(std::size_t elements)
{
    if (elements < (1u << 15)) return 1;
    int threads = configuredThreads;
    if (threads <= 0) threads = availableCores();
    return std::min(threads, 64);
}

// Bit reversal fused with the first three stages, for n >= 64 lines, each
// `line` doubles after the last, on the strip [t0, t1) of every line.  Write
// a line's index as (A, X, B): A its top three bits, B its low three.  The
// first three stages' block (A, X) takes as its point k the line
// (rev k, rev X, rev A), so: each column B' of the tile of Y (the 64 lines
// (A', Y, B')) gets its three stages in place, point k in row rev k; then
// the tiles of X and rev X exchange lines (A, X, B) <-> (rev B, rev X, rev A),
// which is the reversal itself.  The strip goes a chunk at a time so that
// both tiles' lines are still in cache for the exchange.
void reverseFirstStages(double* block, std::uint32_t n, std::size_t line, std::size_t t0, std::size_t t1,
                        const TwiddleVec* tw)
{
    constexpr std::size_t chunk = 256;  // doubles of a line per step: 2 KiB
    const StripKernel strip = reversedStripKernel();
    const std::size_t rowStride = line * (n / 8);
    auto lineAt = [&](std::uint32_t A, std::uint32_t X, std::uint32_t B) {
        return block + A * rowStride + line * (8 * X + B);
    };
    forEachTilePair(n, [&](std::uint32_t X, std::uint32_t revX) {
        for (std::size_t c0 = t0; c0 < t1; c0 += chunk) {
            const std::size_t c1 = std::min(t1, c0 + chunk);
            for (std::uint32_t B = 0; B < 8; ++B) {
                strip(lineAt(0, X, B), rowStride, tw, nullptr, c0, c1);
                if (revX != X) strip(lineAt(0, revX, B), rowStride, tw, nullptr, c0, c1);
            }
            for (std::uint32_t A = 0; A < 8; ++A)
                for (std::uint32_t B = 0; B < 8; ++B) {
                    const std::uint32_t revA = rev3[A], revB = rev3[B];
                    if (revX == X && (revB << 3 | revA) <= (A << 3 | B)) continue;
                    swapDoubles(lineAt(A, X, B) + c0, lineAt(revB, revX, revA) + c0, c1 - c0);
                }
        }
    });
}

// The recurrences' starting points of the stage groups of a dimension of
// length n, in order, worked out once per pass for all its threads.
void stageGroupStarts(std::uint32_t n, int direction, FusedTwiddles (&starts)[10])
{
    int group = 0;
    forEachStageGroup(n, [&](std::uint32_t h, int S) { starts[group++] = FusedTwiddles(direction, h, S); });
}

// Whether a dimension of length n does its bit reversal together with its
// first three stages: the tile pairs need 8 x 8 positions.
bool reversalFused(std::uint32_t n) { return n >= 64; }

// Transform along a contiguous dimension: `count` sequences of n complex
// values, one after another.  Each thread takes a share of the sequences and
// finishes cache-sized groups of them one group at a time, running the
// recurrence once per group and stage.
void contiguousPass(Team& team, double* data, std::uint32_t n, std::uint32_t count, int direction,
                    const double* scale)
{
    if (n < 2) return;
    const int parts = std::min<int>(team.size(), static_cast<int>(count));
    const Pair scaleVec = pairSplat(scale ? *scale : 1.0);
    FusedTwiddles starts[10];
    stageGroupStarts(n, direction, starts);
    const bool fusedFirst = reversalFused(n);
    auto body = [&](int part) {
        const std::uint32_t first = static_cast<std::uint32_t>(std::uint64_t{count} * part / parts);
        const std::uint32_t last = static_cast<std::uint32_t>(std::uint64_t{count} * (part + 1) / parts);
        const std::uint32_t rows = std::max<std::uint32_t>(1, 8192 / n);  // 128 KiB: measured best
        for (std::uint32_t g0 = first; g0 < last; g0 += rows) {
            const std::uint32_t g1 = std::min(last, g0 + rows);
            if (fusedFirst) {
                TwiddleVec tw[7];
                starts[0].load(tw);
                for (std::uint32_t g = g0; g < g1; ++g) {
                    double* seq = data + 2ull * n * g;
#if ORVANE_X86
                    if (vectorBits >= 512)
                        avx512ReverseFirstStages(seq, n, tw);
                    else if (vectorBits >= 256)
                        avx2ReverseFirstStages(seq, n, tw);
                    else
#endif
                        sse2ReverseFirstStages(seq, n, tw);
                }
            } else {
                for (std::uint32_t g = g0; g < g1; ++g) {
                    double* seq = data + 2ull * n * g;
                    forEachBitReversedPair(n, [seq](std::uint32_t j, std::uint32_t k) { swapDoubles(seq + 2 * j, seq + 2 * k, 2); });
                }
            }
            int group = 0;
            forEachStageGroup(n, [&](std::uint32_t h, int S) {
                FusedTwiddles twiddles = starts[group++];
                if (h == 1 && fusedFirst) return;
                const std::uint32_t span = h << S;
                const bool lastGroup = span == n;
                const Pair* s = lastGroup && scale ? &scaleVec : nullptr;
#if ORVANE_X86
                if (vectorBits >= 512 && h >= 4) {
                    if (S == 1) avx512ContiguousGroup<1>(data, n, g0, g1, h, twiddles, s);
                    if (S == 2) avx512ContiguousGroup<2>(data, n, g0, g1, h, twiddles, s);
                    if (S == 3) avx512ContiguousGroup<3>(data, n, g0, g1, h, twiddles, s);
                    return;
                }
                if (vectorBits >= 256 && h >= 2) {
                    if (S == 1) avx2ContiguousGroup<1>(data, n, g0, g1, h, twiddles, s);
                    if (S == 2) avx2ContiguousGroup<2>(data, n, g0, g1, h, twiddles, s);
                    if (S == 3) avx2ContiguousGroup<3>(data, n, g0, g1, h, twiddles, s);
                    return;
                }
#endif
                // One complex value per point: a strip of width one.
                const StripKernel strip = sse2StripFor(S);
                TwiddleVec tw[7];
                for (std::uint32_t m = 0; m < h; ++m) {
                    twiddles.load(tw);
                    for (std::uint32_t g = g0; g < g1; ++g) {
                        double* seq = data + 2ull * n * g;
                        for (std::uint32_t b = 0; b < n; b += span) strip(seq + 2 * (b + m), 2 * h, tw, s, 0, 2);
                    }
                    twiddles.advance();
                }
            });
        }
    };
    team.run(parts, body);
}

// Transform along a strided dimension: `count` blocks, each n lines of s
// contiguous complex values.  Lines never interact within their columns'
// transforms, so each thread takes a strip of columns through every stage;
// the innermost loops run along the lines.
void stridedPass(Team& team, double* data, std::uint32_t n, std::uint32_t s, std::uint32_t count, int direction,
                 const double* scale)
{
    if (n < 2) return;
    const std::size_t line = 2ull * s;  // doubles per line
    const int parts = std::min<int>(team.size(), static_cast<int>(s));
    const Pair scaleVec = pairSplat(scale ? *scale : 1.0);
    FusedTwiddles starts[10];
    stageGroupStarts(n, direction, starts);
    const bool fused = reversalFused(n);
    auto body = [&](int part) {
        const std::size_t t0 = 2 * (std::size_t{s} * part / parts);
        const std::size_t t1 = 2 * (std::size_t{s} * (part + 1) / parts);
        for (std::uint32_t q = 0; q < count; ++q) {
            double* block = data + line * n * q;
            if (fused) {
                TwiddleVec tw[7];
                starts[0].load(tw);
                reverseFirstStages(block, n, line, t0, t1, tw);
            } else {
                forEachBitReversedPair(n, [&](std::uint32_t j, std::uint32_t k) {
                    swapDoubles(block + line * j + t0, block + line * k + t0, t1 - t0);
                });
            }
            int group = 0;
            forEachStageGroup(n, [&](std::uint32_t h, int S) {
                FusedTwiddles twiddles = starts[group++];
                if (h == 1 && fused) return;
                const std::uint32_t span = h << S;
                const Pair* sv = span == n && scale ? &scaleVec : nullptr;
                const StripKernel strip = stripKernelFor(S);
                TwiddleVec tw[7];
                for (std::uint32_t m = 0; m < h; ++m) {
                    twiddles.load(tw);
                    for (std::uint32_t b = 0; b < n; b += span) {
                        strip(block + line * (b + m), line * h, tw, sv, t0, t1);
                    }
                    twiddles.advance();
                }
            });
        }
    };
    team.run(parts, body);
}

bool isPowerOfTwo(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

// The transform proper; with `scale`, the last pass also multiplies every
// value by *scale (when there is a last pass: all lengths 1 leave it undone).
bool transform(double* data, const std::uint32_t* lengths, int dims, int direction, const double* scale)
{
    if (dims <= 0) return false;
    if (lengths == nullptr) throw std::invalid_argument("fourierTransformND: no lengths given");
    if (direction != 1 && direction != -1)
        throw std::invalid_argument("fourierTransformND: direction must be +1 or -1, not " +
                                    std::to_string(direction));
    unsigned long long total = 1;
    for (int k = 0; k < dims; ++k) {
        if (!isPowerOfTwo(lengths[k]))
            throw std::invalid_argument("fourierTransformND: length " + std::to_string(lengths[k]) +
                                        " is not a power of two");
        total *= lengths[k];
        if (2 * total >= 1ull << 28)
            throw std::invalid_argument("fourierTransformND: the array reaches the limit of 2^28 doubles");
    }
    if (data == nullptr) throw std::invalid_argument("fourierTransformND: no data");

    int lastPass = -1;
    for (int k = dims - 1; k >= 0; --k)
        if (lengths[k] > 1) lastPass = k;

    const auto N = static_cast<std::uint32_t>(total);
    Team team(threadsFor(N));
    std::uint32_t s = 1;
    for (int k = dims - 1; k >= 0; --k) {
        const std::uint32_t n = lengths[k];
        const std::uint32_t r = N / (n * s);
        const double* passScale = k == lastPass ? scale : nullptr;
        if (s == 1)
            contiguousPass(team, data, n, r, direction, passScale);
        else
            stridedPass(team, data, n, s, r, direction, passScale);
        s *= n;
    }
    return lastPass >= 0;
}

}  // namespace

void setTransformThreads(int threads) { configuredThreads = threads; }

int availableCores()
{
#ifdef __linux__
    // The cores this process may run on (a container or taskset may allow
    // fewer than the machine has).
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
#endif
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int setTransformVectorBits(int bits)
{
    vectorBits = supportedVectorBits(bits);
    return vectorBits;
}

void fourierTransformND(double* data, const std::uint32_t* lengths, int dims, int direction)
{
    transform(data, lengths, dims, direction, nullptr);
}

void fourierTransform2D(double* data, std::uint32_t cols, std::uint32_t rows, int direction)
{
    const std::uint32_t lengths[2] = {rows, cols};
    if (direction != 1) {
        transform(data, lengths, 2, direction, nullptr);
        return;
    }
    const double f = 1.0 / static_cast<std::uint32_t>(rows * cols);
    if (transform(data, lengths, 2, direction, &f)) return;
    const std::size_t count = 2ull * rows * cols;
    for (std::size_t i = 0; i < count; ++i) data[i] = f * data[i];
}
