// BMP files written byte by byte: every layout the loader accepts, and the
// malformed ones it must refuse.  Used by the tests and to seed the fuzzer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corpus {

using Bytes = std::string;

inline void put16(Bytes& b, unsigned v)
{
    b += static_cast<char>(v & 0xff);
    b += static_cast<char>((v >> 8) & 0xff);
}
inline void put32(Bytes& b, std::uint32_t v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
inline void set32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

struct Rgb {
    int r, g, b;
};

struct Layout {
    std::string name;
    int headerSize = 40;          // 12 core, 40 info, 108 V4, 124 V5
    int width = 5;
    int height = 3;               // negative: rows top-down
    int bpp = 8;
    int compression = 0;          // 0 none, 1 RLE8, 2 RLE4
    int paletteSize = -1;         // entries written; -1: all 2^bpp
    // Palette images: the index of pixel (x, y), y = 0 the top row.
    std::function<int(int, int)> index = [](int x, int y) { return (3 * x + 5 * y) % 2; };
    // True colour: the colour of pixel (x, y).
    std::function<Rgb(int, int)> colour = [](int x, int y) { return Rgb{40 * x % 256, 70 * y % 256, (x * y * 30) % 256}; };
};

inline int paletteEntries(const Layout& s)
{
    return s.bpp > 8 ? 0 : (s.paletteSize >= 0 ? s.paletteSize : 1 << s.bpp);
}

// Entry i of the written palette: colours, not greys, so that a test sees
// that indices, not colours, reach the analysis.
inline Rgb paletteColour(int i) { return Rgb{(i * 7 + 20) % 256, 255 - i % 256, (i / 2) % 256}; }

// RLE data for rows bottom-up: runs of equal indices, an absolute run where
// three or more indices differ, EOL after each row, EOB at the end.
inline Bytes rle(const Layout& s, int rows)
{
    Bytes out;
    const bool four = s.compression == 2;
    for (int fileRow = 0; fileRow < rows; ++fileRow) {
        const int y = rows - 1 - fileRow;
        int x = 0;
        while (x < s.width) {
            int run = 1;
            while (x + run < s.width && run < 255 && s.index(x + run, y) == s.index(x, y)) ++run;
            if (run >= 2 || s.width - x < 3) {
                out += static_cast<char>(run);
                const int v = s.index(x, y);
                out += static_cast<char>(four ? (v << 4 | v) : v);
                x += run;
                continue;
            }
            int n = 3;
            while (x + n < s.width && n < 255 && s.index(x + n, y) != s.index(x + n - 1, y)) ++n;
            out += '\0';
            out += static_cast<char>(n);
            Bytes data;
            for (int k = 0; k < n; ++k) {
                const int v = s.index(x + k, y);
                if (!four)
                    data += static_cast<char>(v);
                else if (k % 2 == 0)
                    data += static_cast<char>(v << 4);
                else
                    data.back() = static_cast<char>(data.back() | v);
            }
            if (data.size() % 2) data += '\0';
            out += data;
            x += n;
        }
        out += '\0';
        out += '\0';
    }
    out += '\0';
    out += '\1';
    return out;
}

inline Bytes write(const Layout& s)
{
    const int rows = s.height < 0 ? -s.height : s.height;
    Bytes pixels;
    if (s.compression == 1 || s.compression == 2) {
        pixels = rle(s, rows);
    } else {
        const int rowBytes = (s.width * s.bpp + 31) / 32 * 4;
        for (int fileRow = 0; fileRow < rows; ++fileRow) {
            const int y = s.height < 0 ? fileRow : rows - 1 - fileRow;
            Bytes row(static_cast<std::size_t>(rowBytes), '\0');
            for (int x = 0; x < s.width; ++x) {
                if (s.bpp <= 8) {
                    const int v = s.index(x, y);
                    const int bit = x * s.bpp;
                    row[bit / 8] = static_cast<char>(row[bit / 8] | v << (8 - s.bpp - bit % 8));
                } else {
                    const Rgb c = s.colour(x, y);
                    if (s.bpp == 16) {
                        const unsigned v = (c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3);
                        row[2 * x] = static_cast<char>(v & 0xff);
                        row[2 * x + 1] = static_cast<char>(v >> 8);
                    } else {
                        const int at = x * (s.bpp / 8);
                        row[at] = static_cast<char>(c.b);
                        row[at + 1] = static_cast<char>(c.g);
                        row[at + 2] = static_cast<char>(c.r);
                    }
                }
            }
            pixels += row;
        }
    }

    Bytes b = "BM";
    put32(b, 0);  // file size, set below
    put32(b, 0);
    put32(b, 0);  // pixel offset, set below
    put32(b, static_cast<std::uint32_t>(s.headerSize));
    const int entries = paletteEntries(s);
    if (s.headerSize == 12) {
        put16(b, static_cast<unsigned>(s.width));
        put16(b, static_cast<unsigned>(s.height));
        put16(b, 1);
        put16(b, static_cast<unsigned>(s.bpp));
    } else {
        put32(b, static_cast<std::uint32_t>(s.width));
        put32(b, static_cast<std::uint32_t>(s.height));
        put16(b, 1);
        put16(b, static_cast<unsigned>(s.bpp));
        put32(b, static_cast<std::uint32_t>(s.compression));
        put32(b, static_cast<std::uint32_t>(pixels.size()));
        put32(b, 2835);
        put32(b, 2835);
        put32(b, static_cast<std::uint32_t>(s.paletteSize >= 0 ? s.paletteSize : 0));
        put32(b, 0);
        while (b.size() < 14u + static_cast<unsigned>(s.headerSize)) b += '\0';  // masks and colour space left 0
    }
    for (int i = 0; i < entries; ++i) {
        const Rgb c = paletteColour(i);
        b += static_cast<char>(c.b);
        b += static_cast<char>(c.g);
        b += static_cast<char>(c.r);
        if (s.headerSize != 12) b += '\0';
    }
    set32(b, 10, static_cast<std::uint32_t>(b.size()));
    b += pixels;
    set32(b, 2, static_cast<std::uint32_t>(b.size()));
    return b;
}

// The grey level a true-colour pixel must arrive as: the nearest grey.
inline int nearestGrey(Rgb c) { return (c.r + c.g + c.b + 1) / 3; }

// Every valid layout, small.
inline std::vector<Layout> valid()
{
    std::vector<Layout> out;
    auto indexMod = [](int n) { return [n](int x, int y) { return (3 * x + 5 * y + x * y) % n; }; };
    for (int header : {12, 40, 108, 124})
        for (int bpp : {1, 4, 8, 24}) {
            Layout s;
            s.name = "h" + std::to_string(header) + "_" + std::to_string(bpp) + "bit";
            s.headerSize = header;
            s.bpp = bpp;
            s.width = 7;
            s.height = 4;
            s.index = indexMod(bpp >= 8 ? 256 : 1 << bpp);
            out.push_back(s);
        }
    for (int bpp : {16, 32}) {
        Layout s;
        s.name = "h40_" + std::to_string(bpp) + "bit";
        s.bpp = bpp;
        s.width = 6;
        s.height = 5;
        if (bpp == 16)  // five bits a channel: values that arrive unchanged
            s.colour = [](int x, int y) { return Rgb{(x * 40) % 256 & 0xf8, (y * 56) % 256 & 0xf8, ((x + y) % 3) * 96}; };
        out.push_back(s);
    }
    for (int bpp : {1, 4, 8, 24})
        for (int width : {1, 3, 5, 13, 33}) {
            Layout s;
            s.name = "width" + std::to_string(width) + "_" + std::to_string(bpp) + "bit";
            s.bpp = bpp;
            s.width = width;
            s.height = 3;
            s.index = indexMod(bpp >= 8 ? 256 : 1 << bpp);
            out.push_back(s);
        }
    for (int bpp : {1, 8, 24}) {
        Layout s;
        s.name = "topdown_" + std::to_string(bpp) + "bit";
        s.bpp = bpp;
        s.width = 9;
        s.height = -6;
        s.index = indexMod(bpp >= 8 ? 256 : 1 << bpp);
        out.push_back(s);
    }
    {
        Layout s;
        s.name = "shortpalette_8bit";
        s.paletteSize = 16;
        s.width = 10;
        s.height = 4;
        s.index = indexMod(16);
        out.push_back(s);
        s.name = "shortpalette_4bit";
        s.bpp = 4;
        s.paletteSize = 3;
        s.index = indexMod(3);
        out.push_back(s);
    }
    for (int bpp : {4, 8}) {
        Layout s;
        s.bpp = bpp;
        s.compression = bpp == 8 ? 1 : 2;
        s.width = 23;
        s.height = 7;
        s.name = std::string("rle") + (bpp == 8 ? "8" : "4") + "_mixed";
        s.index = [bpp](int x, int y) { return x < 8 ? (y % 3) : (x * 7 + y) % (bpp == 8 ? 200 : 16); };
        out.push_back(s);
        s.name = std::string("rle") + (bpp == 8 ? "8" : "4") + "_runs";
        s.index = [](int x, int y) { return (x / 5 + y) % 4; };
        out.push_back(s);
    }
    return out;
}

// A malformed file and what it breaks.
struct Broken {
    std::string name;
    Bytes bytes;
};

inline std::vector<Broken> malformed()
{
    std::vector<Broken> out;
    Layout base;
    base.width = 6;
    base.height = 4;
    base.index = [](int x, int y) { return x + y; };
    auto variant = [&](const std::string& name, std::function<void(Layout&)> change,
                       std::function<void(Bytes&)> patch = nullptr) {
        Layout s = base;
        if (change) change(s);
        Bytes b = write(s);
        if (patch) patch(b);
        out.push_back({name, b});
    };
    variant("width0", [](Layout&) {}, [](Bytes& b) { set32(b, 18, 0); });
    variant("height0", [](Layout&) {}, [](Bytes& b) { set32(b, 22, 0); });
    variant("negative_width", [](Layout&) {}, [](Bytes& b) { set32(b, 18, static_cast<std::uint32_t>(-6)); });
    variant("huge_65535x65535", [](Layout&) {}, [](Bytes& b) {
        set32(b, 18, 65535);
        set32(b, 22, 65535);
    });
    variant("huge_2g_wide", [](Layout&) {}, [](Bytes& b) { set32(b, 18, 0x7fffffff); });
    variant("most_negative_height", [](Layout&) {}, [](Bytes& b) { set32(b, 22, 0x80000000u); });
    for (unsigned bpp : {0u, 2u, 7u, 12u, 64u, 65535u})
        variant("bpp" + std::to_string(bpp), [](Layout&) {}, [bpp](Bytes& b) {
            b[28] = static_cast<char>(bpp & 0xff);
            b[29] = static_cast<char>(bpp >> 8);
        });
    variant("palette_count_300", [](Layout&) {}, [](Bytes& b) { set32(b, 46, 300); });
    variant("palette_past_end", [](Layout& s) { s.paletteSize = 4; }, [](Bytes& b) { set32(b, 46, 256); });
    variant("pixels_past_end", [](Layout&) {}, [](Bytes& b) { set32(b, 10, static_cast<std::uint32_t>(b.size() + 10)); });
    variant("pixels_inside_header", [](Layout&) {}, [](Bytes& b) { set32(b, 10, 20); });
    variant("header_size_99", [](Layout&) {}, [](Bytes& b) { set32(b, 14, 99); });
    variant("compression_png", [](Layout&) {}, [](Bytes& b) { set32(b, 30, 5); });
    variant("rle8_on_4bit", [](Layout& s) {
        s.bpp = 4;
        s.compression = 2;
    }, [](Bytes& b) { set32(b, 30, 1); });
    variant("not_bmp", [](Layout&) {}, [](Bytes& b) { b[0] = 'P'; });
    variant("taller_than_data", [](Layout&) {}, [](Bytes& b) { set32(b, 22, 40); });
    // RLE streams that break their bounds.
    auto rleFile = [&](const std::string& name, const Bytes& stream, int bpp = 8) {
        Layout s = base;
        s.bpp = bpp;
        s.compression = bpp == 8 ? 1 : 2;
        Bytes b = write(s);
        const std::uint32_t at = static_cast<std::uint8_t>(b[10]) | static_cast<std::uint8_t>(b[11]) << 8;
        b.resize(at);
        b += stream;
        set32(b, 2, static_cast<std::uint32_t>(b.size()));
        out.push_back({name, b});
    };
    rleFile("rle8_run_overruns_row", Bytes("\x09\x01\x00\x01", 4));
    rleFile("rle8_absolute_overruns_row", Bytes("\x00\x08\x01\x02\x03\x04\x05\x06\x07\x08\x00\x01", 12));
    rleFile("rle8_rows_past_image", Bytes("\x02\x01\x00\x00\x02\x01\x00\x00\x02\x01\x00\x00\x02\x01\x00\x00\x02\x01\x00\x01", 20));
    rleFile("rle8_jump_out", Bytes("\x00\x02\x05\x09\x00\x01", 6));
    rleFile("rle8_absolute_cut", Bytes("\x00\x06\x01\x02", 4));
    rleFile("rle8_no_end", Bytes("\x02\x01", 2));
    rleFile("rle4_run_overruns_row", Bytes("\x07\x11\x00\x01", 4), 4);
    return out;
}

}  // namespace corpus
