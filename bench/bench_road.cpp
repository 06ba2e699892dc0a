// The CPU time of one picture through the whole batch road (read, decode,
// the 8-bit view, the spectrum, Metoda 1 and 2; with --psd the spectral
// estimate too) beside the CPU time of its transform alone, measured in the
// same run: 8-bit BMPs and 16-bit PNGs of fractional-Brownian surfaces, on
// one thread (as orvane-batch runs files side by side) and on every core.
//
//   orvane_bench_road [SIDE [PICTURES]]      (default 1024, 16)
#include "../tests/fractal_surface.h"
#include "analysis/matrix.h"
#include "imaging/file_analysis.h"
#include "pictures/bmp.h"
#include "pictures/files.h"

#include <malloc.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A 16-bit grey PNG of the samples.
std::string png16(int side, const std::vector<std::uint16_t>& samples)
{
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, [](png_structp p, png_bytep data, png_size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
    }, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(side), static_cast<png_uint_32>(side), 16, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_swap(png);
    for (int y = 0; y < side; ++y)
        png_write_row(png, reinterpret_cast<png_const_bytep>(samples.data() + static_cast<std::size_t>(y) * side));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// CPU seconds a picture through the road, the best of three rounds.
double roadSeconds(const std::vector<std::string>& files, bool psd)
{
    FileAnalysisOptions options;
    options.psd = psd;
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double t0 = cpuSeconds();
        for (const std::string& f : files) {
            const FileAnalysis a = analyseFile(f, options);
            if (!a.error.empty() || a.pages.empty() || !a.pages[0].error.empty()) {
                std::fprintf(stderr, "%s failed\n", f.c_str());
                std::exit(1);
            }
        }
        best = std::min(best, (cpuSeconds() - t0) / static_cast<double>(files.size()));
    }
    return best;
}

double transformSeconds(int side)
{
    matrix m(side, 2 * side, nullptr);
    double best = 1e9;
    for (int k = 0; k < 10; ++k) {
        for (int i = 0; i < side * side; ++i) m.getData()[2 * i] = i % 251, m.getData()[2 * i + 1] = 0;
        const double t0 = cpuSeconds();
        fourierTransform2D(m.getData(), static_cast<std::uint32_t>(side), static_cast<std::uint32_t>(side), 1);
        best = std::min(best, cpuSeconds() - t0);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    // As orvane-batch does: freed memory stays with the process.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    const int side = argc > 1 ? std::atoi(argv[1]) : 1024;
    const int count = argc > 2 ? std::atoi(argv[2]) : 16;
    char folder[] = "/tmp/orvane-bench-road-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    std::vector<std::string> bmps, pngs;
    std::mt19937_64 random(11);
    for (int i = 0; i < count; ++i) {
        const std::vector<double> z = fractalSurface(2.2 + 0.6 * i / std::max(1, count - 1), side, side, random);
        const auto [low, high] = std::minmax_element(z.begin(), z.end());
        std::vector<std::uint8_t> levels(z.size());
        std::vector<std::uint16_t> deep(z.size());
        for (std::size_t k = 0; k < z.size(); ++k) {
            const double u = (z[k] - *low) / (*high - *low);
            levels[k] = static_cast<std::uint8_t>(std::lround(255 * u));
            deep[k] = static_cast<std::uint16_t>(std::lround(65535 * u));
        }
        bmps.push_back(std::string(folder) + "/p" + std::to_string(i) + ".bmp");
        pngs.push_back(std::string(folder) + "/p" + std::to_string(i) + ".png");
        writeFileAtomically(bmps.back(), greyBmpFile(side, side, levels.data()));
        writeFileAtomically(pngs.back(), png16(side, deep));
    }
    std::printf("%d pictures of %d x %d, CPU time a picture (best of 3 rounds) / its transform's CPU time\n", count, side,
                side);
    for (int threads : {1, 0}) {
        setTransformThreads(threads);
        const double transform = transformSeconds(side);
        std::printf("%s: transform alone %.2f ms\n", threads == 1 ? "one thread" : "every core", transform * 1e3);
        for (const auto& [name, files] : {std::pair<const char*, const std::vector<std::string>&>{"8-bit BMP", bmps},
                                          {"16-bit PNG", pngs}})
            for (bool psd : {false, true}) {
                const double road = roadSeconds(files, psd);
                std::printf("  %-10s %-6s %7.2f ms  ratio %.2f%s\n", name, psd ? "--psd" : "", road * 1e3,
                            road / transform, !psd && name[0] == '8' ? " (target <= 2)" : "");
            }
    }
    for (const auto* list : {&bmps, &pngs})
        for (const std::string& f : *list) unlink(f.c_str());
    rmdir(folder);
    return 0;
}
