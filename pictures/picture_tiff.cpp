// TIFF and BigTIFF files through libtiff, read from memory, page after page
// in one pass: 1- to 32-bit unsigned, 8- to 32-bit signed and 32- and
// 64-bit floating-point samples, grey, RGB or palette, in strips or tiles,
// interleaved or in planes, with any compression the library reads, turned
// as the Orientation tag says it is shown.  Its warnings and errors are caught
// into the refusal's message.
#include "pictures/picture_formats.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

struct Source {
    const std::string& bytes;
    toff_t at = 0;
    std::string messages;
};

tsize_t readBytes(thandle_t h, tdata_t into, tsize_t size)
{
    Source& s = *static_cast<Source*>(h);
    if (size < 0 || s.at >= s.bytes.size()) return 0;
    const tsize_t n = std::min<tsize_t>(size, static_cast<tsize_t>(s.bytes.size() - s.at));
    std::memcpy(into, s.bytes.data() + s.at, static_cast<std::size_t>(n));
    s.at += static_cast<toff_t>(n);
    return n;
}
tsize_t writeBytes(thandle_t, tdata_t, tsize_t) { return -1; }
toff_t seek(thandle_t h, toff_t offset, int whence)
{
    Source& s = *static_cast<Source*>(h);
    const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s.at : s.bytes.size();
    s.at = base + offset;
    return s.at;
}
int closeSource(thandle_t) { return 0; }
toff_t sizeOf(thandle_t h) { return static_cast<Source*>(h)->bytes.size(); }
int noMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void noUnmap(thandle_t, tdata_t, toff_t) {}

int collect(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    std::string& m = static_cast<Source*>(user)->messages;
    if (m.size() < 2000) m += (m.empty() ? "" : "; ") + std::string(module ? module : "") + ": " + text;
    return 1;  // handled: nothing reaches the terminal
}

struct Closer {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

template <class T>
T field(TIFF* tif, ttag_t tag, T fallback)
{
    T value = fallback;
    if (!TIFFGetFieldDefaulted(tif, tag, &value)) value = fallback;
    return value;
}

// A TIFF file opened on its bytes, its messages collected in `source`.
struct OpenedTiff {
    explicit OpenedTiff(Source& source) : options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree)
    {
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), collect, &source);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), collect, &source);
        // No single allocation past the largest strip or tile worth reading.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t{1} << 30);
        tif.reset(TIFFClientOpenExt("picture", "rm", &source, readBytes, writeBytes, seek, closeSource, sizeOf, noMap,
                                    noUnmap, options.get()));
    }
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options;
    std::unique_ptr<TIFF, Closer> tif;
};

std::runtime_error failure(const Source& source, const std::string& what)
{
    return std::runtime_error(what + (source.messages.empty() ? "" : " (" + source.messages + ")"));
}

// The type that holds the file's samples; a refusal for what is not read.
template <class Fail>
SampleType sampleType(uint16_t format, uint16_t bits, bool palette, const Fail& fail)
{
    if (format == SAMPLEFORMAT_UINT && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) return SampleType::uint8;
    if (format == SAMPLEFORMAT_UINT && bits == 16) return SampleType::uint16;
    if (!palette) {
        if (format == SAMPLEFORMAT_UINT && bits == 32) return SampleType::uint32;
        if (format == SAMPLEFORMAT_INT && bits == 8) return SampleType::int8;
        if (format == SAMPLEFORMAT_INT && bits == 16) return SampleType::int16;
        if (format == SAMPLEFORMAT_INT && bits == 32) return SampleType::int32;
        if (format == SAMPLEFORMAT_IEEEFP && bits == 32) return SampleType::float32;
        if (format == SAMPLEFORMAT_IEEEFP && bits == 64) return SampleType::float64;
    }
    throw fail(std::to_string(bits) + "-bit " +
               (format == SAMPLEFORMAT_IEEEFP ? "floating-point" : format == SAMPLEFORMAT_INT ? "signed" : "unsigned") +
               (palette ? " palette indices are not read; 1- to 16-bit unsigned ones are"
                        : " samples are not read; 1- to 32-bit unsigned, 8- to 32-bit signed and 32- and 64-bit "
                          "floating point are"));
}

