// One picture file through the whole road, page by page: what orvane-batch
// writes as rows and the Python package returns, computed in one place.
#pragma once

#include "analysis/matrix.h"
#include "analysis/surface_parameters.h"
#include "imaging/road.h"
#include "toolkit/plot_data.h"

#include <functional>

#include <string>
#include <vector>

struct FileAnalysisOptions {
    bool psd = false;
    PsdOptions psdOptions;
    // The spectral fit's range as wavelengths in metres, for pages whose
    // pixel size is known (0: the range psdOptions gives).
    double shortestWavelength = 0, longestWavelength = 0;
    // The surface parameters (analysis/surface_parameters.h).
    bool params = false;
    // The pixel's size in metres for files that give none (0: unknown), and
    // the heights' metres a stored unit (0: no length unit).
    double pixelX = 0, pixelY = 0;
    double heightScale = 0;
    bool whittle = false;
    // DIR/stem for the local dimension map (DIR/stem-map.tif and .png, or
    // DIR/stem#page-map.*); empty for none.  Windows of mapWindow pixels,
    // mapStep apart.
    std::string mapStem;
    int mapWindow = 64, mapStep = 32;
    // DIR/stem for the spectrum pictures (DIR/stem-spectrum.bmp, or
    // DIR/stem#page-spectrum.bmp for a stack); empty for none.
    std::string spectrumStem;
    // DIR/stem for the plots of the fits, one SVG a page (DIR/stem-plot.svg);
    // empty for none.
    std::string plotStem;
    // What draws: the plots as an SVG file, and the map's colour picture.
    // Front ends that draw set them (orvane-batch from its drawing module);
    // unset, no plot is written and a map only as its TIFF.
    std::function<void(const std::vector<PlotData>& plots, int width, int height, const std::string& path)> savePlots;
    ColourMapWriter saveColourMap;
    // Asked before each page after the first: once it says true, the pages
    // left are not analysed (a stack of thousands stops at Ctrl-C).  Empty:
    // never.
    std::function<bool()> interrupted;
};

struct PageAnalysis {
    std::string name;    // the file's path, or path#page (from 1) for a page of a stack
    std::string error;   // non-empty: the page could not be read, analysed or written, and nothing below is set
    bool outOfMemory = false;
    int width = 0, height = 0;
    int paddedWidth = 0, paddedHeight = 0;
    double d1 = 0, d2 = 0;        // Metoda 1 and 2: D = -2 / slope
    FitPoints points1, points2;
    std::vector<std::string> estimateFailures;  // the methods' failure messages, with the method named
    bool psdDone = false;
    std::string psdError;         // why the spectral estimate failed, when it was asked for
    PsdResult psd;
    bool whittleDone = false;
    std::string whittleError;     // why the Whittle estimate failed, when it was asked for
    WhittleResult whittle;
    std::string mapError;         // why the map failed, when it was asked for
    bool paramsDone = false;
    std::string paramsError;      // why the surface parameters failed, when they were asked for
    SurfaceParameters params;
    double dx = 0, dy = 0;        // the pixel's size in metres (the file's, or the options'); 0: unknown
    double missing = 0;           // the share of points not measured (NaN), 0 .. 1
    double heightScale = 0;       // metres a stored height unit (the file's, or the options'); 0: unknown
};

struct FileAnalysis {
    std::string error;  // non-empty: the file could not be read; pages is empty
    std::vector<PageAnalysis> pages;
    bool outOfMemory() const;
};

// Reads the file once and analyses each of its pages as the window does
// (Metoda 1 and 2 on the 8-bit view), with the spectral estimate on the full
// depth when asked.  Never throws: every failure is in the result.
FileAnalysis analyseFile(const std::string& path, const FileAnalysisOptions& options);
