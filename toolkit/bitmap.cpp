#include "toolkit/bitmap_qt.h"

#include "toolkit/files.h"
#include "toolkit/picture_formats.h"
#include "toolkit/picture.h"

#include <QBuffer>
#include <QImageReader>
#include <QString>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace {

// The largest picture that loads: anything larger could not be analysed
// (its padded size would pass the analysis limit).  Checked against the
// header before anything is allocated for the pixels.
constexpr long long maxPixels = maxPicturePixels;

std::uint32_t u32(const QByteArray& b, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
std::uint16_t u16(const QByteArray& b, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

struct BmpLayout {
    long long width;
    long long height;  // rows, whichever way they run
    bool topDown;
    int bitsPerPixel;
    bool rle;
    qsizetype paletteAt;
    int paletteEntrySize;
    long long paletteEntries;
    qsizetype pixelsAt;
};

// Walks an RLE4/RLE8 stream: every run must stay inside its row and the
// image, and the stream inside the file.  Throws std::runtime_error.
void checkRle(const QByteArray& b, qsizetype at, const BmpLayout& layout)
{
    const qsizetype end = b.size();
    long long x = 0, y = 0;
    auto need = [&](qsizetype bytes) {
        if (at + bytes > end) throw std::runtime_error("the RLE pixel data is cut short");
    };
    auto draw = [&](long long count) {
        if (y >= layout.height) throw std::runtime_error("RLE data runs past the last row");
        if (x + count > layout.width) throw std::runtime_error("an RLE run overruns its row");
        x += count;
    };
    for (;;) {
        if (at + 2 > end) {
            if (y >= layout.height) return;  // every row done, the end marker left out
            throw std::runtime_error("the RLE pixel data is cut short");
        }
        const unsigned char count = static_cast<unsigned char>(b[at]);
        const unsigned char code = static_cast<unsigned char>(b[at + 1]);
        at += 2;
        if (count > 0) {
            draw(count);
        } else if (code == 0) {
            x = 0;
            ++y;
        } else if (code == 1) {
            return;
        } else if (code == 2) {
            need(2);
            x += static_cast<unsigned char>(b[at]);
            y += static_cast<unsigned char>(b[at + 1]);
            at += 2;
            if (x > layout.width || y > layout.height) throw std::runtime_error("an RLE jump leaves the image");
        } else {
            draw(code);
            const qsizetype bytes = layout.bitsPerPixel == 8 ? code : (code + 1) / 2;
            need(bytes);
            at += bytes + (bytes & 1);
        }
    }
}

// Checks what a BMP file claims against the file itself, so that the decoder
// never meets a header that lies: Qt would fill a picture whose pixel data is
// cut short with whatever memory held.  Throws std::runtime_error with the reason.
BmpLayout checkBmp(const QByteArray& b)
{
    if (b.size() < 18) throw std::runtime_error("the file is too short to be a BMP file");
    if (b[0] != 'B' || b[1] != 'M') throw std::runtime_error("this is not a BMP file");
    const std::uint32_t pixelsAt = u32(b, 10);
    const std::uint32_t headerSize = u32(b, 14);
    const bool core = headerSize == 12;
    if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 64 &&
        headerSize != 108 && headerSize != 124)
        throw std::runtime_error("unknown BMP header size " + std::to_string(headerSize));
    if (b.size() < 14 + static_cast<qsizetype>(headerSize)) throw std::runtime_error("the BMP header is cut short");

    BmpLayout layout{};
    const long long rawHeight = core ? u16(b, 20) : static_cast<std::int32_t>(u32(b, 22));
    layout.width = core ? u16(b, 18) : static_cast<std::int32_t>(u32(b, 18));
    layout.height = rawHeight < 0 ? -rawHeight : rawHeight;
    layout.topDown = rawHeight < 0;
    layout.bitsPerPixel = core ? u16(b, 24) : u16(b, 28);
    const std::uint32_t compression = core ? 0 : u32(b, 30);
    const std::uint32_t coloursUsed = core ? 0 : u32(b, 46);
    const int bpp = layout.bitsPerPixel;

    if (layout.width < 1 || layout.height < 1)
        throw std::runtime_error("the picture has no pixels (" + std::to_string(layout.width) + " x " +
                                 std::to_string(rawHeight) + ")");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        throw std::runtime_error(std::to_string(bpp) + " bits per pixel is not a BMP format");
    if (layout.width * layout.height > maxPixels)
        throw std::runtime_error("the picture is " + std::to_string(layout.width) + " x " +
                                 std::to_string(layout.height) + " pixels, more than can be analysed (fewer than " +
                                 std::to_string(maxPixels + 1) + ")");
    const bool rle8 = compression == 1 && bpp == 8;
    const bool rle4 = compression == 2 && bpp == 4;
    const bool bitfields = compression == 3 && (bpp == 16 || bpp == 32);
    if (compression != 0 && !rle8 && !rle4 && !bitfields)
        throw std::runtime_error("compression " + std::to_string(compression) + " with " + std::to_string(bpp) +
                                 " bits per pixel is not supported");
    layout.rle = rle8 || rle4;
    if (layout.rle && rawHeight < 0) throw std::runtime_error("an RLE bitmap cannot run top-down");

    if (bpp <= 8 && coloursUsed > (1u << bpp))
        throw std::runtime_error("the palette claims " + std::to_string(coloursUsed) + " colours for " +
                                 std::to_string(bpp) + " bits per pixel");
    const long long paletteEntries = bpp <= 8 ? (coloursUsed ? coloursUsed : 1u << bpp) : coloursUsed;
    const long long masks = bitfields && headerSize == 40 ? 12 : 0;
    layout.paletteAt = static_cast<qsizetype>(14 + headerSize + masks);
    layout.paletteEntrySize = core ? 3 : 4;
    layout.paletteEntries = paletteEntries;
    layout.pixelsAt = pixelsAt;
    const long long paletteEnd = layout.paletteAt + paletteEntries * layout.paletteEntrySize;
    if (bpp <= 8 && paletteEnd > b.size()) throw std::runtime_error("the palette runs past the end of the file");
    if (pixelsAt < 14 + headerSize || pixelsAt >= static_cast<std::uint64_t>(b.size()))
        throw std::runtime_error("the pixel data is said to start at byte " + std::to_string(pixelsAt) +
                                 ", outside the file");

    if (layout.rle) {
        checkRle(b, pixelsAt, layout);
    } else {
        const long long rowBytes = (layout.width * bpp + 31) / 32 * 4;
        const long long needed = rowBytes * layout.height;
        if (pixelsAt + needed > b.size())
            throw std::runtime_error("the pixel data is cut short (" + std::to_string(b.size() - pixelsAt) + " of " +
                                     std::to_string(needed) + " bytes)");
    }
    return layout;
}

// One bit per pixel, unpacked to one index per byte.  Qt's reader may swap
// the two palette entries and invert the pixels, which keeps the colours but
// not the indices that the analysis reads.
QImage unpackOneBit(const QByteArray& b, const BmpLayout& layout)
{
    QImage image(static_cast<int>(layout.width), static_cast<int>(layout.height), QImage::Format_Indexed8);
    if (image.isNull()) throw std::bad_alloc();
    QList<QRgb> table;
    for (long long i = 0; i < layout.paletteEntries; ++i) {
        const auto* e = reinterpret_cast<const unsigned char*>(b.constData() + layout.paletteAt +
                                                               i * layout.paletteEntrySize);
        table.push_back(qRgb(e[2], e[1], e[0]));
    }
    image.setColorTable(table);
    const long long rowBytes = (layout.width + 31) / 32 * 4;
    for (long long fileRow = 0; fileRow < layout.height; ++fileRow) {
        const auto* in = reinterpret_cast<const unsigned char*>(b.constData() + layout.pixelsAt + fileRow * rowBytes);
        uchar* out = image.scanLine(static_cast<int>(layout.topDown ? fileRow : layout.height - 1 - fileRow));
        for (long long x = 0; x < layout.width; ++x) out[x] = (in[x / 8] >> (7 - x % 8)) & 1;
    }
    return image;
}

QList<QRgb> colourTable(const TPalette& palette)
{
    QList<QRgb> table(256, qRgb(0, 0, 0));
    const std::size_t n = std::min<std::size_t>(palette.entries.size(), 256);
    for (std::size_t i = 0; i < n; ++i) {
        const TPaletteEntry& e = palette.entries[i];
        table[static_cast<int>(i)] = qRgb(e.red, e.green, e.blue);
    }
    return table;
}

HPALETTE paletteOf(const QImage& image)
{
    auto palette = std::make_unique<TPalette>();
    for (QRgb c : image.colorTable())
        palette->entries.push_back({static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
                                    static_cast<std::uint8_t>(qBlue(c)), 0});
    return palette;
}

bool isIndexed(const QImage& image) { return image.colorCount() > 0 || image.format() == QImage::Format_Indexed8; }

bool isGreyRamp(const TPalette& p)
{
    if (p.entries.size() != 256) return false;
    for (int i = 0; i < 256; ++i) {
        const TPaletteEntry& e = p.entries[static_cast<std::size_t>(i)];
        if (e.red != i || e.green != i || e.blue != i) return false;
    }
    return true;
}

// True colour to palette indices, each pixel to its nearest entry (squared
// RGB distance, the lower index on a tie).
QImage toNearestIndices(const QImage& source, const TPalette* palette)
{
    const QImage rgb = source.convertToFormat(QImage::Format_ARGB32);
    QImage out(rgb.size(), QImage::Format_Indexed8);
    if (out.isNull()) throw std::bad_alloc();
    const bool grey = palette == nullptr || isGreyRamp(*palette);
    std::unordered_map<QRgb, std::uint8_t> cache;
    auto nearest = [&](QRgb c) -> std::uint8_t {
        const int r = qRed(c), g = qGreen(c), b = qBlue(c);
        if (grey) return static_cast<std::uint8_t>((r + g + b + 1) / 3);
        const QRgb key = c | 0xff000000u;
        if (auto it = cache.find(key); it != cache.end()) return it->second;
        int best = 0;
        long bestDistance = -1;
        for (std::size_t i = 0; i < palette->entries.size() && i < 256; ++i) {
            const TPaletteEntry& e = palette->entries[i];
            const long d = long(r - e.red) * (r - e.red) + long(g - e.green) * (g - e.green) +
                           long(b - e.blue) * (b - e.blue);
            if (bestDistance < 0 || d < bestDistance) {
                bestDistance = d;
                best = static_cast<int>(i);
            }
        }
        return cache[key] = static_cast<std::uint8_t>(best);
    };
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        std::uint8_t* o = out.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x) o[x] = nearest(in[x]);
    }
    return out;
}

}  // namespace

