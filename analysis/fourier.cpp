// The transform's plan: the public functions, the stages of each dimension
// grouped in threes, the passes over the array, the thread team, and the
// choice of kernels for the widest vectors the processor has.  The kernels
// themselves (fourier_kernel_templates.h) do every floating-point operation
// but the recurrences' starting points, which are worked out here.
#include "analysis/fourier.h"
#include "analysis/thread_pool.h"

#include "analysis/fourier_kernels.h"
#include "analysis/fourier_order.h"

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

// The transform is bit for bit that of the plain loop order with the
// twiddle factor of index m in a stage the m-th value of the recurrence
// w <- (w*alpha - ...) + w started at (1, 0).  No FMA: this file is compiled
// with -ffp-contract=off.

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

// The recurrences of S fused stages from h, at m = 0: one per twiddle
// factor needed, the later ones started ahead by h, 2h, 3h steps of their
// stage's own recurrence, (wr*alpha + wi*(-beta)) + wr and
// (wi*alpha + wr*beta) + wi.
TwiddleStart twiddleStart(int direction, std::uint32_t h, int S)
{
    TwiddleStart start;
    start.stages = S;
    int index = 0;
    for (int j = 0; j < S; ++j) {
        const Rotation r = stageRotation(direction, h << j);
        start.alpha[j] = r.alpha;
        start.beta[j] = r.beta;
        for (std::uint32_t copy = 0; copy < (1u << j); ++copy, ++index) {
            double wr = 1.0, wi = 0.0;
            for (std::uint32_t step = 0; step < copy * h; ++step) {
                const double nr = (wr * r.alpha + wi * -r.beta) + wr;
                wi = (wi * r.alpha + wr * r.beta) + wi;
                wr = nr;
            }
            start.w[index][0] = wr;
            start.w[index][1] = wi;
        }
    }
    return start;
}

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

std::atomic<int> vectorBits{processorVectorBits(512)};  // widest vectors in use: 128, 256 or 512

// The kernels for vectors of `bits` bits (one the processor has).
const TransformKernels& kernelsFor(int bits)
{
#if defined(__x86_64__)
    if (bits >= 512) return avx512Kernels;
    if (bits >= 256) return avx2Kernels;
#else
    (void)bits;
#endif
    return vec128Kernels;
}

