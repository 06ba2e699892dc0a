#include "toolkit/bitmap_qt.h"

#include "pictures/files.h"
#include "pictures/picture.h"

#include "pictures/bmp.h"

#include <QBuffer>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace {

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
    const BmpImage decoded = decodeBmpImage(std::string(static_cast<const char*>(data), size));
    QImage loaded(decoded.width, decoded.height,
                  decoded.indexed ? QImage::Format_Indexed8 : decoded.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (loaded.isNull()) throw std::bad_alloc();
    const std::size_t W = static_cast<std::size_t>(decoded.width);
    for (int y = 0; y < decoded.height; ++y) {
        if (decoded.indexed)
            std::memcpy(loaded.scanLine(y), decoded.indices.data() + static_cast<std::size_t>(y) * W, W);
        else
            std::memcpy(loaded.scanLine(y), decoded.colours.data() + static_cast<std::size_t>(y) * W, 4 * W);
    }
    if (decoded.indexed) loaded.setColorTable(QList<QRgb>(decoded.palette.begin(), decoded.palette.end()));
    d->palette = decoded.indexed ? paletteOf(loaded) : nullptr;
    d->width = loaded.width();
    d->height = loaded.height();
    d->eightBit = decoded.indexed;
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
