// Gwyddion's native files (GWY): "GWYP", then one serialized object, a tree
// of objects in little-endian order.  An object is its type name (NUL-
// terminated), the byte count of its components, and the components: each a
// name, a type letter and a value (b bool and c char of one byte, i int32,
// q int64, d double, s a NUL-terminated string, o an object; the capital
// letters an array of them after a 32-bit count).  The top object is a
// GwyContainer; each of its components "/N/data" holding a GwyDataField is a
// channel, and the channels are the file's pages in increasing N.  A data
// field gives xres x yres doubles row by row, its real size xreal x yreal
// and its units (GwySIUnit objects): metres along x and y give the pixel's
// size, metres along z make the heights metres.
#include "pictures/files.h"
#include "pictures/picture_formats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>

namespace {

std::runtime_error refusal(const std::string& why) { return std::runtime_error("the GWY file " + why); }

// Objects nest no deeper than this many levels below the top container
// (Gwyddion's own go a few levels down): a component of an object at depth d
// that is an object is at depth d + 1.
constexpr int maxDepth = 64;

// Reads values from [at, end) of the file's bytes, refusing any that would
// run past `end`.
struct Cursor {
    const std::string& b;
    std::size_t at, end;

    void need(std::size_t n) const
    {
        if (n > end - at) throw refusal("is cut short inside an object");
    }
    std::string name()
    {
        const std::size_t zero = b.find('\0', at);
        if (zero == std::string::npos || zero >= end) throw refusal("has a name without its end");
        std::string text = b.substr(at, zero - at);
        at = zero + 1;
        return text;
    }
    std::uint64_t unsignedOf(int bytes)
    {
        need(static_cast<std::size_t>(bytes));
        const std::uint64_t v = littleEndian(b, at, bytes);
        at += static_cast<std::size_t>(bytes);
        return v;
    }
    double real()
    {
        const std::uint64_t bits = unsignedOf(8);
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
};

// The size of one item of a fixed-size type; 0 for s and o.
std::size_t itemBytes(char type)
{
    switch (type) {
    case 'b': case 'c': return 1;
    case 'i': return 4;
    case 'q': case 'd': return 8;
    default: return 0;
    }
}

// Calls component(name, type, cursor) for each component of the object at
// the cursor, the cursor standing at the component's value; each call either
// reads the value or leaves it to skip().  Returns the object's type name
// and leaves the cursor after the object.
template <class Component>
std::string readObject(Cursor& c, int depth, Component&& component);

void skip(Cursor& c, char type, int depth)
{
    const char item = static_cast<char>(std::tolower(static_cast<unsigned char>(type)));
    const bool array = type != item;
    if (itemBytes(item) == 0 && item != 's' && item != 'o') throw refusal("has a component of unknown type " + quotedExcerpt(std::string(1, type)));
    const std::uint64_t n = array ? c.unsignedOf(4) : 1;
    if (array && n == 0) throw refusal("has an empty array");
    if (const std::size_t size = itemBytes(item)) {
        if (n > (c.end - c.at) / size) throw refusal("has an array longer than the file");
        c.at += static_cast<std::size_t>(n) * size;
        return;
    }
    for (std::uint64_t i = 0; i < n; ++i) {
        if (item == 's') c.name();
        else readObject(c, depth, [](const std::string&, char type, Cursor& inner, int d) { skip(inner, type, d); });
    }
}

template <class Component>
std::string readObject(Cursor& c, int depth, Component&& component)
{
    if (depth > maxDepth) throw refusal("nests objects deeper than " + std::to_string(maxDepth) + " levels");
    const std::string type = c.name();
    const std::uint64_t size = c.unsignedOf(4);
    if (size > c.end - c.at) throw refusal("has an object larger than the file");
    Cursor inner{c.b, c.at, c.at + static_cast<std::size_t>(size)};
    while (inner.at < inner.end) {
        const std::string name = inner.name();
        inner.need(1);
        const char t = inner.b[inner.at++];
        component(name, t, inner, depth + 1);
    }
    c.at = inner.end;
    return type;
}

// The unit string of a GwySIUnit object at the cursor.
std::string unitOf(Cursor& c, char type, int depth)
{
    if (type != 'o') {
        skip(c, type, depth);
        return {};
    }
    std::string unit;
    readObject(c, depth, [&](const std::string& name, char t, Cursor& inner, int d) {
        if (name == "unitstr" && t == 's') unit = inner.name();
        else skip(inner, t, d);
    });
    return unit;
}

// One channel's data field, read from its object.
struct Field {
    long long xres = 0, yres = 0;
    double xreal = 0, yreal = 0;
    std::string unitXY, unitZ;
    std::size_t dataAt = 0;  // the first double
    std::uint64_t dataCount = 0;
    bool hasData = false;
};

Field fieldAt(const std::string& bytes, std::size_t at, std::size_t end)
{
    Field f;
    Cursor c{bytes, at, end};
    const std::string type = readObject(c, 1, [&](const std::string& name, char t, Cursor& in, int d) {
        if (name == "xres" && t == 'i') f.xres = static_cast<std::int32_t>(in.unsignedOf(4));
        else if (name == "yres" && t == 'i') f.yres = static_cast<std::int32_t>(in.unsignedOf(4));
        else if (name == "xreal" && t == 'd') f.xreal = in.real();
        else if (name == "yreal" && t == 'd') f.yreal = in.real();
        else if (name == "si_unit_xy") f.unitXY = unitOf(in, t, d);
        else if (name == "si_unit_z") f.unitZ = unitOf(in, t, d);
        else if (name == "data" && t == 'D') {
            f.dataCount = in.unsignedOf(4);
            f.dataAt = in.at;
            f.hasData = true;
            in.at -= 4;
            skip(in, t, d);
        } else {
            skip(in, t, d);
        }
    });
    if (type != "GwyDataField") throw refusal("holds a channel that is a " + quotedExcerpt(type) + ", not a GwyDataField");
    return f;
}

class GwyPages : public PagedFile {
public:
    explicit GwyPages(const std::string& b) : bytes(b)
    {
        if (bytes.size() < 4 || bytes.compare(0, 4, "GWYP") != 0) throw refusal("does not start with GWYP");
        Cursor c{bytes, 4, bytes.size()};
        std::map<long long, std::size_t> fields;  // channel number to its object's start
        const std::string type = readObject(c, 0, [&](const std::string& name, char t, Cursor& in, int d) {
            long long channel = -1;
            if (t == 'o' && isChannel(name, channel)) fields[channel] = in.at;
            skip(in, t, d);
        });
        if (type != "GwyContainer") throw refusal("holds a " + quotedExcerpt(type) + ", not a GwyContainer");
        for (const auto& [channel, at] : fields) starts.push_back(at);
        if (starts.empty()) throw refusal("holds no channel of image data");
    }

