// ISO 25178 height and hybrid parameters of a measured surface, after its
// least-squares plane is removed.
#pragma once

#include <cmath>

struct SurfaceParameters {
    // Heights z above the plane, in the heights' unit (metres when known).
    double sa = 0;   // arithmetic mean height, mean |z|
    double sq = 0;   // root mean square height
    double ssk = 0;  // skewness, mean z^3 / Sq^3
    double sku = 0;  // kurtosis, mean z^4 / Sq^4
    double sz = 0;   // maximum height, the highest peak less the lowest pit
    // Slopes from each 2 x 2 cell of pixels: the differences along x (and
    // along y) of its two rows (columns), averaged, over the pixel size, at
    // the cell's centre.  NaN unless both the pixel size and the heights'
    // length unit are known.
    double sdq = NAN;  // root mean square gradient, sqrt(mean(zx^2 + zy^2))
    double sdr = NAN;  // developed interfacial area ratio in percent, 100 (mean(sqrt(1 + zx^2 + zy^2)) - 1)
};

// The parameters of `width` x `height` heights (row-major, top row first),
// each times `heightScale` (metres per stored unit; 0 when the heights have
// no length unit, and they are taken as stored), with pixels `dx` x `dy`
// metres (0 when unknown).  NaN values are points not measured, left out
// (the cells around them out of the slopes).  Throws std::invalid_argument
// for fewer than 2 x 2 values, an infinite value, and no measured point.
template <class T>
SurfaceParameters surfaceParameters(const T* values, int width, int height, double dx = 0, double dy = 0,
                                    double heightScale = 0);
