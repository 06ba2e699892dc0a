// The analysis road from a file to the fractal dimension, in the pieces that
// the window's handlers, the batch tool and Python call; no toolkit.
#pragma once

#include "analysis/matrix.h"
#include "analysis/surface_parameters.h"
#include "pictures/picture.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// Page `page` (from 0) of a picture file opened once, at its full depth;
// `path` names the file in messages, and `facts` receives what the page's
// file gives of its points.  A failure throws std::runtime_error naming the
// file and the reason.
GreyRaster readPage(PictureReader& reader, const std::string& path, int page, PageFacts* facts = nullptr);

// The centred spectrum of 8-bit levels (width * height, top row first):
// levelsToMatrix, the forward transform scaled by 1/(rows*cols), then
// swapQuadrants.  Refuses (std::length_error) a picture too large to analyse
// before allocating anything for it.
std::unique_ptr<matrix> centredSpectrum(const std::uint8_t* levels, int width, int height);
// The same on the complex matrix of a picture, in place.
std::unique_ptr<matrix> centredSpectrum(std::unique_ptr<matrix> picture);
// The transform of the levels, not yet centred (swapQuadrants centres it;
// centredPowerSpectrum gives its power as centred).
std::unique_ptr<matrix> uncentredSpectrum(const std::uint8_t* levels, int width, int height);

enum class Method { one = 1, two = 2 };

// D = -2 / slope of the method's fit over the power spectrum of a centred
// spectrum.  `points` and `slope`, when given, receive the fit's points and
// its slope.
double fractalDimension(const matrix& spectrum, Method method, const Notifier& notify,
                        FitPoints* points = nullptr, double* slope = nullptr);
// The same from the power spectrum (powerSpectrum of the centred spectrum),
// so that both methods can share one.
double fractalDimensionOfPower(const matrix& power, Method method, const Notifier& notify,
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
// (see analysis/dimension_map.h), and its files, each written atomically:
// stem-map.tif (32-bit floating point, one sample a window, NaN where none)
// and, by `colourPng` when it is given, stem-map.png (colours from D = 2 to
// 3, with a scale bar; toolkit/map_files.h draws it).
DimensionMap dimensionMapOf(const GreyRaster& picture, int window, int step);
using ColourMapWriter = std::function<void(const std::string& path, int columns, int rows,
                                           const std::vector<double>& values, double low, double high)>;
void saveDimensionMap(const DimensionMap& map, const std::string& stem, const ColourMapWriter& colourPng);

// About how many bytes the road needs at its peak for a picture of this
// size: the spectrum and the power spectrum of the padded picture, the
// rendered spectrum, and the file and its decoded pixels; with `whittle`,
// the Whittle fit's, which is larger: its model's grid twice as fine each
// way and the work grids beside it (696 MB measured for 2048 x 2048).
std::uint64_t analysisBytes(long long width, long long height, bool whittle = false);

// How the window shows a spectrum: the modulus times 100, saturated at 255.
constexpr int spectrumDisplayMode = 2;
constexpr double spectrumDisplayScale = 100.0;
