// ISO 25178-72 X3P files: a zip container (libzip) holding main.xml
// (pugixml) and, usually, the heights in a binary file beside it.  Record1
// gives the axes: x and y incremental with their increments (the pixel's
// size in metres), z with its data type (I int16, L int32, F float32, D
// float64), increment and offset.  Record3 gives the matrix's size and the
// heights, linked (bindata/data.bin, with its MD5 checksum and an optional
// bit mask of valid points) or listed in the XML.  md5checksum.hex holds the
// checksum of main.xml.  Every checksum given is checked.  The heights reach
// the analysis in metres, as float64 (offset + increment * stored value),
// with invalid points NaN; each layer of the matrix is a page.
#include "pictures/files.h"
#include "pictures/numbers.h"
#include "pictures/picture_formats.h"

#include <nettle/md5.h>
#include <pugixml.hpp>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

namespace {

std::runtime_error refusal(const std::string& why) { return std::runtime_error("the X3P file " + why); }

// The largest main.xml read: heights listed in the XML take a few dozen
// bytes each.
constexpr zip_uint64_t maxXmlBytes = zip_uint64_t{1} << 30;

// How much of main.xml its own sizes can need, found as it is read: the
// metadata of any file fits in 16 MiB and 100,000 elements; heights listed
// in it (a DataList) add 64 bytes and two elements for each point that
// MatrixDimension declares.  Elements are counted by their '<', so that a
// small file inflating to millions of empty ones is refused before the
// parser makes a node of each.
class XmlBudget {
public:
    zip_uint64_t operator()(const std::string& xml)
    {
        for (; scanned < xml.size(); ++scanned)
            if (xml[scanned] == '<') ++elements;
        // The sizes and the list's start are looked for in the first MiB.
        if (!headRead) {
            const std::size_t head = std::min<std::size_t>(xml.size(), 1 << 20);
            listed = xml.find("<DataList") < head;
            points = declaredPoints(xml.substr(0, head));
            headRead = head == (1 << 20);
        }
        const double perPoint = listed ? static_cast<double>(points) : 0.0;
        if (static_cast<double>(elements) > 100000 + 2 * perPoint) return 0;
        return static_cast<zip_uint64_t>(std::min(16.0 * (1 << 20) + 64 * perPoint, static_cast<double>(maxXmlBytes)));
    }

private:
    // SizeX * SizeY * SizeZ as the text gives them (0 until all are there).
    static double declaredPoints(const std::string& text)
    {
        double product = 1;
        for (const char* tag : {"<SizeX>", "<SizeY>", "<SizeZ>"}) {
            const std::size_t at = text.find(tag);
            if (at == std::string::npos) return 0;
            double v = 0;
            if (!pictures::readNumber(text.data() + at + std::strlen(tag), text.data() + text.size(), v) || !(v >= 1))
                return 0;
            product *= std::min(v, 1e12);
        }
        return product;
    }
    std::size_t scanned = 0;
    long long elements = 0;
    bool listed = false, headRead = false;
    double points = 0;
};

std::string md5Hex(const std::string& bytes)
{
    md5_ctx context;
    md5_init(&context);
    md5_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_digest(&context, MD5_DIGEST_SIZE, digest);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t d : digest) {
        text += hex[d >> 4];
        text += hex[d & 15];
    }
    return text;
}

// The first 32 hexadecimal digits of `text`, in lower case; empty when it
// does not start with them (after blanks).
std::string leadingMd5(const std::string& text)
{
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    std::string digits;
    while (at < text.size() && digits.size() < 32 && std::isxdigit(static_cast<unsigned char>(text[at])))
        digits += static_cast<char>(std::tolower(static_cast<unsigned char>(text[at++])));
    return digits.size() == 32 ? digits : std::string();
}

// An archive opened from bytes that outlive it, or from a file, of which
// only what is asked for is read.
class Archive {
public:
    struct OnDisk {};
    Archive(const std::string& path, OnDisk)
    {
        int code = 0;
        archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
        if (!archive) {
            zip_error_t error;
            zip_error_init_with_code(&error, code);
            const std::string why = zip_error_strerror(&error);
            zip_error_fini(&error);
            throw refusal("is not a zip archive that can be read (" + why + ")");
        }
    }
    explicit Archive(const std::string& bytes)
    {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        if (source) archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
        if (!archive) {
            if (source) zip_source_free(source);
            const std::string why = zip_error_strerror(&error);
            zip_error_fini(&error);
            throw refusal("is not a zip archive that can be read (" + why + ")");
        }
        zip_error_fini(&error);
    }
    ~Archive() { zip_discard(archive); }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool has(const std::string& name) const { return zip_name_locate(archive, name.c_str(), 0) >= 0; }

