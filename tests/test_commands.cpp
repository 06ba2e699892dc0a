#include "Polaczone.h"
#include "gui_support.h"
#include "picture_corpus.h"
#include "imaging/convert.h"
#include "imaging/numbertext.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TForm1>();
        form->Show();
    }

    std::string path(const std::string& name) const
    {
        return (dir.path() + "/" + QString::fromStdString(name)).toStdString();
    }

    // Presses a button; `script` answers what it opens and must be used up.
    void press(TButton& button, ModalScript& script)
    {
        QTest::mouseClick(button.button(), Qt::LeftButton);
        EXPECT_TRUE(script.finished()) << (script.unexpected.empty() ? "an answer was not used" : script.unexpected[0]);
    }
    void press(TButton& button)
    {
        ModalScript none;
        press(button, none);
    }
    // Presses a button that must show exactly one message; returns it.
    std::string pressForMessage(TButton& button)
    {
        ModalScript script;
        script.acceptMessage();
        press(button, script);
        return script.messages.empty() ? "" : script.messages[0];
    }

    void load(const std::string& file)
    {
        ModalScript script;
        script.chooseFile(file);
        press(form->Wczytaj, script);
        ASSERT_NE(form->sourceBitmap, nullptr);
    }

    std::vector<std::string> logLines() const
    {
        std::vector<std::string> lines;
        for (int i = 0; i < form->Memo1.Lines.Count(); ++i) lines.push_back(form->Memo1.Lines[i]);
        return lines;
    }

    const double* spectrumAt(int row, int element) const
    {
        return form->currentSpectrum->getData() + row * form->currentSpectrum->getCols() + 2 * element;
    }

    QTemporaryDir dir;
    std::unique_ptr<TForm1> form;
};

}  // namespace

TEST_F(Commands, UniformImageShowsOnlyTheCentredMean)
{
    load(writeGreyBmp(path("one.bmp"), 4, 4, [](int, int) { return 1; }));
    press(form->PoliczFFT);
    ASSERT_NE(form->currentSpectrum, nullptr);
    ASSERT_EQ(form->currentSpectrum->getRows(), 4);
    ASSERT_EQ(form->currentSpectrum->getCols(), 8);
    TBitmap& shown = form->Image2.GetBitmap();
    ASSERT_EQ(shown.GetWidth(), 4);
    ASSERT_EQ(shown.GetHeight(), 4);
    for (int r = 0; r < 4; ++r)
        for (int e = 0; e < 4; ++e) {
            const bool centre = r == 2 && e == 2;
            EXPECT_EQ(spectrumAt(r, e)[0], centre ? 1.0 : 0.0) << r << ", " << e;
            EXPECT_EQ(spectrumAt(r, e)[1], 0.0);
            EXPECT_EQ(shown.GetScanline(r)[e], centre ? 100 : 0);
        }
}

TEST_F(Commands, ImageIsPaddedAndOnePixelHighStaysUncentred)
{
    load(writeGreyBmp(path("small.bmp"), 3, 5, [](int x, int y) { return x + y; }));
    press(form->PoliczFFT);
    EXPECT_EQ(form->currentSpectrum->getRows(), 8);
    EXPECT_EQ(form->currentSpectrum->getCols(), 8);
    EXPECT_EQ(form->Image2.GetBitmap().GetWidth(), 4);
    EXPECT_EQ(form->Image2.GetBitmap().GetHeight(), 8);

    load(writeGreyBmp(path("line.bmp"), 8, 1, [](int, int) { return 2; }));
    press(form->PoliczFFT);
    EXPECT_EQ(spectrumAt(0, 0)[0], 2.0);
    EXPECT_EQ(form->Image2.GetBitmap().GetScanline(0)[0], 200);
    EXPECT_EQ(form->Image2.GetBitmap().GetScanline(0)[4], 0);
}

TEST_F(Commands, ComputingTwiceGivesIdenticalResults)
{
    load(writeGreyBmp(path("noise.bmp"), 37, 21, [](int x, int y) { return (x * 7919 + y * 104729) % 256; }));
    press(form->PoliczFFT);
    const int n = form->currentSpectrum->getRows() * form->currentSpectrum->getCols();
    const std::vector<double> first(form->currentSpectrum->getData(), form->currentSpectrum->getData() + n);
    TBitmap& shown = form->Image2.GetBitmap();
    std::vector<std::uint8_t> firstPixels;
    for (int r = 0; r < shown.GetHeight(); ++r)
        firstPixels.insert(firstPixels.end(), shown.GetScanline(r), shown.GetScanline(r) + shown.GetWidth());

    press(form->PoliczFFT);
    ASSERT_EQ(form->currentSpectrum->getRows() * form->currentSpectrum->getCols(), n);
    EXPECT_EQ(0, std::memcmp(first.data(), form->currentSpectrum->getData(), n * sizeof(double)));
    std::vector<std::uint8_t> secondPixels;
    for (int r = 0; r < shown.GetHeight(); ++r)
        secondPixels.insert(secondPixels.end(), shown.GetScanline(r), shown.GetScanline(r) + shown.GetWidth());
    EXPECT_EQ(firstPixels, secondPixels);
}