// Sample `index` of a row of samples `bits` wide (fewer than 8 packed from
// the highest bit down), in the machine's byte order as libtiff leaves them.
double readSample(const unsigned char* row, std::size_t index, int bits, uint16_t format)
{
    if (bits < 8) {
        const std::size_t bit = index * static_cast<std::size_t>(bits);
        return (row[bit / 8] >> (8 - bits - static_cast<int>(bit % 8))) & ((1 << bits) - 1);
    }
    const unsigned char* p = row + index * static_cast<std::size_t>(bits / 8);
    auto load = [p](auto value) {
        std::memcpy(&value, p, sizeof value);
        return static_cast<double>(value);
    };
    const bool isSigned = format == SAMPLEFORMAT_INT, isFloat = format == SAMPLEFORMAT_IEEEFP;
    switch (bits) {
    case 8: return isSigned ? load(int8_t{}) : load(uint8_t{});
    case 16: return isSigned ? load(int16_t{}) : load(uint16_t{});
    case 32: return isFloat ? load(float{}) : isSigned ? load(int32_t{}) : load(uint32_t{});
    default: return load(double{});
    }
}

// A grey sample of a picture whose zero is white, made one whose zero is
// black: floating point negated, unsigned values taken from their largest,
// signed ones bit-inverted (-1 - v), so that the range stays the same.
double whiteIsZero(double v, SampleType type)
{
    switch (type) {
    case SampleType::float32:
    case SampleType::float64: return -v;
    case SampleType::uint8: return 255 - v;
    case SampleType::uint16: return 65535 - v;
    case SampleType::uint32: return 4294967295.0 - v;
    default: return -1 - v;
    }
}

}  // namespace

struct TiffPages::Impl {
    explicit Impl(const std::string& bytes) : source{bytes, 0, {}}, opened(source) {}
    Source source;
    OpenedTiff opened;
    int count = 0;
    int current = 0;  // the directory libtiff has read
    GreyRaster decodeCurrent();
};

TiffPages::TiffPages(const std::string& bytes) : d(std::make_unique<Impl>(bytes))
{
    if (!d->opened.tif) throw failure(d->source, "the TIFF file cannot be opened");
    d->count = TIFFNumberOfDirectories(d->opened.tif.get());
}

TiffPages::~TiffPages() = default;

int TiffPages::count() const { return d->count; }

// The pixel's size from the resolution tags, in the file's stored order:
// pixels per inch or per centimetre make a length; no unit (or a
// resolution that is not a positive number) gives none.
static void pixelSize(TIFF* t, GreyRaster& raster)
{
    const std::uint16_t unit = field<std::uint16_t>(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE);
    const double length = unit == RESUNIT_INCH ? 0.0254 : unit == RESUNIT_CENTIMETER ? 0.01 : 0.0;
    float x = 0, y = 0;
    if (length == 0 || !TIFFGetField(t, TIFFTAG_XRESOLUTION, &x) || !TIFFGetField(t, TIFFTAG_YRESOLUTION, &y)) return;
    if (!(x > 0) || !(y > 0) || !std::isfinite(x) || !std::isfinite(y)) return;
    raster.dx = length / static_cast<double>(x);
    raster.dy = length / static_cast<double>(y);
}

GreyRaster TiffPages::decode(int page)
{
    TIFF* t = d->opened.tif.get();
    d->source.messages.clear();
    if (page < 0 || page >= d->count)
        throw failure(d->source, "the file holds " + std::to_string(d->count) + " pages, not page " +
                                     std::to_string(page + 1));
    // Forward from the directory in hand; back only by starting again.
    if (page < d->current) {
        if (!TIFFSetDirectory(t, static_cast<tdir_t>(page)))
            throw failure(d->source, "page " + std::to_string(page + 1) + " cannot be read");
        d->current = page;
    }
    while (d->current < page) {
        if (!TIFFReadDirectory(t)) {
            // A broken directory on the way: the page is found from the
            // start, as going back finds it, so that a page is the same
            // whatever was read before it.
            if (TIFFSetDirectory(t, static_cast<tdir_t>(page))) {
                d->current = page;
                break;
            }
            // Where libtiff stands now is unknown: start again next time.
            d->current = d->count;
            throw failure(d->source, "page " + std::to_string(page + 1) + " cannot be read");
        }
        ++d->current;
    }
    return d->decodeCurrent();
}

