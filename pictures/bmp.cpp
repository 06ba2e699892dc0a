// BMP files: the header checked against the file, palette and true-colour
// pixels decoded, RLE streams walked twice (checked, then drawn), and the
// 8-bit grey BMP written.
#include "pictures/bmp.h"

#include "pictures/picture_formats.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace {

std::uint32_t u32(const std::string& b, long long at) { return static_cast<std::uint32_t>(littleEndian(b, static_cast<std::size_t>(at), 4)); }
int u16(const std::string& b, long long at) { return static_cast<int>(littleEndian(b, static_cast<std::size_t>(at), 2)); }

struct BmpLayout {
    long long width;
    long long height;  // rows, whichever way they run
    bool topDown;
    int bitsPerPixel;
    bool rle;
    bool bitfields;
    long long paletteAt;
    int paletteEntrySize;
    long long paletteEntries;
    long long pixelsAt;
    std::uint32_t masks[4];  // red, green, blue, alpha
};

// Walks an RLE4/RLE8 stream from `at`, calling draw(x, y, count, position)
// for each encoded run (position: the run's two bytes) and each absolute run
// (position: its first index byte, `absolute` true).  Every run must stay
// inside its row and the image, and the stream inside the file; throws
// std::runtime_error where it does not.  y counts stored rows, bottom first.
template <class Draw>
void walkRle(const std::string& b, long long at, const BmpLayout& layout, Draw&& draw)
{
    const long long end = static_cast<long long>(b.size());
    long long x = 0, y = 0;
    auto need = [&](long long bytes) {
        if (at + bytes > end) throw std::runtime_error("the RLE pixel data is cut short");
    };
    auto inside = [&](long long count) {
        if (y >= layout.height) throw std::runtime_error("RLE data runs past the last row");
        if (x + count > layout.width) throw std::runtime_error("an RLE run overruns its row");
    };
    for (;;) {
        if (at + 2 > end) {
            if (y >= layout.height) return;  // every row done, the end marker left out
            throw std::runtime_error("the RLE pixel data is cut short");
        }
        const unsigned count = static_cast<unsigned char>(b[static_cast<std::size_t>(at)]);
        const unsigned code = static_cast<unsigned char>(b[static_cast<std::size_t>(at) + 1]);
        if (count > 0) {
            inside(count);
            draw(x, y, count, at, false);
            x += count;
            at += 2;
        } else if (code == 0) {
            at += 2;
            x = 0;
            ++y;
        } else if (code == 1) {
            return;
        } else if (code == 2) {
            at += 2;
            need(2);
            x += static_cast<unsigned char>(b[static_cast<std::size_t>(at)]);
            y += static_cast<unsigned char>(b[static_cast<std::size_t>(at) + 1]);
            at += 2;
            if (x > layout.width || y > layout.height) throw std::runtime_error("an RLE jump leaves the image");
        } else {
            at += 2;
            inside(code);
            const long long bytes = layout.bitsPerPixel == 8 ? code : (code + 1) / 2;
            need(bytes);
            draw(x, y, code, at, true);
            x += code;
            at += bytes + (bytes & 1);
        }
    }
}

bool knownHeader(std::uint32_t size)
{
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 || size == 124;
}

