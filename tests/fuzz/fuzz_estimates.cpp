// libFuzzer target: the estimators that fit heights (the spectral estimate,
// the Whittle fit, the dimension map, the surface parameters) on small
// pictures made from the input: stripes, a spike, a step or the input's own
// bytes, at any scale a double holds.  Refusing a picture with
// std::invalid_argument is the expected answer; anything else that escapes,
// a Whittle D outside [2, 3] without its flag, and every sanitizer report
// are bugs.
#include "analysis/dimension_map.h"
#include "analysis/psd.h"
#include "analysis/surface_parameters.h"
#include "analysis/whittle.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

// The picture the input describes: its first bytes give the size, the kind
// of pattern and the scale (a power of ten from 1e-320 to 1e+300); the rest
// are heights or the pattern's parameters.
struct Picture {
    int width = 16, height = 16;
    std::vector<double> z;
};

Picture pictureOf(const std::uint8_t* data, std::size_t size)
{
    Picture p;
    if (size < 4) return p;
    p.width = 16 + data[0] % 33;
    p.height = 16 + data[1] % 33;
    const int kind = data[2] % 4;
    const double scale = std::pow(10.0, static_cast<int>(data[3] % 63) * 10 - 320);
    const std::uint8_t* rest = data + 4;
    const std::size_t left = size - 4;
    auto byte = [&](std::size_t i) { return left ? rest[i % left] : std::uint8_t{0}; };
    p.z.resize(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height));
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x);
            double v = 0;
            switch (kind) {
            case 0: v = (x / (1 + byte(0) % 8)) % 2; break;                  // stripes
            case 1: v = (x == byte(0) % p.width && y == byte(1) % p.height); break;  // a spike
            case 2: v = x < p.width / 2 ? 0.0 : 1.0 + byte(0); break;          // a step
            default: v = static_cast<double>(byte(i)) - 128; break;           // the input's bytes
            }
            p.z[i] = v * scale;
        }
    // One sample may be anything the input says, NaN and infinity included.
    if (left >= 12) {
        double any;
        std::memcpy(&any, rest + 4, sizeof any);
        p.z[rest[0] % p.z.size()] = any;
    }
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Picture p = pictureOf(data, size);
    if (p.z.empty()) return 0;
    try {
        estimatePsdDimension(p.z.data(), p.width, p.height);
    } catch (const std::invalid_argument&) {
    }
    try {
        surfaceParameters(p.z.data(), p.width, p.height, 1e-6, 1e-6, 1.0);
    } catch (const std::invalid_argument&) {
    }
    try {
        const WhittleResult r = estimateWhittleDimension(p.z.data(), p.width, p.height);
        if (!(r.dimension >= 2 && r.dimension <= 3) && r.flags.empty()) std::abort();
    } catch (const std::invalid_argument&) {
    }
    try {
        dimensionMap(p.z.data(), p.width, p.height, 16, 16);
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
