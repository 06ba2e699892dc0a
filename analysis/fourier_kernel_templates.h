// The transform's kernels, written once over a vector layer V.  V::Reg holds
// V::lanes complex values (interleaved real, imaginary); V gives load, store,
// add, sub, mul, splat, swap (real and imaginary of each value), broadcast
// (one Vec128 value into every lane), gather (lanes Vec128 values, one per
// lane) and transpose (lanes x lanes values in lanes registers).  Each width's translation unit
// defines its layer, includes this and builds its table with kernelTable<V>().
// Everything here is in an anonymous namespace: no function built with one
// unit's flags can stand in for another unit's at link time.
//
// Every butterfly is  t = w * c;  c = a - t;  a = a + t  with
// tr = wr*cr - wi*ci and ti = wr*ci + wi*cr, and the twiddle factor w of
// index m in a stage is the m-th value of the recurrence
// w <- (w*alpha - ...) + w started at (1, 0).  The kernels only choose the
// order of the disjoint butterflies of a stage, run up to three stages on the
// same points while they are in registers, do the bit reversal where the
// first three stages load and store their points, and gather the twiddle
// factors of neighbouring m into the lanes of one register, so the result is
// bit for bit that of the plain loop order.  No FMA: all of it is compiled with
// -ffp-contract=off.
#pragma once

#include "analysis/fourier_kernels.h"
#include "analysis/fourier_order.h"
#include "analysis/vec128.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {

// A twiddle factor in every lane as the butterflies want it: (wr, wr) and
// (-wi, wi).
template <class V>
struct Twiddle {
    typename V::Reg wr;
    typename V::Reg wiSign;
};

// One butterfly on lanes complex values in each of a and c.  (-wi)*ci added
// equals wi*ci subtracted exactly, so this is the scalar formula bit for bit.
template <class V>
inline void butterfly(typename V::Reg& a, typename V::Reg& c, const Twiddle<V>& w)
{
    const typename V::Reg swapped = V::swap(c);
    const typename V::Reg t = V::add(V::mul(w.wr, c), V::mul(w.wiSign, swapped));
    c = V::sub(a, t);
    a = V::add(a, t);
}

// S consecutive stages h, 2h, .. on 2^S points in registers; tw holds the
// twiddles of stage h at m; of stage 2h at m, m + h; of stage 4h at m, m + h,
// m + 2h, m + 3h.
template <class V, int S>
inline void stagesInRegisters(typename V::Reg (&x)[1 << S], const Twiddle<V>* tw)
{
    constexpr int points = 1 << S;
    for (int k = 0; k < points; k += 2) butterfly<V>(x[k], x[k + 1], tw[0]);
    if constexpr (S >= 2) {
        for (int k = 0; k < points; k += 4) {
            butterfly<V>(x[k], x[k + 2], tw[1]);
            butterfly<V>(x[k + 1], x[k + 3], tw[2]);
        }
    }
    if constexpr (S >= 3) {
        for (int k = 0; k < 4; ++k) butterfly<V>(x[k], x[k + 4], tw[3 + k]);
    }
}

// Where point k of a group sits: row k, or with Reversed (three stages
// only) row k with its three bits reversed.
template <bool Reversed>
constexpr std::size_t pointRow(int k)
{
    return static_cast<std::size_t>(Reversed ? rev3[k] : k);
}

// S stages on the 2^S points p[pointRow(k) * stride] (stride in doubles),
// lanes neighbouring values each.  With `scale`, every result is multiplied
// by *scale after its last butterfly, as a separate scaling pass would.
template <class V, int S, bool Reversed = false>
inline void fusedStages(double* p, std::size_t stride, const Twiddle<V>* tw, const typename V::Reg* scale)
{
    constexpr int points = 1 << S;
    typename V::Reg x[points];
    for (int k = 0; k < points; ++k) x[k] = V::load(p + pointRow<Reversed>(k) * stride);
    stagesInRegisters<V, S>(x, tw);
    if (scale)
        for (int k = 0; k < points; ++k) x[k] = V::mul(*scale, x[k]);
    for (int k = 0; k < points; ++k) V::store(p + pointRow<Reversed>(k) * stride, x[k]);
}

// The twiddle factors of a stage group of S stages, one m at a time, in
// 128-bit registers.  Each recurrence runs on (wr, wi):
// (wr*alpha + wi*(-beta)) + wr and (wi*alpha + wr*beta) + wi, the scalar
// recurrence's operations exactly.
template <int S>
class Twiddles {
public:
    static constexpr int count = (1 << S) - 1;  // values needed for each m

    explicit Twiddles(const TwiddleStart& start)
    {
        for (int i = 0; i < count; ++i) w[i] = Vec128::load(start.w[i]);
        for (int j = 0; j < S; ++j) {
            const double betaSigns[2] = {-start.beta[j], start.beta[j]};
            alpha[j] = Vec128::splat(start.alpha[j]);
            betaSign[j] = Vec128::load(betaSigns);
        }
        const double signs[2] = {-1.0, 1.0};
        sign = Vec128::load(signs);
    }

