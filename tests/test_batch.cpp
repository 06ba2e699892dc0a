#include "Polaczone.h"
#include "gui_support.h"
#include "toolkit/bitmap_qt.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

struct BatchRun {
    int exitCode;
    std::string out;
    std::string err;
};

BatchRun batch(const QStringList& args)
{
    QProcess p;
    p.start(ORVANE_BATCH, args);
    p.waitForFinished(120000);
    return {p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, ',');) out.push_back(f);
    return out;
}

class Batch : public ::testing::Test {
protected:
    std::string path(const std::string& name) const
    {
        return (dir.path() + "/" + QString::fromStdString(name)).toStdString();
    }
    QStringList files(std::initializer_list<const char*> names) const
    {
        QStringList list;
        for (const char* n : names) list << QString::fromStdString(path(n));
        return list;
    }
    void SetUp() override
    {
        writeGreyBmp(path("a.bmp"), 40, 24, [](int x, int y) { return (x * x + 7 * y) % 256; });
        QImage rgb(19, 33, QImage::Format_RGB32);
        for (int y = 0; y < 33; ++y)
            for (int x = 0; x < 19; ++x) rgb.setPixel(x, y, qRgb((x * 13) % 256, (y * 29) % 256, (x * y) % 256));
        rgb.save(QString::fromStdString(path("b.bmp")), "BMP");
    }
    QTemporaryDir dir;
};

// What the window shows for a file: Load, PoliczFFT, Metoda 1, Metoda 2.
std::pair<std::string, std::string> windowTexts(const std::string& file)
{
    TForm1 form;
    form.Show();
    {
        ModalScript script;
        script.chooseFile(file);
        QTest::mouseClick(form.Wczytaj.button(), Qt::LeftButton);
    }
    QTest::mouseClick(form.PoliczFFT.button(), Qt::LeftButton);
    QTest::mouseClick(form.Metoda1.button(), Qt::LeftButton);
    QTest::mouseClick(form.Metoda2.button(), Qt::LeftButton);
    return {form.Edit1.GetText(), form.Edit2.GetText()};
}

}  // namespace

TEST_F(Batch, CsvAgreesWithTheWindowToTheLastDigit)
{
    const BatchRun run = batch(files({"a.bmp", "b.bmp"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto [a1, a2] = windowTexts(path("a.bmp"));
    const auto [b1, b2] = windowTexts(path("b.bmp"));
    const std::string expected = "file,width,height,padded_width,padded_height,d1,d2\n" + path("a.bmp") +
                                 ",40,24,64,32," + a1 + "," + a2 + "\n" + path("b.bmp") + ",19,33,32,64," + b1 +
                                 "," + b2 + "\n";
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "");
}

TEST_F(Batch, FailuresAreReportedAndTheRestGoesOn)
{
    std::ofstream(path("text.bmp")) << "hello";
    QImage big(8193, 8192, QImage::Format_Indexed8);
    big.setColorTable(QList<QRgb>(256, qRgb(0, 0, 0)));
    big.fill(0);
    ASSERT_TRUE(big.save(QString::fromStdString(path("big.bmp")), "BMP"));

    const BatchRun run = batch(files({"missing.bmp", "a.bmp", "text.bmp", "big.bmp"}));
    EXPECT_EQ(run.exitCode, 1);
    const auto out = lines(run.out);
    ASSERT_EQ(out.size(), 2u) << run.out;
    EXPECT_EQ(fields(out[1])[0], path("a.bmp"));
    const auto err = lines(run.err);
    ASSERT_EQ(err.size(), 3u) << run.err;
    EXPECT_EQ(err[0].rfind("orvane-batch: " + path("missing.bmp") + ": ", 0), 0u) << err[0];
    EXPECT_EQ(err[1].rfind("orvane-batch: " + path("text.bmp") + ": ", 0), 0u) << err[1];
    EXPECT_NE(err[2].find("8193 x 8192"), std::string::npos) << err[2];
}

TEST_F(Batch, UsageErrorsAndHelp)
{
    EXPECT_EQ(batch({}).exitCode, 2);
    EXPECT_EQ(batch({"--jobs", "0", "x.bmp"}).exitCode, 2);
    EXPECT_EQ(batch({"--bogus", "x.bmp"}).exitCode, 2);
    const BatchRun help = batch({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--spectrum DIR"), std::string::npos);
}

TEST_F(Batch, PointsGiveTheFittedSlope)
{
    const BatchRun run = batch(QStringList{"--points"} + files({"a.bmp"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto out = lines(run.out);
    ASSERT_EQ(out.size(), 2u + 1u + 1u + 18u) << run.out;
    EXPECT_EQ(out[2], "");
    EXPECT_EQ(out[3], "file,method,i,ln_threshold,ln_count");
    const auto row = fields(out[1]);
    for (int method : {1, 2}) {
        std::vector<double> x, y;
        for (std::size_t k = 4; k < out.size(); ++k) {
            const auto f = fields(out[k]);
            if (std::stoi(f[1]) != method) continue;
            x.push_back(std::stod(f[3]));
            y.push_back(std::stod(f[4]));
        }
        ASSERT_EQ(x.size(), method == 1 ? 10u : 8u);
        double mx = 0, my = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            mx += x[i] / x.size();
            my += y[i] / y.size();
        }
        double sxy = 0, sxx = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            sxy += (x[i] - mx) * (y[i] - my);
            sxx += (x[i] - mx) * (x[i] - mx);
        }
        const double d = std::stod(row[method == 1 ? 5 : 6]);
        EXPECT_NEAR(-2.0 / (sxy / sxx), d, 1e-9 * std::fabs(d)) << "method " << method;
    }
}

TEST_F(Batch, JobsDoNotChangeTheOutput)
{
    for (int i = 0; i < 5; ++i)
        writeGreyBmp(path("n" + std::to_string(i) + ".bmp"), 30 + i, 20 + 3 * i,
                     [i](int x, int y) { return (x * (i + 3) + y * y) % 256; });
    QStringList all = files({"n0.bmp", "n1.bmp", "missing.bmp", "n2.bmp", "n3.bmp", "n4.bmp"});
    const BatchRun one = batch(QStringList{"--points", "--jobs", "1"} + all);
    const BatchRun two = batch(QStringList{"--points", "--jobs", "2"} + all);
    EXPECT_EQ(one.exitCode, 1);
    EXPECT_EQ(one.out, two.out);
    EXPECT_EQ(one.err, two.err);
}

TEST_F(Batch, SpectrumFilesShowWhatTheWindowShows)
{
    const BatchRun run = batch(QStringList{"--spectrum", dir.path()} + files({"a.bmp"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    TForm1 form;
    {
        ModalScript script;
        script.chooseFile(path("a.bmp"));
        QTest::mouseClick(form.Wczytaj.button(), Qt::LeftButton);
    }
    QTest::mouseClick(form.PoliczFFT.button(), Qt::LeftButton);
    TBitmap written;
    written.LoadFromFile(path("a-spectrum.bmp"));
    TBitmap& shown = form.Image2.GetBitmap();
    ASSERT_EQ(written.GetWidth(), shown.GetWidth());
    ASSERT_EQ(written.GetHeight(), shown.GetHeight());
    for (int r = 0; r < shown.GetHeight(); ++r)
        ASSERT_EQ(0, std::memcmp(written.GetScanline(r), shown.GetScanline(r), static_cast<std::size_t>(shown.GetWidth())))
            << "row " << r;
}
