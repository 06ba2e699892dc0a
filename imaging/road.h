// The analysis road from a file to the fractal dimension, in the pieces that
// the window's handlers and the batch tool both call.
#pragma once

#include "analysis/matrix.h"
#include "analysis/surface_parameters.h"
#include "toolkit/bitmap.h"
#include "toolkit/picture.h"

#include <cstdint>
#include <memory>
#include <string>

// A pixel's size in metres along x and y; 0 when unknown.
struct PixelSize {
    double dx = 0, dy = 0;
};

// What a page's file says of its points beside their values: the pixel's
// size, the share of points not measured (NaN), 0 .. 1, and the metres a
// stored height unit (0 when the file does not say).
struct PageFacts {
    PixelSize size;
    double missing = 0;
    double heightScale = 0;
};

// Loads page `page` (from 0) of a picture file (BMP, PNG, TIFF, PGM/PPM)
// into the bitmap and gives it the grey palette.  A BMP loads as it always
// has, so that a palette image's indices are its grey levels; the others load
// as their 8-bit view (see toolkit/picture.h).  `pages` receives how many the
// file holds, and `full` the page at its full depth.  On failure the bitmap
// is as it was and std::runtime_error says why.
void loadGreyBitmap(TBitmap& bitmap, const std::string& path, int page = 0, int* pages = nullptr,
                    GreyRaster* full = nullptr);
// The same from a file opened once, whose pages are loaded in turn; `path`
// names it in messages; `facts` receives what the page's file gives of its
// points.
void loadGreyBitmap(TBitmap& bitmap, PictureReader& reader, const std::string& path, int page,
                    GreyRaster* full = nullptr, PageFacts* facts = nullptr);

// The centred spectrum of a bitmap: bitmapToMatrix, the forward transform
// scaled by 1/(rows*cols), then swapQuadrants.  Refuses (std::length_error)
// an image too large to analyse before allocating anything for it.
std::unique_ptr<matrix> centredSpectrum(TBitmap& bitmap);

enum class Method { one = 1, two = 2 };

// D = -2 / slope of the method's fit over the power spectrum of a centred
// spectrum.  `points` and `slope`, when given, receive the fit's points and
// its slope.
double fractalDimension(const matrix& spectrum, Method method, const Notifier& notify,
                        FitPoints* points = nullptr, double* slope = nullptr);

// The spectral dimension of a picture at its full depth.  Throws
// std::invalid_argument with the reason when it cannot be estimated.
PsdResult psdDimension(const GreyRaster& picture, const PsdOptions& options);

// The surface parameters of a picture at its full depth, with pixels dx x dy
// metres and heightScale metres a stored unit (each 0 when unknown; see
// analysis/surface_parameters.h).  Throws std::invalid_argument with the
// reason when they cannot be computed.
SurfaceParameters surfaceParametersOf(const GreyRaster& picture, double dx, double dy, double heightScale);

// The Whittle dimension and anisotropy of a picture at its full depth.
// Throws std::invalid_argument with the reason when it cannot be estimated.
WhittleResult whittleDimension(const GreyRaster& picture, const WhittleOptions& options = {});

// The map of local Whittle dimensions of a picture at its full depth
// (see analysis/dimension_map.h), and its files: stem-map.tif (32-bit
// floating point, one sample a window, NaN where none) and stem-map.png
// (colours from D = 2 to 3, with a scale bar), each written atomically.
DimensionMap dimensionMapOf(const GreyRaster& picture, int window, int step);
void saveDimensionMap(const DimensionMap& map, const std::string& stem);

// About how many bytes the road needs at its peak for a picture of this
// size: the spectrum and the power spectrum of the padded picture, the
// rendered spectrum, and the file and its decoded pixels.
std::uint64_t analysisBytes(long long width, long long height);

// How the window shows a spectrum: the modulus times 100, saturated at 255.
constexpr int spectrumDisplayMode = 2;
constexpr double spectrumDisplayScale = 100.0;