    void load(Twiddle<Vec128>* out) const
    {
        for (int i = 0; i < count; ++i) out[i] = {Vec128::dupReal(w[i]), Vec128::mul(Vec128::dupImag(w[i]), sign)};
    }

    void advance()
    {
        int i = 0;
        for (int j = 0; j < S; ++j)
            for (int copy = 0; copy < (1 << j); ++copy, ++i) {
                const Pair swapped = Vec128::swap(w[i]);
                w[i] = Vec128::add(Vec128::add(Vec128::mul(w[i], alpha[j]), Vec128::mul(swapped, betaSign[j])), w[i]);
            }
    }

private:
    Pair w[count], alpha[S], betaSign[S], sign;
};

// The twiddles of the values of m that share a register, one per lane, for
// Sets registers of them at a time: the recurrence stepped once per m and
// its values gathered into the lanes.
template <class V, int S>
class GatheredTwiddles {
public:
    static constexpr int count = Twiddles<S>::count;

    explicit GatheredTwiddles(const TwiddleStart& start) : one(start) {}

    template <int Sets>
    void next(Twiddle<V> (&out)[Sets][count])
    {
        for (int set = 0; set < Sets; ++set) {
            Pair wr[count][V::lanes], wiSign[count][V::lanes];
            for (int l = 0; l < V::lanes; ++l) {
                Twiddle<Vec128> t[count];
                one.load(t);
                one.advance();
                for (int i = 0; i < count; ++i) wr[i][l] = t[i].wr, wiSign[i][l] = t[i].wiSign;
            }
            for (int i = 0; i < count; ++i) out[set][i] = {V::gather(wr[i]), V::gather(wiSign[i])};
        }
    }

private:
    Twiddles<S> one;
};

// S stages on the points base + t + k*stride for every t in [t0, t1), lanes
// values at a time and the rest one at a time; tw and tw128 are the same
// twiddles in V and in Vec128 registers.
template <class V, int S, bool Reversed>
inline void strip(double* base, std::size_t stride, const Twiddle<V>* tw, const Twiddle<Vec128>* tw128,
                  const typename V::Reg* scale, const Pair* scale128, std::size_t t0, std::size_t t1)
{
    std::size_t t = t0;
    for (; t + 2 * V::lanes <= t1; t += 2 * V::lanes) fusedStages<V, S, Reversed>(base + t, stride, tw, scale);
    if constexpr (V::lanes > 1)
        for (; t < t1; t += 2) fusedStages<Vec128, S, Reversed>(base + t, stride, tw128, scale128);
}

// The same twiddles in every lane.
template <class V>
void broadcastTwiddles(const Twiddle<Vec128>* tw128, int count, Twiddle<V>* tw)
{
    for (int i = 0; i < count; ++i) tw[i] = {V::broadcast(tw128[i].wr), V::broadcast(tw128[i].wiSign)};
}

// A stage group of the strided pass on one block: for each m, the same
// twiddles in every lane, and every butterfly group's strip of lines.
template <class V, int S>
void stridedGroupOf(double* block, std::uint32_t n, std::size_t line, std::uint32_t h, const TwiddleStart& start,
                    const double* scale, std::size_t t0, std::size_t t1)
{
    const std::uint32_t span = h << S;
    const typename V::Reg scaleV = V::splat(scale ? *scale : 1.0);
    const Pair scale128 = Vec128::splat(scale ? *scale : 1.0);
    Twiddles<S> twiddles(start);
    Twiddle<Vec128> tw128[7];
    Twiddle<V> tw[7];
    for (std::uint32_t m = 0; m < h; ++m) {
        twiddles.load(tw128);
        broadcastTwiddles<V>(tw128, (1 << S) - 1, tw);
        for (std::uint32_t b = 0; b < n; b += span)
            strip<V, S, false>(block + line * (b + m), line * h, tw, tw128, scale ? &scaleV : nullptr,
                               scale ? &scale128 : nullptr, t0, t1);
        twiddles.advance();
    }
}

// Calls f(std::integral_constant<int, S>) for S = stages (1, 2 or 3), so
// that each kernel is compiled for its group's number of stages.
template <class F>
void withStages(int stages, F f)
{
    if (stages == 1) f(std::integral_constant<int, 1>{});
    if (stages == 2) f(std::integral_constant<int, 2>{});
    if (stages == 3) f(std::integral_constant<int, 3>{});
}

template <class V>
void stridedGroup(double* block, std::uint32_t n, std::size_t line, std::uint32_t h, const TwiddleStart& start,
                  const double* scale, std::size_t t0, std::size_t t1)
{
    withStages(start.stages, [&](auto S) {
        stridedGroupOf<V, decltype(S)::value>(block, n, line, h, start, scale, t0, t1);
    });
}