void PrepareBitmapsForThreads()
{
    QImageReader::supportedImageFormats();
    QImageReader::setAllocationLimit(qtAllocationLimitMiB);
    QBuffer buffer;
    buffer.open(QIODevice::ReadOnly);
    QImageReader(&buffer, "bmp").canRead();
}

struct TBitmap::Impl {
    QImage image;  // null while either side is 0
    int width = 0;
    int height = 0;
    bool eightBit = false;  // pf8bit asked for on a bitmap without pixels yet
    HPALETTE palette;

    void applyPalette()
    {
        if (palette && image.format() == QImage::Format_Indexed8) image.setColorTable(colourTable(*palette));
    }

    void reshape()
    {
        if (width == 0 || height == 0) {
            image = QImage();
            return;
        }
        const QImage::Format format =
            image.isNull() ? (eightBit ? QImage::Format_Indexed8 : QImage::Format_RGB32) : image.format();
        QImage resized(width, height, format);
        if (resized.isNull())
            throw std::runtime_error("Brak pamięci na bitmapę " + std::to_string(width) + " x " +
                                     std::to_string(height));
        resized.fill(0);
        if (format == QImage::Format_Indexed8 || image.colorCount() > 0)
            resized.setColorTable(image.isNull() ? QList<QRgb>(256, qRgb(0, 0, 0)) : image.colorTable());
        if (!image.isNull()) {
            const int rows = std::min(height, image.height());
            const qsizetype bytes = std::min(resized.bytesPerLine(), image.bytesPerLine());
            for (int y = 0; y < rows; ++y) std::memcpy(resized.scanLine(y), image.constScanLine(y), bytes);
        }
        image = std::move(resized);
        applyPalette();
    }
};

