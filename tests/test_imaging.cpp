#include "imaging/convert.h"
#include "imaging/palette.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

// An 8-bit bitmap whose pixel (x, y) is pixel(x, y).
void fill(TBitmap& b, int width, int height, int (*pixel)(int, int))
{
    b.SetPixelFormat(pf8bit);
    b.SetPalette(makeGreyPalette());
    b.SetHeight(height);
    b.SetWidth(width);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) b.GetScanline(y)[x] = static_cast<std::uint8_t>(pixel(x, y));
}

// Renders one complex element and returns its pixel.
int renderOne(int mode, double re, double im)
{
    const double v[2] = {re, im};
    const matrix m(1, 2, v);
    TBitmap b;
    renderSpectrum(&b, mode, 100.0, &m);
    return b.GetScanline(0)[0];
}

}  // namespace

TEST(BitmapToMatrix, PadsToPowersOfTwoOnTheRightAndBottom)
{
    TBitmap b;
    fill(b, 3, 5, [](int x, int y) { return 10 * y + x + 1; });
    const auto m = bitmapToMatrix(b);
    ASSERT_EQ(m->getRows(), 8);
    ASSERT_EQ(m->getCols(), 8);
    for (int r = 0; r < 8; ++r)
        for (int e = 0; e < 4; ++e) {
            const double expected = (r < 5 && e < 3) ? 10 * r + e + 1 : 0.0;
            EXPECT_EQ(m->getData()[r * 8 + 2 * e], expected) << r << ", " << e;
            EXPECT_EQ(m->getData()[r * 8 + 2 * e + 1], 0.0);
        }
    EXPECT_EQ(b.GetPixelFormat(), pf8bit);
}

TEST(BitmapToMatrix, SizesAndUnsignedBytes)
{
    TBitmap wide;
    fill(wide, 257, 1, [](int x, int) { return x == 256 ? 255 : 0; });
    auto m = bitmapToMatrix(wide);
    EXPECT_EQ(m->getRows(), 1);
    EXPECT_EQ(m->getCols(), 1024);
    EXPECT_EQ(m->getData()[512], 255.0);

    TBitmap one;
    fill(one, 1, 1, [](int, int) { return 200; });
    m = bitmapToMatrix(one);
    EXPECT_EQ(m->getRows(), 1);
    EXPECT_EQ(m->getCols(), 2);
    EXPECT_EQ(m->getData()[0], 200.0);

    TBitmap square;
    fill(square, 256, 256, [](int x, int y) { return x ^ y; });
    m = bitmapToMatrix(square);
    EXPECT_EQ(m->getRows(), 256);
    EXPECT_EQ(m->getCols(), 512);
    EXPECT_EQ(m->getData()[255 * 512 + 2 * 3], 255 ^ 3);

    TBitmap empty;
    m = bitmapToMatrix(empty);
    EXPECT_EQ(m->getRows(), 1);
    EXPECT_EQ(m->getCols(), 2);
    EXPECT_EQ(m->getData()[0], 0.0);
}

TEST(BitmapToMatrix, RefusesImagesPastTheSizeLimit)
{
    EXPECT_EQ(paddedSize(8192, 8192).width, 8192);
    EXPECT_EQ(paddedSize(3, 5).height, 8);
    EXPECT_EQ(paddedSize(0, 0).width, 1);
    try {
        paddedSize(8193, 8192);
        FAIL() << "no refusal";
    } catch (const std::length_error& e) {
        EXPECT_NE(std::string(e.what()).find("8193 x 8192"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("more than can be analysed (fewer than 134217728 pixels once padded)"), std::string::npos) << e.what();
    }
    EXPECT_THROW(paddedSize(1 << 30, 1 << 30), std::length_error);
}

TEST(RenderSpectrum, ModulusAndPowerSaturate)
{
    EXPECT_EQ(renderOne(2, 0.75, 1.0), 125);
    EXPECT_EQ(renderOne(2, 1.0, 1.0), 141);
    EXPECT_EQ(renderOne(2, 0.0, 0.0), 0);
    EXPECT_EQ(renderOne(2, 3.0, 4.0), 255);
    EXPECT_EQ(renderOne(3, 0.5, 0.5), 50);
    EXPECT_EQ(renderOne(3, 1.5, 0.0), 225);
    EXPECT_EQ(renderOne(3, 1.0, 1.0), 200);
    EXPECT_EQ(renderOne(3, 2.0, 0.0), 255);
}

TEST(RenderSpectrum, RealAndImaginaryPartsWrap)
{
    EXPECT_EQ(renderOne(0, -1.5, 0.0), 150);
    EXPECT_EQ(renderOne(0, 3.0, 0.0), 44);
    EXPECT_EQ(renderOne(0, 2.5625, 0.0), 0);
    EXPECT_EQ(renderOne(1, 5.0, 0.25), 25);
    EXPECT_EQ(renderOne(1, 0.25, 3.0), 44);
}

TEST(RenderSpectrum, ShapeAndModesThatWriteNothing)
{
    std::vector<double> v(32, 0.5);
    const matrix m(4, 8, v.data());
    TBitmap b;
    renderSpectrum(&b, 2, 100.0, &m);
    EXPECT_EQ(b.GetHeight(), 4);
    EXPECT_EQ(b.GetWidth(), 4);
    EXPECT_EQ(b.GetPixelFormat(), pf8bit);
    ASSERT_NE(b.GetPalette(), nullptr);
    EXPECT_EQ(b.GetPalette()->entries[200].green, 200);
    EXPECT_EQ(b.GetScanline(3)[3], 70);

    TBitmap untouched;
    fill(untouched, 2, 2, [](int, int) { return 9; });
    renderSpectrum(&untouched, 2, 100.0, nullptr);
    EXPECT_EQ(untouched.GetWidth(), 2);
    EXPECT_EQ(untouched.GetScanline(1)[1], 9);
    renderSpectrum(nullptr, 2, 100.0, &m);

    TBitmap sized;
    fill(sized, 2, 2, [](int, int) { return 9; });
    renderSpectrum(&sized, 4, 100.0, &m);
    EXPECT_EQ(sized.GetWidth(), 4);
    EXPECT_EQ(sized.GetHeight(), 4);
    EXPECT_EQ(sized.GetPalette()->entries[9].red, 9);

    const matrix noRows(0, 8, nullptr);
    TBitmap flat;
    renderSpectrum(&flat, 2, 100.0, &noRows);
    EXPECT_EQ(flat.GetHeight(), 0);
}
