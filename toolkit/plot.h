// Log-log plots of a fit: its points (those inside the fit range filled, the
// others hollow), the fitted line over the fit range, axes with ticks, the
// method's name and its result.  Plain data in, so that the window, the
// files and the tests draw the same picture.
#pragma once

#include "toolkit/plot_data.h"

#include <memory>
#include <string>
#include <vector>

// Plots draw text, and Qt draws text only once its graphics are set up for
// the process.  A program without a window makes one of these first, on its
// main thread; it needs no display (Qt's offscreen platform).
class THeadlessGraphics {
public:
    THeadlessGraphics(int& argc, char** argv);
    ~THeadlessGraphics();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Where a plot of width x height pixels puts its frame and its ranges, so
// that a point can be found in the picture: x from xMin at `left` to xMax at
// `right`, y from yMin at `bottom` to yMax at `top`.
struct PlotLayout {
    int left, top, right, bottom;
    double xMin, xMax, yMin, yMax;
    bool empty;  // fewer than two finite points: a frame and a message only
};
PlotLayout plotLayout(const PlotData& plot, int width, int height);

// The plots one above the other, each `height` pixels high, as the bytes of
// an SVG file.
std::string plotsSvg(const std::vector<PlotData>& plots, int width, int height);
// The plots one above the other, each `height` pixels high, as an SVG file;
// std::runtime_error when it cannot be written (atomically, as every file).
void savePlotsSvg(const std::vector<PlotData>& plots, int width, int height, const std::string& path);
// The same as a PNG file.
void savePlotsPng(const std::vector<PlotData>& plots, int width, int height, const std::string& path);