    int count() const override { return static_cast<int>(starts.size()); }

    bool size(int page, long long& width, long long& height) const override
    {
        const Field f = fieldAt(bytes, starts[static_cast<std::size_t>(page)], bytes.size());
        width = f.xres;
        height = f.yres;
        return true;
    }

    GreyRaster decode(int page) override
    {
        const Field f = fieldAt(bytes, starts[static_cast<std::size_t>(page)], bytes.size());
        checkPictureSize(f.xres, f.yres);
        const std::uint64_t points = static_cast<std::uint64_t>(f.xres) * static_cast<std::uint64_t>(f.yres);
        if (!f.hasData) throw refusal("holds a channel without data");
        if (f.dataCount != points)
            throw refusal("holds a channel of " + std::to_string(f.xres) + " x " + std::to_string(f.yres) + " points with " +
                          std::to_string(f.dataCount) + " values");
        GreyRaster raster;
        raster.width = static_cast<int>(f.xres);
        raster.height = static_cast<int>(f.yres);
        std::vector<double> heights(static_cast<std::size_t>(points));
        std::memcpy(heights.data(), bytes.data() + f.dataAt, heights.size() * sizeof(double));
        if (f.unitXY == "m" && f.xreal > 0 && f.yreal > 0 && std::isfinite(f.xreal) && std::isfinite(f.yreal)) {
            raster.dx = f.xreal / static_cast<double>(f.xres);
            raster.dy = f.yreal / static_cast<double>(f.yres);
        }
        raster.heightScale = f.unitZ == "m" ? 1 : 0;
        raster.samples = Samples(std::move(heights));
        return raster;
    }

private:
    // "/N/data", N a channel number.
    static bool isChannel(const std::string& name, long long& channel)
    {
        if (name.size() < 7 || name[0] != '/' || name.compare(name.size() - 5, 5, "/data") != 0) return false;
        const std::string digits = name.substr(1, name.size() - 6);
        if (digits.empty() || digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
            return false;
        channel = std::stoll(digits);
        return true;
    }

    const std::string& bytes;
    std::vector<std::size_t> starts;
};

}  // namespace

std::unique_ptr<PagedFile> openGwy(const std::string& bytes) { return std::make_unique<GwyPages>(bytes); }
