// What orvane-batch draws only for --plot and --map (plots as SVG, the map's
// colour picture) lives in a module of its own, orvane-batch-drawing.so
// beside the program, loaded when one of them is asked for: the analysis
// itself runs where no Qt is installed.
#pragma once

#include "toolkit/plot_data.h"

#include <string>
#include <vector>

// The module's functions.  Each drawing function throws std::runtime_error
// when its file cannot be written.
struct BatchDrawing {
    // Sets up Qt's graphics, offscreen, on the calling (main) thread; once,
    // before any drawing.  finish() takes them down again.
    void (*start)(int& argc, char** argv);
    void (*finish)();
    void (*savePlotsSvg)(const std::vector<PlotData>& plots, int width, int height, const std::string& path);
    void (*saveColourMapPng)(const std::string& path, int columns, int rows, const std::vector<double>& values,
                             double low, double high);
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
    const BatchDrawing& functions() const { return *drawing; }

private:
    void* handle = nullptr;
    const BatchDrawing* drawing = nullptr;
};
