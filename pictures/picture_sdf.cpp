// ISO 25178-71 surface data files (SDF), version ISO-1.0: ASCII ("aISO-1.0")
// and binary ("bISO-1.0").  A header of keywords (NumPoints points a
// profile, NumProfiles profiles, Xscale, Yscale and Zscale in metres, the
// DataType of the heights, Compression), then the heights profile by
// profile.  The heights reach the analysis in metres, as float64 (the
// stored value times Zscale), with the points the file marks as not
// measured (BAD in ASCII, the type's smallest value or NaN in binary) NaN.
#include "pictures/files.h"
#include "pictures/numbers.h"
#include "pictures/picture_formats.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <type_traits>
#include <limits>
#include <map>
#include <string>
#include <utility>

namespace {

// What the header gives.
struct SdfHeader {
    long long points = 0, profiles = 0;
    double xScale = 0, yScale = 0, zScale = 0;
    int dataType = 0, compression = 0;
};

// The bytes each data type stores a height in: 5 int16, 6 int32, 7 float64
// (the types ISO-1.0 defines); 0 for any other.
int typeSize(int dataType) { return dataType == 5 ? 2 : dataType == 6 ? 4 : dataType == 7 ? 8 : 0; }

std::runtime_error refusal(const std::string& why) { return std::runtime_error("the SDF file " + why); }

// Checks what every reader of the header needs, before anything is
// allocated: sizes, positive scales, an uncompressed known data type.
void checkHeader(const SdfHeader& h)
{
    if (h.compression != 0) throw refusal("is compressed, which is not read");
    if (typeSize(h.dataType) == 0)
        throw refusal("holds heights of DataType " + std::to_string(h.dataType) +
                      ", not one ISO-1.0 defines (5, 6 or 7)");
    if (!(h.xScale > 0) || !(h.yScale > 0) || !(h.zScale > 0) || !std::isfinite(h.xScale) ||
        !std::isfinite(h.yScale) || !std::isfinite(h.zScale))
        throw refusal("gives a scale that is not a positive number (Xscale, Yscale, Zscale)");
    checkPictureSize(h.points, h.profiles);
}

// "Keyword = value" lines up to the line "*"; `at` is left after it.
SdfHeader asciiHeader(const std::string& bytes, std::size_t& at)
{
    std::map<std::string, std::string> fields;
    at = bytes.find('\n') + 1;
    for (;;) {
        const std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) throw refusal("ends inside its header");
        std::string line = bytes.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line == "*") break;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        auto trim = [](std::string s) {
            const std::size_t first = s.find_first_not_of(" \t"), last = s.find_last_not_of(" \t");
            return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
        };
        fields[trim(line.substr(0, equals))] = trim(line.substr(equals + 1));
        if (fields.size() > 64) throw refusal("has more header lines than an SDF header holds");
    }
    auto number = [&](const char* key) {
        const auto found = fields.find(key);
        if (found == fields.end()) throw refusal(std::string("lacks its ") + key);
        double v = 0;
        if (!pictures::parseNumber(found->second, v) || !std::isfinite(v))
            throw refusal(std::string("gives ") + key + " as " + quotedExcerpt(found->second) + ", not a number");
        return v;
    };
    auto whole = [&](const char* key) {
        const double v = number(key);
        if (!(v >= 0 && v < 1e12) || v != std::floor(v))
            throw refusal(std::string("gives ") + key + " as a value that is no count");
        return static_cast<long long>(v);
    };
    SdfHeader h;
    h.points = whole("NumPoints");
    h.profiles = whole("NumProfiles");
    h.xScale = number("Xscale");
    h.yScale = number("Yscale");
    h.zScale = number("Zscale");
    h.dataType = static_cast<int>(whole("DataType"));
    h.compression = fields.count("Compression") ? static_cast<int>(whole("Compression")) : 0;
    return h;
}

