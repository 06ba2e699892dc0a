// PNG, TIFF and PGM/PPM files made for the tests and to seed the fuzzers:
// every kind the readers take, with sample values known in advance.
#pragma once

#include "instrument_corpus.h"

#include <QBuffer>
#include <QImage>

#include <png.h>
#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace pictures {

using Bytes = std::string;

inline Bytes pngFile(const QImage& image)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return out.toStdString();
}

// A 16-bit grey PNG of w x h pixels, pixel (x, y) = value(x, y).
inline Bytes grey16Png(int w, int h, const std::function<int(int, int)>& value)
{
    QImage image(w, h, QImage::Format_Grayscale16);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) reinterpret_cast<quint16*>(image.scanLine(y))[x] = static_cast<quint16>(value(x, y));
    return pngFile(image);
}

// A PNG written by libpng at its highest compression, without row filters:
// `depth` bits a sample (1, 2, 4 or 8) of `colourType` (PNG_COLOR_TYPE_GRAY
// or PNG_COLOR_TYPE_PALETTE, then with a grey ramp of 2^depth entries);
// `levels` holds one value a pixel, row after row.
inline Bytes packedPng(int w, int h, int depth, int colourType, const std::vector<std::uint8_t>& levels)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out, [](png_structp p, png_bytep data, png_size_t n) {
            static_cast<Bytes*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), depth, colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(std::size_t{1} << depth);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const auto g = static_cast<png_byte>(i * 255 / (palette.size() - 1));
        palette[i] = {g, g, g};
    }
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_set_compression_level(png, 9);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<std::size_t>(w * depth + 7) / 8);
    for (int y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < w; ++x) {
            const int bit = x * depth;
            row[static_cast<std::size_t>(bit / 8)] |= static_cast<png_byte>(
                levels[std::size_t(y) * w + x] << (8 - depth - bit % 8));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct TiffPage {
    int width = 4, height = 3;
    int bits = 8;                          // 1, 2, 4 (grey, in strips), 8, 16, 32 or 64
    int format = SAMPLEFORMAT_UINT;        // or SAMPLEFORMAT_INT, SAMPLEFORMAT_IEEEFP
    int channels = 1;                      // 1 grey, 3 RGB, 4 RGBA
    int photometric = PHOTOMETRIC_MINISBLACK;
    int planar = PLANARCONFIG_CONTIG;
    int tile = 0;                          // tile side (a multiple of 16), 0 for strips
    int rowsPerStrip = 2;
    int compression = COMPRESSION_NONE;
    std::vector<double> samples;           // width * height * channels, interleaved
    std::vector<std::uint16_t> colourMap;  // 3 * 2^bits for a palette picture
    int orientation = 0;                   // the Orientation tag, 0 for none
    int resolutionUnit = 0;                // the ResolutionUnit tag and the resolutions, 0 for none
    float xResolution = 0, yResolution = 0;
};

// Writes the pages with libtiff (through a temporary file) and returns the
// bytes; `mode` "w8" writes BigTIFF, "w8b" BigTIFF big-endian.
inline Bytes tiffFile(const std::vector<TiffPage>& pages, const char* mode = "w")
{
    char name[] = "/tmp/orvane-tiff-XXXXXX";
    const int fd = mkstemp(name);
    close(fd);
    TIFF* t = TIFFOpen(name, mode);
    for (const TiffPage& p : pages) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, p.format);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.channels);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, p.planar);
        TIFFSetField(t, TIFFTAG_COMPRESSION, p.compression);
        if (p.channels == 4) {
            const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        if (!p.colourMap.empty()) {
            const std::size_t n = p.colourMap.size() / 3;
            TIFFSetField(t, TIFFTAG_COLORMAP, p.colourMap.data(), p.colourMap.data() + n, p.colourMap.data() + 2 * n);
        }
        if (p.orientation) TIFFSetField(t, TIFFTAG_ORIENTATION, p.orientation);
        if (p.resolutionUnit) {
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, p.resolutionUnit);
            TIFFSetField(t, TIFFTAG_XRESOLUTION, p.xResolution);
            TIFFSetField(t, TIFFTAG_YRESOLUTION, p.yResolution);
        }
        // Sample `index` of a row (or tile) buffer that starts zeroed.
        auto put = [&](unsigned char* row, std::size_t index, double v) {
            auto store = [&](auto value) { std::memcpy(row + index * sizeof value, &value, sizeof value); };
            if (p.bits < 8) {
                const std::size_t bit = index * p.bits;
                row[bit / 8] |= static_cast<unsigned char>(static_cast<int>(v) << (8 - p.bits - bit % 8));
            } else if (p.format == SAMPLEFORMAT_IEEEFP) {
                if (p.bits == 32) store(static_cast<float>(v));
                else store(v);
            } else if (p.format == SAMPLEFORMAT_INT) {
                if (p.bits == 8) store(static_cast<int8_t>(v));
                else if (p.bits == 16) store(static_cast<int16_t>(v));
                else store(static_cast<int32_t>(v));
            } else {
                if (p.bits == 8) store(static_cast<uint8_t>(v));
                else if (p.bits == 16) store(static_cast<uint16_t>(v));
                else store(static_cast<uint32_t>(v));
            }
        };
        const int planes = p.planar == PLANARCONFIG_SEPARATE ? p.channels : 1;
        const int perPixel = planes == 1 ? p.channels : 1;
        auto sample = [&](int x, int y, int c) { return p.samples[(std::size_t(y) * p.width + x) * p.channels + c]; };
        if (p.tile > 0) {
            TIFFSetField(t, TIFFTAG_TILEWIDTH, p.tile);
            TIFFSetField(t, TIFFTAG_TILELENGTH, p.tile);
            std::vector<unsigned char> block(std::size_t(p.tile) * p.tile * perPixel * p.bits / 8);
            for (int plane = 0; plane < planes; ++plane)
                for (int y0 = 0; y0 < p.height; y0 += p.tile)
                    for (int x0 = 0; x0 < p.width; x0 += p.tile) {
                        std::fill(block.begin(), block.end(), 0);
                        for (int y = y0; y < std::min(p.height, y0 + p.tile); ++y)
                            for (int x = x0; x < std::min(p.width, x0 + p.tile); ++x)
                                for (int c = 0; c < perPixel; ++c)
                                    put(block.data(), (std::size_t(y - y0) * p.tile + (x - x0)) * perPixel + c,
                                        sample(x, y, planes == 1 ? c : plane));
                        TIFFWriteTile(t, block.data(), x0, y0, 0, static_cast<uint16_t>(plane));
                    }
        } else {
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, p.rowsPerStrip);
            std::vector<unsigned char> row((std::size_t(p.width) * perPixel * p.bits + 7) / 8);
            for (int plane = 0; plane < planes; ++plane)
                for (int y = 0; y < p.height; ++y) {
                    std::fill(row.begin(), row.end(), 0);
                    for (int x = 0; x < p.width; ++x)
                        for (int c = 0; c < perPixel; ++c)
                            put(row.data(), std::size_t(x) * perPixel + c, sample(x, y, planes == 1 ? c : plane));
                    TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), static_cast<uint16_t>(plane));
                }
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    std::ifstream in(name, std::ios::binary);
    Bytes out((std::istreambuf_iterator<char>(in)), {});
    std::remove(name);
    return out;
}