// The widest kernels in use whose registers hold at most h values of m: a
// contiguous stage group with h < lanes has no neighbouring points to share
// a register.
const TransformKernels& contiguousKernelsFor(int bits, std::uint32_t h)
{
    while (bits > 128 && static_cast<std::uint32_t>(kernelsFor(bits).lanes) > h) bits /= 2;
    return kernelsFor(bits);
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

// The threads of one transform: the process's pool (analysis/thread_pool.h),
// as many of them as the transform is worth.
class Team {
public:
    explicit Team(int wanted) : parts(std::max(1, std::min(wanted, poolSize()))) {}

    int size() const { return parts; }

    // Runs body(part) for part = 0 .. parts - 1 (parts <= size()), part 0 on
    // the calling thread; returns when all are done.
    template <class Body>
    void run(int count, Body& body)
    {
        if (count <= 1) {
            for (int part = 0; part < count; ++part) body(part);
            return;
        }
        runParts(count, [&body](int part) { body(part); });
    }

private:
    int parts;
};

// How many threads a transform of `elements` complex values is worth.
int threadsFor(std::size_t elements) { return std::min(analysisThreadsFor(elements), 64); }

// Bit reversal fused with the first three stages, for n >= 64 lines, each
// `line` doubles after the last, on the strip [t0, t1) of every line.  Write
// a line's index as (A, X, B): A its top three bits, B its low three.  The
// first three stages' block (A, X) takes as its point k the line
// (rev k, rev X, rev A), so: each column B' of the tile of Y (the 64 lines
// (A', Y, B')) gets its three stages in place, point k in row rev k; then
// the tiles of X and rev X exchange lines (A, X, B) <-> (rev B, rev X, rev A),
// which is the reversal itself.  The strip goes a chunk at a time so that
// both tiles' lines are still in cache for the exchange.
void reverseFirstStages(const TransformKernels& kernels, double* block, std::uint32_t n, std::size_t line,
                        std::size_t t0, std::size_t t1, const TwiddleStart& first)
{
    constexpr std::size_t chunk = 256;  // doubles of a line per step: 2 KiB
    const std::size_t rowStride = line * (n / 8);
    auto lineAt = [&](std::uint32_t A, std::uint32_t X, std::uint32_t B) {
        return block + A * rowStride + line * (8 * X + B);
    };
    forEachTilePair(n, [&](std::uint32_t X, std::uint32_t revX) {
        for (std::size_t c0 = t0; c0 < t1; c0 += chunk) {
            const std::size_t c1 = std::min(t1, c0 + chunk);
            for (std::uint32_t B = 0; B < 8; ++B) {
                kernels.reversedStrip(lineAt(0, X, B), rowStride, first, c0, c1);
                if (revX != X) kernels.reversedStrip(lineAt(0, revX, B), rowStride, first, c0, c1);
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
// length n, in order, worked out once per pass for all its threads, and
// each group's first stage h.
struct StageGroups {
    int count = 0;
    std::uint32_t h[10] = {};
    TwiddleStart start[10];
};

StageGroups stageGroups(std::uint32_t n, int direction)
{
    StageGroups groups;
    forEachStageGroup(n, [&](std::uint32_t h, int S) {
        groups.h[groups.count] = h;
        groups.start[groups.count++] = twiddleStart(direction, h, S);
    });
    return groups;
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
    const int bits = vectorBits.load(std::memory_order_relaxed);
    const StageGroups groups = stageGroups(n, direction);
    const bool fusedFirst = reversalFused(n);
    auto body = [&](int part) {
        const std::uint32_t first = static_cast<std::uint32_t>(std::uint64_t{count} * part / parts);
        const std::uint32_t last = static_cast<std::uint32_t>(std::uint64_t{count} * (part + 1) / parts);
        const std::uint32_t rows = std::max<std::uint32_t>(1, 8192 / n);  // 128 KiB: measured best
        for (std::uint32_t g0 = first; g0 < last; g0 += rows) {
            const std::uint32_t g1 = std::min(last, g0 + rows);
            for (std::uint32_t g = g0; g < g1; ++g) {
                double* seq = data + 2ull * n * g;
                if (fusedFirst)
                    kernelsFor(bits).reverseFirstStages(seq, n, groups.start[0]);
                else
                    forEachBitReversedPair(n, [seq](std::uint32_t j, std::uint32_t k) { swapDoubles(seq + 2 * j, seq + 2 * k, 2); });
            }
            for (int group = fusedFirst ? 1 : 0; group < groups.count; ++group) {
                const std::uint32_t h = groups.h[group];
                const bool lastGroup = group == groups.count - 1;
                contiguousKernelsFor(bits, h).contiguousGroup(data, n, g0, g1, h, groups.start[group],
                                                              lastGroup ? scale : nullptr);
            }
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
    const TransformKernels& kernels = kernelsFor(vectorBits.load(std::memory_order_relaxed));
    const StageGroups groups = stageGroups(n, direction);
    const bool fused = reversalFused(n);
    auto body = [&](int part) {
        const std::size_t t0 = 2 * (std::size_t{s} * part / parts);
        const std::size_t t1 = 2 * (std::size_t{s} * (part + 1) / parts);
        for (std::uint32_t q = 0; q < count; ++q) {
            double* block = data + line * n * q;
            if (fused)
                reverseFirstStages(kernels, block, n, line, t0, t1, groups.start[0]);
            else
                forEachBitReversedPair(n, [&](std::uint32_t j, std::uint32_t k) {
                    swapDoubles(block + line * j + t0, block + line * k + t0, t1 - t0);
                });
            for (int group = fused ? 1 : 0; group < groups.count; ++group) {
                const bool lastGroup = group == groups.count - 1;
                kernels.stridedGroup(block, n, line, groups.h[group], groups.start[group], lastGroup ? scale : nullptr,
                                     t0, t1);
            }
        }
    };
    team.run(parts, body);
}

bool isPowerOfTwo(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

// The transform proper; with `scale`, the last pass also multiplies every
// value by *scale (when there is a last pass: all lengths 1 leave it undone).
// `threads` as fourierTransform2D's.
bool transform(double* data, const std::uint32_t* lengths, int dims, int direction, const double* scale,
               int threads = 0)
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
    Team team(threads > 0 ? std::min(threads, analysisThreads()) : threadsFor(N));
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

int transformThreadsSetting() { return configuredThreads; }

int analysisThreadsFor(std::size_t values)
{
    // Measured on a 2-core machine with the pool's helper asleep between
    // transforms: 512 x 512 takes 0.55 ms on one thread and 0.57 ms on two
    // (the halves' data crosses between the cores' caches), 1024 x 512
    // 1.58 ms and 1.10 ms.
    return values < (std::size_t{1} << 19) ? 1 : analysisThreads();
}

int analysisThreads()
{
    const int threads = configuredThreads;
    return threads > 0 ? threads : availableCores();
}

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

int processorVectorBits(int bits)
{
#if defined(__x86_64__)
    __builtin_cpu_init();  // may be called before main, from a static initialiser
    if (bits >= 512 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) return 512;
    if (bits >= 256 && __builtin_cpu_supports("avx2")) return 256;
#else
    (void)bits;
#endif
    return 128;
}

int setTransformVectorBits(int bits)
{
    const int supported = processorVectorBits(bits);
    vectorBits = supported;
    return supported;
}

void fourierTransformND(double* data, const std::uint32_t* lengths, int dims, int direction)
{
    transform(data, lengths, dims, direction, nullptr);
}

void fourierTransform2D(double* data, std::uint32_t cols, std::uint32_t rows, int direction, int threads)
{
    const std::uint32_t lengths[2] = {rows, cols};
    if (direction != 1) {
        transform(data, lengths, 2, direction, nullptr, threads);
        return;
    }
    const double f = 1.0 / static_cast<std::uint32_t>(rows * cols);
    if (transform(data, lengths, 2, direction, &f, threads)) return;
    const std::size_t count = 2ull * rows * cols;
    for (std::size_t i = 0; i < count; ++i) data[i] = f * data[i];
}
