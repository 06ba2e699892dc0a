#include "imaging/road.h"
#include "fractal_surface.h"
#include "picture_corpus.h"
#include "pictures/picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <tuple>

using namespace pictures;

namespace {

// The values as a file of 32-bit samples holds them.
std::vector<double> throughFloats(const std::vector<double>& v)
{
    std::vector<double> out;
    for (double x : v) out.push_back(static_cast<float>(x));
    return out;
}

// The file with the first directory's entry for `tag` set to a 32-bit value.
Bytes withTiffTag(Bytes bytes, int tag, std::uint32_t value)
{
    const std::size_t ifd = static_cast<unsigned char>(bytes[4]) | static_cast<unsigned char>(bytes[5]) << 8;
    for (std::size_t e = ifd + 2; e + 12 <= bytes.size(); e += 12)
        if (static_cast<unsigned char>(bytes[e]) == (tag & 255) && static_cast<unsigned char>(bytes[e + 1]) == tag >> 8) {
            bytes[e + 2] = 4;  // LONG
            bytes[e + 3] = 0;
            for (int k = 0; k < 4; ++k) bytes[e + 8 + k] = static_cast<char>(value >> (8 * k));
            return bytes;
        }
    throw std::logic_error("no such tag in the test file");
}

std::string refusal(const Bytes& bytes, int page = 0)
{
    try {
        decodePicture(bytes, page);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "decoded";
}

}  // namespace

TEST(Pictures, SixteenBitPngKeepsEveryValue)
{
    const GreyRaster r = decodePicture(grey16Png(256, 256, [](int x, int y) { return y * 256 + x; }));
    ASSERT_EQ(r.type(), SampleType::uint16);
    ASSERT_EQ(r.samples.size(), 65536u);
    for (std::size_t i = 0; i < r.samples.size(); ++i) ASSERT_EQ(r.samples[i], static_cast<double>(i));
    // The 8-bit view maps the picture's own range onto 0 .. 255.
    const std::vector<std::uint8_t> view = eightBitView(r);
    EXPECT_EQ(view[0], 0);
    EXPECT_EQ(view[65535], 255);
    EXPECT_EQ(view[32767], 127);
    EXPECT_EQ(view[32768], 128);
}

TEST(Pictures, TiffDepthsLayoutsAndPagesArriveExactly)
{
    TiffPage floats;
    floats.bits = 32;
    floats.format = SAMPLEFORMAT_IEEEFP;
    floats.samples = {0.1, -3.5e20, 1e-30, std::numeric_limits<float>::denorm_min(), 65537.25, -0.0,
                      1, 2, 3, 4, 5, 6};
    TiffPage deep = floats;
    deep.bits = 16;
    deep.format = SAMPLEFORMAT_UINT;
    deep.samples = {0, 1, 255, 256, 4095, 65535, 7, 8, 9, 10, 11, 12};
    std::vector<TiffPage> layouts;
    for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE}) {
        TiffPage p = deep;
        p.compression = compression;
        layouts.push_back(p);
    }
    TiffPage tiled = deep;
    tiled.width = 21;
    tiled.height = 17;
    tiled.tile = 16;
    tiled.samples.resize(21 * 17);
    for (std::size_t i = 0; i < tiled.samples.size(); ++i) tiled.samples[i] = static_cast<double>(i * 97 % 65536);
    layouts.push_back(tiled);
    layouts.push_back(floats);

    const Bytes stack = tiffFile(layouts);
    int pages = 0;
    decodePicture(stack, 0, &pages);
    ASSERT_EQ(pages, static_cast<int>(layouts.size()));
    for (int page = 0; page < pages; ++page) {
        const GreyRaster r = decodePicture(stack, page);
        const TiffPage& p = layouts[static_cast<std::size_t>(page)];
        EXPECT_EQ(r.type(), p.bits == 32 ? SampleType::float32 : SampleType::uint16) << page;
        EXPECT_EQ(r.width, p.width);
        ASSERT_EQ(r.samples.size(), p.samples.size());
        const std::vector<double> expected = throughFloats(p.samples);
        EXPECT_EQ(0, std::memcmp(r.samples.values().data(), expected.data(), expected.size() * sizeof(double))) << page;
    }
    EXPECT_NE(refusal(stack, pages).find("holds 5 pages, not page 6"), std::string::npos);
}