// The ASCII data: whitespace-separated numbers or BAD, then "*".
void asciiHeights(const std::string& bytes, std::size_t at, const SdfHeader& h, std::vector<double>& z)
{
    const std::size_t n = static_cast<std::size_t>(h.points) * static_cast<std::size_t>(h.profiles);
    // Each height takes at least two bytes (a digit and a space): a file
    // too short for its count is refused before the heights are allocated.
    if ((bytes.size() - at) / 2 + 1 < n) throw refusal("is too short for the " + std::to_string(n) + " heights it declares");
    z.resize(n);
    const char* p = bytes.c_str() + at;
    const char* end = bytes.c_str() + bytes.size();
    for (std::size_t i = 0; i < n; ++i) {
        while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
        if (p >= end || *p == '*') throw refusal("holds " + std::to_string(i) + " heights, not the " + std::to_string(n) + " it declares");
        if (end - p >= 3 && std::strncmp(p, "BAD", 3) == 0) {
            z[i] = std::numeric_limits<double>::quiet_NaN();
            p += 3;
            continue;
        }
        double v = 0;
        const char* next = pictures::readNumber(p, end, v);
        // A number ends where the next space (or the data's end) begins.
        if (!next || !std::isfinite(v) || (next < end && !std::isspace(static_cast<unsigned char>(*next)) && *next != '*'))
            throw refusal("holds a height that is not a number, number " + std::to_string(i + 1));
        z[i] = v * h.zScale;
        p = next;
    }
}

// The binary header: magic (8), ManufacID (10), CreateDate and ModDate (12
// each), NumPoints and NumProfiles (uint16), Xscale, Yscale, Zscale and
// Zresolution (float64), Compression, DataType and CheckType (a byte each),
// little-endian: 81 bytes.
constexpr std::size_t binaryHeaderSize = 81;

// A little-endian value of T at `at`, from its bytes' bits.
template <class T>
T little(const std::string& b, std::size_t at)
{
    using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint16_t>>;
    const Bits bits = static_cast<Bits>(littleEndian(b, at, sizeof(T)));
    T value;
    std::memcpy(&value, &bits, sizeof(T));
    return value;
}

SdfHeader binaryHeader(const std::string& bytes)
{
    if (bytes.size() < binaryHeaderSize) throw refusal("ends inside its header");
    SdfHeader h;
    h.points = little<std::uint16_t>(bytes, 42);
    h.profiles = little<std::uint16_t>(bytes, 44);
    h.xScale = little<double>(bytes, 46);
    h.yScale = little<double>(bytes, 54);
    h.zScale = little<double>(bytes, 62);
    h.compression = static_cast<unsigned char>(bytes[78]);
    h.dataType = static_cast<unsigned char>(bytes[79]);
    return h;
}

void binaryHeights(const std::string& bytes, const SdfHeader& h, std::vector<double>& z)
{
    const std::size_t n = static_cast<std::size_t>(h.points) * static_cast<std::size_t>(h.profiles);
    const std::size_t size = static_cast<std::size_t>(typeSize(h.dataType));
    if (bytes.size() - binaryHeaderSize < n * size)
        throw refusal("is too short for the " + std::to_string(n) + " heights it declares");
    z.resize(n);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = binaryHeaderSize + i * size;
        double v;
        if (h.dataType == 5) {
            const std::int16_t s = little<std::int16_t>(bytes, at);
            v = s == std::numeric_limits<std::int16_t>::min() ? nan : s;
        } else if (h.dataType == 6) {
            const std::int32_t s = little<std::int32_t>(bytes, at);
            v = s == std::numeric_limits<std::int32_t>::min() ? nan : s;
        } else {
            v = little<double>(bytes, at);
            if (!std::isfinite(v)) v = nan;
        }
        z[i] = v * h.zScale;
    }
}

}  // namespace

GreyRaster decodeSdf(const std::string& bytes)
{
    std::vector<double> z;
    SdfHeader h;
    if (bytes.compare(0, 8, "aISO-1.0") == 0) {
        std::size_t at = 0;
        h = asciiHeader(bytes, at);
        checkHeader(h);
        asciiHeights(bytes, at, h, z);
    } else {
        h = binaryHeader(bytes);
        checkHeader(h);
        binaryHeights(bytes, h, z);
    }
    GreyRaster raster;
    raster.width = static_cast<int>(h.points);
    raster.height = static_cast<int>(h.profiles);
    raster.samples = Samples(std::move(z));
    raster.dx = h.xScale;
    raster.dy = h.yScale;
    raster.heightScale = 1;  // the heights are in metres
    return raster;
}

bool sdfSize(const std::string& start, long long& width, long long& height)
{
    try {
        SdfHeader h;
        if (start.compare(0, 8, "aISO-1.0") == 0) {
            std::size_t at = 0;
            h = asciiHeader(start, at);
        } else {
            h = binaryHeader(start);
        }
        width = h.points;
        height = h.profiles;
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}
