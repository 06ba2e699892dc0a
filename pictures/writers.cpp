// The 32-bit floating-point TIFF of a map's values, written byte by byte.
#include "pictures/writers.h"

#include "pictures/picture_formats.h"

#include <cstdint>
#include <cstring>

namespace {

void put16(std::string& out, std::uint16_t v) { appendLittleEndian(out, v, 2); }
void put32(std::string& out, std::uint32_t v) { appendLittleEndian(out, v, 4); }

// An IFD entry of one value: SHORT (3) or LONG (4).
void entry(std::string& out, std::uint16_t tag, std::uint16_t type, std::uint32_t value)
{
    put16(out, tag);
    put16(out, type);
    put32(out, 1);
    if (type == 3) {
        put16(out, static_cast<std::uint16_t>(value));
        put16(out, 0);
    } else {
        put32(out, value);
    }
}

}  // namespace

std::string floatTiff(int columns, int rows, const std::vector<double>& values)
{
    const std::uint32_t count = static_cast<std::uint32_t>(columns) * static_cast<std::uint32_t>(rows);
    const std::uint16_t entries = 10;
    const std::uint32_t data = 8 + 2 + entries * 12 + 4;
    std::string out = "II*";
    out.push_back('\0');
    put32(out, 8);
    put16(out, entries);
    entry(out, 256, 4, static_cast<std::uint32_t>(columns));  // ImageWidth
    entry(out, 257, 4, static_cast<std::uint32_t>(rows));     // ImageLength
    entry(out, 258, 3, 32);                                   // BitsPerSample
    entry(out, 259, 3, 1);                                    // Compression: none
    entry(out, 262, 3, 1);                                    // BlackIsZero
    entry(out, 273, 4, data);                                 // StripOffsets
    entry(out, 277, 3, 1);                                    // SamplesPerPixel
    entry(out, 278, 4, static_cast<std::uint32_t>(rows));     // RowsPerStrip
    entry(out, 279, 4, count * 4);                            // StripByteCounts
    entry(out, 339, 3, 3);                                    // SampleFormat: IEEE floating point
    put32(out, 0);                                            // no next IFD
    for (std::uint32_t i = 0; i < count; ++i) {
        const float f = static_cast<float>(values[i]);
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put32(out, bits);
    }
    return out;
}