TEST(Pictures, ColourPalettesAndPlanesBecomeGreyByTheMeanOfTheirChannels)
{
    const std::vector<double> rgb = {10, 20, 31, 200, 100, 0, 255, 255, 254, 1, 1, 0};  // 2 x 2
    const std::vector<double> grey = {20, 100, 255, 1};  // (r + g + b + 1) / 3, in whole numbers
    TiffPage contig;
    contig.width = contig.height = 2;
    contig.channels = 3;
    contig.photometric = PHOTOMETRIC_RGB;
    contig.samples = rgb;
    TiffPage planes = contig;
    planes.planar = PLANARCONFIG_SEPARATE;
    TiffPage alpha = contig;
    alpha.channels = 4;
    alpha.samples.clear();
    for (std::size_t i = 0; i < rgb.size(); i += 3) alpha.samples.insert(alpha.samples.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 9});
    TiffPage palette;
    palette.width = 2;
    palette.height = 2;
    palette.photometric = PHOTOMETRIC_PALETTE;
    palette.samples = {0, 1, 2, 3};
    palette.colourMap.assign(3 * 256, 0);
    for (int i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c) palette.colourMap[c * 256 + i] = static_cast<std::uint16_t>(rgb[i * 3 + c] * 257);
    TiffPage white = palette;
    white.photometric = PHOTOMETRIC_MINISWHITE;
    white.colourMap.clear();
    for (const TiffPage& p : {contig, planes, alpha, palette})
        EXPECT_EQ(decodePicture(tiffFile({p})).samples.values(), grey) << p.photometric << " " << p.planar << " " << p.channels;
    EXPECT_EQ(decodePicture(tiffFile({white})).samples.values(), (std::vector<double>{255, 254, 253, 252}));

    QImage image(2, 2, QImage::Format_RGB32);
    for (int i = 0; i < 4; ++i) image.setPixel(i % 2, i / 2, qRgb(int(rgb[i * 3]), int(rgb[i * 3 + 1]), int(rgb[i * 3 + 2])));
    EXPECT_EQ(decodePicture(pngFile(image)).samples.values(), grey);
    EXPECT_EQ(decodePicture(pngFile(image.convertToFormat(QImage::Format_Indexed8))).samples.values(), grey);
    const GreyRaster deep = decodePicture(pngFile(image.convertToFormat(QImage::Format_RGBX64)));
    EXPECT_EQ(deep.type(), SampleType::uint16);
    EXPECT_EQ(deep.samples[0], float(((10 + 20 + 31) * 257 + 1) / 3));

    const std::vector<int> rgbInts(rgb.begin(), rgb.end());
    EXPECT_EQ(decodePicture(pnmFile(2, 2, 3, 255, false, rgbInts)).samples.values(), grey);
    EXPECT_EQ(decodePicture(pnmFile(2, 2, 3, 255, true, rgbInts)).samples.values(), grey);
    const GreyRaster pgm = decodePicture(pnmFile(3, 1, 1, 65535, false, {0, 300, 65535}));
    EXPECT_EQ(pgm.type(), SampleType::uint16);
    EXPECT_EQ(pgm.samples.values(), (std::vector<double>{0, 300, 65535}));
}

