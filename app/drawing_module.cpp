// orvane-batch's drawing module: the toolkit's plots and map pictures behind
// the functions of app/drawing.h.
#include "app/drawing.h"

#include "toolkit/map_files.h"
#include "toolkit/plot.h"

#include <memory>

namespace {

std::unique_ptr<THeadlessGraphics> graphics;

void start(int& argc, char** argv)
{
    if (!graphics) graphics = std::make_unique<THeadlessGraphics>(argc, argv);
}

void finish() { graphics.reset(); }

const BatchDrawing functions{start, finish, plotsSvg, colourMapPng};

}  // namespace

extern "C" const BatchDrawing* orvaneBatchDrawing() { return &functions; }