// A binary or plain PGM (channels 1) or PPM (channels 3).
inline Bytes pnmFile(int w, int h, int channels, int maxval, bool plain, const std::vector<int>& samples)
{
    const char kind = channels == 1 ? (plain ? '2' : '5') : (plain ? '3' : '6');
    Bytes out = std::string("P") + kind + "\n# made for the tests\n" + std::to_string(w) + " " + std::to_string(h) +
                "\n" + std::to_string(maxval) + "\n";
    for (int v : samples) {
        if (plain) out += std::to_string(v) + " ";
        else if (maxval > 255) {
            out += static_cast<char>(v >> 8);
            out += static_cast<char>(v & 0xff);
        } else
            out += static_cast<char>(v);
    }
    return out;
}

// An ISO 25178-71 SDF file of 3 points by 2 profiles, ASCII or binary, with
// heights in `type` (5 int16, 6 int32, 7 float64).
inline std::string sdfFile(bool binary, int type, const std::vector<double>& heights, int points = 3, int profiles = 2)
{
    if (!binary) {
        std::string text = "aISO-1.0\nManufacID   = test\nCreateDate  = 101220261200\nModDate     = 101220261200\n"
                           "NumPoints   = " + std::to_string(points) + "\nNumProfiles = " + std::to_string(profiles) +
                           "\nXscale      = 2.0e-6\nYscale      = 3.0e-6\nZscale      = 1.0e-9\n"
                           "Zresolution = -1\nCompression = 0\nDataType    = " + std::to_string(type) +
                           "\nCheckType   = 0\n*\n";
        for (double h : heights) text += std::isnan(h) ? std::string("BAD ") : std::to_string(h) + " ";
        return text + "\n*\n";
    }
    std::string b = "bISO-1.0";
    b += std::string(10, 't') + std::string(12, '0') + std::string(12, '0');
    auto put = [&](auto v) {
        unsigned char raw[sizeof v];
        std::memcpy(raw, &v, sizeof v);  // this machine is little-endian, as the file is
        b.append(reinterpret_cast<const char*>(raw), sizeof v);
    };
    put(static_cast<std::uint16_t>(points));
    put(static_cast<std::uint16_t>(profiles));
    for (double scale : {2e-6, 3e-6, 1e-9, -1.0}) put(scale);
    b += '\0';
    b += static_cast<char>(type);
    b += '\0';
    for (double h : heights) {
        if (type == 5) put(std::isnan(h) ? std::int16_t{-32768} : static_cast<std::int16_t>(h));
        else if (type == 6) put(std::isnan(h) ? std::int32_t{-2147483647 - 1} : static_cast<std::int32_t>(h));
        else put(h);
    }
    return b;
}

