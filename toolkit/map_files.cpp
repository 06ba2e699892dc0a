// The files of a map of values (see map_files.h).
#include "toolkit/map_files.h"

#include "toolkit/files.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

void put16(std::string& out, std::uint16_t v)
{
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

void put32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

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

// A colour of a scale from dark blue through teal and green to yellow, for t in [0, 1].
QColor scaleColour(double t)
{
    static const int stops[5][3] = {{48, 18, 100}, {40, 100, 150}, {30, 160, 130}, {120, 205, 70}, {250, 230, 40}};
    t = std::clamp(t, 0.0, 1.0) * 4;
    const int i = std::min(static_cast<int>(t), 3);
    const double f = t - i;
    auto mix = [&](int c) { return static_cast<int>(std::lround(stops[i][c] + f * (stops[i + 1][c] - stops[i][c]))); };
    return QColor(mix(0), mix(1), mix(2));
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

void saveColourMapPng(const std::string& path, int columns, int rows, const std::vector<double>& values, double low,
                      double high)
{
    // Cells of at least 4 pixels, the map some 512 pixels across at most.
    const int cell = std::max(4, 512 / std::max(1, std::max(columns, rows)));
    const int mapW = columns * cell, mapH = rows * cell, bar = 70;
    QImage image(mapW + bar, std::max(mapH, 120), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const double v = values[static_cast<std::size_t>(r) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(c)];
            p.fillRect(c * cell, r * cell, cell, cell,
                       std::isfinite(v) ? scaleColour((v - low) / (high - low)) : QColor(160, 160, 160));
        }
    // The scale bar: high at the top, low at the bottom.
    const int top = 10, bottom = image.height() - 10, x = mapW + 10;
    for (int y = top; y <= bottom; ++y) p.fillRect(x, y, 14, 1, scaleColour(1.0 - double(y - top) / (bottom - top)));
    p.setPen(Qt::black);
    p.drawRect(x, top, 14, bottom - top);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    for (int k = 0; k <= 2; ++k) {
        const double value = low + (high - low) * k / 2;
        const int y = bottom - (bottom - top) * k / 2;
        p.drawLine(x + 14, y, x + 18, y);
        p.drawText(x + 20, y + 4, QString::number(value, 'f', 2));
    }
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) throw std::runtime_error("the PNG could not be made");
    writeFileAtomically(path, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}