TEST(Pictures, DamagedAndHostileFilesAreRefusedWithAReason)
{
    // A file cut short is refused for what it lacks: its signature, a
    // header field, its directory or its pixels.
    const std::vector<std::string> cutReasons = {
        "this is not a picture file that can be read", "the header has no width", "the pixel data is cut short",
        "the PNG file cannot be decoded (the file is cut short)", "the TIFF file cannot be opened (TIFFFetch",
        "the TIFF file cannot be opened (TIFFReadDirectory: IO error during reading",
        "the SDF file ends inside its header", "the SDF file is too short", "the SDF file holds",
        "the X3P file is not a zip archive that can be read", "the GWY file is cut short",
        "the GWY file has an object larger than the file", "the GWY file has a name without its end"};
    for (const auto& [name, bytes] : seeds()) {
        ASSERT_EQ(refusal(bytes), "decoded") << name;
        for (std::size_t cut : {std::size_t{3}, bytes.size() / 3, bytes.size() / 2, bytes.size() - 1}) {
            // What is left may still hold a whole first page.
            const std::string why = refusal(bytes.substr(0, cut));
            const bool known = std::any_of(cutReasons.begin(), cutReasons.end(),
                                           [&](const std::string& r) { return why.rfind(r, 0) == 0; });
            EXPECT_TRUE(why == "decoded" || known) << name << " cut at " << cut << ": " << why;
        }
    }
    TiffPage small;
    small.samples = std::vector<double>(12, 1.0);
    const Bytes smallTiff = tiffFile({small});
    EXPECT_EQ(refusal(withTiffTag(smallTiff, 256, 1u << 26)),
              "the picture is 67108864 x 3 pixels, more than can be analysed (fewer than 134217728)");
    // Allowed as pixels, but not once padded for the transform.
    EXPECT_EQ(refusal(withTiffTag(withTiffTag(smallTiff, 256, 11585), 257, 11585)),
              "the picture is 11585 x 11585 pixels, padded to 16384 x 16384 for the transform: more than can be "
              "analysed (fewer than 134217728 pixels once padded)");
    // A tile size no picture of this size needs is refused before anything
    // is allocated for it (it would ask for 4 GiB).
    TiffPage tiled = small;
    tiled.tile = 16;
    const std::string tiles = refusal(withTiffTag(withTiffTag(tiffFile({tiled}), 322, 65536), 323, 65536));
    EXPECT_EQ(tiles.rfind("the tiles of 65536 x 65536 pixels are larger than the 4 x 3 picture can need", 0), 0u)
        << tiles;
    EXPECT_NE(refusal(pnmFile(100000, 100000, 1, 255, false, {})).find("more than can be analysed"), std::string::npos);
    EXPECT_NE(refusal(pnmFile(4, 4, 1, 255, false, {1, 2})).find("cut short"), std::string::npos);
    EXPECT_NE(refusal("GIF89a").find("not a picture file"), std::string::npos);
}

TEST(Pictures, SizesAreReadFromTheHeadersAlone)
{
    const std::string path = "/tmp/orvane-size-" + std::to_string(getpid());
    for (const auto& [name, bytes] : seeds()) {
        std::ofstream(path, std::ios::binary) << bytes;
        long long width = 0, height = 0;
        ASSERT_TRUE(readPictureSize(path, width, height)) << name;
        const GreyRaster r = decodePicture(bytes);
        EXPECT_EQ(width, r.width) << name;
        EXPECT_EQ(height, r.height) << name;
    }
    std::remove(path.c_str());
}

