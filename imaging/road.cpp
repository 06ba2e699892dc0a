// The analysis road's pieces: a page read, the centred spectrum, the
// estimates on a picture at its full depth, the map's files.
#include "imaging/road.h"

#include "imaging/levels.h"
#include "pictures/files.h"
#include "pictures/writers.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

// The share of a picture's points that are NaN (only floating-point
// samples can be).
static double missingShare(const GreyRaster& picture)
{
    return picture.samples.visit([](const auto& samples) {
        std::size_t missing = 0;
        for (const auto v : samples) missing += std::isnan(static_cast<double>(v));
        return samples.empty() ? 0.0 : static_cast<double>(missing) / static_cast<double>(samples.size());
    });
}

GreyRaster readPage(PictureReader& reader, const std::string& path, int page, PageFacts* facts)
{
    try {
        GreyRaster picture = reader.decode(page);
        // A BMP's resolution is for printing (its decoder gives none).
        if (facts) *facts = PageFacts{{picture.dx, picture.dy}, missingShare(picture), picture.heightScale};
        return picture;
    } catch (const std::runtime_error& e) {
        throw unreadableFile(path, e.what());
    }
}

// The forward transform of a picture's complex matrix, in place, scaled by
// 1/(rows*cols).
static std::unique_ptr<matrix> transformed(std::unique_ptr<matrix> picture)
{
    fourierTransform2D(picture->getData(), static_cast<std::uint32_t>(picture->getCols() / 2),
                       static_cast<std::uint32_t>(picture->getRows()), 1);
    return picture;
}

std::unique_ptr<matrix> centredSpectrum(const std::uint8_t* levels, int width, int height)
{
    return centredSpectrum(levelsToMatrix(levels, width, height));
}

std::unique_ptr<matrix> uncentredSpectrum(const std::uint8_t* levels, int width, int height)
{
    return transformed(levelsToMatrix(levels, width, height));
}

std::unique_ptr<matrix> centredSpectrum(std::unique_ptr<matrix> picture)
{
    std::unique_ptr<matrix> spectrum = transformed(std::move(picture));
    swapQuadrants(*spectrum);
    return spectrum;
}

double fractalDimension(const matrix& spectrum, Method method, const Notifier& notify, FitPoints* points,
                        double* slopeOut)
{
    return fractalDimensionOfPower(*powerSpectrum(spectrum), method, notify, points, slopeOut);
}

double fractalDimensionOfPower(const matrix& power, Method method, const Notifier& notify, FitPoints* points,
                               double* slopeOut)
{
    const double slope = method == Method::one
                             ? estimateMethod1(power, power.getCols(), power.getRows(), notify, points)
                             : estimateMethod2(power, power.getCols(), power.getRows(), notify, points);
    if (slopeOut) *slopeOut = slope;
    return -2.0 / slope;
}

PsdResult psdDimension(const GreyRaster& picture, const PsdOptions& options)
{
    // Doubles so large (or so small) that their sums and squares leave the
    // range of a double are scaled by a power of two first: the dimension
    // does not depend on the scale.  Every other picture goes as it is, at
    // its own type.
    if (picture.type() == SampleType::float64) {
        const std::vector<double>& samples = picture.samples.as<double>();
        double largest = 0;
        for (double v : samples)
            if (std::isfinite(v)) largest = std::max(largest, std::fabs(v));
        if (largest > 0x1p+400 || (largest > 0 && largest < 0x1p-400)) {
            const int shift = -std::ilogb(largest);
            std::vector<double> scaled(samples.size());
            std::transform(samples.begin(), samples.end(), scaled.begin(),
                           [shift](double v) { return std::ldexp(v, shift); });
            return estimatePsdDimension(scaled.data(), picture.width, picture.height, options);
        }
    }
    return picture.samples.visit([&](const auto& samples) {
        return estimatePsdDimension(samples.data(), picture.width, picture.height, options);
    });
}

SurfaceParameters surfaceParametersOf(const GreyRaster& picture, double dx, double dy, double heightScale)
{
    return picture.samples.visit([&](const auto& samples) {
        return surfaceParameters(samples.data(), picture.width, picture.height, dx, dy, heightScale);
    });
}

WhittleResult whittleDimension(const GreyRaster& picture, const WhittleOptions& options)
{
    return picture.samples.visit([&](const auto& samples) {
        return estimateWhittleDimension(samples.data(), picture.width, picture.height, options);
    });
}

DimensionMap dimensionMapOf(const GreyRaster& picture, int window, int step)
{
    return picture.samples.visit([&](const auto& samples) {
        return dimensionMap(samples.data(), picture.width, picture.height, window, step);
    });
}

void saveDimensionMap(const DimensionMap& map, const std::string& stem, const ColourMapWriter& colourPng)
{
    // Each failure names the file it could not write.
    auto writing = [](const std::string& path, auto&& write) {
        try {
            write();
        } catch (const std::runtime_error& e) {
            throw std::runtime_error("cannot write the map to \"" + displayFileName(path) + "\": " + e.what());
        }
    };
    const std::string tiff = stem + "-map.tif", png = stem + "-map.png";
    writing(tiff, [&] { writeFileAtomically(tiff, floatTiff(map.columns, map.rows, map.d)); });
    if (colourPng) writing(png, [&] { colourPng(png, map.columns, map.rows, map.d, 2.0, 3.0); });
}

std::uint64_t analysisBytes(long long width, long long height, bool whittle)
{
    if (whittle && width > 2 && height > 2) {
        const std::uint64_t grid = std::uint64_t{powerOfTwoAtLeast(width - 2)} * powerOfTwoAtLeast(height - 2);
        return std::max(grid * 168, analysisBytes(width, height, false));
    }
    const std::uint64_t padded = std::uint64_t{powerOfTwoAtLeast(width)} * powerOfTwoAtLeast(height);
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return padded * (sizeof(double) * 3 + 1) + pixels * 8;
}
