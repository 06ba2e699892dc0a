#include "imaging/convert.h"

#include "imaging/palette.h"
#include "toolkit/picture.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

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
    long long pw = 1, ph = 1;
    while (height > ph) ph *= 2;
    while (width > pw) pw *= 2;
    if (pw * ph * 2 >= matrixSizeLimit) throw std::length_error(paddedSizeRefusal(width, height));
    return {static_cast<int>(pw), static_cast<int>(ph)};
}

std::unique_ptr<matrix> bitmapToMatrix(TBitmap& bitmap)
{
    bitmap.SetPixelFormat(pf8bit);
    const int W = bitmap.GetWidth();
    const int H = bitmap.GetHeight();
    const PaddedSize padded = paddedSize(W, H);
    const std::size_t PW = static_cast<std::size_t>(padded.width);

    // Zero everywhere, then the pixel bytes as real parts: the same values as
    // going through a buffer of 32-bit integers, without the buffer.
    auto result = std::make_unique<matrix>(padded.height, 2 * padded.width, nullptr);
    for (int i = 0; i < H; ++i) {
        const std::uint8_t* row = bitmap.GetScanline(i);
        double* out = result->getData() + 2 * PW * static_cast<std::size_t>(i);
        for (int j = 0; j < W; ++j) out[2 * j] = row[j];
    }
    return result;
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
            case 0: row[j] = wrappedByte(std::fabs(re) * scale); break;
            case 1: row[j] = wrappedByte(std::fabs(im) * scale); break;
            case 2: row[j] = saturatedByte(std::sqrt(re * re + im * im) * scale); break;
            default: row[j] = saturatedByte((re * re + im * im) * scale); break;
            }
        }
    }
}