    // The entry's bytes.  Its size as the archive states it must be
    // `expected` (when not 0) and at most `limit`; the data read must be
    // that size and pass its CRC.  Memory is taken as the data arrives, not
    // as the archive claims it, and `budget`, when given, is asked as it
    // grows how much the bytes so far allow in all (a main.xml's own sizes
    // bound it): a few hundred bytes claiming a gigabyte, or a small entry
    // that inflates to one, are refused once they pass what they can need.
    std::string read(const std::string& entry, zip_uint64_t expected, zip_uint64_t limit,
                     const std::function<zip_uint64_t(const std::string&)>& budget = {}) const
    {
        // A name the file gives is quoted; our own are shown as they are.
        const std::string shown = entry == "main.xml" || entry == "md5checksum.hex" ? entry : quotedExcerpt(entry);
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat(archive, entry.c_str(), 0, &stat) != 0) throw refusal("holds no " + shown);
        if (!(stat.valid & ZIP_STAT_SIZE)) throw refusal("does not give the size of " + shown);
        if (expected && stat.size != expected)
            throw refusal("holds " + std::to_string(stat.size) + " bytes in " + shown + " where its sizes need " +
                          std::to_string(expected));
        if (stat.size > limit) throw refusal("holds " + shown + " larger than can be read");
        const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen(archive, entry.c_str(), 0), zip_fclose);
        if (!file) throw refusal("cannot open " + shown + ": " + zip_strerror(archive));
        std::string bytes;
        zip_uint64_t allowed = stat.size;
        for (;;) {
            // One piece more than the stated size reads the end and checks the CRC.
            const zip_uint64_t piece = std::min<zip_uint64_t>(zip_uint64_t{1} << 20, stat.size + 1 - bytes.size());
            const std::size_t have = bytes.size();
            bytes.resize(have + static_cast<std::size_t>(piece));
            const zip_int64_t got = zip_fread(file.get(), &bytes[have], piece);
            if (got < 0) throw refusal("cannot read " + shown + ": " + zip_error_strerror(zip_file_get_error(file.get())));
            bytes.resize(have + static_cast<std::size_t>(got));
            if (bytes.size() > stat.size) throw refusal("cannot read " + shown + ": it is longer than stated");
            if (got == 0) break;
            if (budget) allowed = std::min(allowed, budget(bytes));
            if (bytes.size() > allowed) throw refusal("holds a " + shown + " far larger than its sizes can need");
        }
        if (bytes.size() != stat.size) throw refusal("cannot read " + shown + ": it ends early");
        return bytes;
    }

private:
    zip_t* archive = nullptr;
};

double number(const pugi::xml_node& node, const char* child, double fallback)
{
    const pugi::xml_node n = node.child(child);
    if (!n) return fallback;
    const std::string text = n.text().as_string();
    double v = 0;
    if (!pictures::parseNumber(text, v) || !std::isfinite(v))
        throw refusal("gives " + std::string(child) + " as " + quotedExcerpt(text) + ", not a number");
    return v;
}

struct Axis {
    char type = 'I';   // I incremental, A absolute
    char data = 'D';   // I, L, F or D
    double increment = 1, offset = 0;
};

Axis axisOf(const pugi::xml_node& axes, const char* name)
{
    const pugi::xml_node node = axes.child(name);
    if (!node) throw refusal("gives no axis " + std::string(name));
    Axis a;
    const std::string type = node.child("AxisType").text().as_string("I");
    const std::string data = node.child("DataType").text().as_string("D");
    a.type = type.empty() ? 'I' : type[0];
    a.data = data.empty() ? 'D' : data[0];
    a.increment = number(node, "Increment", 1);
    a.offset = number(node, "Offset", 0);
    return a;
}

int typeSize(char data) { return data == 'I' ? 2 : data == 'L' || data == 'F' ? 4 : data == 'D' ? 8 : 0; }

class X3pPages : public PagedFile {
public:
    explicit X3pPages(const std::string& bytes) : archive(bytes) { readMainXml(); }
    X3pPages(const std::string& path, Archive::OnDisk onDisk) : archive(path, onDisk) { readMainXml(); }

