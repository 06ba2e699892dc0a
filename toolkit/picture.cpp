// Telling the formats apart, the BMP decoder on the toolkit's bitmap, and
// the 8-bit view.
#include "toolkit/picture_formats.h"

#include "toolkit/bitmap.h"
#include "toolkit/files.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

void checkPictureSize(long long width, long long height)
{
    if (width < 1 || height < 1)
        throw std::runtime_error("the picture has no pixels (" + std::to_string(width) + " x " +
                                 std::to_string(height) + ")");
    if (width > maxPicturePixels || height > maxPicturePixels || width * height > maxPicturePixels)
        throw std::runtime_error("the picture is " + std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels, more than can be analysed (fewer than " +
                                 std::to_string(maxPicturePixels + 1) + ")");
}

std::string readPictureFile(const std::string& path)
{
    try {
        return readWholeFile(path, std::size_t{1} << 30, "1 GiB");
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("Nie można wczytać pliku \"" + displayFileName(path) + "\": " + e.what());
    }
}

PictureFormat pictureFormat(const std::string& b)
{
    if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') return PictureFormat::bmp;
    if (b.size() >= 8 && b.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) return PictureFormat::png;
    if (b.size() >= 4 && (b.compare(0, 4, "II*\0", 4) == 0 || b.compare(0, 4, "MM\0*", 4) == 0))
        return PictureFormat::tiff;
    if (b.size() >= 2 && b[0] == 'P' && b[1] >= '2' && b[1] <= '6' && b[1] != '4') return PictureFormat::pnm;
    throw std::runtime_error("this is not a picture file that can be read (BMP, PNG, TIFF, PGM or PPM)");
}

GreyRaster decodeBmp(const std::string& bytes)
{
    // The bitmap's own 8-bit levels: palette indices, or true colour made
    // grey by the rule above (the nearest grey of the grey palette).
    TBitmap bitmap;
    bitmap.LoadFromMemory(bytes.data(), bytes.size());
    bitmap.SetPixelFormat(pf8bit);
    GreyRaster raster;
    raster.width = bitmap.GetWidth();
    raster.height = bitmap.GetHeight();
    raster.samples.resize(static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.height));
    for (int y = 0; y < raster.height; ++y) {
        const std::uint8_t* row = bitmap.GetScanline(y);
        std::copy(row, row + raster.width, raster.samples.begin() + static_cast<std::ptrdiff_t>(y) * raster.width);
    }
    return raster;
}

GreyRaster decodePicture(const std::string& bytes, int page, int* pages)
{
    const PictureFormat format = pictureFormat(bytes);
    if (pages) *pages = 1;
    if (format == PictureFormat::tiff) return decodeTiff(bytes, page, pages);
    if (page != 0) throw std::runtime_error("the file holds one page only");
    switch (format) {
    case PictureFormat::bmp: return decodeBmp(bytes);
    case PictureFormat::png: return decodePng(bytes);
    default: return decodePnm(bytes);
    }
}

int picturePages(const std::string& bytes)
{
    return pictureFormat(bytes) == PictureFormat::tiff ? tiffPages(bytes) : 1;
}

std::vector<std::uint8_t> eightBitView(const GreyRaster& raster)
{
    std::vector<std::uint8_t> levels(raster.samples.size(), 0);
    if (raster.type == SampleType::uint8) {
        std::transform(raster.samples.begin(), raster.samples.end(), levels.begin(),
                       [](float v) { return static_cast<std::uint8_t>(v); });
        return levels;
    }
    double low = INFINITY, high = -INFINITY;
    for (float v : raster.samples)
        if (std::isfinite(v)) {
            low = std::min<double>(low, v);
            high = std::max<double>(high, v);
        }
    if (!(high > low)) return levels;
    const double scale = 255.0 / (high - low);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const float v = raster.samples[i];
        if (std::isfinite(v)) levels[i] = static_cast<std::uint8_t>(std::floor((v - low) * scale + 0.5));
    }
    return levels;
}
