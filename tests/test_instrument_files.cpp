// X3P and GWY files: heights in metres with their pixel size, points not
// measured, pages, and refusals of files that lie or are damaged.
#include "fractal_surface.h"
#include "imaging/road.h"
#include "instrument_corpus.h"
#include "picture_corpus.h"
#include "pictures/picture.h"

#include <gtest/gtest.h>

#include <clocale>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include <sys/resource.h>
#include <unistd.h>

using namespace instruments;

namespace {

void expectRefused(const std::string& bytes, const std::string& reason)
{
    try {
        decodePicture(bytes);
        ADD_FAILURE() << "read; expected: " << reason;
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << reason << ": " << e.what();
    }
}

void expectHeights(const GreyRaster& r, const std::vector<double>& stored, double increment, double offset,
                   const std::string& what)
{
    const std::vector<double> z = r.samples.values();
    ASSERT_EQ(z.size(), stored.size()) << what;
    for (std::size_t i = 0; i < z.size(); ++i) {
        if (std::isnan(stored[i])) EXPECT_TRUE(std::isnan(z[i])) << what << " " << i;
        else EXPECT_DOUBLE_EQ(z[i], offset + increment * stored[i]) << what << " " << i;
    }
}

}  // namespace

TEST(InstrumentFiles, X3pGivesHeightsInMetresForEveryDataType)
{
    for (char type : {'I', 'L', 'F', 'D'})
        for (bool listed : {false, true}) {
            X3p f;
            f.type = type;
            f.listed = listed;
            f.zOffset = listed ? 0 : 2.5e-6;
            const std::string what = std::string(1, type) + (listed ? " listed" : " linked");
            const std::string bytes = x3pFile(f);
            ASSERT_EQ(pictureFormat(bytes), PictureFormat::x3p);
            const GreyRaster r = decodePicture(bytes);
            EXPECT_EQ(r.width, 3) << what;
            EXPECT_EQ(r.height, 2) << what;
            EXPECT_EQ(r.type(), SampleType::float64) << what;
            EXPECT_DOUBLE_EQ(r.dx, 2e-6) << what;
            EXPECT_DOUBLE_EQ(r.dy, 3e-6) << what;
            EXPECT_EQ(r.heightScale, 1.0) << what;
            expectHeights(r, f.stored, 1e-9, f.zOffset, what);
        }
}

TEST(InstrumentFiles, X3pLayersArePages)
{
    X3p f;
    f.sizeZ = 2;
    f.stored = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::string bytes = x3pFile(f);
    PictureReader reader(bytes);
    ASSERT_EQ(reader.pages(), 2);
    expectHeights(reader.decode(1), {7, 8, 9, 10, 11, 12}, 1e-9, 0, "layer 2");
    expectHeights(reader.decode(0), {1, 2, 3, 4, 5, 6}, 1e-9, 0, "layer 1");
}

TEST(InstrumentFiles, DamagedOrLyingX3pFilesAreRefusedWithTheReason)
{
    X3p f;
    const std::string good = x3pFile(f);

    // Bytes changed inside the archive fail their CRC; checksums that do not
    // match the bytes (main.xml's, then the data's) are refused too.
    std::string changed = good;
    changed.replace(changed.find("ISO5436 - 2000"), 4, "ISO9");
    expectRefused(changed, "cannot read main.xml");
    X3p wrong = f;
    wrong.wrongChecksums = true;
    expectRefused(x3pFile(wrong), "main.xml does not match its MD5 checksum");
    std::string dataOnly = x3pFile(wrong);
    {
        // md5checksum.hex right again: the data's checksum is what fails.
        X3p right = f;
        const std::string xmlStart = "<?xml";
        const std::size_t from = dataOnly.find(xmlStart), to = dataOnly.find("</p:ISO5436_2>\n") + 15;
        const std::string xmlText = dataOnly.substr(from, to - from);
        dataOnly = storedZip({{"main.xml", xmlText}, {"md5checksum.hex", md5Hex(xmlText) + " *main.xml\n"},
                              {"bindata/data.bin", x3pData(right, nullptr)}});
    }
    expectRefused(dataOnly, "\"bindata/data.bin\" does not match its MD5 checksum");
    X3p noChecksums = f;
    noChecksums.checksums = false;
    EXPECT_NO_THROW(decodePicture(x3pFile(noChecksums)));

    // Sizes that the data does not hold, or more than can be analysed,
    // refused before the heights are allocated.
    X3p lying = f;
    lying.sizeX = 30;
    expectRefused(x3pFile(lying), "where its sizes need 480");
    lying.sizeX = lying.sizeY = 60000;
    expectRefused(x3pFile(lying), "more than can be analysed");
    X3p cloud = f;
    cloud.feature = "PCL";
    expectRefused(x3pFile(cloud), "point cloud");
    X3p wrongType = f;
    wrongType.type = 'Q';
    expectRefused(x3pFile(wrongType), "DataType \"Q\"");
    X3p shortList = f;
    shortList.listed = true;
    shortList.sizeY = 3;
    expectRefused(x3pFile(shortList), "lists 6 heights for a layer of 9");
    expectRefused(std::string("PK\3\4 this is no archive"), "not a zip archive");
    expectRefused(storedZip({{"readme.txt", "hello"}}), "holds no main.xml");
}

