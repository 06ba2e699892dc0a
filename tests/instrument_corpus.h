// Instrument files written byte by byte for the tests and the fuzzers' seeds:
// X3P containers (a stored zip written here, not by the library that reads
// it) and Gwyddion GWY files.
#pragma once

#include <nettle/md5.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace instruments {

inline void putLE(std::string& b, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) b += static_cast<char>((v >> (8 * i)) & 0xff);
}

// A double as text that reads back as the same double.
inline std::string exact(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

inline std::string md5Hex(const std::string& bytes)
{
    md5_ctx c;
    md5_init(&c);
    md5_update(&c, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    std::uint8_t d[MD5_DIGEST_SIZE];
    md5_digest(&c, MD5_DIGEST_SIZE, d);
    std::string hex;
    for (std::uint8_t x : d) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[x >> 4];
        hex += digits[x & 15];
    }
    return hex;
}

// `data` deflated, raw (as a zip entry holds it).
inline std::string deflated(const std::string& data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A zip archive of stored (uncompressed) entries, each with its CRC; or, with
// `deflate`, of deflated ones, whose size is said to be `claimed` when it is
// not 0 (a file that lies).
inline std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries, bool deflate = false,
                             std::uint32_t claimed = 0)
{
    std::string out, directory;
    for (const auto& entry : entries) {
        const std::string& name = entry.first;
        const std::string& plain = entry.second;
        const std::string data = deflate ? deflated(plain) : plain;
        const std::size_t size = claimed ? claimed : plain.size();
        const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(plain.data()), static_cast<uInt>(plain.size())));
        const auto offset = static_cast<std::uint32_t>(out.size());
        auto common = [&](std::string& b) {
            putLE(b, 20, 2);  // version needed
            putLE(b, 0, 2);   // flags
            putLE(b, deflate ? 8 : 0, 2);  // deflated or stored
            putLE(b, 0, 2);   // time
            putLE(b, 0x21, 2);  // date: 1980-01-01
            putLE(b, crc, 4);
            putLE(b, data.size(), 4);
            putLE(b, size, 4);
            putLE(b, name.size(), 2);
            putLE(b, 0, 2);  // extra
        };
        putLE(out, 0x04034b50, 4);
        common(out);
        out += name + data;
        putLE(directory, 0x02014b50, 4);
        putLE(directory, 20, 2);  // made by
        common(directory);
        putLE(directory, 0, 2);   // comment
        putLE(directory, 0, 2);   // disk
        putLE(directory, 0, 2);   // internal attributes
        putLE(directory, 0, 4);   // external attributes
        putLE(directory, offset, 4);
        directory += name;
    }
    const auto at = static_cast<std::uint32_t>(out.size());
    out += directory;
    putLE(out, 0x06054b50, 4);
    putLE(out, 0, 2);
    putLE(out, 0, 2);
    putLE(out, entries.size(), 2);
    putLE(out, entries.size(), 2);
    putLE(out, directory.size(), 4);
    putLE(out, at, 4);
    putLE(out, 0, 2);
    return out;
}

// What an X3P file of the tests holds: heights (NaN: not measured) stored
// as `type`, x fastest, then y, then the layer.
struct X3p {
    char type = 'D';
    std::vector<double> stored = {1, -2, 300, NAN, 5, 6};
    long long sizeX = 3, sizeY = 2, sizeZ = 1;
    double dx = 2e-6, dy = 3e-6, zIncrement = 1e-9, zOffset = 0;
    bool listed = false;      // heights as Datum elements instead of bindata/data.bin
    bool checksums = true;    // md5checksum.hex and the data's checksum
    bool wrongChecksums = false;  // both checksums of other bytes
    std::string feature = "SUR";
};

inline std::string x3pData(const X3p& f, std::string* valid)
{
    std::string data;
    const bool integer = f.type == 'I' || f.type == 'L';
    if (valid) valid->assign((f.stored.size() + 7) / 8, '\0');
    for (std::size_t k = 0; k < f.stored.size(); ++k) {
        const double v = f.stored[k];
        const bool measured = !std::isnan(v);
        if (valid && measured) (*valid)[k / 8] = static_cast<char>((*valid)[k / 8] | 1 << (k % 8));
        if (f.type == 'I') putLE(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(measured ? v : 0)), 2);
        else if (f.type == 'L') putLE(data, static_cast<std::uint32_t>(static_cast<std::int32_t>(measured ? v : 0)), 4);
        else if (f.type == 'F') {
            const float x = static_cast<float>(v);
            std::uint32_t bits;
            std::memcpy(&bits, &x, 4);
            putLE(data, bits, 4);
        } else {
            std::uint64_t bits;
            std::memcpy(&bits, &v, 8);
            putLE(data, bits, 8);
        }
    }
    if (valid && !integer) valid->clear();  // floating point marks NaN itself
    return data;
}

