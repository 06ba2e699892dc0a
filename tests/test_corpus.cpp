#include "bmp_corpus.h"
#include "imaging/convert.h"
#include "imaging/palette.h"
#include "imaging/bitmap_road.h"
#include "pictures/bmp.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>

namespace {

// The grey levels that reach the analysis: loaded, grey palette, 8 bits.
std::vector<int> analysedLevels(const corpus::Bytes& file)
{
    TBitmap b;
    b.LoadFromMemory(file.data(), file.size());
    b.SetPalette(makeGreyPalette());
    const auto m = bitmapToMatrix(b);
    std::vector<int> levels;
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x) levels.push_back(static_cast<int>(m->getData()[y * m->getCols() + 2 * x]));
    return levels;
}

void expectRefused(const corpus::Bytes& file, const std::string& name)
{
    TBitmap b;
    try {
        b.LoadFromMemory(file.data(), file.size());
        ADD_FAILURE() << name << " loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_GT(std::string(e.what()).size(), 5u) << name;
    }
    EXPECT_TRUE(b.Empty()) << name;
}

}  // namespace

TEST(Corpus, EveryValidLayoutArrivesAsItsGreyLevels)
{
    for (const corpus::Layout& s : corpus::valid()) {
        SCOPED_TRACE(s.name);
        const std::vector<int> levels = analysedLevels(corpus::write(s));
        const int rows = std::abs(s.height);
        ASSERT_EQ(levels.size(), static_cast<std::size_t>(s.width * rows));
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < s.width; ++x) {
                const int expected = s.bpp <= 8 ? s.index(x, y) : corpus::nearestGrey(s.colour(x, y));
                ASSERT_EQ(levels[static_cast<std::size_t>(y * s.width + x)], expected) << x << ", " << y;
            }
    }
}

TEST(Corpus, EveryValidLayoutGoesThroughTheWholeAnalysis)
{
    for (const corpus::Layout& s : corpus::valid()) {
        const corpus::Bytes file = corpus::write(s);
        TBitmap b;
        b.LoadFromMemory(file.data(), file.size());
        b.SetPalette(makeGreyPalette());
        const auto spectrum = centredSpectrum(b);
        TBitmap shown;
        renderSpectrum(&shown, spectrumDisplayMode, spectrumDisplayScale, spectrum.get());
        for (Method m : {Method::one, Method::two}) fractalDimension(*spectrum, m, [](const std::string&) {});
        EXPECT_EQ(shown.GetWidth(), spectrum->getCols() / 2) << s.name;
    }
}

TEST(Corpus, RleSkippedPixelsAreZero)
{
    corpus::Layout s;
    s.bpp = 8;
    s.compression = 1;
    s.width = 8;
    s.height = 3;
    corpus::Bytes b = corpus::write(s);
    const std::uint32_t at = static_cast<std::uint8_t>(b[10]) | static_cast<std::uint8_t>(b[11]) << 8;
    b.resize(at);
    b += corpus::Bytes("\x03\x07\x00\x00\x00\x02\x02\x00\x01\x09\x00\x01", 12);  // run, EOL, jump, run, end
    const std::vector<int> levels = analysedLevels(b);
    const std::vector<int> expected = {0, 0, 0, 0, 0, 0, 0, 0,  //
                                       0, 0, 9, 0, 0, 0, 0, 0,  // second row from the bottom, x = 2
                                       7, 7, 7, 0, 0, 0, 0, 0};
    EXPECT_EQ(levels, expected);
}

TEST(Corpus, MalformedFilesAreRefusedWithAReason)
{
    for (const corpus::Broken& broken : corpus::malformed()) expectRefused(broken.bytes, broken.name);
}

// A file cut anywhere either is refused or loads exactly as the whole file.
TEST(Corpus, FilesCutShortAnywhere)
{
    std::vector<corpus::Layout> specs;
    for (const corpus::Layout& s : corpus::valid())
        if (s.name == "h40_24bit" || s.name == "h12_4bit" || s.name == "shortpalette_8bit" ||
            s.name == "rle8_mixed" || s.name == "rle4_mixed" || s.name == "h124_1bit" || s.name == "h40_16bit")
            specs.push_back(s);
    ASSERT_EQ(specs.size(), 7u);
    for (const corpus::Layout& s : specs) {
        const corpus::Bytes whole = corpus::write(s);
        const std::vector<int> full = analysedLevels(whole);
        for (std::size_t cut = 0; cut < whole.size(); ++cut) {
            const corpus::Bytes part = whole.substr(0, cut);
            TBitmap b;
            try {
                b.LoadFromMemory(part.data(), part.size());
            } catch (const std::runtime_error&) {
                continue;
            }
            EXPECT_EQ(analysedLevels(part), full) << s.name << " cut at " << cut;
        }
    }
}

TEST(Corpus, TheLargestImagesLoadAndTheNextSizeIsRefused)
{
    corpus::Layout s;
    s.width = 8192;
    s.height = 8192;
    s.index = [](int x, int y) {  // a hash: noise with power at every frequency
        std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        return static_cast<int>((h ^ h >> 15) & 0xff);
    };
    const corpus::Bytes file = corpus::write(s);
    TBitmap b;
    b.LoadFromMemory(file.data(), file.size());
    b.SetPalette(makeGreyPalette());
    const auto spectrum = centredSpectrum(b);
    EXPECT_EQ(spectrum->getRows(), 8192);
    std::string failure;
    const double d = fractalDimension(*spectrum, Method::two, [&](const std::string& m) { failure = m; });
    EXPECT_TRUE(std::isfinite(d)) << failure;

    // 16384 x 8192 pixels: refused from the header alone.
    corpus::Bytes tooLarge = corpus::write(corpus::Layout{});
    corpus::set32(tooLarge, 18, 16384);
    corpus::set32(tooLarge, 22, 8192);
    expectRefused(tooLarge, "16384 x 8192");
    EXPECT_THROW(paddedSize(8193, 8192), std::length_error);
}

