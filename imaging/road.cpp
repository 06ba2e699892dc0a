#include "imaging/road.h"

#include "imaging/convert.h"
#include "imaging/palette.h"

#include <algorithm>
#include <vector>

void loadGreyBitmap(TBitmap& bitmap, const std::string& path)
{
    bitmap.LoadFromFile(path);
    bitmap.SetPalette(makeGreyPalette());
}

std::unique_ptr<matrix> centredSpectrum(TBitmap& bitmap)
{
    // Refuse an oversized picture before the conversion switches it to 8 bits
    // (bitmapToMatrix checks again, for its other callers).
    paddedSize(bitmap.GetWidth(), bitmap.GetHeight());
    std::unique_ptr<matrix> spectrum = bitmapToMatrix(bitmap);
    fourierTransform2D(spectrum->getData(), static_cast<std::uint32_t>(spectrum->getCols() / 2),
                       static_cast<std::uint32_t>(spectrum->getRows()), 1);
    swapQuadrants(*spectrum);
    return spectrum;
}

double fractalDimension(const matrix& spectrum, Method method, const Notifier& notify, FitPoints* points)
{
    const std::unique_ptr<matrix> power = powerSpectrum(spectrum);
    const double slope = method == Method::one
                             ? estimateMethod1(*power, power->getCols(), power->getRows(), notify, points)
                             : estimateMethod2(*power, power->getCols(), power->getRows(), notify, points);
    return -2.0 / slope;
}

PsdResult psdDimension(TBitmap& bitmap, const PsdOptions& options)
{
    bitmap.SetPixelFormat(pf8bit);
    const int W = bitmap.GetWidth(), H = bitmap.GetHeight();
    std::vector<double> values(static_cast<std::size_t>(W) * static_cast<std::size_t>(H));
    for (int y = 0; y < H; ++y) {
        const std::uint8_t* row = bitmap.GetScanline(y);
        std::copy(row, row + W, values.begin() + static_cast<std::ptrdiff_t>(y) * W);
    }
    return estimatePsdDimension(values.data(), W, H, options);
}

std::uint64_t analysisBytes(long long width, long long height)
{
    std::uint64_t padded = 1;
    for (long long w = 1; w < width; w *= 2) padded *= 2;
    for (long long h = 1; h < height; h *= 2) padded *= 2;
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return padded * (sizeof(double) * 3 + 1) + pixels * 8;
}
