// The plot drawing routine, on any QPainter device: the screen, an image or SVG.
#include "toolkit/plot_qt.h"

#include "pictures/files.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

constexpr int marginLeft = 46, marginRight = 10, marginTop = 30, marginBottom = 32;

std::vector<std::pair<double, double>> finitePoints(const PlotData& plot, std::vector<bool>* fitted = nullptr)
{
    std::vector<std::pair<double, double>> points;
    for (std::size_t i = 0; i < plot.x.size() && i < plot.y.size(); ++i) {
        if (!std::isfinite(plot.x[i]) || !std::isfinite(plot.y[i])) continue;
        points.emplace_back(plot.x[i], plot.y[i]);
        if (fitted) fitted->push_back(plot.fitted.empty() || (i < plot.fitted.size() && plot.fitted[i]));
    }
    return points;
}

// Tick values: a step of 1, 2 or 5 times a power of ten giving 3 to 7 ticks.
std::vector<double> ticks(double low, double high)
{
    const double span = high - low;
    if (!(span > 0)) return {low};
    const double raw = span / 5, power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power) {
            step = m * power;
            break;
        }
    std::vector<double> out;
    for (double t = std::ceil(low / step) * step; t <= high + step * 1e-9; t += step) out.push_back(std::fabs(t) < step * 1e-9 ? 0 : t);
    return out;
}

}  // namespace

struct THeadlessGraphics::Impl {
    std::unique_ptr<QGuiApplication> application;
};

