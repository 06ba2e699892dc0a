#include "imaging/road.h"

#include "imaging/convert.h"
#include "imaging/palette.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

void loadGreyBitmap(TBitmap& bitmap, const std::string& path, int page, int* pages, GreyRaster* full)
{
    loadGreyBitmap(bitmap, readPictureFile(path), path, page, pages, full);
}

void loadGreyBitmap(TBitmap& bitmap, const std::string& bytes, const std::string& path, int page, int* pages,
                    GreyRaster* full)
{
    try {
        if (pictureFormat(bytes) == PictureFormat::bmp && page == 0) {
            GreyRaster picture;
            if (full) picture = decodePicture(bytes);
            bitmap.LoadFromMemory(bytes.data(), bytes.size());
            if (pages) *pages = 1;
            if (full) *full = std::move(picture);
        } else {
            GreyRaster picture = decodePicture(bytes, page, pages);
            const std::vector<std::uint8_t> levels = eightBitView(picture);
            bitmap.LoadLevels(picture.width, picture.height, levels.data());
            if (full) *full = std::move(picture);
        }
    } catch (const std::runtime_error& e) {
        throw unreadableFile(path, e.what());
    }
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

double fractalDimension(const matrix& spectrum, Method method, const Notifier& notify, FitPoints* points,
                        double* slopeOut)
{
    const std::unique_ptr<matrix> power = powerSpectrum(spectrum);
    const double slope = method == Method::one
                             ? estimateMethod1(*power, power->getCols(), power->getRows(), notify, points)
                             : estimateMethod2(*power, power->getCols(), power->getRows(), notify, points);
    if (slopeOut) *slopeOut = slope;
    return -2.0 / slope;
}

PsdResult psdDimension(const GreyRaster& picture, const PsdOptions& options)
{
    const std::vector<double> values(picture.samples.begin(), picture.samples.end());
    return estimatePsdDimension(values.data(), picture.width, picture.height, options);
}

std::uint64_t analysisBytes(long long width, long long height)
{
    const std::uint64_t padded = std::uint64_t{powerOfTwoAtLeast(width)} * powerOfTwoAtLeast(height);
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return padded * (sizeof(double) * 3 + 1) + pixels * 8;
}
