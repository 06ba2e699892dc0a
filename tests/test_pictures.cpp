#include "imaging/road.h"
#include "picture_corpus.h"
#include "toolkit/picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

using namespace pictures;

namespace {

std::vector<float> asFloats(const std::vector<double>& v) { return std::vector<float>(v.begin(), v.end()); }

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
    ASSERT_EQ(r.type, SampleType::uint16);
    ASSERT_EQ(r.samples.size(), 65536u);
    for (std::size_t i = 0; i < r.samples.size(); ++i) ASSERT_EQ(r.samples[i], static_cast<float>(i));
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
        EXPECT_EQ(r.type, p.bits == 32 ? SampleType::float32 : SampleType::uint16) << page;
        EXPECT_EQ(r.width, p.width);
        ASSERT_EQ(r.samples.size(), p.samples.size());
        const std::vector<float> expected = asFloats(p.samples);
        EXPECT_EQ(0, std::memcmp(r.samples.data(), expected.data(), expected.size() * sizeof(float))) << page;
    }
    EXPECT_NE(refusal(stack, pages).find("holds 5 pages, not page 6"), std::string::npos);
}

TEST(Pictures, ColourPalettesAndPlanesBecomeGreyByTheMeanOfTheirChannels)
{
    const std::vector<double> rgb = {10, 20, 31, 200, 100, 0, 255, 255, 254, 1, 1, 0};  // 2 x 2
    const std::vector<float> grey = {20, 100, 255, 1};  // (r + g + b + 1) / 3, in whole numbers
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
        EXPECT_EQ(decodePicture(tiffFile({p})).samples, grey) << p.photometric << " " << p.planar << " " << p.channels;
    EXPECT_EQ(decodePicture(tiffFile({white})).samples, (std::vector<float>{255, 254, 253, 252}));

    QImage image(2, 2, QImage::Format_RGB32);
    for (int i = 0; i < 4; ++i) image.setPixel(i % 2, i / 2, qRgb(int(rgb[i * 3]), int(rgb[i * 3 + 1]), int(rgb[i * 3 + 2])));
    EXPECT_EQ(decodePicture(pngFile(image)).samples, grey);
    EXPECT_EQ(decodePicture(pngFile(image.convertToFormat(QImage::Format_Indexed8))).samples, grey);
    const GreyRaster deep = decodePicture(pngFile(image.convertToFormat(QImage::Format_RGBX64)));
    EXPECT_EQ(deep.type, SampleType::uint16);
    EXPECT_EQ(deep.samples[0], float(((10 + 20 + 31) * 257 + 1) / 3));

    const std::vector<int> rgbInts(rgb.begin(), rgb.end());
    EXPECT_EQ(decodePicture(pnmFile(2, 2, 3, 255, false, rgbInts)).samples, grey);
    EXPECT_EQ(decodePicture(pnmFile(2, 2, 3, 255, true, rgbInts)).samples, grey);
    const GreyRaster pgm = decodePicture(pnmFile(3, 1, 1, 65535, false, {0, 300, 65535}));
    EXPECT_EQ(pgm.type, SampleType::uint16);
    EXPECT_EQ(pgm.samples, (std::vector<float>{0, 300, 65535}));
}

TEST(Pictures, DamagedAndHostileFilesAreRefusedWithAReason)
{
    for (const auto& [name, bytes] : seeds()) {
        ASSERT_EQ(refusal(bytes), "decoded") << name;
        for (std::size_t cut : {std::size_t{3}, bytes.size() / 3, bytes.size() / 2, bytes.size() - 1}) {
            // What is left may still hold a whole first page.
            const std::string why = refusal(bytes.substr(0, cut));
            EXPECT_TRUE(why == "decoded" || why.size() > 20) << name << " cut at " << cut << ": " << why;
        }
    }
    // The width field of the first directory, rewritten as a 32-bit value.
    TiffPage small;
    small.samples = std::vector<double>(12, 1.0);
    auto claimingWidth = [&](std::uint32_t width) {
        Bytes claims = tiffFile({small});
        const std::size_t ifd = static_cast<unsigned char>(claims[4]) | static_cast<unsigned char>(claims[5]) << 8;
        for (std::size_t e = ifd + 2; e + 12 <= claims.size(); e += 12)
            if (claims[e] == 0 && claims[e + 1] == 1) {
                claims[e + 2] = 4;
                claims[e + 3] = 0;
                for (int k = 0; k < 4; ++k) claims[e + 8 + k] = static_cast<char>(width >> (8 * k));
                break;
            }
        return refusal(claims);
    };
    EXPECT_NE(claimingWidth(1u << 26).find("more than can be analysed"), std::string::npos) << claimingWidth(1u << 26);
    EXPECT_NE(claimingWidth(1u << 20).find("bytes of picture data for 1048576 x 3 pixels"), std::string::npos)
        << claimingWidth(1u << 20);
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