    int count() const override { return static_cast<int>(layers); }

    bool size(int, long long& width, long long& height) const override
    {
        width = static_cast<long long>(columns);
        height = static_cast<long long>(rows);
        return true;
    }

    GreyRaster decode(int page) override
    {
        GreyRaster raster;
        raster.width = static_cast<int>(columns);
        raster.height = static_cast<int>(rows);
        raster.dx = x.increment > 0 && std::isfinite(x.increment) ? x.increment : 0;
        raster.dy = y.increment > 0 && std::isfinite(y.increment) ? y.increment : 0;
        raster.heightScale = 1;  // metres
        raster.samples = Samples(linked ? linkedHeights(static_cast<std::size_t>(page)) : listedHeights(static_cast<std::size_t>(page)));
        return raster;
    }

private:
    void readMainXml()
    {
        // Office documents (a spreadsheet's .xlsx) are zip archives too.
        if (!archive.has("main.xml") && archive.has("[Content_Types].xml"))
            throw std::runtime_error("this is an Office document (a spreadsheet or a text), not an X3P file: it holds no main.xml");
        xml = archive.read("main.xml", 0, maxXmlBytes, XmlBudget());
        checkXmlChecksum();
        const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
        if (!parsed) throw refusal("holds a main.xml that is not XML (" + std::string(parsed.description()) + ")");
        readRecords();
    }

    void checkXmlChecksum() const
    {
        if (!archive.has("md5checksum.hex")) return;
        const std::string stated = leadingMd5(archive.read("md5checksum.hex", 0, 4096));
        if (stated.empty()) throw refusal("holds an md5checksum.hex without a checksum");
        if (stated != md5Hex(xml)) throw refusal("is damaged: main.xml does not match its MD5 checksum");
    }

    void readRecords()
    {
        const pugi::xml_node root = document.document_element();
        const std::string rootName = root.name();
        if (rootName.size() < 9 || rootName.compare(rootName.size() - 9, 9, "ISO5436_2") != 0)
            throw refusal("holds a main.xml that is not ISO 5436-2 (its root is " + quotedExcerpt(rootName) + ")");
        const pugi::xml_node record1 = root.child("Record1"), record3 = root.child("Record3");
        if (!record1 || !record3) throw refusal("holds a main.xml without Record1 or Record3");
        const std::string feature = record1.child("FeatureType").text().as_string();
        if (feature == "PCL") throw refusal("holds a point cloud, not heights on a grid");
        const pugi::xml_node axes = record1.child("Axes");
        x = axisOf(axes, "CX");
        y = axisOf(axes, "CY");
        z = axisOf(axes, "CZ");
        if (x.type != 'I' || y.type != 'I') throw refusal("gives x or y as absolute coordinates, not a grid");
        if (typeSize(z.data) == 0) throw refusal("gives heights of DataType " + quotedExcerpt(std::string(1, z.data)) + ", not I, L, F or D");
        if (!std::isfinite(z.increment) || !std::isfinite(z.offset))
            throw refusal("gives a height increment or offset that is not a number");

        const pugi::xml_node dims = record3.child("MatrixDimension");
        const long long sizeX = dims.child("SizeX").text().as_llong(0), sizeY = dims.child("SizeY").text().as_llong(0),
                        sizeZ = dims.child("SizeZ").text().as_llong(1);
        checkPictureSize(sizeX, sizeY);
        if (sizeZ < 1 || sizeZ > 4096 || sizeX * sizeY * sizeZ > maxPicturePixels)
            throw refusal("holds " + std::to_string(sizeZ) + " layers of " + std::to_string(sizeX) + " x " +
                          std::to_string(sizeY) + " points, more than can be read");
        columns = static_cast<std::size_t>(sizeX);
        rows = static_cast<std::size_t>(sizeY);
        layers = static_cast<std::size_t>(sizeZ);

        const pugi::xml_node link = record3.child("DataLink");
        linked = static_cast<bool>(link);
        if (linked) {
            dataName = link.child("PointDataLink").text().as_string();
            dataMd5 = leadingMd5(link.child("MD5ChecksumPointData").text().as_string());
            validName = link.child("ValidPointsLink").text().as_string();
            validMd5 = leadingMd5(link.child("MD5ChecksumValidPoints").text().as_string());
            if (dataName.empty()) throw refusal("links no point data");
        } else {
            list = record3.child("DataList");
            if (!list) throw refusal("holds neither linked nor listed heights");
        }
    }

