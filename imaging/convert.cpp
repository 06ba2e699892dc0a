#include "imaging/convert.h"

#include "imaging/palette.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

// Low eight bits of a floored value, as its two's-complement integer would
// have them; 0 for values that are not numbers.
std::uint8_t wrappedByte(double v)
{
    if (!std::isfinite(v)) return 0;
    double r = std::fmod(v, 256.0);
    if (r < 0) r += 256.0;
    return static_cast<std::uint8_t>(r);
}

// A floored value clamped to 255 (and, outside the contract, to 0 below).
std::uint8_t saturatedByte(double v)
{
    if (v > 255.0) return 255;
    if (!(v > 0.0)) return 0;
    return static_cast<std::uint8_t>(v);
}

}  // namespace

PaddedSize paddedSize(int width, int height)
{
    long long pw = 1, ph = 1;
    while (height > ph) ph *= 2;
    while (width > pw) pw *= 2;
    if (pw * ph * 2 >= matrixSizeLimit)
        throw std::length_error("Obraz " + std::to_string(width) + " x " + std::to_string(height) +
                                " pikseli, uzupełniony do " + std::to_string(pw) + " x " + std::to_string(ph) +
                                ", przekracza granicę analizy: mniej niż 2^27 (134217728) pikseli po uzupełnieniu.");
    return {static_cast<int>(pw), static_cast<int>(ph)};
}

std::unique_ptr<matrix> bitmapToMatrix(TBitmap& bitmap)
{
    bitmap.SetPixelFormat(pf8bit);
    const int W = bitmap.GetWidth();
    const int H = bitmap.GetHeight();
    const PaddedSize padded = paddedSize(W, H);
    const std::size_t PW = static_cast<std::size_t>(padded.width);
    const std::size_t PH = static_cast<std::size_t>(padded.height);

    // Two 32-bit integers (real, imaginary) per cell, all zero to begin with.
    std::unique_ptr<std::uint32_t[]> buffer(new std::uint32_t[2 * PW * PH]());
    std::uint32_t* cell = buffer.get();
    for (int i = 0; i < H; ++i) {
        const std::uint8_t* row = bitmap.GetScanline(i);
        for (int j = 0; j < W; ++j) {
            cell[0] = row[j];
            cell += 2;
        }
        cell += 2 * (PW - static_cast<std::size_t>(W));
    }
    return std::make_unique<matrix>(padded.height, 2 * padded.width, buffer.get());
}

void renderSpectrum(TBitmap* bitmap, int mode, double scale, const matrix* spectrum)
{
    if (spectrum == nullptr || bitmap == nullptr) return;
    const int R = spectrum->getRows();
    const int half = spectrum->getCols() / 2;

    bitmap->SetHandleType(bmDIB);
    bitmap->SetPixelFormat(pf8bit);
    bitmap->SetPalette(makeGreyPalette());
    bitmap->SetHeight(R);
    bitmap->SetWidth(half);
    if (mode < 0 || mode > 3 || half == 0) return;

    const double* data = spectrum->getData();
    for (int i = 0; i < R; ++i) {
        std::uint8_t* row = bitmap->GetScanline(i);
        const double* element = data + 2 * static_cast<std::size_t>(i) * static_cast<std::size_t>(half);
        for (int j = 0; j < half; ++j, element += 2) {
            const double re = element[0];
            const double im = element[1];
            switch (mode) {
            case 0: row[j] = wrappedByte(std::floor(std::fabs(re) * scale)); break;
            case 1: row[j] = wrappedByte(std::floor(std::fabs(im) * scale)); break;
            case 2: row[j] = saturatedByte(std::floor(std::sqrt(re * re + im * im) * scale)); break;
            default: row[j] = saturatedByte(std::floor((re * re + im * im) * scale)); break;
            }
        }
    }
}