TEST(InstrumentFiles, GwyChannelsArePagesWithTheirSizesAndUnits)
{
    GwyChannel height;
    GwyChannel current;
    current.number = 3;
    current.xres = 2;
    current.yres = 2;
    current.xreal = 4e-6;
    current.yreal = 2e-6;
    current.unitZ = "A";
    current.data = {0.5, 1.5, NAN, 2.5};
    const std::string bytes = gwyFile({current, height});
    ASSERT_EQ(pictureFormat(bytes), PictureFormat::gwy);
    PictureReader reader(bytes);
    ASSERT_EQ(reader.pages(), 2);
    const GreyRaster first = reader.decode(0);  // channel 0
    EXPECT_EQ(first.width, 3);
    EXPECT_EQ(first.height, 2);
    EXPECT_DOUBLE_EQ(first.dx, 2e-6);
    EXPECT_DOUBLE_EQ(first.dy, 3e-6);
    EXPECT_EQ(first.heightScale, 1.0);
    EXPECT_EQ(first.samples.values(), height.data);
    const GreyRaster second = reader.decode(1);  // channel 3: amperes, no height unit
    EXPECT_DOUBLE_EQ(second.dx, 2e-6);
    EXPECT_DOUBLE_EQ(second.dy, 1e-6);
    EXPECT_EQ(second.heightScale, 0.0);
    EXPECT_TRUE(std::isnan(second.samples[2]));
    // Lateral sizes in a unit that is no length give no pixel size.
    GwyChannel pixels;
    pixels.unitXY = "";
    EXPECT_EQ(decodePicture(gwyFile({pixels})).dx, 0.0);
}

TEST(InstrumentFiles, GwyFilesThatLieOrEndEarlyAreRefused)
{
    GwyChannel c;
    const std::string good = gwyFile({c});
    // Cut anywhere: refused, never read past the end.
    for (std::size_t n = 0; n < good.size(); ++n) EXPECT_THROW(decodePicture(good.substr(0, n)), std::runtime_error) << n;
    GwyChannel lying = c;
    lying.xres = 30;
    expectRefused(gwyFile({lying}), "with 6 values");
    lying.xres = lying.yres = 60000;
    expectRefused(gwyFile({lying}), "more than can be analysed");
    expectRefused("GWYP" + gwy::object("GwyContainer", gwy::text("/0/data/title", "none")), "no channel");
    // Objects nested without end.
    std::string deep = gwy::object("GwySIUnit", "");
    for (int i = 0; i < 100; ++i) deep = gwy::object("GwyContainer", gwy::component("/x", 'o', deep));
    expectRefused("GWYP" + deep, "deeper than");
}