TEST_F(Commands, MethodsShowAndLogTheWorkedExample)
{
    std::vector<double> v(32, 0.0);
    for (int i = 0; i < 10; ++i) v[2 * i] = i + 1;
    form->currentSpectrum = std::make_unique<matrix>(1, 32, v.data());
    press(form->Metoda1);
    EXPECT_EQ(form->Edit1.GetText(), "3.22743553297671");
    press(form->Metoda2);
    EXPECT_EQ(form->Edit2.GetText(), "3.12409707901648");
    press(form->Metoda1);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Memo1", "3.22743553297671", "3.12409707901648",
                                                    "3.22743553297671"}));
}

TEST_F(Commands, BitmapFilesAnalyseLikeTheFunctionsOnTheSamePixels)
{
    auto pixel = [](int x, int y) { return (x * x + 3 * y * y + x * y) % 251; };
    // 8-bit with a colour palette: the analysis sees the indices.
    QImage indexed(45, 30, QImage::Format_Indexed8);
    QList<QRgb> colours;
    for (int i = 0; i < 256; ++i) colours.push_back(qRgb(255 - i, i / 2, 17));
    indexed.setColorTable(colours);
    // 24-bit grey: the analysis sees the grey levels.
    QImage rgb(45, 30, QImage::Format_RGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 45; ++x) {
            indexed.scanLine(y)[x] = static_cast<uchar>(pixel(x, y));
            rgb.setPixel(x, y, qRgb(pixel(x, y), pixel(x, y), pixel(x, y)));
        }
    ASSERT_TRUE(indexed.save(QString::fromStdString(path("indexed.bmp")), "BMP"));
    ASSERT_TRUE(rgb.save(QString::fromStdString(path("rgb.bmp")), "BMP"));

    // The same pixels straight through the analysis functions.
    std::vector<double> direct(64 * 32 * 2, 0.0);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 45; ++x) direct[2 * (y * 64 + x)] = pixel(x, y);
    matrix m(32, 128, direct.data());
    fourierTransform2D(m.getData(), 64, 32, 1);
    swapQuadrants(m);
    const auto p = powerSpectrum(m);
    const std::string d1 = FloatToStr(-2.0 / estimateMethod1(*p, p->getCols(), p->getRows()));
    const std::string d2 = FloatToStr(-2.0 / estimateMethod2(*p, p->getCols(), p->getRows()));

    for (const char* file : {"indexed.bmp", "rgb.bmp"}) {
        load(path(file));
        press(form->PoliczFFT);
        ASSERT_EQ(form->currentSpectrum->getRows() * form->currentSpectrum->getCols(), 32 * 128);
        EXPECT_EQ(0, std::memcmp(form->currentSpectrum->getData(), m.getData(), 32 * 128 * sizeof(double))) << file;
        press(form->Metoda1);
        press(form->Metoda2);
        EXPECT_EQ(form->Edit1.GetText(), d1) << file;
        EXPECT_EQ(form->Edit2.GetText(), d2) << file;
    }
}

TEST_F(Commands, CommandsBeforeTheirInputSayWhatIsMissing)
{
    EXPECT_EQ(pressForMessage(form->PoliczFFT), "Najpierw wczytaj obraz.");
    EXPECT_EQ(pressForMessage(form->Metoda1), "Najpierw policz FFT.");
    EXPECT_EQ(pressForMessage(form->Metoda2), "Najpierw policz FFT.");
    EXPECT_EQ(form->currentSpectrum, nullptr);
    EXPECT_EQ(form->Edit1.GetText(), "Edit1");
    EXPECT_EQ(logLines(), std::vector<std::string>{"Memo1"});
}

TEST_F(Commands, AnOversizedImageIsRefusedAndTheSpectrumKept)
{
    load(writeGreyBmp(path("one.bmp"), 4, 4, [](int, int) { return 1; }));
    press(form->PoliczFFT);
    const matrix* before = form->currentSpectrum.get();

    TBitmap& big = form->Image1.GetBitmap();
    big.SetPixelFormat(pf8bit);
    big.SetHeight(8192);
    big.SetWidth(8193);
    const std::string message = pressForMessage(form->PoliczFFT);
    EXPECT_NE(message.find("8193 x 8192"), std::string::npos) << message;
    EXPECT_EQ(form->currentSpectrum.get(), before);
    EXPECT_EQ(form->Image2.GetBitmap().GetWidth(), 4);
}

TEST_F(Commands, AUniformImageGivesAFailedEstimateNotANumber)
{
    load(writeGreyBmp(path("flat.bmp"), 8, 8, [](int, int) { return 10; }));
    press(form->PoliczFFT);
    EXPECT_EQ(pressForMessage(form->Metoda1), "PALANT!!!");
    EXPECT_EQ(form->Edit1.GetText(), "NAN");
    EXPECT_EQ(pressForMessage(form->Metoda2), "PALANT!!!");
    EXPECT_EQ(form->Edit2.GetText(), "NAN");
    EXPECT_EQ(logLines().back(), "NAN");
}