TEST(Pictures, ValidFilesOfEveryKindAreRead)
{
    // BigTIFF in both byte orders.
    TiffPage deep;
    deep.bits = 16;
    deep.samples = {0, 1, 255, 256, 4095, 65535, 7, 8, 9, 10, 11, 12};
    for (const char* mode : {"w8", "w8b"}) {
        const Bytes big = tiffFile({deep, deep}, mode);
        EXPECT_EQ(pictureFormat(big), PictureFormat::tiff) << mode;
        EXPECT_EQ(picturePages(big), 2) << mode;
        EXPECT_EQ(decodePicture(big, 1).samples.values(), deep.samples) << mode;
    }
    // One value over a large picture packs thousands to one.
    TiffPage flat;
    flat.width = flat.height = 1024;
    flat.bits = 32;
    flat.format = SAMPLEFORMAT_IEEEFP;
    flat.rowsPerStrip = 1024;
    flat.compression = COMPRESSION_ZSTD;
    flat.samples.assign(1024 * 1024, 0.75);
    const Bytes packed = tiffFile({flat});
    ASSERT_LT(packed.size() * 2000, std::size_t{4} << 20);
    EXPECT_EQ(decodePicture(packed).samples.values(), flat.samples);

    // A 1-bit picture of a few islands: its packed rows are an eighth of
    // what they become at 8 bits.
    // Pictures of 1, 2 and 4 bits a pixel, grey or palette, of a few
    // islands on flat ground: their packed rows are what bounds the file.
    std::vector<std::uint8_t> islands(std::size_t{2048} * 2048, 0);
    for (int y = 0; y < 2048; ++y)
        for (int x = 0; x < 2048; ++x)
            if ((x - 500) * (x - 500) + (y - 700) * (y - 700) < 9000 || (x - 1500) * (x - 1500) + (y - 1400) * (y - 1400) < 4000)
                islands[std::size_t(y) * 2048 + x] = 1;
    for (int depth : {1, 2, 4})
        for (int colourType : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_PALETTE}) {
            const Bytes png = packedPng(2048, 2048, depth, colourType, islands);
            ASSERT_LT(png.size() * 1032, std::size_t{2048} * 2049) << depth << ": too long to show the fault";
            const GreyRaster r = decodePicture(png);
            const double land = 255.0 / ((1 << depth) - 1);  // level 1 expanded to 8 bits
            EXPECT_EQ(r.samples[std::size_t{700} * 2048 + 500], std::floor(land)) << depth << " " << colourType;
            EXPECT_EQ(r.samples[0], 0);
        }

    // A comment may follow the largest value on its line; the raster starts
    // after the line's end.
    const GreyRaster noted = decodePicture(Bytes("P5\n2 1\n255# note\n\x07\x0a", 19));
    EXPECT_EQ(noted.samples.values(), (std::vector<double>{7, 10}));
}

TEST(Pictures, StackPagesComeInOnePassAndInAnyOrder)
{
    std::vector<TiffPage> pages(300);
    for (std::size_t i = 0; i < pages.size(); ++i) pages[i].samples = std::vector<double>(12, static_cast<double>(i % 256));
    const Bytes stack = tiffFile(pages);
    PictureReader reader(stack);
    ASSERT_EQ(reader.pages(), 300);
    for (int page = 0; page < 300; ++page) ASSERT_EQ(reader.decode(page).samples[5], page % 256) << page;
    EXPECT_EQ(reader.decode(7).samples[0], 7);
    EXPECT_EQ(reader.decode(299).samples[0], 299 % 256);
    EXPECT_EQ(refusal(stack, 300), "the file holds 300 pages, not page 301");
}

