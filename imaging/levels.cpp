// 8-bit levels into the transform's matrix, and its elements drawn as bytes.
#include "imaging/levels.h"

#include "analysis/fourier.h"
#include "pictures/picture.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// The low eight bits of floor(v) as an integer would have them, v >= 0;
// 0 for values that are not numbers.
std::uint8_t wrappedByte(double v)
{
    if (v >= 0 && v < 9.2e18) return static_cast<std::uint8_t>(static_cast<std::uint64_t>(v));
    if (!std::isfinite(v)) return 0;
    double r = std::fmod(std::floor(v), 256.0);
    if (r < 0) r += 256.0;
    return static_cast<std::uint8_t>(r);
}

// floor(v) clamped to 255 (and, outside the contract, to 0 below).  For
// v >= 0, floor is truncation.
std::uint8_t saturatedByte(double v)
{
    if (v >= 256.0) return 255;
    if (v > 0.0) return static_cast<std::uint8_t>(static_cast<int>(v));
    return 0;
}

}  // namespace

PaddedSize paddedSize(int width, int height)
{
    const long long pw = powerOfTwoAtLeast(width), ph = powerOfTwoAtLeast(height);
    if (pw * ph * 2 >= matrixSizeLimit) throw std::length_error(paddedSizeRefusal(width, height));
    return {static_cast<int>(pw), static_cast<int>(ph)};
}

std::unique_ptr<matrix> levelsToMatrix(const std::uint8_t* levels, int width, int height)
{
    const PaddedSize padded = paddedSize(width, height);
    const std::size_t PW = static_cast<std::size_t>(padded.width), W = static_cast<std::size_t>(width);
    // The levels as real parts, every other element 0, written in one pass:
    // the same values as going through a buffer of 32-bit integers, without
    // the buffer.
    auto result = std::make_unique<matrix>(padded.height, 2 * padded.width, matrix::Unfilled{});
    double* out = result->getData();
    for (int i = 0; i < height; ++i, out += 2 * PW) {
        const std::uint8_t* row = levels + static_cast<std::size_t>(i) * W;
        for (std::size_t j = 0; j < W; ++j) {
            out[2 * j] = row[j];
            out[2 * j + 1] = 0.0;
        }
        std::fill(out + 2 * W, out + 2 * PW, 0.0);
    }
    std::fill(out, result->getData() + 2 * PW * static_cast<std::size_t>(padded.height), 0.0);
    return result;
}

std::uint8_t spectrumByte(int mode, double scale, double re, double im)
{
    switch (mode) {
    case 0: return wrappedByte(std::fabs(re) * scale);
    case 1: return wrappedByte(std::fabs(im) * scale);
    case 2: return saturatedByte(std::sqrt(re * re + im * im) * scale);
    default: return saturatedByte((re * re + im * im) * scale);
    }
}

std::vector<std::uint8_t> spectrumLevels(int mode, double scale, const matrix& spectrum)
{
    const std::size_t R = static_cast<std::size_t>(spectrum.getRows()), half = static_cast<std::size_t>(spectrum.getCols() / 2);
    std::vector<std::uint8_t> levels(R * half);
    const double* element = spectrum.getData();
    for (std::size_t k = 0; k < levels.size(); ++k, element += 2) levels[k] = spectrumByte(mode, scale, element[0], element[1]);
    return levels;
}