TBitmap::TBitmap() : d(std::make_unique<Impl>()) {}
TBitmap::~TBitmap() = default;

void TBitmap::LoadFromFile(const std::string& path)
{
    const std::string bytes = readPictureFile(path);  // its message names the file
    try {
        LoadFromMemory(bytes.data(), bytes.size());
    } catch (const std::runtime_error& e) {
        throw unreadableFile(path, e.what());
    }
}

void TBitmap::LoadFromMemory(const void* data, std::size_t size)
{
    if (size > maxPictureFileBytes) throw std::runtime_error("the file is larger than 1 GiB");
    const QByteArray bytes = QByteArray::fromRawData(static_cast<const char*>(data), static_cast<qsizetype>(size));
    const BmpLayout layout = checkBmp(bytes);

    QImageReader::setAllocationLimit(qtAllocationLimitMiB);
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    reader.setDecideFormatFromContent(false);
    QImage loaded;
    if (layout.rle) {
        // RLE data may skip pixels; the decoder fills the picture it is given
        // when the size and format fit, so skipped pixels are index 0, not
        // whatever the memory held.
        loaded = QImage(static_cast<int>(layout.width), static_cast<int>(layout.height), QImage::Format_Indexed8);
        if (loaded.isNull()) throw std::bad_alloc();
        loaded.fill(0);
    }
    if (layout.bitsPerPixel == 1)
        loaded = unpackOneBit(bytes, layout);
    else if (!reader.read(&loaded) || loaded.isNull())
        throw std::runtime_error(reader.errorString().toStdString());
    if (isIndexed(loaded) && loaded.format() != QImage::Format_Indexed8)
        loaded = loaded.convertToFormat(QImage::Format_Indexed8);
    d->palette = isIndexed(loaded) ? paletteOf(loaded) : nullptr;
    d->width = loaded.width();
    d->height = loaded.height();
    d->eightBit = loaded.format() == QImage::Format_Indexed8;
    d->image = std::move(loaded);
}