template <class V>
void reversedStrip(double* base, std::size_t stride, const TwiddleStart& first, std::size_t t0, std::size_t t1)
{
    Twiddle<Vec128> tw128[7];
    Twiddles<3>(first).load(tw128);
    Twiddle<V> tw[7];
    broadcastTwiddles<V>(tw128, 7, tw);
    strip<V, 3, true>(base, stride, tw, tw128, nullptr, nullptr, t0, t1);
}

// A stage group of the contiguous pass: the lanes of a register hold the
// points of neighbouring m, `Sets` registers of them at a time (four values
// of m when h allows: one cache line of each point), their twiddles worked
// out once for all the sequences of the group.
template <class V, int S, int Sets>
void contiguousGroupOf(double* data, std::uint32_t n, std::uint32_t g0, std::uint32_t g1, std::uint32_t h,
                       const TwiddleStart& start, const double* scale)
{
    constexpr std::uint32_t lanes = V::lanes, chunk = lanes * Sets;
    const std::uint32_t span = h << S;
    const typename V::Reg scaleV = V::splat(scale ? *scale : 1.0);
    const typename V::Reg* scaleOrNull = scale ? &scaleV : nullptr;
    GatheredTwiddles<V, S> twiddles(start);
    Twiddle<V> tw[Sets][(1 << S) - 1];
    for (std::uint32_t m0 = 0; m0 < h; m0 += chunk) {
        twiddles.next(tw);
        for (std::uint32_t g = g0; g < g1; ++g) {
            double* points = data + 2ull * n * g + 2 * m0;
            for (std::uint32_t b = 0; b < n; b += span)
                for (int set = 0; set < Sets; ++set)
                    fusedStages<V, S>(points + 2 * (b + lanes * set), 2 * h, tw[set], scaleOrNull);
        }
    }
}

template <class V>
void contiguousGroup(double* data, std::uint32_t n, std::uint32_t g0, std::uint32_t g1, std::uint32_t h,
                     const TwiddleStart& start, const double* scale)
{
    withStages(start.stages, [&](auto S) {
        constexpr int stages = decltype(S)::value;
        if (h >= 4)
            contiguousGroupOf<V, stages, 4 / V::lanes>(data, n, g0, g1, h, start, scale);
        else
            contiguousGroupOf<V, stages, 1>(data, n, g0, g1, h, start, scale);
    });
}

// The fused bit reversal and first three stages of one contiguous sequence
// (see forEachTilePair), lanes columns of a tile per register: after the
// stages, lane l of x[k] is point k of the block in row rev3(lanes*q + l),
// and transposes of lanes x lanes values turn the lanes back into rows.
template <class V>
void reverseFirstStages(double* seq, std::uint32_t n, const TwiddleStart& first)
{
    constexpr int lanes = V::lanes, columns = 8 / lanes;
    using Tile = typename V::Reg[8][columns];
    Twiddle<Vec128> tw128[7];
    Twiddles<3>(first).load(tw128);
    Twiddle<V> tw[7];
    broadcastTwiddles<V>(tw128, 7, tw);
    const std::size_t rowStride = 2ull * (n / 8);
    auto load = [&](std::uint32_t X, Tile& r) {
        const double* tile = seq + 16ull * X;
        for (std::size_t a = 0; a < 8; ++a)
            for (std::size_t q = 0; q < columns; ++q) r[a][q] = V::load(tile + a * rowStride + 2 * lanes * q);
    };
    auto stages = [&](const Tile& r, std::uint32_t destTile) {
        double* dest = seq + 16ull * destTile;
        for (int q = 0; q < columns; ++q) {
            typename V::Reg x[8];
            for (int k = 0; k < 8; ++k) x[k] = r[rev3[k]][q];
            stagesInRegisters<V, 3>(x, tw);
            for (int k0 = 0; k0 < 8; k0 += lanes) {
                typename V::Reg rows[lanes];
                for (int l = 0; l < lanes; ++l) rows[l] = x[k0 + l];
                V::transpose(rows);
                for (int l = 0; l < lanes; ++l)
                    V::store(dest + static_cast<std::size_t>(rev3[lanes * q + l]) * rowStride + 2 * k0, rows[l]);
            }
        }
    };
    forEachTilePair(n, [&](std::uint32_t X, std::uint32_t revX) {
        Tile r;
        load(X, r);
        if (revX == X) {
            stages(r, X);
            return;
        }
        Tile other;
        load(revX, other);
        stages(r, revX);
        stages(other, X);
    });
}

template <class V>
constexpr TransformKernels kernelTable()
{
    return {V::lanes, reverseFirstStages<V>, contiguousGroup<V>, stridedGroup<V>, reversedStrip<V>};
}

}  // namespace