// Heights from an instrument file reach the analysis as the same doubles a
// 64-bit floating-point TIFF of them gives: the same spectral estimate, bit
// for bit.
TEST(InstrumentFiles, HeightsAnalyseAsAFloat64TiffOfThemDoes)
{
    std::mt19937_64 random(7);
    const std::vector<double> surface = fractalSurface(2.4, 64, 48, random);
    pictures::TiffPage tiff;
    tiff.width = 64;
    tiff.height = 48;
    tiff.bits = 64;
    tiff.format = SAMPLEFORMAT_IEEEFP;
    tiff.samples = surface;
    X3p x3p;
    x3p.sizeX = 64;
    x3p.sizeY = 48;
    x3p.zIncrement = 1;
    x3p.stored = surface;
    GwyChannel gwy;
    gwy.xres = 64;
    gwy.yres = 48;
    gwy.data = surface;
    const double reference = psdDimension(decodePicture(pictures::tiffFile({tiff})), {}).dimension;
    EXPECT_EQ(psdDimension(decodePicture(x3pFile(x3p)), {}).dimension, reference);
    EXPECT_EQ(psdDimension(decodePicture(gwyFile({gwy})), {}).dimension, reference);
}

// Under a comma-decimal locale (as Qt sets from a Polish desktop) the
// readers still read "1.5e-06" as 1.5e-06: increments, scales and heights
// are the same as under C, and a number with a comma, or with text after
// it, is refused rather than read as its digits before the comma.
TEST(InstrumentFiles, NumbersReadTheSameUnderACommaDecimalLocale)
{
    X3p linked, listed;
    linked.dx = 1.5e-6;
    linked.zIncrement = 2.5e-9;
    listed.listed = true;
    listed.stored = {1.25, -2.5, 3, NAN, 5.75, 6};
    const std::vector<std::string> files = {x3pFile(linked), x3pFile(listed), pictures::sdfFile(false, 7, {1.5, -2, 3, NAN, 5, 6}),
                                            pictures::sdfFile(true, 7, {1.5, -2, 3, NAN, 5, 6})};
    std::vector<GreyRaster> inC;
    for (const std::string& f : files) inC.push_back(decodePicture(f));
    std::string commaSdf = files[2];
    commaSdf.replace(commaSdf.find("2.0e-6"), 6, "2,0e-6");
    // An increment with a unit after it: the zip rebuilt around the changed main.xml.
    std::string xml = files[0].substr(files[0].find("<?xml"));
    xml = xml.substr(0, xml.find("</p:ISO5436_2>\n") + 15);
    xml.replace(xml.find("</Increment>"), 0, "mm");
    X3p unchecked = linked;
    unchecked.checksums = false;
    const std::string trailingX3p = storedZip({{"main.xml", xml}, {"bindata/data.bin", x3pData(unchecked, nullptr)}});

    ::setenv("LOCPATH", ORVANE_TEST_LOCALES, 1);
    ASSERT_NE(std::setlocale(LC_ALL, "pl_PL.UTF-8"), nullptr) << "no pl_PL.UTF-8 locale in " << ORVANE_TEST_LOCALES;
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");
    std::vector<GreyRaster> inPolish;
    for (const std::string& f : files) inPolish.push_back(decodePicture(f));
    std::setlocale(LC_ALL, "C");
    ::unsetenv("LOCPATH");
    for (std::size_t k = 0; k < files.size(); ++k) {
        EXPECT_EQ(inPolish[k].dx, inC[k].dx) << k;
        EXPECT_EQ(inPolish[k].dy, inC[k].dy) << k;
        const std::vector<double> a = inC[k].samples.values(), b = inPolish[k].samples.values();
        ASSERT_EQ(a.size(), b.size()) << k;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (std::isnan(a[i])) continue;
            EXPECT_EQ(a[i], b[i]) << k << " " << i;
        }
    }
    EXPECT_DOUBLE_EQ(inC[0].dx, 1.5e-6);
    EXPECT_DOUBLE_EQ(inC[0].samples.values()[0], 2.5e-9);
    EXPECT_DOUBLE_EQ(inC[1].samples.values()[0], 1.25e-9);
    expectRefused(commaSdf, "gives Xscale as \"2,0e-6\", not a number");
    expectRefused(trailingX3p, "not a number");
}

