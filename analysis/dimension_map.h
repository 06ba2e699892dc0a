// Local dimension maps: the Whittle dimension of every window of a picture
// on a regular grid, the windows shared among the cores.
#pragma once

#include "analysis/whittle.h"

#include <vector>

struct DimensionMap {
    int columns = 0, rows = 0;   // windows across and down
    int window = 0, step = 0;    // pixels
    // Row-major, top row first: D of the window whose top-left pixel is
    // (column * step, row * step); NaN where the window cannot be estimated
    // (flat, or a value that is not finite).
    std::vector<double> d;
};

// Throws std::invalid_argument for a window smaller than 16 pixels or larger
// than the picture, or a step smaller than 1.
template <class T>
DimensionMap dimensionMap(const T* values, int width, int height, int window, int step,
                          const WhittleOptions& options = {});
