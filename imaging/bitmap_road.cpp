// The analysis road's first steps on the window's bitmap.
#include "imaging/bitmap_road.h"

#include "imaging/convert.h"
#include "imaging/palette.h"

#include <stdexcept>

void loadGreyBitmap(TBitmap& bitmap, const std::string& path, int page, int* pages, GreyRaster* full)
{
    const std::string bytes = readPictureFile(path);
    std::unique_ptr<PictureReader> reader;
    try {
        reader = std::make_unique<PictureReader>(bytes);
    } catch (const std::runtime_error& e) {
        throw unreadableFile(path, e.what());
    }
    if (pages) *pages = reader->pages();
    loadGreyBitmap(bitmap, *reader, path, page, full);
}

void loadGreyBitmap(TBitmap& bitmap, PictureReader& reader, const std::string& path, int page, GreyRaster* full,
                    PageFacts* facts)
{
    // A BMP's bitmap decodes the file itself: the raster only when asked.
    const bool bmp = reader.format() == PictureFormat::bmp;
    GreyRaster picture = !bmp || full || facts ? readPage(reader, path, page, facts) : GreyRaster{};
    try {
        if (bmp) {
            bitmap.LoadFromMemory(reader.bytes().data(), reader.bytes().size());
        } else {
            const std::vector<std::uint8_t> levels = eightBitView(picture);
            bitmap.LoadLevels(picture.width, picture.height, levels.data());
        }
    } catch (const std::runtime_error& e) {
        throw unreadableFile(path, e.what());
    }
    if (full) *full = std::move(picture);
    bitmap.SetPalette(makeGreyPalette());
}

std::unique_ptr<matrix> centredSpectrum(TBitmap& bitmap)
{
    // Refuse an oversized picture before the conversion switches it to 8 bits
    // (bitmapToMatrix checks again, for its other callers).
    paddedSize(bitmap.GetWidth(), bitmap.GetHeight());
    return centredSpectrum(bitmapToMatrix(bitmap));
}