// Checks what a BMP file claims against the file itself, so that the decoder
// never meets a header that lies.  Throws std::runtime_error with the reason.
BmpLayout checkBmp(const std::string& b)
{
    if (b.size() < 18) throw std::runtime_error("the file is too short to be a BMP file");
    if (b[0] != 'B' || b[1] != 'M') throw std::runtime_error("this is not a BMP file");
    if (b.size() > maxPictureFileBytes) throw std::runtime_error("the file is larger than 1 GiB");
    const long long size = static_cast<long long>(b.size());
    const std::uint32_t pixelsAt = u32(b, 10);
    const std::uint32_t headerSize = u32(b, 14);
    const bool core = headerSize == 12;
    if (!knownHeader(headerSize)) throw std::runtime_error("unknown BMP header size " + std::to_string(headerSize));
    if (size < 14 + static_cast<long long>(headerSize)) throw std::runtime_error("the BMP header is cut short");

    BmpLayout layout{};
    const long long rawHeight = core ? u16(b, 20) : static_cast<std::int32_t>(u32(b, 22));
    layout.width = core ? u16(b, 18) : static_cast<std::int32_t>(u32(b, 18));
    layout.height = rawHeight < 0 ? -rawHeight : rawHeight;
    layout.topDown = rawHeight < 0;
    layout.bitsPerPixel = static_cast<int>(core ? u16(b, 24) : u16(b, 28));
    const std::uint32_t compression = core ? 0 : u32(b, 30);
    const std::uint32_t coloursUsed = core ? 0 : u32(b, 46);
    const int bpp = layout.bitsPerPixel;

    if (layout.width < 1 || layout.height < 1)
        throw std::runtime_error("the picture has no pixels (" + std::to_string(layout.width) + " x " +
                                 std::to_string(rawHeight) + ")");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        throw std::runtime_error(std::to_string(bpp) + " bits per pixel is not a BMP format");
    if (layout.width * layout.height > maxPicturePixels)
        throw std::runtime_error("the picture is " + std::to_string(layout.width) + " x " +
                                 std::to_string(layout.height) + " pixels, more than can be analysed (fewer than " +
                                 std::to_string(maxPicturePixels + 1) + ")");
    const bool rle8 = compression == 1 && bpp == 8;
    const bool rle4 = compression == 2 && bpp == 4;
    layout.bitfields = compression == 3 && (bpp == 16 || bpp == 32);
    if (compression != 0 && !rle8 && !rle4 && !layout.bitfields)
        throw std::runtime_error("compression " + std::to_string(compression) + " with " + std::to_string(bpp) +
                                 " bits per pixel is not supported");
    layout.rle = rle8 || rle4;
    if (layout.rle && rawHeight < 0) throw std::runtime_error("an RLE bitmap cannot run top-down");

    // Channel masks: the header's (or the 12 bytes after a 40-byte header)
    // for bit fields, the usual ones otherwise.
    if (layout.bitfields) {
        const long long at = 54;
        if (size < at + 12) throw std::runtime_error("the BMP header is cut short");
        for (int i = 0; i < 3; ++i) layout.masks[i] = u32(b, at + 4 * i);
        layout.masks[3] = headerSize >= 56 ? u32(b, at + 12) : 0;
    } else if (bpp == 16) {
        layout.masks[0] = 0x7c00, layout.masks[1] = 0x03e0, layout.masks[2] = 0x001f, layout.masks[3] = 0;
    } else {
        layout.masks[0] = 0xff0000, layout.masks[1] = 0xff00, layout.masks[2] = 0xff, layout.masks[3] = 0;
    }

    if (bpp <= 8 && coloursUsed > (1u << bpp))
        throw std::runtime_error("the palette claims " + std::to_string(coloursUsed) + " colours for " +
                                 std::to_string(bpp) + " bits per pixel");
    layout.paletteEntries = bpp <= 8 ? (coloursUsed ? coloursUsed : 1u << bpp) : 0;
    const long long masks = layout.bitfields && headerSize == 40 ? 12 : 0;
    layout.paletteAt = 14 + headerSize + masks;
    layout.paletteEntrySize = core ? 3 : 4;
    layout.pixelsAt = pixelsAt;
    const long long paletteEnd = layout.paletteAt + layout.paletteEntries * layout.paletteEntrySize;
    if (bpp <= 8 && paletteEnd > size) throw std::runtime_error("the palette runs past the end of the file");
    if (pixelsAt < 14 + headerSize || pixelsAt >= size)
        throw std::runtime_error("the pixel data is said to start at byte " + std::to_string(pixelsAt) +
                                 ", outside the file");

    if (layout.rle) {
        walkRle(b, pixelsAt, layout, [](long long, long long, unsigned, long long, bool) {});
    } else {
        const long long rowBytes = (layout.width * bpp + 31) / 32 * 4;
        const long long needed = rowBytes * layout.height;
        if (pixelsAt + needed > size)
            throw std::runtime_error("the pixel data is cut short (" + std::to_string(size - pixelsAt) + " of " +
                                     std::to_string(needed) + " bytes)");
    }
    return layout;
}