inline std::string x3pFile(const X3p& f)
{
    auto axis = [](const char* name, char axisType, char dataType, double increment, double offset) {
        return std::string("<") + name + "><AxisType>" + axisType + "</AxisType><DataType>" + dataType +
               "</DataType><Increment>" + exact(increment) + "</Increment><Offset>" + exact(offset) + "</Offset></" + name + ">";
    };
    std::string valid;
    const std::string data = x3pData(f, &valid);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<p:ISO5436_2 xmlns:p=\"http://www.opengps.eu/2008/ISO5436_2\">\n"
                      "<Record1><Revision>ISO5436 - 2000</Revision><FeatureType>" + f.feature + "</FeatureType><Axes>" +
                      axis("CX", 'I', 'D', f.dx, 0) + axis("CY", 'I', 'D', f.dy, 0) +
                      axis("CZ", 'A', f.type, f.zIncrement, f.zOffset) + "</Axes></Record1>\n"
                      "<Record2><Date>2026-12-10T12:00:00+01:00</Date><Instrument><Manufacturer>test</Manufacturer></Instrument></Record2>\n"
                      "<Record3><MatrixDimension><SizeX>" + std::to_string(f.sizeX) + "</SizeX><SizeY>" +
                      std::to_string(f.sizeY) + "</SizeY><SizeZ>" + std::to_string(f.sizeZ) + "</SizeZ></MatrixDimension>";
    std::vector<std::pair<std::string, std::string>> entries;
    if (f.listed) {
        xml += "<DataList>";
        for (double v : f.stored) xml += std::isnan(v) ? "<Datum/>" : "<Datum>" + exact(v) + "</Datum>";
        xml += "</DataList>";
    } else {
        xml += "<DataLink><PointDataLink>bindata/data.bin</PointDataLink>";
        if (f.checksums)
            xml += "<MD5ChecksumPointData>" + md5Hex(f.wrongChecksums ? data + "x" : data) + "</MD5ChecksumPointData>";
        if (!valid.empty()) xml += "<ValidPointsLink>bindata/valid.bin</ValidPointsLink>";
        xml += "</DataLink>";
    }
    xml += "</Record3>\n<Record4><ChecksumFile>md5checksum.hex</ChecksumFile></Record4>\n</p:ISO5436_2>\n";
    entries.emplace_back("main.xml", xml);
    if (f.checksums) entries.emplace_back("md5checksum.hex", md5Hex(f.wrongChecksums ? xml + "x" : xml) + " *main.xml\n");
    if (!f.listed) entries.emplace_back("bindata/data.bin", data);
    if (!f.listed && !valid.empty()) entries.emplace_back("bindata/valid.bin", valid);
    return storedZip(entries);
}

// Gwyddion's serialization: objects of named, typed components.
namespace gwy {

inline std::string component(const std::string& name, char type, const std::string& value)
{
    return name + '\0' + type + value;
}
inline std::string object(const std::string& type, const std::string& components)
{
    std::string b = type + '\0';
    putLE(b, components.size(), 4);
    return b + components;
}
inline std::string integer(const std::string& name, std::int32_t v)
{
    std::string b;
    putLE(b, static_cast<std::uint32_t>(v), 4);
    return component(name, 'i', b);
}
inline std::string real(const std::string& name, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    std::string b;
    putLE(b, bits, 8);
    return component(name, 'd', b);
}
inline std::string text(const std::string& name, const std::string& v) { return component(name, 's', v + '\0'); }
inline std::string reals(const std::string& name, const std::vector<double>& v)
{
    std::string b;
    putLE(b, v.size(), 4);
    for (double x : v) {
        std::uint64_t bits;
        std::memcpy(&bits, &x, 8);
        putLE(b, bits, 8);
    }
    return component(name, 'D', b);
}
inline std::string unit(const std::string& name, const std::string& unitText)
{
    return component(name, 'o', object("GwySIUnit", text("unitstr", unitText)));
}

}  // namespace gwy

struct GwyChannel {
    int number = 0;
    int xres = 3, yres = 2;
    double xreal = 6e-6, yreal = 6e-6;
    std::string unitXY = "m", unitZ = "m";
    std::vector<double> data = {1e-9, -2e-9, 3e-7, 4e-9, 5e-9, 6e-9};
};

// A GwyContainer of the channels, each with a title and a few components a
// reader must step over: a boolean, a string array, a nested object.
inline std::string gwyFile(const std::vector<GwyChannel>& channels)
{
    using namespace gwy;
    std::string parts;
    for (const GwyChannel& c : channels) {
        const std::string key = "/" + std::to_string(c.number) + "/data";
        parts += component(key + "/visible", 'b', std::string(1, '\1'));
        parts += text(key + "/title", "Height " + std::to_string(c.number));
        std::string names;
        putLE(names, 2, 4);
        names += std::string("a") + '\0' + "bc" + '\0';
        parts += component(key + "/names", 'S', names);
        parts += component(key, 'o',
                           object("GwyDataField", integer("xres", c.xres) + integer("yres", c.yres) + real("xreal", c.xreal) +
                                                      real("yreal", c.yreal) + real("xoff", 0) + unit("si_unit_xy", c.unitXY) +
                                                      unit("si_unit_z", c.unitZ) + reals("data", c.data)));
    }
    parts += component("/0/meta", 'o', object("GwyContainer", text("Operator", "test")));
    return "GWYP" + object("GwyContainer", parts);
}

}  // namespace instruments
