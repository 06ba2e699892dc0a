// What orvane-batch draws only for --plot and --map (plots as SVG, the map's
// colour picture) lives in a module of its own, orvane-batch-drawing.so
// beside the program, loaded when one of them is asked for: the analysis
// itself runs where no Qt is installed.
#pragma once

#include "toolkit/plot_data.h"

#include <string>
#include <vector>

// The module's functions.  Each drawing function gives the bytes of its
// file, which the program writes itself (so that its files, temporary ones
// included, are all its own), and throws std::runtime_error when the
// picture cannot be made.
struct BatchDrawing {
    // Sets up Qt's graphics, offscreen, on the calling (main) thread; once,
    // before any drawing.  finish() takes them down again.
    void (*start)(int& argc, char** argv);
    void (*finish)();
    std::string (*plotsSvg)(const std::vector<PlotData>& plots, int width, int height);
    std::string (*colourMapPng)(int columns, int rows, const std::vector<double>& values, double low, double high);
};

// The module's one entry point.
extern "C" const BatchDrawing* orvaneBatchDrawing();

// The module loaded from the running program's folder and started; the
// destructor finishes it.  Throws std::runtime_error naming the module and
// why it cannot be loaded.
class DrawingModule {
public:
    DrawingModule(int& argc, char** argv);
    ~DrawingModule();
    DrawingModule(const DrawingModule&) = delete;
    DrawingModule& operator=(const DrawingModule&) = delete;
    // The plots as an SVG file and a map's colour picture as a PNG file,
    // each written atomically; std::runtime_error says why not (the plot's
    // naming its file).
    void savePlotsSvg(const std::vector<PlotData>& plots, int width, int height, const std::string& path) const;
    void saveColourMapPng(const std::string& path, int columns, int rows, const std::vector<double>& values,
                          double low, double high) const;

private:
    void* handle = nullptr;
    const BatchDrawing* drawing = nullptr;
};
