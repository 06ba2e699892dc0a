// The window's bitmap to the transform's matrix, and a spectrum drawn into it.
#include "imaging/convert.h"

#include "imaging/palette.h"

#include <algorithm>
#include <cstdint>
#include <vector>

std::unique_ptr<matrix> bitmapToMatrix(TBitmap& bitmap)
{
    bitmap.SetPixelFormat(pf8bit);
    const int W = bitmap.GetWidth();
    const int H = bitmap.GetHeight();
    paddedSize(W, H);  // refused before the copy
    std::vector<std::uint8_t> levels(static_cast<std::size_t>(W) * static_cast<std::size_t>(H));
    for (int i = 0; i < H; ++i) {
        const std::uint8_t* row = bitmap.GetScanline(i);
        std::copy(row, row + W, levels.begin() + static_cast<std::ptrdiff_t>(i) * W);
    }
    return levelsToMatrix(levels.data(), W, H);
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
        for (int j = 0; j < half; ++j, element += 2) row[j] = spectrumByte(mode, scale, element[0], element[1]);
    }
}