TEST(Pictures, APageIsTheSameWhateverWasReadBeforeIt)
{
    // A stack whose second directory is broken (found by the TIFF fuzz
    // target): each page decodes, or fails, alike in a file read page by
    // page and in a file opened for that page alone.
    static const unsigned char broken[] = {
  0x49, 0x49, 0x2a, 0x00, 0x2a, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x0c,
  0x80, 0x02, 0x40, 0x02, 0x58, 0x01, 0x08, 0x00, 0x6e, 0x80, 0x1a, 0xc0,
  0x08, 0x78, 0x02, 0xc0, 0x40, 0x80, 0x10, 0x00, 0xc0, 0x80, 0x3b, 0x40,
  0x0e, 0x98, 0x04, 0x40, 0x40, 0x00, 0x0b, 0x00, 0x00, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x03, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x11, 0x01, 0x04, 0x00,
  0x02, 0x00, 0x00, 0x00, 0xb4, 0x00, 0x00, 0x00, 0x15, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x16, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x17, 0x01, 0x03, 0x00,
  0x02, 0x00, 0x00, 0x00, 0x15, 0x00, 0x0c, 0x00, 0x1c, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x53, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xec, 0x00, 0x00, 0x00,
  0x08, 0x00, 0x00, 0x00, 0x1d, 0x00, 0x00, 0x00, 0x00, 0xa2, 0x00, 0x00,
  0x00, 0xbf, 0x00, 0x00, 0x20, 0xbf, 0x00, 0x00, 0x40, 0xbf, 0x00, 0x00,
  0x60, 0xbf, 0x00, 0x00, 0x80, 0x4b, 0x00, 0x00, 0x90, 0xbf, 0x00, 0x00,
  0xa0, 0xbf, 0x00, 0x00, 0xb0, 0xbf, 0x0b, 0x4b, 0x00, 0x00, 0x90, 0xbf,
  0x00, 0x00, 0xa0, 0xbf, 0x00, 0x00, 0xb0, 0xbf, 0x0b, 0x00, 0x00, 0x01,
  0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01, 0x01,
  0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x80, 0x00, 0x00, 0x02, 0x01,
  0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x03, 0x01,
  0x03, 0x02, 0x58, 0x01, 0x08, 0x00, 0x6e, 0x80, 0x1a, 0xc0, 0x08, 0x78,
  0x02, 0xc0, 0x40, 0x80, 0x10, 0x00, 0xc0, 0x80, 0x3b, 0x40, 0x0e, 0x98,
  0x04, 0x40, 0x40, 0x00, 0x0b, 0x00, 0x00, 0x01, 0x03, 0x00, 0x01, 0x00,
  0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01, 0x01, 0x03, 0x00, 0x01, 0x00,
  0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x01, 0x03, 0x00, 0x01, 0x00,
  0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x03, 0x01, 0x03, 0x00, 0x01, 0x00,
  0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00, 0x01, 0x00,
  0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x11, 0x01, 0x04, 0x00, 0x02, 0x00,
  0x00, 0x00, 0xb4, 0x00, 0x00, 0x00, 0x15, 0x01, 0x03, 0x00, 0x01, 0x00,
  0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x16, 0x01, 0x03, 0x00, 0x01, 0x00,
  0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x17, 0x01, 0x03, 0x00, 0x02, 0x00,
  0x00, 0x00, 0x15, 0x00, 0x0c, 0x00, 0x1c, 0x01, 0x03, 0x00, 0x01, 0x00,
  0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x53, 0x01, 0x03, 0x00, 0x01, 0x00,
  0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xec, 0x00, 0x00, 0x00, 0x08, 0x00,
  0x00, 0x00, 0x1d, 0x00, 0x00, 0x00, 0x00, 0xa2, 0x00, 0x00, 0x00, 0xbf,
  0x00, 0x00, 0x20, 0xbf, 0x00, 0x00, 0x40, 0xbf, 0x00, 0x00, 0x60, 0xbf,
  0x00, 0x00, 0x80, 0x4b, 0x00, 0x00, 0x90, 0xbf, 0x00, 0x00, 0xa0, 0xbf,
  0x00, 0x00, 0xb0, 0xbf, 0x0b, 0x4b, 0x00, 0x00, 0x90, 0xbf, 0x00, 0x00,
  0xa0, 0xbf, 0x00, 0x00, 0xb0, 0xbf, 0x0b, 0x00, 0x00, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x03, 0x80, 0x00, 0x00, 0x02, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x03, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00,
  0x4e, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x11, 0x01, 0x04, 0x00,
  0x02, 0x00, 0x00, 0x00, 0x76, 0x01, 0x00, 0x00, 0x15, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x16, 0x01, 0x03, 0x00,
  0x01, 0x00, 0x00, 0x00, 0x2d, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
  0x17, 0x01, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x20, 0x00, 0x10, 0x00,
  0x1c, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
  0x53, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
  0x00, 0x00, 0x00, 0x00, 0xbc, 0x00, 0x00, 0x00, 0xdc, 0x00, 0x00, 0x01,
  0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00, 0x4e,
  0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x11, 0x01, 0x04, 0x00, 0x02,
  0x00, 0x00, 0x00, 0x76, 0x01, 0x00, 0x00, 0x15, 0x01, 0x03, 0x00, 0x01,
  0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x16, 0x01, 0x03, 0x00, 0x01,
  0x00, 0x00, 0x00, 0x2d, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x17,
  0x01, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x20, 0x00, 0x10, 0x00, 0x1c,
  0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x53,
  0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00,
  0x00, 0x00, 0x00, 0xbc, 0x00, 0x00, 0x00, 0xdc, 0x00, 0x00, 0x00};
    const std::string bytes(reinterpret_cast<const char*>(broken), sizeof broken);
    auto outcome = [](PictureReader& reader, int page) {
        try {
            const GreyRaster r = reader.decode(page);
            return std::to_string(r.width) + "x" + std::to_string(r.height);
        } catch (const std::runtime_error& e) {
            return std::string("fails");
        }
    };
    PictureReader inTurn(bytes);
    ASSERT_GE(inTurn.pages(), 2);
    for (int page = 0; page < inTurn.pages(); ++page) {
        PictureReader alone(bytes);
        EXPECT_EQ(outcome(inTurn, page), outcome(alone, page)) << page;
    }
}

