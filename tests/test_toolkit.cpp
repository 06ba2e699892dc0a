#include "gui_support.h"
#include "imaging/palette.h"
#include "toolkit/bitmap_qt.h"
#include "toolkit/controls.h"
#include "imaging/numbertext.h"

#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

TEST(NumberText, GeneralFormatWithFifteenDigits)
{
    EXPECT_EQ(FloatToStr(3.2274355329767111), "3.22743553297671");
    EXPECT_EQ(FloatToStr(0.5), "0.5");
    EXPECT_EQ(FloatToStr(-2.0), "-2");
    EXPECT_EQ(FloatToStr(1e-6), "1E-6");
    EXPECT_EQ(FloatToStr(1.5e20), "1.5E20");
    EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
    EXPECT_EQ(FloatToStr(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FloatToStr(std::numeric_limits<double>::infinity()), "INF");
    EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
    EXPECT_EQ(FloatToStr(std::nan("")), "NAN");
}

TEST(GreyPalette, RampOfFreshPalettes)
{
    const HPALETTE a = makeGreyPalette();
    const HPALETTE b = makeGreyPalette();
    ASSERT_EQ(a->entries.size(), 256u);
    EXPECT_NE(a.get(), b.get());
    for (int i : {0, 128, 255}) {
        const TPaletteEntry& e = a->entries[static_cast<std::size_t>(i)];
        EXPECT_EQ(e.red, i);
        EXPECT_EQ(e.green, i);
        EXPECT_EQ(e.blue, i);
        EXPECT_EQ(e.flags, 0);
    }
}

TEST(Bitmap, ResizingKeepsTheTopLeftAndRowsAreChecked)
{
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    b.SetHeight(3);
    b.SetWidth(4);
    b.GetScanline(1)[2] = 42;
    b.SetWidth(8);
    EXPECT_EQ(b.GetScanline(1)[2], 42);
    EXPECT_EQ(b.GetScanline(1)[7], 0);
    EXPECT_EQ(b.GetPixelFormat(), pf8bit);
    EXPECT_THROW(b.GetScanline(3), std::out_of_range);
    EXPECT_THROW(b.GetScanline(-1), std::out_of_range);
    EXPECT_THROW(b.SetWidth(-1), std::invalid_argument);
    b.SetHeight(0);
    EXPECT_THROW(b.GetScanline(0), std::out_of_range);
}

TEST(Bitmap, TrueColourBecomesTheNearestGrey)
{
    QTemporaryDir dir;
    QImage colour(3, 1, QImage::Format_RGB32);
    colour.setPixel(0, 0, qRgb(255, 0, 0));
    colour.setPixel(1, 0, qRgb(10, 20, 31));
    colour.setPixel(2, 0, qRgb(200, 200, 200));
    const std::string file = (dir.path() + "/c.bmp").toStdString();
    ASSERT_TRUE(colour.save(QString::fromStdString(file), "BMP"));
    TBitmap b;
    b.LoadFromFile(file);
    b.SetPalette(makeGreyPalette());
    b.SetPixelFormat(pf8bit);
    const std::uint8_t* row = b.GetScanline(0);
    EXPECT_EQ(row[0], 85);
    EXPECT_EQ(row[1], 20);
    EXPECT_EQ(row[2], 200);
}

TEST(LogFile, FailedSavesLeaveTheOldFileIntact)
{
    QTemporaryDir dir;
    const std::string target = (dir.path() + "/log.txt").toStdString();
    std::ofstream(target) << "old log\n";
    QPlainTextEdit edit("Memo1");
    TStrings lines(&edit);
    lines.Append("second");
    EXPECT_THROW(lines.SaveToFile(dir.path().toStdString()), std::runtime_error);  // a directory
    EXPECT_THROW(lines.SaveToFile("/dev/full"), std::runtime_error);
    EXPECT_THROW(lines.SaveToFile((dir.path() + "/missing/log.txt").toStdString()), std::runtime_error);
    EXPECT_EQ(readFile(target), "old log\n");
    lines.SaveToFile(target);
    EXPECT_EQ(readFile(target), "Memo1\nsecond\n");
}
