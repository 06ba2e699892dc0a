// The file analysis: read, pages, the road on each, and the pictures.
#include "imaging/file_analysis.h"

#include "imaging/lengths.h"
#include "imaging/levels.h"
#include "imaging/plots.h"
#include "imaging/road.h"
#include "pictures/bmp.h"
#include "pictures/files.h"
#include "pictures/picture.h"

#include <cmath>
#include <new>
#include <stdexcept>
#include <tuple>

namespace {

// Writes a picture's bytes to `path` atomically; std::runtime_error names
// the file when it cannot.
void writePicture(const std::string& path, const std::string& bytes)
{
    try {
        writeFileAtomically(path, bytes);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("cannot write the picture to \"" + displayFileName(path) + "\": " + e.what());
    }
}

// The spectral estimate's options for a page: a fit range given as
// wavelengths becomes cycles per pixel by the pixel's size (the geometric
// mean of its sides).  Throws std::invalid_argument when the page has no
// pixel size or the range does not fit its band.
PsdOptions psdOptionsFor(const FileAnalysisOptions& options, double dx, double dy)
{
    PsdOptions psd = options.psdOptions;
    if (options.longestWavelength > 0)
        std::tie(psd.fitMin, psd.fitMax) =
            cyclesOfWavelengths(options.shortestWavelength, options.longestWavelength, dx, dy, "--pixel-size");
    return psd;
}

// Runs one estimate of a page: true when it ran, otherwise false with
// `error` saying why.  Whatever it throws stays with that estimate, so
// that the page's other estimates and its row are kept; only running out
// of memory goes on, as the whole file is then tried again alone.
template <class Estimate>
bool attempt(std::string& error, Estimate&& estimate)
{
    try {
        estimate();
        return true;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "an unexpected failure";
    }
    return false;
}

void analysePage(PictureReader& reader, int page, const std::string& file, const std::string& spectrumFile,
                 const std::string& plotFile, const std::string& mapFile, const FileAnalysisOptions& options,
                 PageAnalysis& out)
{
    std::vector<std::uint8_t> levels;
    {
        // The full depth only while its estimates run, and before the
        // spectrum, so that the two never take memory at once.
        PageFacts facts;
        GreyRaster full = readPage(reader, file, page, &facts);
        out.width = full.width;
        out.height = full.height;
        // The file's own pixel size first, the options' for files without one.
        out.dx = facts.size.dx > 0 ? facts.size.dx : options.pixelX;
        out.dy = facts.size.dy > 0 ? facts.size.dy : options.pixelY;
        out.missing = facts.missing;
        out.heightScale = facts.heightScale > 0 ? facts.heightScale : options.heightScale;
        if (options.psd) {
            out.psdDone = attempt(out.psdError, [&] { out.psd = psdDimension(full, psdOptionsFor(options, out.dx, out.dy)); });
        }
        if (options.params) {
            out.paramsDone =
                attempt(out.paramsError, [&] { out.params = surfaceParametersOf(full, out.dx, out.dy, out.heightScale); });
        }
        if (options.whittle) {
            out.whittleDone = attempt(out.whittleError, [&] { out.whittle = whittleDimension(full); });
        }
        if (!mapFile.empty()) {
            attempt(out.mapError, [&] {
                saveDimensionMap(dimensionMapOf(full, options.mapWindow, options.mapStep), mapFile,
                                 options.saveColourMap);
            });
        }
        levels = eightBitView(std::move(full));
    }
    // Centred only for the spectrum picture: the methods take the power as
    // centred, written so in the pass that computes it.
    const std::unique_ptr<matrix> spectrum = uncentredSpectrum(levels.data(), out.width, out.height);
    std::vector<std::uint8_t>().swap(levels);
    out.paddedWidth = spectrum->getCols() / 2;
    out.paddedHeight = spectrum->getRows();
    {
        // One power spectrum for both methods.
        const std::unique_ptr<matrix> power = centredPowerSpectrum(*spectrum);
        for (int k = 1; k <= 2; ++k) {
            const Notifier notify = [&, k](const std::string& message) {
                out.estimateFailures.push_back(message + " (the Metoda " + std::to_string(k) + " estimate failed)");
            };
            const double d = fractalDimensionOfPower(*power, k == 1 ? Method::one : Method::two, notify,
                                                     k == 1 ? &out.points1 : &out.points2);
            (k == 1 ? out.d1 : out.d2) = d;
        }
    }
    if (!spectrumFile.empty()) {
        swapQuadrants(*spectrum);
        const std::vector<std::uint8_t> shown = spectrumLevels(spectrumDisplayMode, spectrumDisplayScale, *spectrum);
        writePicture(spectrumFile, greyBmpFile(spectrum->getCols() / 2, spectrum->getRows(), shown.data()));
    }
    if (!plotFile.empty()) {
        std::vector<PlotData> plots{inEnglish(methodPlot(1, out.points1, out.d1)),
                                    inEnglish(methodPlot(2, out.points2, out.d2))};
        const double pixel = plotPixelSize(out.dx, out.dy);
        if (out.psdDone) plots.push_back(inEnglish(psdPlot(out.psd, pixel)));
        if (out.whittleDone) plots.push_back(inEnglish(whittlePlot(out.whittle, pixel)));
        if (options.savePlots) options.savePlots(plots, 480, 320, plotFile);
    }
}

}  // namespace

bool FileAnalysis::outOfMemory() const
{
    for (const PageAnalysis& p : pages)
        if (p.outOfMemory) return true;
    return false;
}

FileAnalysis analyseFile(const std::string& path, const FileAnalysisOptions& options)
{
    FileAnalysis result;
    std::string bytes;
    std::unique_ptr<PictureReader> reader;
    try {
        bytes = readPictureFile(path);  // its message names the file
        try {
            reader = std::make_unique<PictureReader>(bytes);
        } catch (const std::runtime_error& e) {
            throw unreadableFile(path, e.what());
        }
    } catch (const std::bad_alloc&) {
        result.error = "not enough memory";
        return result;
    } catch (const std::exception& e) {
        result.error = e.what();
        return result;
    }
    const int pages = reader->pages();
    for (int page = 0; page < pages; ++page) {
        if (page > 0 && options.interrupted && options.interrupted()) break;
        // Pages of a stack are named file#page from 1.
        const std::string suffix = pages > 1 ? "#" + std::to_string(page + 1) : "";
        PageAnalysis out;
        out.name = path + suffix;
        try {
            analysePage(*reader, page, path,
                        options.spectrumStem.empty() ? "" : options.spectrumStem + suffix + "-spectrum.bmp",
                        options.plotStem.empty() ? "" : options.plotStem + suffix + "-plot.svg",
                        options.mapStem.empty() ? "" : options.mapStem + suffix, options, out);
        } catch (const std::bad_alloc&) {
            out = PageAnalysis{};
            out.name = path + suffix;
            out.error = "not enough memory";
            out.outOfMemory = true;
        } catch (const std::exception& e) {
            out = PageAnalysis{};
            out.name = path + suffix;
            out.error = e.what();
        }
        result.pages.push_back(std::move(out));
    }
    return result;
}
