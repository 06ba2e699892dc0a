// The transform beside FFTW's in-place complex 2-D transform of the same
// size, and the rest of the analysis of a large image step by step.
//   build/release/bench/orvane_bench --benchmark_filter=Transform
#include "analysis/matrix.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstdint>
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

BENCHMARK(Transform)->Args({1024, 1})->Args({4096, 1})->Args({1024, 2})->Args({4096, 2})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Fftw)->Args({1024, 1})->Args({4096, 1})->Args({1024, 2})->Args({4096, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    fftw_init_threads();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fftw_cleanup_threads();
    return 0;
}
