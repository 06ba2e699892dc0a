// The order in which the transform visits points: three-bit reversal, and
// the pairs of tiles of the bit reversal fused with the first three stages.
// Shared by the plan and the kernels; internal linkage in each unit.
#pragma once

#include <cstdint>

namespace {

// Three-bit numbers with their bits in reverse order.
constexpr int rev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// The low `bits` bits of x in reverse order.
inline std::uint32_t reverseBits(std::uint32_t x, int bits)
{
    if (bits == 0) return 0;
    x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    x = ((x >> 4) & 0x0f0f0f0fu) | ((x & 0x0f0f0f0fu) << 4);
    return __builtin_bswap32(x) >> (32 - bits);
}

// Bit reversal fused with the first three stages, for n >= 64 positions.
// Write a position as (A, X, B): A its top three bits, B its low three, X
// those between.  Reversal sends (A, X, B) to (rev B, rev X, rev A), so the
// tile of X (rows A, each of 8 neighbours B, rows n/8 apart) holds exactly
// the inputs of the first three stages' blocks in the tile of rev X: block
// (A, rev X) takes column rev A of tile X, row rev k as its point k.  Tiles X
// and rev X are read whole, then each one's butterflies are written into the
// other, so every block gets the values the separate reversal would have
// given it.  Calls pair(X, rev X) once for every X <= rev X.
template <class TilePair>
void forEachTilePair(std::uint32_t n, TilePair pair)
{
    int bits = 0;
    while ((64u << bits) < n) ++bits;
    for (std::uint32_t X = 0; X < (1u << bits); ++X) {
        const std::uint32_t revX = reverseBits(X, bits);
        if (revX >= X) pair(X, revX);
    }
}

}  // namespace