// Text from a file in a refusal is a short excerpt with control codes
// escaped: a root name of megabytes, or one carrying terminal escapes,
// neither floods nor drives the terminal.
TEST(InstrumentFiles, RefusalsQuoteAShortEscapedExcerpt)
{
    X3p f;
    f.listed = true;
    std::string bytes = x3pFile(f);
    const std::string huge = "\x1b[2J" + std::string(100000, 'a');
    std::string xml = bytes.substr(bytes.find("<?xml"));
    xml = xml.substr(0, xml.find("</p:ISO5436_2>\n") + 15);
    xml.replace(xml.find("<Datum>") + 7, 0, huge);
    try {
        decodePicture(storedZip({{"main.xml", xml}}));
        ADD_FAILURE() << "read";
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_LT(what.size(), 200u) << what.size();
        EXPECT_EQ(what.find('\x1b'), std::string::npos);
        EXPECT_NE(what.find("lists a height \"\\x1B[2Jaaa"), std::string::npos) << what;
    }
}

// Archives that claim or inflate to far more than they hold are refused
// before that memory is taken, and a stack's data is read and checked once,
// not once a layer.
TEST(InstrumentFiles, X3pArchivesAreReadForWhatTheyHoldAndOnce)
{
    X3p f;
    std::string xml = x3pFile(f);
    xml = xml.substr(xml.find("<?xml"));
    xml = xml.substr(0, xml.find("</p:ISO5436_2>\n") + 15);
    auto peak = [] {
        rusage use{};
        getrusage(RUSAGE_SELF, &use);
        return use.ru_maxrss;  // KiB
    };
    const long before = peak();
    expectRefused(storedZip({{"main.xml", xml}}, true, 1u << 30), "main.xml");
    std::string empties = xml;
    std::string many;
    for (int k = 0; k < 200000; ++k) many += "<a/>";
    empties.replace(empties.find("<Record4>"), 0, many);
    expectRefused(storedZip({{"main.xml", empties}}, true), "far larger than its sizes can need");
    EXPECT_LT(peak() - before, 100 * 1024);

    X3p stack;
    stack.sizeX = stack.sizeY = 64;
    stack.sizeZ = 256;
    stack.stored.assign(64 * 64 * 256, 0.0);
    for (std::size_t i = 0; i < stack.stored.size(); ++i) stack.stored[i] = static_cast<double>(i % 1000);
    const std::string stackFile = x3pFile(stack);
    PictureReader reader(stackFile);
    ASSERT_EQ(reader.pages(), 256);
    const auto start = std::chrono::steady_clock::now();
    for (int page = 0; page < 256; page += 15) EXPECT_EQ(reader.decode(page).samples.values()[1], static_cast<double>((page * 4096 + 1) % 1000) * 1e-9);
    // Read once, the whole stack takes milliseconds; once a layer, seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Real instruments' files of formats not read yet are refused with what
// they appear to be, read in place from the shared sample folder (skipped
// where it is absent, as on a fresh clone).
TEST(InstrumentFiles, RealFilesOfFormatsNotReadSayWhatTheyAppearToBe)
{
    const std::string folder = ORVANE_REAL_FILES;
    if (::access(folder.c_str(), R_OK) != 0) GTEST_SKIP() << "no sample files at " << folder;
    const std::pair<const char*, const char*> expected[] = {
        {"di-1.di", "a Bruker NanoScope file"}, {"di_corrupted.di", "a Bruker NanoScope file"},
        {"al3d-1.al3d", "an Alicona AL3D file"}, {"frt-1.frt", "an FRT file"},
        {"metropro-1.dat", "a Zygo MetroPro file"}, {"opd-1.opd", "a Wyko OPD file"},
        {"opdx-3.opdx", "a Bruker Dektak OPDX file"}, {"mi-1.mi", "a Keysight (Agilent) MI file"},
        {"nid-1.nid", "a Nanosurf NID file"}, {"stp-1.stp", "a WSxM file"}, {"sur-2.sur", "a Digital Surf file"},
        {"multiple_data_sets.h5", "an HDF5 file"}, {"nc-1.nc", "a NetCDF file"},
        {"example-2d.npy", "a NumPy array file"}, {"mitutoyo_mock.xlsx", "an Office document"}};
    for (const auto& [name, what] : expected) {
        try {
            decodePicture(readPictureFile(folder + "/" + name));
            ADD_FAILURE() << name << " was read";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << name << ": " << e.what();
        }
    }
}