// One small valid file of every kind, by name, to seed the fuzzers.
inline std::vector<std::pair<std::string, Bytes>> seeds()
{
    std::vector<std::pair<std::string, Bytes>> out;
    auto ramp = [](int n, int channels, double scale) {
        std::vector<double> v(static_cast<std::size_t>(n * channels));
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<double>(i % 251) * scale;
        return v;
    };
    out.push_back({"grey16.png", grey16Png(9, 7, [](int x, int y) { return x * 7000 + y; })});
    QImage rgb(6, 5, QImage::Format_RGB32);
    rgb.fill(qRgb(10, 200, 60));
    out.push_back({"rgb.png", pngFile(rgb)});
    TiffPage g8;
    g8.samples = ramp(12, 1, 1);
    TiffPage g16 = g8;
    g16.bits = 16;
    g16.samples = ramp(12, 1, 200);
    g16.compression = COMPRESSION_LZW;
    TiffPage f32 = g8;
    f32.bits = 32;
    f32.format = SAMPLEFORMAT_IEEEFP;
    f32.samples = ramp(12, 1, -0.125);
    TiffPage rgbTiled;
    rgbTiled.width = 20;
    rgbTiled.height = 18;
    rgbTiled.channels = 3;
    rgbTiled.photometric = PHOTOMETRIC_RGB;
    rgbTiled.tile = 16;
    rgbTiled.samples = ramp(20 * 18, 3, 1);
    out.push_back({"grey8.tif", tiffFile({g8})});
    out.push_back({"ascii.sdf", sdfFile(false, 7, {1.5, -2, 3, NAN, 5, 6})});
    out.push_back({"int16.sdf", sdfFile(true, 5, {1, -2, 300, NAN, 5, 6})});
    out.push_back({"stack.tif", tiffFile({g16, f32})});
    out.push_back({"rgb_tiled.tif", tiffFile({rgbTiled})});
    out.push_back({"big_endian.btf", tiffFile({g8, g16}, "w8b")});
    out.push_back({"float64.x3p", instruments::x3pFile({})});
    instruments::X3p int16;
    int16.type = 'I';
    out.push_back({"int16_valid.x3p", instruments::x3pFile(int16)});
    instruments::X3p listed;
    listed.listed = true;
    out.push_back({"listed.x3p", instruments::x3pFile(listed)});
    instruments::GwyChannel second;
    second.number = 2;
    out.push_back({"channels.gwy", instruments::gwyFile({{}, second})});
    out.push_back({"grey16.pgm", pnmFile(3, 2, 1, 65535, false, {0, 1, 256, 65535, 40000, 7})});
    out.push_back({"plain.ppm", pnmFile(2, 2, 3, 255, true, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})});
    return out;
}

}  // namespace pictures