GreyRaster TiffPages::Impl::decodeCurrent()
{
    const std::string& bytes = source.bytes;
    auto fail = [&](const std::string& what) { return failure(source, what); };
    TIFF* t = opened.tif.get();
    const auto width = field<uint32_t>(t, TIFFTAG_IMAGEWIDTH, 0);
    const auto height = field<uint32_t>(t, TIFFTAG_IMAGELENGTH, 0);
    checkPictureSize(width, height);
    const auto bits = field<uint16_t>(t, TIFFTAG_BITSPERSAMPLE, 1);
    const auto channels = field<uint16_t>(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    const auto format = field<uint16_t>(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    const auto photometric = field<uint16_t>(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    const auto planar = field<uint16_t>(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);

    const bool rgb = photometric == PHOTOMETRIC_RGB;
    const bool palette = photometric == PHOTOMETRIC_PALETTE;
    GreyRaster raster;
    const SampleType type = sampleType(format, bits, palette, fail);
    if (!rgb && !palette && photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE)
        throw fail("photometric interpretation " + std::to_string(photometric) +
                   " is not read; grey, RGB and palette pictures are");
    if (channels < (rgb ? 3 : 1) || channels > 8) throw fail(std::to_string(channels) + " samples a pixel");
    if (bits < 8 && rgb) throw fail(std::to_string(bits) + "-bit colour samples are not read");
    uint16_t* map[3] = {nullptr, nullptr, nullptr};
    if (palette && !TIFFGetField(t, TIFFTAG_COLORMAP, &map[0], &map[1], &map[2]))
        throw fail("the palette picture has no colour map");

    // Before anything is allocated for the pixels: every strip or tile lies
    // inside the file.  How much a compression packs is not bounded here: a
    // picture of one value compresses thousands to one.  What is bounded is
    // the decoded size, by the picture's size (checked above).
    const uint32_t blocks = TIFFIsTiled(t) ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint64_t offset = TIFFGetStrileOffset(t, b), count = TIFFGetStrileByteCount(t, b);
        if (offset > bytes.size() || count > bytes.size() - offset)
            throw fail("picture data " + std::to_string(b + 1) + " lies outside the file");
    }
    // The bytes of one row of a block `blockWidth` pixels wide: rows start
    // on a whole byte, samples of fewer than 8 bits are packed.
    const std::size_t perRow = planar == PLANARCONFIG_SEPARATE ? 1 : channels;
    auto rowBytes = [&](uint64_t blockWidth) { return (blockWidth * perRow * bits + 7) / 8; };
    // A strip or tile holds at most the whole picture, or a small block
    // where the picture is smaller than one tile.
    const std::size_t blockLimit =
        std::max<std::size_t>(rowBytes(width) * height * (planar == PLANARCONFIG_SEPARATE ? channels : 1),
                              std::size_t{16} << 20);
    auto checkBlock = [&](const char* what, uint64_t blockWidth, uint64_t blockHeight, tmsize_t size) {
        const uint64_t needed = rowBytes(blockWidth) * blockHeight;
        if (needed > blockLimit || static_cast<uint64_t>(size) > blockLimit)
            throw fail(std::string("the ") + what + " of " + std::to_string(blockWidth) + " x " +
                       std::to_string(blockHeight) + " pixels are larger than the " + std::to_string(width) + " x " +
                       std::to_string(height) + " picture can need");
        if (static_cast<uint64_t>(size) < needed) throw fail(std::string("the ") + what + " are smaller than they say");
    };

    raster.width = static_cast<int>(width);
    raster.height = static_cast<int>(height);
    // The channels that make the grey, each as a plane of its own.
    const int used = rgb ? 3 : 1;
    const std::size_t pixels = std::size_t{width} * height;
    std::vector<double> planes(pixels * static_cast<std::size_t>(used));
    // Copies a decoded block (strip or tile) whose top-left pixel is
    // (x0, y0), laid out `blockWidth` wide, of plane `plane` (or every
    // channel interleaved when plane < 0).
    auto place = [&](const std::vector<unsigned char>& block, uint32_t x0, uint32_t y0, uint32_t blockWidth,
                     uint32_t rows, int plane) {
        const std::size_t stride = rowBytes(blockWidth);
        for (uint32_t y = 0; y < rows && y0 + y < height; ++y) {
            const unsigned char* row = block.data() + y * stride;
            for (uint32_t x = 0; x < blockWidth && x0 + x < width; ++x) {
                const std::size_t at = std::size_t{y0 + y} * width + x0 + x;
                for (int c = 0; c < used; ++c) {
                    if (plane >= 0 && plane != c) continue;
                    const std::size_t index = plane < 0 ? std::size_t{x} * channels + static_cast<std::size_t>(c) : x;
                    planes[static_cast<std::size_t>(c) * pixels + at] = readSample(row, index, bits, format);
                }
            }
        }
    };
    const int planeCount = planar == PLANARCONFIG_SEPARATE ? used : 1;
    if (TIFFIsTiled(t)) {
        const auto tw = field<uint32_t>(t, TIFFTAG_TILEWIDTH, 0), th = field<uint32_t>(t, TIFFTAG_TILELENGTH, 0);
        const tmsize_t size = TIFFTileSize(t);
        if (tw == 0 || th == 0 || size <= 0) throw fail("the tiles have no size");
        checkBlock("tiles", tw, th, size);
        std::vector<unsigned char> block(static_cast<std::size_t>(size));
        for (int plane = 0; plane < planeCount; ++plane)
            for (uint32_t y = 0; y < height; y += th)
                for (uint32_t x = 0; x < width; x += tw) {
                    if (TIFFReadTile(t, block.data(), x, y, 0, static_cast<uint16_t>(plane)) < 0)
                        throw fail("a tile cannot be decoded");
                    place(block, x, y, tw, th, planar == PLANARCONFIG_SEPARATE ? plane : -1);
                }
    } else {
        const auto rowsPerStrip = std::min(field<uint32_t>(t, TIFFTAG_ROWSPERSTRIP, height), height);
        const tmsize_t size = TIFFStripSize(t);
        if (rowsPerStrip == 0 || size <= 0) throw fail("the strips have no size");
        checkBlock("strips", width, rowsPerStrip, size);
        std::vector<unsigned char> block(static_cast<std::size_t>(size));
        const uint32_t stripsPerPlane = (height + rowsPerStrip - 1) / rowsPerStrip;
        for (int plane = 0; plane < planeCount; ++plane)
            for (uint32_t s = 0; s < stripsPerPlane; ++s) {
                std::fill(block.begin(), block.end(), 0);
                if (TIFFReadEncodedStrip(t, static_cast<uint32_t>(plane) * stripsPerPlane + s, block.data(), size) < 0)
                    throw fail("a strip cannot be decoded");
                place(block, 0, s * rowsPerStrip, width, rowsPerStrip, planar == PLANARCONFIG_SEPARATE ? plane : -1);
            }
    }

    // The grey values, stored at the samples' type once made.
    std::vector<double> grey;
    if (rgb) {
        grey.resize(pixels);
        for (std::size_t i = 0; i < pixels; ++i)
            grey[i] = greyOf(planes[i], planes[pixels + i], planes[2 * pixels + i], type);
    } else if (palette) {
        grey.resize(pixels);
        const std::size_t entries = std::size_t{1} << bits;
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::size_t index = static_cast<std::size_t>(planes[i]);
            if (index >= entries) throw fail("a pixel points past the colour map");
            // The map's 16-bit colours, made grey, at the samples' depth.
            const double g = greyOf(map[0][index], map[1][index], map[2][index], SampleType::uint16);
            grey[i] = type == SampleType::uint8 ? std::floor(g / 257 + 0.5) : g;
        }
    } else {
        grey = std::move(planes);
        if (bits < 8) {
            // 1, 2 and 4 bits onto 0 .. 255 (255, 85 or 17 a step), as PNG's are.
            const double step = 255.0 / ((1 << bits) - 1);
            for (double& v : grey) v *= step;
        }
        if (photometric == PHOTOMETRIC_MINISWHITE)
            for (double& v : grey) v = whiteIsZero(v, type);
    }
    raster.samples = Samples(type, grey);
    pixelSize(t, raster);
    orientPicture(raster, field<uint16_t>(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT));
    return raster;
}