TEST(Pictures, EverySampleTypeArrivesAtFullPrecision)
{
    struct Case {
        int bits, format;
        SampleType type;
        std::vector<double> values;
    };
    const std::vector<Case> cases = {
        {8, SAMPLEFORMAT_INT, SampleType::int8, {-128, -1, 0, 1, 127, 5}},
        {16, SAMPLEFORMAT_INT, SampleType::int16, {-32768, -1, 0, 1, 32767, 12345}},
        {32, SAMPLEFORMAT_INT, SampleType::int32, {-2147483648.0, -1, 0, 1, 2147483647, 123456789}},
        {32, SAMPLEFORMAT_UINT, SampleType::uint32, {0, 1, 65536, 16777217, 4294967295.0, 3000000000.0}},
        {64, SAMPLEFORMAT_IEEEFP, SampleType::float64, {0.1, 1e300, -1e-300, 1 + 0x1p-52, -0.0, 16777217}},
    };
    for (const Case& c : cases) {
        TiffPage p;
        p.width = 3;
        p.height = 2;
        p.bits = c.bits;
        p.format = c.format;
        p.samples = c.values;
        const GreyRaster r = decodePicture(tiffFile({p}));
        EXPECT_EQ(r.type(), c.type) << c.bits;
        // Held at their own size: a 16-bit picture takes two bytes a pixel.
        EXPECT_EQ(r.samples.visit([](const auto& v) { return sizeof v[0]; }), static_cast<std::size_t>(c.bits / 8));
        EXPECT_EQ(0, std::memcmp(r.samples.values().data(), c.values.data(), c.values.size() * sizeof(double))) << c.bits;
        // Zero as white: the order reversed within the same range.
        p.photometric = PHOTOMETRIC_MINISWHITE;
        const GreyRaster white = decodePicture(tiffFile({p}));
        for (std::size_t i = 0; i < c.values.size(); ++i) {
            const double v = c.values[i];
            const double expected = c.format == SAMPLEFORMAT_IEEEFP ? -v
                                    : c.format == SAMPLEFORMAT_INT ? -1 - v
                                                                   : 4294967295.0 - v;
            EXPECT_EQ(white.samples[i], expected) << c.bits << " " << i;
        }
    }
    // 1, 2 and 4 bits a sample, packed, onto 0 .. 255 as PNG's are.
    for (const auto& [bits, stored, grey] :
         {std::tuple{1, std::vector<double>{0, 1, 1, 0, 1}, std::vector<double>{0, 255, 255, 0, 255}},
          {2, {0, 1, 2, 3, 2}, {0, 85, 170, 255, 170}},
          {4, {0, 15, 7, 1, 8}, {0, 255, 119, 17, 136}}}) {
        TiffPage p;
        p.width = 5;
        p.height = 1;
        p.bits = bits;
        p.samples = stored;
        const GreyRaster r = decodePicture(tiffFile({p}));
        EXPECT_EQ(r.type(), SampleType::uint8);
        EXPECT_EQ(r.samples.values(), grey) << bits;
    }
}