void TBitmap::LoadLevels(int width, int height, const std::uint8_t* levels)
{
    QImage image(width, height, QImage::Format_Indexed8);
    if (image.isNull()) throw std::bad_alloc();
    image.setColorTable(QList<QRgb>(256, qRgb(0, 0, 0)));
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), levels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                    static_cast<std::size_t>(width));
    d->palette = nullptr;
    d->width = width;
    d->height = height;
    d->eightBit = true;
    d->image = std::move(image);
}

void TBitmap::SaveToFile(const std::string& path) const
{
    if (d->image.isNull()) throw std::runtime_error("an empty picture cannot be written to \"" + displayFileName(path) + "\"");
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!d->image.save(&buffer, "BMP")) throw std::runtime_error("cannot write the picture to \"" + displayFileName(path) + "\"");
    try {
        writeFileAtomically(path, encoded.toStdString());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("cannot write the picture to \"" + displayFileName(path) + "\": " + e.what());
    }
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format != pf8bit) throw std::invalid_argument("TBitmap: only the 8-bit palette format is supported");
    d->eightBit = true;
    if (d->image.isNull() || d->image.format() == QImage::Format_Indexed8) return;
    QImage converted = isIndexed(d->image) ? d->image.convertToFormat(QImage::Format_Indexed8)
                                           : toNearestIndices(d->image, d->palette.get());
    if (converted.isNull()) throw std::runtime_error("Brak pamięci na zmianę formatu bitmapy");
    if (converted.colorCount() == 0) converted.setColorTable(QList<QRgb>(256, qRgb(0, 0, 0)));
    d->image = std::move(converted);
    d->applyPalette();
}

TPixelFormat TBitmap::GetPixelFormat() const
{
    if (d->image.isNull()) return d->eightBit ? pf8bit : pfDevice;
    switch (d->image.format()) {
    case QImage::Format_Indexed8: return pf8bit;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: return pf1bit;
    case QImage::Format_RGB16: return pf16bit;
    case QImage::Format_RGB888: return pf24bit;
    default: return pf32bit;
    }
}

void TBitmap::SetHandleType(TBitmapHandleType) {}

void TBitmap::SetPalette(HPALETTE palette)
{
    d->palette = std::move(palette);
    d->applyPalette();
}

const TPalette* TBitmap::GetPalette() const { return d->palette.get(); }

int TBitmap::GetWidth() const { return d->width; }
int TBitmap::GetHeight() const { return d->height; }

void TBitmap::SetWidth(int width)
{
    if (width < 0) throw std::invalid_argument("TBitmap: negative width " + std::to_string(width));
    if (width == d->width) return;
    d->width = width;
    d->reshape();
}

void TBitmap::SetHeight(int height)
{
    if (height < 0) throw std::invalid_argument("TBitmap: negative height " + std::to_string(height));
    if (height == d->height) return;
    d->height = height;
    d->reshape();
}

std::uint8_t* TBitmap::GetScanline(int row)
{
    if (row < 0 || row >= d->height || d->image.isNull())
        throw std::out_of_range("TBitmap: row " + std::to_string(row) + " outside a bitmap of " +
                                std::to_string(d->height) + " rows");
    return d->image.scanLine(row);
}

bool TBitmap::Empty() const { return d->image.isNull(); }

QImage displayImage(const TBitmap& bitmap) { return bitmap.impl().image; }
