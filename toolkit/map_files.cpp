// The files of a map of values (see map_files.h).
#include "toolkit/map_files.h"

#include "pictures/files.h"

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

std::string colourMapPng(int columns, int rows, const std::vector<double>& values, double low, double high)
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
    // The scale bar: high at the top, low at the bottom, "D" above it.
    const int top = 24, bottom = image.height() - 10, x = mapW + 10;
    for (int y = top; y <= bottom; ++y) p.fillRect(x, y, 14, 1, scaleColour(1.0 - double(y - top) / (bottom - top)));
    p.setPen(Qt::black);
    p.drawRect(x, top, 14, bottom - top);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    p.drawText(x + 3, top - 6, QStringLiteral("D"));
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
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void saveColourMapPng(const std::string& path, int columns, int rows, const std::vector<double>& values, double low,
                      double high)
{
    writeFileAtomically(path, colourMapPng(columns, rows, values, low, high));
}
