#include "analysis/fourier.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

// Every butterfly is  t = w * c;  c = a - t;  a = a + t  with
// tr = wr*cr - wi*ci and ti = wr*ci + wi*cr, and every twiddle factor comes
// from the recurrence w <- (w*alpha - ...) + w started at (1, 0) for each
// stage.  The loops below only choose the order in which the disjoint
// butterflies of a stage run, so the result is bit for bit that of the plain
// loop order.  No FMA: this file is compiled with -ffp-contract=off.

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

struct Twiddle {
    double wr = 1.0;
    double wi = 0.0;

    void advance(const Rotation& r)
    {
        const double nr = (wr * r.alpha - wi * r.beta) + wr;
        const double ni = (wi * r.alpha + wr * r.beta) + wi;
        wr = nr;
        wi = ni;
    }
};

// A twiddle factor in the form the vector butterfly wants.
struct TwiddleVec {
    __m128d wr;      // (wr, wr)
    __m128d wiSign;  // (-wi, wi)

    explicit TwiddleVec(const Twiddle& w) : wr(_mm_set1_pd(w.wr)), wiSign(_mm_set_pd(w.wi, -w.wi)) {}
};

// One butterfly on the complex values at a and c.  (-wi)*ci added equals
// wi*ci subtracted exactly, so this is the scalar formula bit for bit.
inline void butterfly(double* a, double* c, const TwiddleVec& w)
{
    const __m128d cv = _mm_loadu_pd(c);
    const __m128d cs = _mm_shuffle_pd(cv, cv, 1);
    const __m128d t = _mm_add_pd(_mm_mul_pd(w.wr, cv), _mm_mul_pd(w.wiSign, cs));
    const __m128d av = _mm_loadu_pd(a);
    _mm_storeu_pd(c, _mm_sub_pd(av, t));
    _mm_storeu_pd(a, _mm_add_pd(av, t));
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

// Transform along a contiguous dimension: `count` sequences of n complex
// values, one after another.  Groups of sequences that fit in cache are
// finished stage by stage, sharing one run of the recurrence per stage.
void contiguousPass(double* data, std::uint32_t n, std::uint32_t count, int direction)
{
    if (n < 2) return;
    const std::uint32_t group = std::max<std::uint32_t>(1, std::min<std::uint32_t>(count, 16384 / n));
    for (std::uint32_t g0 = 0; g0 < count; g0 += group) {
        const std::uint32_t g1 = std::min(count, g0 + group);
        for (std::uint32_t g = g0; g < g1; ++g) {
            double* seq = data + 2ull * n * g;
            forEachBitReversedPair(n, [seq](std::uint32_t j, std::uint32_t k) {
                std::swap(seq[2 * j], seq[2 * k]);
                std::swap(seq[2 * j + 1], seq[2 * k + 1]);
            });
        }
        for (std::uint32_t h = 1; h < n; h *= 2) {
            const Rotation rot = stageRotation(direction, h);
            Twiddle w;
            for (std::uint32_t m = 0; m < h; ++m) {
                const TwiddleVec wv(w);
                for (std::uint32_t g = g0; g < g1; ++g) {
                    double* seq = data + 2ull * n * g;
                    for (std::uint32_t a = m; a < n; a += 2 * h) butterfly(seq + 2 * a, seq + 2 * (a + h), wv);
                }
                w.advance(rot);
            }
        }
    }
}

// Transform along a strided dimension: `count` blocks, each n lines of s
// contiguous complex values; the inner loops run along the lines.
void stridedPass(double* data, std::uint32_t n, std::uint32_t s, std::uint32_t count, int direction)
{
    if (n < 2) return;
    const std::size_t line = 2ull * s;  // doubles per line
    for (std::uint32_t q = 0; q < count; ++q) {
        double* block = data + line * n * q;
        forEachBitReversedPair(n, [block, line](std::uint32_t j, std::uint32_t k) {
            std::swap_ranges(block + line * j, block + line * (j + 1), block + line * k);
        });
        for (std::uint32_t h = 1; h < n; h *= 2) {
            const Rotation rot = stageRotation(direction, h);
            Twiddle w;
            for (std::uint32_t m = 0; m < h; ++m) {
                const TwiddleVec wv(w);
                for (std::uint32_t a = m; a < n; a += 2 * h) {
                    double* pa = block + line * a;
                    double* pc = block + line * (a + h);
                    for (std::size_t t = 0; t < line; t += 2) butterfly(pa + t, pc + t, wv);
                }
                w.advance(rot);
            }
        }
    }
}

bool isPowerOfTwo(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

void fourierTransformND(double* data, const std::uint32_t* lengths, int dims, int direction)
{
    if (dims <= 0) return;
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

    const auto N = static_cast<std::uint32_t>(total);
    std::uint32_t s = 1;
    for (int k = dims - 1; k >= 0; --k) {
        const std::uint32_t n = lengths[k];
        const std::uint32_t r = N / (n * s);
        if (s == 1)
            contiguousPass(data, n, r, direction);
        else
            stridedPass(data, n, s, r, direction);
        s *= n;
    }
}

void fourierTransform2D(double* data, std::uint32_t cols, std::uint32_t rows, int direction)
{
    const std::uint32_t lengths[2] = {rows, cols};
    fourierTransformND(data, lengths, 2, direction);
    if (direction != 1) return;
    const double f = 1.0 / static_cast<std::uint32_t>(rows * cols);
    const std::size_t count = 2ull * rows * cols;
    for (std::size_t i = 0; i < count; ++i) data[i] = f * data[i];
}
