#include "Polaczone.h"
#include "fractal_surface.h"
#include "gui_support.h"
#include "imaging/bitmap_road.h"
#include "instrument_corpus.h"
#include "picture_corpus.h"
#include "imaging/numbertext.h"
#include "pictures/picture.h"
#include "toolkit/bitmap_qt.h"

#include <QDir>
#include <QProcess>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct BatchRun {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs orvane-batch; `inChild` runs in the child just before it starts (to
// set limits or close streams), `standardOutput` replaces the pipe.
BatchRun batch(const QStringList& args, std::function<void()> inChild = {}, const QString& standardOutput = {})
{
    QProcess p;
    if (inChild) p.setChildProcessModifier(inChild);
    if (!standardOutput.isEmpty()) p.setStandardOutputFile(standardOutput);
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
    // BMP files give no pixel size (dx and dy empty) and miss no point.
    const std::string expected = "file,width,height,padded_width,padded_height,d1,d2,dx,dy,missing\n" + path("a.bmp") +
                                 ",40,24,64,32," + a1 + "," + a2 + ",,,0\n" + path("b.bmp") + ",19,33,32,64," + b1 +
                                 "," + b2 + ",,,0\n";
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

TEST_F(Batch, AFullDiskLeavesNoPartialPictureAndNoRow)
{
    const std::string out = path("out");
    // A file-size limit of 2 KiB stands in for a full disk: the small
    // picture fits, the larger ones do not.
    writeGreyBmp(path("tiny.bmp"), 8, 8, [](int x, int y) { return x * y; });
    const BatchRun run = batch(QStringList{"--spectrum", QString::fromStdString(out)} + files({"tiny.bmp", "a.bmp"}), [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{2048, 2048};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(run.exitCode, 1);
    const auto rows = lines(run.out);
    ASSERT_EQ(rows.size(), 2u) << run.out;
    EXPECT_EQ(fields(rows[1])[0], path("tiny.bmp"));
    EXPECT_NE(run.err.find(path("a.bmp") + ": cannot write the picture to"), std::string::npos) << run.err;
    EXPECT_EQ(QDir(QString::fromStdString(out)).entryList(QDir::Files | QDir::Hidden), QStringList{"tiny-spectrum.bmp"});
}

TEST_F(Batch, ResultsThatCannotBeWrittenFailTheRun)
{
    for (const QStringList& args : {files({"a.bmp", "b.bmp"}), QStringList{"--help"}}) {
        const BatchRun full = batch(args, {}, "/dev/full");
        EXPECT_EQ(full.exitCode, 1);
        EXPECT_NE(full.err.find("cannot write the results to standard output: No space left on device"),
                  std::string::npos)
            << full.err;
    }
    const BatchRun closed = batch(files({"a.bmp"}), [] { close(1); });
    EXPECT_EQ(closed.exitCode, 1);
    EXPECT_NE(closed.err.find("standard output: Bad file descriptor"), std::string::npos) << closed.err;
}

TEST_F(Batch, InputsOfTheSameNameGetPicturesOfTheirOwn)
{
    QDir(dir.path()).mkpath("d1");
    QDir(dir.path()).mkpath("d2");
    writeGreyBmp(path("d1/x.bmp"), 16, 16, [](int x, int y) { return x * y; });
    writeGreyBmp(path("d2/x.bmp"), 16, 16, [](int x, int y) { return x + y; });
    const BatchRun run =
        batch(QStringList{"--jobs", "2", "--spectrum", dir.path() + "/out"} + files({"d1/x.bmp", "d2/x.bmp", "d1/x.bmp"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const auto& [input, picture] : {std::pair{"d1/x.bmp", "out/x-spectrum.bmp"},
                                         {"d2/x.bmp", "out/d2_x-spectrum.bmp"},
                                         {"d1/x.bmp", "out/x-2-spectrum.bmp"}}) {
        const BatchRun alone = batch(QStringList{"--spectrum", dir.path() + "/alone"} + files({input}));
        EXPECT_EQ(readFile(path(picture)), readFile(path("alone/x-spectrum.bmp"))) << picture;
    }
}

TEST_F(Batch, RowsAppearAsTheyAreDone)
{
    // The second input takes a while (2048 x 2048): the first row is out
    // while the run is still inside it.
    writeGreyBmp(path("later.bmp"), 2048, 2048, [](int x, int y) { return (x * 5 + y * y + x * y) % 241; });
    QProcess p;
    p.start(ORVANE_BATCH, QStringList{"--jobs", "1"} + files({"a.bmp", "later.bmp"}));
    std::string out;
    while (out.find(path("a.bmp") + ",") == std::string::npos && p.waitForReadyRead(20000))
        out += p.readAllStandardOutput().toStdString();
    ASSERT_EQ(out.rfind("file,width,height,padded_width,padded_height,d1,d2,dx,dy,missing\n" + path("a.bmp") + ",", 0), 0u) << out;
    EXPECT_EQ(p.state(), QProcess::Running);
    ASSERT_TRUE(p.waitForFinished(120000));
    out += p.readAllStandardOutput().toStdString();
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(lines(out).size(), 3u) << out;
}

TEST_F(Batch, NamesNotInUtf8AndEndlessInputs)
{
    // Made as bytes: a QString cannot hold this name.
    const std::string name = "caf\xe9.bmp", folder = dir.path().toStdString() + "/";
    std::ofstream(folder + name, std::ios::binary) << readFile(path("a.bmp"));
    std::ofstream(folder + "caf\xe8.bmp", std::ios::binary) << readFile(path("a.bmp"));
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start("/bin/sh", {"-c", R"sh(exec "$0" --json names.jsonl --spectrum out "$(printf 'caf\351.bmp')" /dev/zero "$(printf 'caf\350.bmp')")sh", ORVANE_BATCH});
    ASSERT_TRUE(p.waitForFinished(120000));
    const auto out = lines(p.readAllStandardOutput().toStdString());
    const std::string err = p.readAllStandardError().toStdString();
    ASSERT_EQ(out.size(), 3u) << err;
    EXPECT_EQ(fields(out[1])[0], name);
    // In the records the two names stay two, each byte shown.
    const auto records = lines(readFile(folder + "names.jsonl"));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(nlohmann::json::parse(records[0])["file"], "caf\\xE9.bmp");
    EXPECT_EQ(nlohmann::json::parse(records[2])["file"], "caf\\xE8.bmp");
    EXPECT_EQ(readFile(folder + "out/caf\xe9-spectrum.bmp").substr(0, 2), "BM");
    EXPECT_NE(err.find("/dev/zero\": it is not a regular file"), std::string::npos) << err;
    for (const char* made : {"caf\xe9.bmp", "caf\xe8.bmp", "out/caf\xe9-spectrum.bmp", "out/caf\xe8-spectrum.bmp"})
        std::remove((folder + made).c_str());
}

TEST_F(Batch, AnUnusableSpectrumFolderStopsTheRunBeforeItStarts)
{
    const BatchRun nested = batch(QStringList{"--spectrum", dir.path() + "/new/deeper"} + files({"a.bmp"}));
    EXPECT_EQ(nested.exitCode, 0) << nested.err;
    EXPECT_EQ(readFile(path("new/deeper/a-spectrum.bmp")).substr(0, 2), "BM");
    for (const QString& folder : {dir.path() + "/a.bmp/sub", QString()}) {
        const BatchRun run = batch(QStringList{"--spectrum", folder} + files({"a.bmp"}));
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(lines(run.err).size(), folder.isEmpty() ? 2u : 1u) << run.err;
    }
}

TEST_F(Batch, TheSpectralEstimateAddsColumnsAndItsBins)
{
    writeGreyBmp(path("c.bmp"), 100, 80, [](int x, int y) { return (x * x * 3 + y * 17 + x * y) % 256; });
    const BatchRun plain = batch(QStringList{"--points"} + files({"c.bmp"}));
    const BatchRun run = batch(QStringList{"--points", "--psd"} + files({"c.bmp", "a.bmp"}));
    EXPECT_EQ(run.exitCode, 1);  // a.bmp is too small for it
    EXPECT_NE(run.err.find(path("a.bmp") + ": the spectral estimate failed: the image (40 x 24 pixels) is too small"),
              std::string::npos)
        << run.err;
    const auto out = lines(run.out), before = lines(plain.out);
    // The estimate's columns come before the pixel size and the share of
    // missing points, last on every row.
    const auto withoutSize = [](const std::string& line) {
        return line.substr(0, line.rfind(',', line.rfind(',', line.rfind(',') - 1) - 1));
    };
    EXPECT_EQ(out[0], withoutSize(before[0]) +
                          ",psd_d,psd_d_low,psd_d_high,psd_beta,psd_r2,psd_bins,psd_flags,psd_q_min,psd_q_max,dx,dy,missing");
    const auto row = fields(out[1]);
    ASSERT_GE(row.size(), 16u) << out[1];  // dx and dy, last, are empty
    // This pattern of whole-number remainders is no surface: the estimate says so.
    EXPECT_EQ(row[13], "out_of_range") << out[1];
    // The range used lies inside the default one, from 12 cycles across the 80 rows.
    EXPECT_GE(std::stod(row[14]), 12.0 / 80);
    EXPECT_LT(std::stod(row[14]), std::stod(row[15]));
    EXPECT_LE(std::stod(row[15]), 0.4);
    EXPECT_EQ(out[1].substr(0, withoutSize(before[1]).size() + 1), withoutSize(before[1]) + ",");
    EXPECT_LT(std::stod(row[8]), std::stod(row[7]));
    EXPECT_GT(std::stod(row[9]), std::stod(row[7]));
    EXPECT_EQ(out[2].substr(out[2].size() - 12), ",,,,,,,,,,,0") << out[2];  // a.bmp keeps its row, psd fields empty
    EXPECT_EQ(fields(out[2])[0], path("a.bmp"));
    int fitted = 0;
    for (const std::string& line : out)
        if (line.find(",psd,") != std::string::npos) fitted += fields(line).at(6) == "1";
    EXPECT_EQ(std::to_string(fitted), row[12]);
    EXPECT_EQ(batch({"--psd-range", "0.3:0.2", "x.bmp"}).exitCode, 2);

    // A smooth bump leaves nothing to fit above the rounding floor: its row
    // is written, the numbers empty and the flag saying why; no failure.
    writeGreyBmp(path("bump.bmp"), 128, 128, [](int x, int y) {
        return static_cast<int>(std::lround(255 * std::exp(-((x - 64.0) * (x - 64.0) + (y - 64.0) * (y - 64.0)) / 500)));
    });
    const BatchRun bump = batch(QStringList{"--psd"} + files({"bump.bmp"}));
    EXPECT_EQ(bump.exitCode, 0) << bump.err;
    const auto bumpRows = lines(bump.out);
    ASSERT_EQ(bumpRows.size(), 2u);
    EXPECT_EQ(bumpRows[1].substr(bumpRows[1].find(",,,,,,")), ",,,,,,0,no_fit,,,,,0");
}

TEST_F(Batch, EveryPageOfAStackIsARowAndTheSpectralEstimateSeesTheFullDepth)
{
    pictures::TiffPage page;
    page.width = 96;
    page.height = 80;
    page.bits = 16;
    for (int i = 0; i < 96 * 80; ++i) page.samples.push_back((i * 7919 % 4093) * 16 + (i % 96) * 3);
    pictures::TiffPage second = page;
    second.width = 50;
    second.samples.resize(50 * 80);
    std::ofstream(path("stack.tif"), std::ios::binary) << pictures::tiffFile({page, second});
    const BatchRun run = batch(QStringList{"--psd", "--spectrum", dir.path() + "/out"} + files({"stack.tif"}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto out = lines(run.out);
    ASSERT_EQ(out.size(), 3u) << run.out;
    EXPECT_EQ(fields(out[1])[0], path("stack.tif") + "#1");
    EXPECT_EQ(fields(out[2])[0], path("stack.tif") + "#2");
    EXPECT_EQ(fields(out[2])[1], "50");
    const GreyRaster full = decodePicture(readFile(path("stack.tif")));
    const std::vector<double> values = full.samples.values();
    EXPECT_EQ(fields(out[1])[7], FloatToStr(estimatePsdDimension(values.data(), 96, 80).dimension));
    EXPECT_EQ(readFile(path("out/stack#2-spectrum.bmp")).substr(0, 2), "BM");
}

TEST_F(Batch, PlotsAreSvgFilesOfTheirOwnForEachInput)
{
    QDir(dir.path()).mkpath("d1");
    QDir(dir.path()).mkpath("d2");
    writeGreyBmp(path("d1/a.bmp"), 16, 16, [](int x, int y) { return x * y; });
    writeGreyBmp(path("d2/a.bmp"), 16, 16, [](int x, int y) { return x + y; });
    const BatchRun run = batch(QStringList{"--plot", dir.path() + "/plots"} + files({"d1/a.bmp", "d2/a.bmp"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* name : {"plots/d1_a-plot.svg", "plots/d2_a-plot.svg"}) {
        QSvgRenderer svg(QString::fromStdString(path(name)));
        EXPECT_TRUE(svg.isValid()) << name;
        EXPECT_EQ(svg.viewBox().height(), 2 * 320) << name;  // Metoda 1 and Metoda 2
        // The batch tool's files speak English, and Qt says nothing on standard error.
        const std::string text = readFile(path(name));
        EXPECT_NE(text.find("ln threshold"), std::string::npos) << name;
        EXPECT_EQ(text.find("ln progu"), std::string::npos) << name;
    }
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(batch(QStringList{"--plot", dir.path() + "/a.bmp"} + files({"a.bmp"})).exitCode, 2);
}

TEST_F(Batch, AnInterruptFinishesTheFilesInHandAndStartsNoOther)
{
    // The second input is large: the run is most likely inside it when the
    // signal comes, once the first row is out.  Whichever it is, the files
    // started finish with their rows and pictures, and none starts after.
    writeGreyBmp(path("later.bmp"), 1024, 1024, [](int x, int y) { return (x * x + 3 * y * y + x * y) % 251; });
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
        const QString out = dir.path() + "/out" + QString::number(signal);
        const std::string json = path("records" + std::to_string(signal) + ".jsonl");
        QProcess p;
        p.start(ORVANE_BATCH, QStringList{"--jobs", "1", "--psd", "--spectrum", out, "--json", QString::fromStdString(json)} +
                                  files({"a.bmp", "later.bmp", "b.bmp"}));
        std::string rows;
        while (rows.find(path("a.bmp") + ",") == std::string::npos && p.waitForReadyRead(20000))
            rows += p.readAllStandardOutput().toStdString();
        ::kill(static_cast<pid_t>(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished(60000));
        rows += p.readAllStandardOutput().toStdString();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), status);
        const auto got = lines(rows);
        ASSERT_TRUE(got.size() == 2u || got.size() == 3u) << rows;
        QStringList pictures{"a-spectrum.bmp"};
        if (got.size() == 3) {
            EXPECT_EQ(fields(got[2])[0], path("later.bmp"));
            pictures << "later-spectrum.bmp";
        }
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), pictures);
        EXPECT_EQ(lines(readFile(json)).size(), got.size() - 1);
        EXPECT_EQ(QDir(dir.path()).entryList({".orvane-*"}, QDir::Files | QDir::Hidden), QStringList{});
        EXPECT_NE(p.readAllStandardError().toStdString().find("after " + std::to_string(got.size() - 1) + " of 3 files"),
                  std::string::npos);
    }
}

// A reader that goes away (| head) is a failed write, said, with the
// records of the files done kept; a second Ctrl-C stops at once and keeps
// them too; a records file that cannot be made stops the run before it starts.
TEST_F(Batch, RecordsSurviveAClosedPipeAndASecondInterrupt)
{
    // More rows than a pipe holds (some 110 KB), so that the writes after
    // head has gone fail whatever the timing.
    QStringList many;
    for (int k = 0; k < 1000; ++k) many << QString::fromStdString(path("a.bmp"));
    const QString json = QString::fromStdString(path("piped.jsonl"));
    QProcess piped;
    piped.start("/bin/bash", QStringList{"-c", "\"$0\" --jobs 1 --json \"$1\" \"${@:2}\" | head -n 2; exit ${PIPESTATUS[0]}", ORVANE_BATCH,
                              json} + many);
    ASSERT_TRUE(piped.waitForFinished(120000));
    EXPECT_EQ(piped.exitCode(), 1);
    const std::string err = piped.readAllStandardError().toStdString();
    EXPECT_NE(err.find("cannot write the results to standard output: Broken pipe"), std::string::npos) << err;
    const auto kept = lines(readFile(json.toStdString()));
    EXPECT_GE(kept.size(), 1u);
    for (const std::string& record : kept) EXPECT_EQ(nlohmann::json::parse(record)["file"], path("a.bmp"));

    writeGreyBmp(path("big.bmp"), 2048, 2048, [](int x, int y) { return (x * 7 + y * y) % 253; });
    const std::string twice = path("twice.jsonl");
    QProcess p;
    p.start(ORVANE_BATCH, QStringList{"--jobs", "1", "--psd", "--json", QString::fromStdString(twice)} +
                              files({"a.bmp", "big.bmp", "big.bmp", "big.bmp"}));
    std::string rows;
    while (rows.find(path("a.bmp") + ",") == std::string::npos && p.waitForReadyRead(20000))
        rows += p.readAllStandardOutput().toStdString();
    // Two signals at once (two of the same would merge into one): the second
    // finds the first being handled and ends the run at once.
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::CrashExit) << p.exitCode();
    const auto records = lines(readFile(twice));
    ASSERT_GE(records.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(records[0])["file"], path("a.bmp"));
    EXPECT_EQ(QDir(dir.path()).entryList({".orvane-*"}, QDir::Files | QDir::Hidden), QStringList{});

    const BatchRun nowhere = batch(QStringList{"--json", dir.path() + "/no/such/folder/r.jsonl"} + files({"a.bmp"}));
    EXPECT_EQ(nowhere.exitCode, 2);
    EXPECT_EQ(nowhere.out, "");
    EXPECT_NE(nowhere.err.find("cannot write the records to"), std::string::npos) << nowhere.err;
}

// A 64 x 48 page of 16-bit heights of a surface of dimension D, stretched
// `ratio` times along `angle` degrees, over 0 .. 60000.
pictures::TiffPage surfacePage(double D, std::uint64_t seed, double ratio = 1, double angle = 0)
{
    pictures::TiffPage page;
    page.width = 64;
    page.height = 48;
    page.bits = 16;
    std::mt19937_64 random(seed);
    const std::vector<double> z = fractalSurface(D, 64, 48, random, ratio, angle);
    const auto [lo, hi] = std::minmax_element(z.begin(), z.end());
    for (double v : z) page.samples.push_back(std::round((v - *lo) / (*hi - *lo) * 60000));
    return page;
}

TEST_F(Batch, TheWhittleEstimateAddsItsColumnsFromTheFullDepth)
{
    const pictures::TiffPage page = surfacePage(2.4, 2, 2.0, 45);
    std::ofstream(path("w.tif"), std::ios::binary) << pictures::tiffFile({page});
    writeGreyBmp(path("tiny.bmp"), 20, 12, [](int x, int y) { return (x * 13 + y * 7) % 256; });
    const BatchRun run = batch(QStringList{"--whittle", "--plot", dir.path() + "/plots"} + files({"w.tif", "tiny.bmp"}));
    const auto out = lines(run.out);
    ASSERT_EQ(out.size(), 3u) << run.out;
    EXPECT_EQ(out[0].substr(out[0].find(",d2,") + 4),
              "whittle_d,whittle_d_low,whittle_d_high,aniso_ratio,aniso_angle,whittle_flags,dx,dy,missing");
    const auto row = fields(out[1]);
    ASSERT_GE(row.size(), 12u) << out[1];  // the flags, last, may be empty
    const WhittleResult w = whittleDimension(decodePicture(readFile(path("w.tif"))));
    EXPECT_EQ(row[7], FloatToStr(w.dimension));
    EXPECT_EQ(row[10], FloatToStr(w.anisoRatio));
    EXPECT_NEAR(std::stod(row[11]), 45, 10);
    // 20 x 12 is too small: its row keeps empty fields, the failure is said.
    EXPECT_EQ(out[2].substr(out[2].size() - 10), ",,,,,,,,,0") << out[2];
    EXPECT_NE(run.err.find("the Whittle estimate failed: the image (20 x 12 pixels) is too small"), std::string::npos) << run.err;
    EXPECT_EQ(run.exitCode, 1);
    // Its plot follows the methods' in the picture's plot file, in English.
    QSvgRenderer svg(QString::fromStdString(path("plots/w-plot.svg")));
    EXPECT_EQ(svg.viewBox().height(), 3 * 320);
    const std::string text = readFile(path("plots/w-plot.svg"));
    EXPECT_NE(text.find("Periodogram (Whittle)"), std::string::npos);
    EXPECT_NE(text.find("cycles per pixel"), std::string::npos);
}

TEST_F(Batch, PixelSizesHeightParametersAndWavelengths)
{
    // A 16-bit surface at 2000 pixels a centimetre (5 um pixels), 1000 down
    // the rows once turned (Orientation 6 swaps the sides); a BMP gives none.
    pictures::TiffPage page = surfacePage(2.3, 4);
    page.resolutionUnit = RESUNIT_CENTIMETER;
    page.xResolution = page.yResolution = 2000;
    pictures::TiffPage turned = page;
    turned.orientation = 6;
    turned.yResolution = 1000;
    std::ofstream(path("m.tif"), std::ios::binary) << pictures::tiffFile({page, turned});
    writeGreyBmp(path("b.bmp"), 40, 40, [](int x, int y) { return (x * 7 + y * y) % 256; });
    const BatchRun run =
        batch(QStringList{"--params", "--height-scale", "2nm", "--pixel-size", "1um"} + files({"m.tif", "b.bmp"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto out = lines(run.out);
    ASSERT_EQ(out.size(), 4u) << run.out;
    EXPECT_EQ(out[0].substr(out[0].find(",d2,") + 4), "sa,sq,ssk,sku,sz,sdq,sdr,dx,dy,missing");
    // The file's own size wins; the option's is for files without one.
    const double five = 0.01 / 2000, ten = 0.01 / 1000;
    const GreyRaster surface = decodePicture(readFile(path("m.tif")));
    const SurfaceParameters p = surfaceParametersOf(surface, five, five, 2e-9);
    EXPECT_EQ(fields(out[1]), (std::vector<std::string>{path("m.tif") + "#1", "64", "48", "64", "64", fields(out[1])[5],
                                                        fields(out[1])[6], FloatToStr(p.sa), FloatToStr(p.sq),
                                                        FloatToStr(p.ssk), FloatToStr(p.sku), FloatToStr(p.sz),
                                                        FloatToStr(p.sdq), FloatToStr(p.sdr), FloatToStr(five),
                                                        FloatToStr(five), "0"}));
    EXPECT_EQ(fields(out[2])[14], FloatToStr(ten)) << out[2];  // turned: x is the stored y
    EXPECT_EQ(fields(out[2])[15], FloatToStr(five)) << out[2];
    EXPECT_EQ(fields(out[3])[14], FloatToStr(1e-6)) << out[3];
    // A surface data file gives its own pixel size and heights in metres,
    // which win over the options'.
    std::ofstream(path("s.sdf"), std::ios::binary) << pictures::sdfFile(false, 7, std::vector<double>(page.samples.begin(), page.samples.begin() + 64 * 48), 64, 48);
    const auto sdf = fields(lines(batch(QStringList{"--params", "--height-scale", "2nm", "--pixel-size", "1um"} +
                                        files({"s.sdf"})).out)[1]);
    const GreyRaster heights = decodePicture(readFile(path("s.sdf")));
    EXPECT_EQ(sdf[8], FloatToStr(surfaceParametersOf(heights, 2e-6, 3e-6, 1).sq));
    EXPECT_EQ(sdf[14], FloatToStr(2e-6));
    EXPECT_EQ(sdf[15], FloatToStr(3e-6));
    // Without a height scale the heights stay in their unit and there are no slopes.
    const auto plain = fields(lines(batch(QStringList{"--params"} + files({"m.tif"})).out)[1]);
    EXPECT_EQ(plain[8], FloatToStr(surfaceParametersOf(surface, five, five, 0).sq));
    EXPECT_EQ(plain[12], "");
    // A fit range in wavelengths is the same fit as in cycles per pixel
    // (20 and 100 um on 5 um pixels); a file of unknown size fails it.
    const auto cycles = lines(batch(QStringList{"--psd", "--psd-range", "0.05:0.25"} + files({"m.tif"})).out);
    const BatchRun lengths = batch(QStringList{"--psd", "--psd-range", "20um:100um"} + files({"m.tif", "b.bmp"}));
    EXPECT_EQ(lines(lengths.out)[1], cycles[1]);
    EXPECT_NE(lengths.err.find(path("b.bmp") + ": the spectral estimate failed: a fit range in wavelengths needs the "
                                               "pixel size"),
              std::string::npos)
        << lengths.err;
    for (const QStringList& wrong : {QStringList{"--pixel-size", "0.5"}, QStringList{"--pixel-size", "-1um"},
                                     QStringList{"--height-scale", "2 parsecs"}, QStringList{"--psd-range", "9um:2um"}})
        EXPECT_EQ(batch(wrong + files({"b.bmp"})).exitCode, 2) << wrong.join(" ").toStdString();
}

TEST_F(Batch, InstrumentFilesGiveTheirCalibrationAndChannels)
{
    // The same surface as X3P (int32 heights with a valid-point mask) and as
    // the two channels of a GWY file: rows named file#channel, the spectral
    // estimate on the heights in metres, each with its own pixel size.
    const pictures::TiffPage page = surfacePage(2.4, 6);
    instruments::X3p x3p;
    x3p.type = 'L';
    x3p.sizeX = 64;
    x3p.sizeY = 48;
    x3p.stored.assign(page.samples.begin(), page.samples.begin() + 64 * 48);
    x3p.stored[100] = NAN;
    std::ofstream(path("s.x3p"), std::ios::binary) << instruments::x3pFile(x3p);
    instruments::GwyChannel height, phase;
    height.xres = phase.xres = 64;
    height.yres = phase.yres = 48;
    height.xreal = phase.xreal = 64e-6;
    height.yreal = phase.yreal = 96e-6;
    height.data.assign(page.samples.begin(), page.samples.begin() + 64 * 48);
    phase.number = 1;
    phase.unitZ = "deg";
    phase.data = height.data;
    std::ofstream(path("s.gwy"), std::ios::binary) << instruments::gwyFile({height, phase});
    const BatchRun run = batch(QStringList{"--psd", "--params"} + files({"s.x3p", "s.gwy"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto out = lines(run.out);
    ASSERT_EQ(out.size(), 4u) << run.out;
    const auto header = fields(out[0]);
    const auto column = [&](const std::string& name) {
        return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
    };
    const auto first = fields(out[1]), second = fields(out[2]), third = fields(out[3]);
    EXPECT_EQ(first[0], path("s.x3p"));
    EXPECT_EQ(first[column("dx")], FloatToStr(2e-6));
    EXPECT_EQ(first[column("missing")], FloatToStr(1.0 / (64 * 48)));
    EXPECT_EQ(second[0], path("s.gwy") + "#1");
    EXPECT_EQ(third[0], path("s.gwy") + "#2");
    EXPECT_EQ(second[column("dy")], FloatToStr(2e-6));
    // Heights in metres give slopes; degrees give none.
    EXPECT_NE(second[column("sdq")], "");
    EXPECT_EQ(third[column("sdq")], "");
    EXPECT_EQ(second[column("psd_d")], third[column("psd_d")]);
}

TEST_F(Batch, JsonRecordsHoldTheRowTheOptionsAndTheFits)
{
    writeGreyBmp(path("c.bmp"), 100, 80, [](int x, int y) { return (x * x * 3 + y * 17 + x * y) % 256; });
    const std::string records = path("out.jsonl");
    const BatchRun run =
        batch(QStringList{"--psd", "--params", "--pixel-size", "2um", "--json", QString::fromStdString(records)} +
              files({"c.bmp", "missing.bmp"}));
    EXPECT_EQ(run.exitCode, 1);  // the missing file
    const auto csv = lines(run.out);
    std::istringstream text(readFile(records));
    std::string line;
    std::vector<nlohmann::ordered_json> got;  // keys in the order written
    while (std::getline(text, line)) got.push_back(nlohmann::ordered_json::parse(line));
    ASSERT_EQ(got.size(), 2u);
    const nlohmann::ordered_json& c = got[0];
    EXPECT_EQ(c["program"], "orvane-batch");
    EXPECT_FALSE(c["version"].get<std::string>().empty());
    EXPECT_EQ(c["options"]["psd"]["window"], "hann");
    EXPECT_EQ(c["calibration"]["dx_m"], 2e-6);
    // Counts are whole numbers, not 100.0.
    EXPECT_TRUE(c["row"]["width"].is_number_integer());
    EXPECT_TRUE(c["row"]["psd_bins"].is_number_integer());
    EXPECT_NE(readFile(records).find("\"width\":100,"), std::string::npos);
    // The row: the CSV's columns in order, its numbers to the last digit.
    const auto header = fields(csv[0]), row = fields(csv[1]);
    std::vector<std::string> keys;
    for (const auto& [key, value] : c["row"].items()) {
        keys.push_back(key);
        const std::size_t k = keys.size() - 1;
        const std::string shown = k < row.size() ? row[k] : "";
        if (value.is_number())
            EXPECT_EQ(FloatToStr(value.get<double>()), shown) << key;
        else if (value.is_string())
            EXPECT_EQ(value.get<std::string>(), shown) << key;
        else
            EXPECT_EQ(shown, "") << key;
    }
    EXPECT_EQ(keys, header);
    EXPECT_EQ(c["fit_points"]["method1"].size(), 10u);
    EXPECT_FALSE(c["fit_points"]["psd"].empty());
    // The file that could not be read has its record, saying why.
    EXPECT_EQ(got[1]["file"], path("missing.bmp"));
    EXPECT_NE(got[1]["errors"][0].get<std::string>().find("cannot read"), std::string::npos);
}

TEST_F(Batch, AMapIsAFloatTiffAndAColourPicture)
{
    pictures::TiffPage page;
    page.width = page.height = 96;
    page.bits = 32;
    page.format = SAMPLEFORMAT_IEEEFP;
    std::mt19937_64 random(6);
    for (double v : fractalSurface(2.5, 96, 96, random)) page.samples.push_back(v);
    std::ofstream(path("m.tif"), std::ios::binary) << pictures::tiffFile({page});
    writeGreyBmp(path("tiny.bmp"), 20, 12, [](int x, int y) { return (x * 13 + y * 7) % 256; });
    const BatchRun run = batch(QStringList{"--map", dir.path() + "/maps", "--map-window", "32"} + files({"m.tif", "tiny.bmp"}));
    EXPECT_EQ(run.exitCode, 1) << run.err;  // tiny.bmp is smaller than a window
    EXPECT_NE(run.err.find("the dimension map failed: the map's window of 32 pixels must be at least 16 and fit in"),
              std::string::npos)
        << run.err;
    // Windows 16 apart: (96 - 32) / 16 + 1 = 5 each way, read back by the picture reader as float32.
    const GreyRaster map = decodePicture(readFile(path("maps/m-map.tif")));
    EXPECT_EQ(map.width, 5);
    EXPECT_EQ(map.height, 5);
    EXPECT_EQ(map.type(), SampleType::float32);
    const DimensionMap expected = dimensionMapOf(decodePicture(readFile(path("m.tif"))), 32, 16);
    for (std::size_t i = 0; i < 25; ++i) EXPECT_EQ(map.samples[i], static_cast<float>(expected.d[i])) << i;
    EXPECT_EQ(readFile(path("maps/m-map.png")).substr(1, 3), "PNG");
    // A map that cannot be written (a folder stands where its TIFF goes) is
    // that estimate's failure, named with its file: the row and the other
    // estimates stay.
    std::ofstream(path("blocked.tif"), std::ios::binary) << readFile(path("m.tif"));
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/maps/blocked-map.tif"));
    const BatchRun blocked = batch(QStringList{"--psd", "--map", dir.path() + "/maps", "--map-window", "32"} + files({"blocked.tif"}));
    EXPECT_EQ(blocked.exitCode, 1);
    const auto rows = lines(blocked.out);
    ASSERT_EQ(rows.size(), 2u) << blocked.out << blocked.err;
    EXPECT_NE(fields(rows[1])[7], "") << rows[1];  // psd_d
    EXPECT_NE(blocked.err.find("the dimension map failed: cannot write the map to \"" + path("maps/blocked-map.tif")),
              std::string::npos)
        << blocked.err;
}