TEST(Pictures, TheSameSurfaceInEveryTypeGivesTheSameDimension)
{
    std::mt19937_64 random(7);
    const std::vector<double> surface = fractalSurface(2.4, 96, 96, random);
    const auto [low, high] = std::minmax_element(surface.begin(), surface.end());
    std::vector<double> d;
    for (const auto& [bits, format, offset, scale] :
         {std::tuple{16, SAMPLEFORMAT_INT, -30000.0, 60000.0}, {32, SAMPLEFORMAT_INT, -2e9, 4e9},
          {32, SAMPLEFORMAT_UINT, 1e9, 3e9}, {32, SAMPLEFORMAT_IEEEFP, 0.0, 1.0}, {64, SAMPLEFORMAT_IEEEFP, 5e6, 1e-3}}) {
        TiffPage p;
        p.width = p.height = 96;
        p.bits = bits;
        p.format = format;
        for (double v : surface) {
            const double unit = (v - *low) / (*high - *low);
            p.samples.push_back(format == SAMPLEFORMAT_IEEEFP ? offset + scale * unit : std::round(offset + scale * unit));
        }
        d.push_back(psdDimension(decodePicture(tiffFile({p})), {}).dimension);
    }
    for (double each : d) EXPECT_NEAR(each, d[0], 1e-4);
}

TEST(Pictures, TheEightBitViewTakesRangesAtADoublesEnds)
{
    // A range wider than a double holds, and one so narrow that 255 over it
    // overflows: the levels still run from 0 to 255 (the fuzzer found both
    // through SDF scales).
    GreyRaster r;
    r.width = 3;
    r.height = 1;
    r.samples = Samples(std::vector<double>{-1.7e308, 0, 1.7e308});
    EXPECT_EQ(eightBitView(r), (std::vector<std::uint8_t>{0, 128, 255}));
    r.samples = Samples(std::vector<double>{0, 1e-310, 2e-310});
    EXPECT_EQ(eightBitView(r), (std::vector<std::uint8_t>{0, 128, 255}));
}

TEST(Pictures, SurfaceDataFilesGiveHeightsInMetresAndTheirPixelSize)
{
    const std::vector<double> heights = {1, -2, 300, NAN, 5, 6};
    for (bool binary : {false, true})
        for (int type : {5, 6, 7}) {
            const std::string bytes = sdfFile(binary, type, heights);
            EXPECT_EQ(pictureFormat(bytes), PictureFormat::sdf);
            const GreyRaster r = decodePicture(bytes);
            EXPECT_EQ(r.width, 3);
            EXPECT_EQ(r.height, 2);
            EXPECT_EQ(r.type(), SampleType::float64);
            EXPECT_DOUBLE_EQ(r.dx, 2e-6);
            EXPECT_DOUBLE_EQ(r.dy, 3e-6);
            EXPECT_EQ(r.heightScale, 1.0);
            const std::vector<double> z = r.samples.values();
            for (std::size_t i = 0; i < heights.size(); ++i) {
                if (std::isnan(heights[i]))
                    EXPECT_TRUE(std::isnan(z[i])) << binary << type;  // not measured
                else
                    EXPECT_DOUBLE_EQ(z[i], heights[i] * 1e-9) << binary << type << " " << i;
            }
        }
    // Files that lie about their size, or hold what is not read, are refused
    // with the reason, before the heights are allocated.
    const std::pair<std::string, std::string> refused[] = {
        {sdfFile(false, 7, heights, 60000, 60000), "more than can be analysed"},
        {sdfFile(false, 7, heights, 30, 20), "too short"},
        {sdfFile(true, 6, heights, 3000, 2000), "too short"},
        {sdfFile(false, 4, heights), "DataType 4"},
        {sdfFile(true, 9, heights), "DataType 9"},
        {sdfFile(false, 7, {1, 2, 3, 4, 5}), "holds 5 heights"},
        {std::string("aISO-1.0\nNumPoints = 3\n"), "ends inside its header"},
        {std::string("bISO-1.0"), "ends inside its header"},
    };
    for (const auto& [bytes, reason] : refused) {
        try {
            decodePicture(bytes);
            ADD_FAILURE() << reason;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << reason << ": " << e.what();
        }
    }
    std::string compressed = sdfFile(false, 7, heights);
    compressed.replace(compressed.find("Compression = 0"), 15, "Compression = 1");
    EXPECT_THROW(decodePicture(compressed), std::runtime_error);
}

