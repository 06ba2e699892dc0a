// Telling the formats apart, the BMP decoder on the toolkit's bitmap, and
// the 8-bit view.
#include "toolkit/picture_formats.h"

#include "toolkit/bitmap.h"
#include "toolkit/files.h"

#include <algorithm>
#include <cctype>
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

namespace {

std::uint64_t little(const std::string& b, std::size_t at, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

std::uint64_t big(const std::string& b, std::size_t at, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

}  // namespace

bool readPictureSize(const std::string& path, long long& width, long long& height)
{
    const std::string start = readFilePart(path, 0, 64);
    try {
        switch (pictureFormat(start)) {
        case PictureFormat::bmp: {
            if (start.size() < 26) return false;
            const bool core = little(start, 14, 4) == 12;
            width = core ? static_cast<long long>(little(start, 18, 2)) : static_cast<std::int32_t>(little(start, 18, 4));
            height = core ? static_cast<long long>(little(start, 20, 2)) : static_cast<std::int32_t>(little(start, 22, 4));
            height = height < 0 ? -height : height;
            break;
        }
        case PictureFormat::png:
            if (start.size() < 24) return false;
            width = static_cast<long long>(big(start, 16, 4));
            height = static_cast<long long>(big(start, 20, 4));
            break;
        case PictureFormat::pnm: {
            std::size_t at = 2;
            long long* fields[] = {&width, &height};
            for (long long* field : fields) {
                while (at < start.size() && (std::isspace(static_cast<unsigned char>(start[at])) || start[at] == '#'))
                    at = start[at] == '#' ? start.find('\n', at) : at + 1;
                if (at >= start.size() || !std::isdigit(static_cast<unsigned char>(start[at]))) return false;
                *field = 0;
                while (at < start.size() && std::isdigit(static_cast<unsigned char>(start[at])) && *field < (1LL << 40))
                    *field = *field * 10 + (start[at++] - '0');
            }
            break;
        }
        case PictureFormat::tiff: {
            // The first directory's width (256) and length (257) entries.
            const bool le = start[0] == 'I';
            auto get = [&](const std::string& b, std::size_t at, int n) { return le ? little(b, at, n) : big(b, at, n); };
            if (start.size() < 8) return false;
            const std::uint64_t ifd = get(start, 4, 4);
            const std::string count = readFilePart(path, ifd, 2);
            if (count.size() < 2) return false;
            const std::string entries = readFilePart(path, ifd + 2, 12 * get(count, 0, 2));
            width = height = 0;
            for (std::size_t e = 0; e + 12 <= entries.size(); e += 12) {
                const std::uint64_t tag = get(entries, e, 2), type = get(entries, e + 2, 2);
                const long long value = static_cast<long long>(type == 3 ? get(entries, e + 8, 2) : get(entries, e + 8, 4));
                if (tag == 256) width = value;
                if (tag == 257) height = value;
            }
            break;
        }
        }
    } catch (const std::runtime_error&) {
        return false;
    }
    return width > 0 && height > 0;
}

std::string readPictureFile(const std::string& path)
{
    try {
        return readWholeFile(path, maxPictureFileBytes, "1 GiB");
    } catch (const std::runtime_error& e) {
        throw unreadableFile(path, e.what());
    }
}

std::runtime_error unreadableFile(const std::string& path, const std::string& reason)
{
    return std::runtime_error("Nie można wczytać pliku \"" + displayFileName(path) + "\": " + reason);
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