THeadlessGraphics::THeadlessGraphics(int& argc, char** argv) : d(std::make_unique<Impl>())
{
    if (QGuiApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A program without a window has its own words on standard error; Qt's
    // notes about the desktop it does not use ("XDG_RUNTIME_DIR not set")
    // are not for its users.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg) std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    });
    d->application = std::make_unique<QGuiApplication>(argc, argv);
}

THeadlessGraphics::~THeadlessGraphics() = default;

PlotLayout plotLayout(const PlotData& plot, int width, int height)
{
    PlotLayout l{marginLeft, marginTop, width - marginRight, height - marginBottom, 0, 1, 0, 1, true};
    const auto points = finitePoints(plot);
    if (points.size() < 2) return l;
    l.empty = false;
    l.xMin = l.xMax = points[0].first;
    l.yMin = l.yMax = points[0].second;
    for (const auto& [x, y] : points) {
        l.xMin = std::min(l.xMin, x);
        l.xMax = std::max(l.xMax, x);
        l.yMin = std::min(l.yMin, y);
        l.yMax = std::max(l.yMax, y);
    }
    // A twentieth of each range as room around the points.
    const double dx = l.xMax > l.xMin ? (l.xMax - l.xMin) / 20 : 1, dy = l.yMax > l.yMin ? (l.yMax - l.yMin) / 20 : 1;
    l.xMin -= dx;
    l.xMax += dx;
    l.yMin -= dy;
    l.yMax += dy;
    return l;
}

namespace {

// A length for a tick: three digits in m, mm, um or nm.
std::string lengthLabel(double metres)
{
    static const std::pair<const char*, double> units[] = {{" m", 1.0}, {" mm", 1e-3}, {" \u00b5m", 1e-6}, {" nm", 1e-9}};
    std::size_t k = 0;
    while (k + 1 < std::size(units) && metres < units[k].second) ++k;
    return QString::number(metres / units[k].second, 'g', 3).toStdString() + units[k].first;
}

}  // namespace

void paintPlot(QPainter& p, const QRect& area, const PlotData& plot)
{
    p.save();
    p.translate(area.topLeft());
    p.setClipRect(QRect(QPoint(0, 0), area.size()));
    p.fillRect(QRect(QPoint(0, 0), area.size()), Qt::white);
    const PlotLayout l = plotLayout(plot, area.width(), area.height());
    QFont font = p.font();
    font.setPixelSize(10);
    p.setFont(font);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::black);
    const QRect frame(QPoint(l.left, l.top), QPoint(l.right, l.bottom));
    p.drawRect(frame);
    p.drawText(QRect(4, 1, area.width() - 8, 13), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(plot.title));
    p.drawText(QRect(4, 14, area.width() - 8, 13), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(plot.result));
    if (l.empty) {
        p.drawText(frame, Qt::AlignCenter, QString::fromStdString(plot.tooFewPoints));
        p.restore();
        return;
    }
    auto X = [&](double x) { return l.left + (x - l.xMin) / (l.xMax - l.xMin) * (l.right - l.left); };
    auto Y = [&](double y) { return l.bottom - (y - l.yMin) / (l.yMax - l.yMin) * (l.bottom - l.top); };
    for (double t : ticks(l.xMin, l.xMax)) {
        p.drawLine(QPointF(X(t), l.bottom), QPointF(X(t), l.bottom + 4));
        p.drawText(QRectF(X(t) - 30, l.bottom + 5, 60, 12), Qt::AlignHCenter | Qt::AlignTop, QString::number(t, 'g', 4));
    }
    if (plot.pixelSize > 0) {
        // The wavelength of each tick's frequency, inside the frame under its top edge.
        for (double t : ticks(l.xMin, l.xMax)) {
            p.drawLine(QPointF(X(t), l.top), QPointF(X(t), l.top + 4));
            p.drawText(QRectF(X(t) - 30, l.top + 4, 60, 12), Qt::AlignHCenter | Qt::AlignTop,
                       QString::fromStdString(lengthLabel(plot.pixelSize / std::exp(t))));
        }
        p.drawText(QRectF(l.left, l.top + 15, l.right - l.left - 4, 12), Qt::AlignRight | Qt::AlignTop,
                   QString::fromStdString(plot.topLabel));
    }
    for (double t : ticks(l.yMin, l.yMax)) {
        p.drawLine(QPointF(l.left - 4, Y(t)), QPointF(l.left, Y(t)));
        p.drawText(QRectF(12, Y(t) - 6, l.left - 18, 12), Qt::AlignRight | Qt::AlignVCenter, QString::number(t, 'g', 4));
    }
    p.drawText(QRect(l.left, area.height() - 13, l.right - l.left, 12), Qt::AlignHCenter, QString::fromStdString(plot.xLabel));
    // The y label along the axis, read from the bottom up.
    p.save();
    p.translate(1, (l.top + l.bottom) / 2.0);
    p.rotate(-90);
    p.drawText(QRectF(-(l.bottom - l.top) / 2.0, 0, l.bottom - l.top, 12), Qt::AlignHCenter | Qt::AlignTop,
               QString::fromStdString(plot.yLabel));
    p.restore();

    std::vector<bool> fitted;
    const auto points = finitePoints(plot, &fitted);
    p.setClipRect(frame.adjusted(1, 1, 0, 0));
    double from = INFINITY, to = -INFINITY;
    for (std::size_t i = 0; i < points.size(); ++i)
        if (fitted[i]) {
            from = std::min(from, points[i].first);
            to = std::max(to, points[i].first);
        }
    // The fit range as a pale band behind the points, so that it reads at
    // any size, even where the points crowd together.
    if (from <= to) p.fillRect(QRectF(QPointF(X(from), l.top + 1), QPointF(X(to), l.bottom)), QColor(255, 238, 210));
    // Points shrink with the frame: at the window's small size full-sized
    // ones would merge into one blob.
    const double radius = std::clamp((l.right - l.left) / 60.0, 1.4, 3.0);
    const QColor ink(20, 60, 160);
    p.setPen(QPen(ink, radius < 2.5 ? 0.8 : 1.2));
    for (std::size_t i = 0; i < points.size(); ++i) {
        p.setBrush(fitted[i] ? QBrush(ink) : QBrush(Qt::NoBrush));
        p.drawEllipse(QPointF(X(points[i].first), Y(points[i].second)), radius, radius);
    }
    // The fitted line over the points, with a white edge so that it stands
    // out from them.
    if (plot.line && from < to) {
        const QPointF a(X(from), Y(plot.intercept + plot.slope * from)), b(X(to), Y(plot.intercept + plot.slope * to));
        p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(a, b);
        p.setPen(QPen(QColor(200, 30, 30), 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(a, b);
    }
    QPolygonF curve;
    for (std::size_t i = 0; i < std::min(plot.curveX.size(), plot.curveY.size()); ++i)
        if (std::isfinite(plot.curveX[i]) && std::isfinite(plot.curveY[i])) curve << QPointF(X(plot.curveX[i]), Y(plot.curveY[i]));
    if (curve.size() > 1) {
        p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(curve);
        p.setPen(QPen(QColor(200, 30, 30), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(curve);
    }
    p.restore();
}

namespace {

// The plots one above the other, each `height` high, on any paint device.
void paintPlots(QPaintDevice& device, const std::vector<PlotData>& plots, int width, int height)
{
    QPainter painter(&device);
    for (std::size_t i = 0; i < plots.size(); ++i)
        paintPlot(painter, QRect(0, static_cast<int>(i) * height, width, height), plots[i]);
}

void writePlotFile(const std::string& path, const QByteArray& bytes)
{
    try {
        writeFileAtomically(path, bytes.toStdString());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("cannot write the plot to \"" + displayFileName(path) + "\": " + e.what());
    }
}

}  // namespace

QImage plotImage(const PlotData& plot, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) throw std::bad_alloc();
    image.fill(Qt::white);
    paintPlots(image, {plot}, width, height);
    return image;
}


std::string plotsSvg(const std::vector<PlotData>& plots, int width, int height)
{
    QByteArray svg;
    QBuffer buffer(&svg);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    const int total = height * static_cast<int>(std::max<std::size_t>(plots.size(), 1));
    generator.setSize(QSize(width, total));
    generator.setViewBox(QRect(0, 0, width, total));
    generator.setTitle(QStringLiteral("Orvane"));
    paintPlots(generator, plots, width, height);
    return svg.toStdString();
}

void savePlotsSvg(const std::vector<PlotData>& plots, int width, int height, const std::string& path)
{
    writePlotFile(path, QByteArray::fromStdString(plotsSvg(plots, width, height)));
}

void savePlotsPng(const std::vector<PlotData>& plots, int width, int height, const std::string& path)
{
    QImage image(width, height * static_cast<int>(std::max<std::size_t>(plots.size(), 1)), QImage::Format_RGB32);
    if (image.isNull()) throw std::bad_alloc();
    image.fill(Qt::white);
    paintPlots(image, plots, width, height);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    writePlotFile(path, png);
}