TEST(Pictures, ATiffsResolutionIsThePixelsSizeWhenItsUnitIsALength)
{
    TiffPage p;
    p.width = 3;
    p.height = 2;
    p.samples = {1, 2, 3, 4, 5, 6};
    p.xResolution = 254;
    p.yResolution = 127;
    const std::pair<int, std::pair<double, double>> cases[] = {{RESUNIT_INCH, {0.0254 / 254, 0.0254 / 127}},
                                                               {RESUNIT_CENTIMETER, {0.01 / 254, 0.01 / 127}},
                                                               {RESUNIT_NONE, {0, 0}}};
    for (const auto& [unit, size] : cases) {
        p.resolutionUnit = unit;
        const GreyRaster r = decodePicture(tiffFile({p}));
        EXPECT_DOUBLE_EQ(r.dx, size.first) << unit;
        EXPECT_DOUBLE_EQ(r.dy, size.second) << unit;
    }
    // A resolution of 0 gives no size; no tags, none either.
    p.resolutionUnit = RESUNIT_CENTIMETER;
    p.xResolution = 0;
    EXPECT_EQ(decodePicture(tiffFile({p})).dx, 0.0);
    p.resolutionUnit = 0;
    EXPECT_EQ(decodePicture(tiffFile({p})).dy, 0.0);
}

TEST(Pictures, TheOrientationTagTurnsThePictureAsItIsShown)
{
    // Shown: 1 2 3 / 4 5 6.  Each orientation's stored order, from the tag's
    // definition (where row 0 and column 0 lie when shown).
    const std::vector<double> shown = {1, 2, 3, 4, 5, 6};
    const std::vector<std::pair<int, std::vector<double>>> stored = {
        {1, {1, 2, 3, 4, 5, 6}}, {2, {3, 2, 1, 6, 5, 4}}, {3, {6, 5, 4, 3, 2, 1}}, {4, {4, 5, 6, 1, 2, 3}},
        {5, {1, 4, 2, 5, 3, 6}}, {6, {3, 6, 2, 5, 1, 4}}, {7, {6, 3, 5, 2, 4, 1}}, {8, {4, 1, 5, 2, 6, 3}}};
    for (const auto& [orientation, samples] : stored) {
        TiffPage p;
        p.width = orientation >= 5 ? 2 : 3;
        p.height = orientation >= 5 ? 3 : 2;
        p.samples = samples;
        p.orientation = orientation;
        const GreyRaster r = decodePicture(tiffFile({p}));
        EXPECT_EQ(r.width, 3) << orientation;
        EXPECT_EQ(r.height, 2) << orientation;
        EXPECT_EQ(r.samples.values(), shown) << orientation;
    }
}

// 1-, 2- and 4-bit pictures are read scaled to 0 .. 255 as PNG's rule says;
// their spectral estimate is that of the same levels stored as 8-bit.
TEST(Pictures, PackedGreyLevelsEstimateAsTheirEightBitTwins)
{
    std::mt19937_64 random(3);
    const int N = 128;
    const std::vector<double> z = fractalSurface(2.5, N, N, random);
    const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
    for (int depth : {1, 2, 4}) {
        const int top = (1 << depth) - 1;
        std::vector<std::uint8_t> levels(z.size());
        for (std::size_t i = 0; i < z.size(); ++i)
            levels[i] = static_cast<std::uint8_t>(std::lround((z[i] - *lo) / (*hi - *lo) * top));
        const PsdResult packed = psdDimension(decodePicture(packedPng(N, N, depth, PNG_COLOR_TYPE_GRAY, levels)), {});
        const PsdResult twin = psdDimension(decodePicture(packedPng(N, N, 8, PNG_COLOR_TYPE_GRAY, levels)), {});
        EXPECT_EQ(packed.fitted(), twin.fitted()) << depth;
        if (packed.fitted() && twin.fitted()) {
            EXPECT_NEAR(packed.dimension, twin.dimension, 1e-6) << depth;
        }
        EXPECT_EQ(packed.flags, twin.flags) << depth;
    }
}