// A channel's mask to its 8-bit value: shifted down to bit 0, then up to
// eight bits (a wider channel keeps its top eight).
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;  // of the mask's lowest bit
    int bits = 0;

    explicit Channel(std::uint32_t m) : mask(m)
    {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        while (bits + shift < 32 && ((m >> (shift + bits)) & 1)) ++bits;
    }
    std::uint32_t operator()(std::uint32_t pixel) const
    {
        const std::uint32_t v = (pixel & mask) >> shift;
        return bits >= 8 ? v >> (bits - 8) : v << (8 - bits);
    }
};

void decodeIndices(const std::string& b, const BmpLayout& layout, BmpImage& out)
{
    const std::size_t W = static_cast<std::size_t>(layout.width), H = static_cast<std::size_t>(layout.height);
    const int bpp = layout.bitsPerPixel;
    const std::size_t rowBytes = (W * static_cast<std::size_t>(bpp) + 31) / 32 * 4;
    auto rowOf = [&](long long stored) { return layout.topDown ? stored : layout.height - 1 - stored; };
    if (bpp == 8 && !layout.rle) {
        // Row by row in the order shown, each copied once.
        out.indices.reserve(W * H);
        for (std::size_t y = 0; y < H; ++y) {
            const auto* in = reinterpret_cast<const unsigned char*>(b.data() + layout.pixelsAt) +
                             static_cast<std::size_t>(rowOf(static_cast<long long>(y))) * rowBytes;
            out.indices.insert(out.indices.end(), in, in + W);
        }
        return;
    }
    out.indices.assign(W * H, 0);
    if (layout.rle) {
        walkRle(b, layout.pixelsAt, layout, [&](long long x, long long y, unsigned count, long long at, bool absolute) {
            std::uint8_t* row = out.indices.data() + static_cast<std::size_t>(rowOf(y)) * W + x;
            const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
            for (unsigned i = 0; i < count; ++i) {
                if (bpp == 8) row[i] = absolute ? p[i] : p[1];
                else if (absolute) row[i] = (i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4;
                else row[i] = (i & 1) ? p[1] & 15 : p[1] >> 4;
            }
        });
        return;
    }
    const unsigned mask = (1u << bpp) - 1;
    for (std::size_t stored = 0; stored < H; ++stored) {
        const auto* in = reinterpret_cast<const unsigned char*>(b.data() + layout.pixelsAt) + stored * rowBytes;
        std::uint8_t* row = out.indices.data() + static_cast<std::size_t>(rowOf(static_cast<long long>(stored))) * W;
        for (std::size_t x = 0; x < W; ++x) {
            const std::size_t bit = x * static_cast<std::size_t>(bpp);
            row[x] = static_cast<std::uint8_t>((in[bit / 8] >> (8 - bpp - static_cast<int>(bit % 8))) & mask);
        }
    }
}

void decodeColours(const std::string& b, const BmpLayout& layout, BmpImage& out)
{
    const std::size_t W = static_cast<std::size_t>(layout.width), H = static_cast<std::size_t>(layout.height);
    const int bpp = layout.bitsPerPixel;
    const std::size_t rowBytes = (W * static_cast<std::size_t>(bpp) + 31) / 32 * 4;
    const Channel red(layout.masks[0]), green(layout.masks[1]), blue(layout.masks[2]), alpha(layout.masks[3]);
    out.alpha = layout.masks[3] != 0;
    out.colours.assign(W * H, 0);
    for (std::size_t stored = 0; stored < H; ++stored) {
        const auto* in = reinterpret_cast<const unsigned char*>(b.data() + layout.pixelsAt) + stored * rowBytes;
        std::uint32_t* row = out.colours.data() + (layout.topDown ? stored : H - 1 - stored) * W;
        for (std::size_t x = 0; x < W; ++x) {
            if (bpp == 24) {
                const unsigned char* p = in + 3 * x;
                row[x] = 0xff000000u | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
                continue;
            }
            const std::uint32_t v = bpp == 16 ? std::uint32_t{in[2 * x]} | std::uint32_t{in[2 * x + 1]} << 8
                                              : static_cast<std::uint32_t>(littleEndian(b, static_cast<std::size_t>(layout.pixelsAt) + stored * rowBytes + 4 * x, 4));
            const std::uint32_t a = out.alpha ? alpha(v) : 0xff;
            row[x] = a << 24 | red(v) << 16 | green(v) << 8 | blue(v);
        }
    }
}

}  // namespace