TEST_F(Commands, ASlopeOfZeroShowsInfinity)
{
    std::vector<double> v(32, 0.0);
    v[2 * 15] = 3.0;  // one positive value only, in the last row
    form->currentSpectrum = std::make_unique<matrix>(1, 32, v.data());
    press(form->Metoda1);
    EXPECT_EQ(form->Edit1.GetText(), "-INF");
}

TEST_F(Commands, TheWindowKeepsWorkingAfterFilesItRefuses)
{
    const std::string good = writeGreyBmp(path("good.bmp"), 20, 12, [](int x, int y) { return (x * 31 + y * y * 7) % 256; });
    const std::string bytes = readFile(good);
    std::ofstream(path("cut.bmp"), std::ios::binary) << bytes.substr(0, bytes.size() - 40);
    std::ofstream(path("nonsense.bmp"), std::ios::binary) << "BM" << std::string(200, '\x7f');
    for (const char* bad : {"cut.bmp", "nonsense.bmp"}) {
        ModalScript script;
        script.chooseFile(path(bad)).acceptMessage();
        press(form->Wczytaj, script);
        ASSERT_EQ(script.messages.size(), 1u) << bad;
        EXPECT_EQ(form->sourceBitmap, nullptr);
    }
    load(good);
    press(form->PoliczFFT);
    press(form->Metoda1);
    press(form->Metoda2);
    EXPECT_NE(form->Edit1.GetText(), "Edit1");
    EXPECT_NE(form->Edit2.GetText(), "NAN");
    EXPECT_EQ(logLines().size(), 4u);
}

TEST_F(Commands, ANewPictureDropsTheSpectrumOfThePictureBefore)
{
    const std::string a = writeGreyBmp(path("a.bmp"), 16, 16, [](int x, int y) { return x * y; });
    const std::string b = writeGreyBmp(path("b.bmp"), 16, 16, [](int x, int y) { return (x + 3 * y) % 7; });
    load(b);
    press(form->PoliczFFT);
    press(form->Metoda1);
    const std::string bValue = form->Edit1.GetText();
    load(a);
    EXPECT_EQ(form->currentSpectrum, nullptr);
    EXPECT_TRUE(form->Image2.GetBitmap().Empty());
    EXPECT_EQ(form->Edit1.GetText(), "");
    EXPECT_EQ(pressForMessage(form->Metoda1), "Najpierw policz FFT.");
    press(form->PoliczFFT);
    load(b);
    EXPECT_EQ(pressForMessage(form->Metoda2), "Najpierw policz FFT.");
    press(form->PoliczFFT);
    press(form->Metoda1);
    EXPECT_EQ(form->Edit1.GetText(), bValue);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Memo1", b, bValue, a, b, bValue}));
}

TEST_F(Commands, APictureWhoseNameIsNotUtf8LoadsAndIsLoggedByteForByte)
{
    const std::string folder = dir.path().toStdString() + "/";
    std::ofstream(folder + "caf\xe9.bmp", std::ios::binary)
        << readFile(writeGreyBmp(path("plain.bmp"), 8, 8, [](int x, int y) { return x * y; }));
    ModalScript script;
    // Qt lists the name with U+FFFD in place of the byte it cannot read.
    script.chooseFile(folder + "caf\xef\xbf\xbd.bmp");
    press(form->Wczytaj, script);
    ASSERT_NE(form->sourceBitmap, nullptr);
    EXPECT_EQ(form->StatusBar1.GetSimpleText(), folder + "caf\\xE9.bmp");
    EXPECT_EQ(logLines().back(), folder + "caf\\xE9.bmp");
    std::remove((folder + "caf\xe9.bmp").c_str());  // a name Qt cannot remove
}

TEST_F(Commands, AStackOpensAtItsFirstPageAndSaysThereAreMore)
{
    pictures::TiffPage first, second;
    first.width = second.width = 4;
    first.height = second.height = 3;
    first.bits = second.bits = 16;
    for (int i = 0; i < 12; ++i) {
        first.samples.push_back(1000 + 100 * i);
        second.samples.push_back(7);
    }
    std::ofstream(path("stack.tif"), std::ios::binary) << pictures::tiffFile({first, second});
    load(path("stack.tif"));
    EXPECT_EQ(form->StatusBar1.GetSimpleText(), path("stack.tif") + "  (strona 1 z 2)");
    EXPECT_EQ(logLines().back(), path("stack.tif"));
    // The 8-bit view: 1000 .. 2100 mapped onto 0 .. 255.
    TBitmap& shown = form->Image1.GetBitmap();
    EXPECT_EQ(shown.GetScanline(0)[0], 0);
    EXPECT_EQ(shown.GetScanline(0)[1], 23);  // 100 * 255 / 1100 = 23.2
    EXPECT_EQ(shown.GetScanline(2)[3], 255);
}
