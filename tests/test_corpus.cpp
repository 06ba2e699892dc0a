#include "bmp_corpus.h"
#include "imaging/convert.h"
#include "imaging/palette.h"
#include "imaging/road.h"

#include <gtest/gtest.h>

#include <cmath>
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