BmpImage decodeBmpImage(const std::string& bytes)
{
    const BmpLayout layout = checkBmp(bytes);
    BmpImage out;
    out.width = static_cast<int>(layout.width);
    out.height = static_cast<int>(layout.height);
    out.indexed = layout.bitsPerPixel <= 8;
    if (out.indexed) {
        for (long long i = 0; i < layout.paletteEntries; ++i) {
            const std::size_t at = static_cast<std::size_t>(layout.paletteAt + i * layout.paletteEntrySize);
            out.palette.push_back(0xff000000u | static_cast<std::uint32_t>(littleEndian(bytes, at, 3)));
        }
        decodeIndices(bytes, layout, out);
    } else {
        decodeColours(bytes, layout, out);
    }
    return out;
}

GreyRaster decodeBmp(const std::string& bytes)
{
    BmpImage image = decodeBmpImage(bytes);
    GreyRaster raster;
    raster.width = image.width;
    raster.height = image.height;
    if (image.indexed) {
        raster.samples = Samples(std::move(image.indices));
        return raster;
    }
    std::vector<std::uint8_t> levels(image.colours.size());
    std::transform(image.colours.begin(), image.colours.end(), levels.begin(), bmpGrey);
    raster.samples = Samples(std::move(levels));
    return raster;
}

std::string greyBmpFile(int width, int height, const std::uint8_t* levels)
{
    const std::size_t W = static_cast<std::size_t>(width), H = static_cast<std::size_t>(height);
    const std::size_t rowBytes = (W + 3) / 4 * 4;
    const std::size_t pixelsAt = 14 + 40 + 256 * 4;
    std::string b;
    b.reserve(pixelsAt + rowBytes * H);
    auto put = [&](std::uint32_t v, int bytes) { appendLittleEndian(b, v, bytes); };
    b += "BM";
    put(static_cast<std::uint32_t>(pixelsAt + rowBytes * H), 4);
    put(0, 4);
    put(static_cast<std::uint32_t>(pixelsAt), 4);
    put(40, 4);
    put(static_cast<std::uint32_t>(width), 4);
    put(static_cast<std::uint32_t>(height), 4);
    put(1, 2);
    put(8, 2);
    put(0, 4);  // no compression
    put(static_cast<std::uint32_t>(rowBytes * H), 4);
    put(3937, 4);
    put(3937, 4);
    put(256, 4);
    put(256, 4);
    for (std::uint32_t i = 0; i < 256; ++i) put(i << 16 | i << 8 | i, 4);
    for (std::size_t stored = 0; stored < H; ++stored) {
        const std::uint8_t* row = levels + (H - 1 - stored) * W;
        b.append(reinterpret_cast<const char*>(row), W);
        b.append(rowBytes - W, '\0');
    }
    return b;
}
