// Counting beside a plain streaming read, and the whole analysis of a large
// image step by step.
//   build/release/bench/orvane_bench_analysis
#include "analysis/matrix.h"
#include "imaging/convert.h"
#include "imaging/palette.h"

#include "summary.h"

#include <benchmark/benchmark.h>

#include <chrono>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int side = 4096;

std::vector<double> randomValues(std::size_t n)
{
    std::mt19937_64 rng(7);
    std::vector<double> v(n);
    for (double& x : v) x = static_cast<double>(rng() >> 11) / 9007199254740992.0;
    return v;
}

void CountAbove(benchmark::State& state)
{
    const std::vector<double> v = randomValues(std::size_t{side} * side);
    for (auto _ : state) benchmark::DoNotOptimize(countAbove(v.data(), side, side, 0.5));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * v.size() * sizeof(double)));
}

void StreamingSum(benchmark::State& state)
{
    const std::vector<double> v = randomValues(std::size_t{side} * side);
    for (auto _ : state) {
        double sums[4] = {0, 0, 0, 0};
        for (std::size_t i = 0; i < v.size(); i += 4)
            for (int k = 0; k < 4; ++k) sums[k] += v[i + k];
        benchmark::DoNotOptimize(sums);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * v.size() * sizeof(double)));
}

// A random 8-bit grey bitmap of side x side pixels.
void randomBitmap(TBitmap& b)
{
    b.SetPixelFormat(pf8bit);
    b.SetPalette(makeGreyPalette());
    b.SetHeight(side);
    b.SetWidth(side);
    std::mt19937 rng(3);
    for (int y = 0; y < side; ++y) {
        std::uint8_t* row = b.GetScanline(y);
        for (int x = 0; x < side; ++x) row[x] = static_cast<std::uint8_t>(rng());
    }
}

// Each step of the road in turn; the counters give each one's seconds.
void WholeAnalysis(benchmark::State& state)
{
    TBitmap source, shown;
    randomBitmap(source);
    using Clock = std::chrono::steady_clock;
    double seconds[7] = {};
    auto lap = [](Clock::time_point& t) {
        const auto now = Clock::now();
        const double s = std::chrono::duration<double>(now - t).count();
        t = now;
        return s;
    };
    for (auto _ : state) {
        auto t = Clock::now();
        auto m = bitmapToMatrix(source);
        seconds[0] += lap(t);
        fourierTransform2D(m->getData(), side, side, 1);
        seconds[1] += lap(t);
        swapQuadrants(*m);
        seconds[2] += lap(t);
        renderSpectrum(&shown, 2, 100.0, m.get());
        seconds[3] += lap(t);
        auto p = powerSpectrum(*m);
        seconds[4] += lap(t);
        benchmark::DoNotOptimize(estimateMethod1(*p, p->getCols(), p->getRows()));
        seconds[5] += lap(t);
        benchmark::DoNotOptimize(estimateMethod2(*p, p->getCols(), p->getRows()));
        seconds[6] += lap(t);
    }
    const char* names[7] = {"1_bitmapToMatrix", "2_transform", "3_swapQuadrants", "4_renderSpectrum",
                            "5_powerSpectrum", "6_method1", "7_method2"};
    for (int i = 0; i < 7; ++i)
        state.counters[names[i]] = benchmark::Counter(seconds[i] / static_cast<double>(state.iterations()));
}

}  // namespace

BENCHMARK(CountAbove)->Unit(benchmark::kMillisecond);
BENCHMARK(StreamingSum)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeAnalysis)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double counting = reporter.time("CountAbove"), streaming = reporter.time("StreamingSum");
    if (counting > 0 && streaming > 0)
        std::printf("\ncountAbove runs at %.0f %% of the streaming read's speed\n", 100.0 * streaming / counting);
    const auto whole = reporter.counters.find("WholeAnalysis/iterations:3/real_time");
    if (whole != reporter.counters.end()) {
        double total = 0;
        for (const auto& [name, seconds] : whole->second) total += seconds;
        std::printf("\nwhole analysis of %d x %d: %.3f s\n", side, side, total);
        for (const auto& [name, seconds] : whole->second)
            std::printf("  %-18s %.3f s  %4.1f %%\n", name.c_str(), seconds, 100.0 * seconds / total);
    }
    return 0;
}