    double height(double stored) const { return z.offset + z.increment * stored; }

    // The linked data and its mask, read and checked once for every layer.
    void readLinkedData()
    {
        if (dataRead) return;
        const std::size_t points = columns * rows, bytes = static_cast<std::size_t>(typeSize(z.data));
        data = archive.read(dataName, points * layers * bytes, maxPictureFileBytes);
        if (!dataMd5.empty() && md5Hex(data) != dataMd5) throw refusal("is damaged: " + quotedExcerpt(dataName) + " does not match its MD5 checksum");
        if (!validName.empty()) {
            valid = archive.read(validName, (points * layers + 7) / 8, maxPictureFileBytes);
            if (!validMd5.empty() && md5Hex(valid) != validMd5)
                throw refusal("is damaged: " + quotedExcerpt(validName) + " does not match its MD5 checksum");
        }
        dataRead = true;
    }

    std::vector<double> linkedHeights(std::size_t layer)
    {
        readLinkedData();
        const std::size_t points = columns * rows, bytes = static_cast<std::size_t>(typeSize(z.data));
        std::vector<double> heights(points);
        for (std::size_t i = 0; i < points; ++i) {
            const std::size_t k = layer * points + i;
            const std::uint64_t raw = littleEndian(data, k * bytes, static_cast<int>(bytes));
            double v;
            switch (z.data) {
            case 'I': v = static_cast<std::int16_t>(raw); break;
            case 'L': v = static_cast<std::int32_t>(raw); break;
            case 'F': {
                float f;
                const auto bits = static_cast<std::uint32_t>(raw);
                std::memcpy(&f, &bits, 4);
                v = f;
                break;
            }
            default: std::memcpy(&v, &raw, 8); break;
            }
            const bool invalid = !valid.empty() && !((static_cast<unsigned char>(valid[k / 8]) >> (k % 8)) & 1);
            heights[i] = invalid || std::isnan(v) ? std::numeric_limits<double>::quiet_NaN() : height(v);
        }
        return heights;
    }

    // Datum elements, x fastest, then y, then the layer; an empty one is a
    // point not measured.  With incremental axes each holds its height (the
    // last of values separated by ';').
    // The first Datum of each layer, found in one pass over the list.
    void findLayerStarts()
    {
        if (!layerStarts.empty()) return;
        const std::size_t points = columns * rows;
        std::size_t k = 0;
        for (pugi::xml_node datum = list.child("Datum"); datum && layerStarts.size() < layers;
             datum = datum.next_sibling("Datum"), ++k)
            if (k % points == 0) layerStarts.push_back(datum);
        layerStarts.resize(layers);  // layers the list does not reach start at no node
    }

    std::vector<double> listedHeights(std::size_t layer)
    {
        findLayerStarts();
        const std::size_t points = columns * rows;
        std::vector<double> heights;
        heights.reserve(points);
        for (pugi::xml_node datum = layerStarts[layer]; datum; datum = datum.next_sibling("Datum")) {
            if (heights.size() == points) break;
            std::string text = datum.text().as_string();
            const auto semicolon = text.find_last_of(';');
            if (semicolon != std::string::npos) text = text.substr(semicolon + 1);
            const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
            double v = 0;
            if (!blank && !pictures::parseNumber(text, v))
                throw refusal("lists a height " + quotedExcerpt(text) + " that is not a number");
            heights.push_back(blank || std::isnan(v) ? std::numeric_limits<double>::quiet_NaN() : height(v));
        }
        if (heights.size() != points)
            throw refusal("lists " + std::to_string(heights.size()) + " heights for a layer of " + std::to_string(points));
        return heights;
    }

    Archive archive;
    std::string xml;
    pugi::xml_document document;
    Axis x, y, z;
    std::size_t columns = 0, rows = 0, layers = 1;
    bool linked = false;
    std::string dataName, dataMd5, validName, validMd5;
    pugi::xml_node list;
    bool dataRead = false;
    std::string data, valid;
    std::vector<pugi::xml_node> layerStarts;
};

}  // namespace

std::unique_ptr<PagedFile> openX3p(const std::string& bytes) { return std::make_unique<X3pPages>(bytes); }

bool x3pFileSize(const std::string& path, long long& width, long long& height)
{
    // Only the archive's directory and main.xml are read, not the heights.
    return X3pPages(path, Archive::OnDisk{}).size(0, width, height);
}