namespace {

// Bit-field BMPs (V4 header, compression 3) with random pixels.
corpus::Bytes bitfieldFile(int bpp, std::vector<std::uint32_t> masks, unsigned seed)
{
    corpus::Layout s;
    s.headerSize = 108;
    s.bpp = bpp;
    s.width = 7;
    s.height = bpp == 16 ? 5 : -5;
    corpus::Bytes b = corpus::write(s);
    corpus::set32(b, 30, 3);
    for (std::size_t i = 0; i < masks.size(); ++i) corpus::set32(b, 54 + 4 * i, masks[i]);
    std::mt19937 random(seed);
    const std::size_t pixelsAt = static_cast<std::size_t>(static_cast<unsigned char>(b[10]));
    for (std::size_t i = pixelsAt; i < b.size(); ++i) b[i] = static_cast<char>(random());
    return b;
}

}  // namespace

// The picture layer's own BMP decoder against Qt's reader, which the window
// used before: palette indices byte for byte, true colour channel for
// channel, over every valid layout and bit fields of several widths.
TEST(Corpus, TheBmpDecoderReadsWhatQtReads)
{
    std::vector<std::pair<std::string, corpus::Bytes>> files;
    for (const corpus::Layout& s : corpus::valid())
        if (s.bpp != 1) files.emplace_back(s.name, corpus::write(s));  // Qt swaps 1-bit palettes; see TBitmap
    const std::vector<std::vector<std::uint32_t>> masks16{{0xf800, 0x07e0, 0x001f}, {0x0f00, 0x00f0, 0x000f, 0xf000},
                                                          {0x7c00, 0x03e0, 0x001f}};
    const std::vector<std::vector<std::uint32_t>> masks32{{0xff0000, 0xff00, 0xff, 0xff000000}, {0xff, 0xff00, 0xff0000}};
    for (std::size_t i = 0; i < masks16.size(); ++i) files.emplace_back("bits16_" + std::to_string(i), bitfieldFile(16, masks16[i], 1 + i));
    for (std::size_t i = 0; i < masks32.size(); ++i) files.emplace_back("bits32_" + std::to_string(i), bitfieldFile(32, masks32[i], 9 + i));
    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        const BmpImage ours = decodeBmpImage(file);
        QImage qt;
        ASSERT_TRUE(qt.loadFromData(QByteArray(file.data(), static_cast<qsizetype>(file.size())), "BMP"));
        ASSERT_EQ(ours.width, qt.width());
        ASSERT_EQ(ours.height, qt.height());
        for (int y = 0; y < qt.height(); ++y)
            for (int x = 0; x < qt.width(); ++x) {
                const std::size_t k = static_cast<std::size_t>(y) * static_cast<std::size_t>(ours.width) + static_cast<std::size_t>(x);
                if (ours.indexed) {
                    ASSERT_EQ(ours.indices[k], qt.pixelIndex(x, y)) << x << ", " << y;
                } else {
                    const QRgb c = qt.pixel(x, y);
                    ASSERT_EQ(ours.colours[k] & 0xffffff, c & 0xffffff) << x << ", " << y;
                }
            }
    }
}

// Channels wider than eight bits keep their top eight (Qt's reader gave
// black for them).
TEST(Corpus, WideBmpChannelsKeepTheirTopEightBits)
{
    const corpus::Bytes file = bitfieldFile(32, {0x3ff00000, 0x000ffc00, 0x000003ff}, 5);
    const BmpImage ours = decodeBmpImage(file);
    const std::size_t pixelsAt = static_cast<std::size_t>(static_cast<unsigned char>(file[10]));
    for (std::size_t k = 0; k < ours.colours.size(); ++k) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(file[pixelsAt + 4 * k + static_cast<std::size_t>(i)]);
        EXPECT_EQ(ours.colours[k], 0xff000000u | (v >> 22 & 0xff) << 16 | (v >> 12 & 0xff) << 8 | (v >> 2 & 0xff)) << k;
    }
}

// The spectrum's grey BMP is byte for byte the file Qt's writer made of it
// before, and reads back as its levels.  (Rows of whole words: Qt leaves a
// row's padding as whatever its memory held, where ours writes zeros.)
TEST(Corpus, TheGreyBmpIsTheFileQtWrote)
{
    const int width = 8, height = 3;
    std::vector<std::uint8_t> levels(width * height);
    for (std::size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<std::uint8_t>(i * 37 % 256);
    QImage qt(width, height, QImage::Format_Indexed8);
    QList<QRgb> grey;
    for (int i = 0; i < 256; ++i) grey.push_back(qRgb(i, i, i));
    qt.setColorTable(grey);
    // Qt's own default without a screen (orvane-batch had none).
    qt.setDotsPerMeterX(3937);
    qt.setDotsPerMeterY(3937);
    for (int y = 0; y < height; ++y) std::memcpy(qt.scanLine(y), levels.data() + y * width, width);
    QByteArray written;
    QBuffer buffer(&written);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(qt.save(&buffer, "BMP"));
    const std::string file = greyBmpFile(width, height, levels.data());
    EXPECT_EQ(file, written.toStdString());
    EXPECT_EQ(decodeBmpImage(file).indices, levels);
    const std::string narrow = greyBmpFile(6, 1, levels.data());
    EXPECT_EQ(narrow.substr(narrow.size() - 2), std::string(2, '\0'));  // the row's padding
}
