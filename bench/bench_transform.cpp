// The transform beside FFTW's in-place complex 2-D transform of the same
// size (planned with FFTW_MEASURE outside the timed loop), on one and two
// threads, and the ratios of the two.  Planning 8192 x 8192 takes FFTW
// about a minute; leave it out with --benchmark_filter='/(1024|4096)/'.
// --vector-bits=128|256|512 holds ours to narrower vectors than the
// processor's widest.
//   build/release/bench/orvane_bench
#include "analysis/matrix.h"

#include "summary.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <cstring>
#include <random>
#include <vector>

namespace {

// A random 8-bit image as a complex array, rows x cols.
std::vector<double> randomImage(int rows, int cols)
{
    std::mt19937 rng(12345);
    std::vector<double> v(2ull * rows * cols, 0.0);
    for (std::size_t i = 0; i < v.size(); i += 2) v[i] = static_cast<double>(rng() & 0xff);
    return v;
}

void Transform(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    setTransformThreads(threads);
    const std::vector<double> image = randomImage(n, n);
    matrix work(n, 2 * n, nullptr);  // allocated as the program allocates its spectrum
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.getData(), image.data(), image.size() * sizeof(double));
        state.ResumeTiming();
        fourierTransform2D(work.getData(), static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(n), 1);
        benchmark::DoNotOptimize(work.getData());
    }
    state.SetLabel("ours, " + std::to_string(threads) + " thread(s)");
}

void Fftw(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    fftw_plan_with_nthreads(threads);
    const std::vector<double> image = randomImage(n, n);
    auto* work = fftw_alloc_complex(static_cast<std::size_t>(n) * n);
    const fftw_plan plan = fftw_plan_dft_2d(n, n, work, work, FFTW_BACKWARD, FFTW_MEASURE);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work, image.data(), image.size() * sizeof(double));
        state.ResumeTiming();
        fftw_execute(plan);
        benchmark::DoNotOptimize(work);
    }
    fftw_destroy_plan(plan);
    fftw_free(work);
    state.SetLabel("FFTW, " + std::to_string(threads) + " thread(s)");
}

}  // namespace

const int sizes[] = {1024, 4096, 8192};

void sizesAndThreads(benchmark::internal::Benchmark* b)
{
    for (int threads : {1, 2})
        for (int n : sizes) b->Args({n, threads});
}

BENCHMARK(Transform)->Apply(sizesAndThreads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Fftw)->Apply(sizesAndThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    // Our one option, taken out before the benchmark library reads the rest.
    int bits = 512, kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--vector-bits=", 14) == 0)
            bits = std::atoi(argv[i] + 14);
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    bits = setTransformVectorBits(bits);
    fftw_init_threads();
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    fftw_cleanup_threads();

    std::printf("\nours (%d-bit vectors) / FFTW, real time in this run (below 1: ours is faster)\n", bits);
    for (int threads : {1, 2})
        for (int n : sizes) {
            const std::string args = std::to_string(n) + "/" + std::to_string(threads) + "/real_time";
            const double ours = reporter.time("Transform/" + args), theirs = reporter.time("Fftw/" + args);
            if (ours > 0 && theirs > 0)
                std::printf("  %5d x %-5d %d thread(s): %.2f  (%.2f ms / %.2f ms)\n", n, n, threads, ours / theirs, ours,
                            theirs);
        }
    return 0;
}
