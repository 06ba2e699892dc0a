// What a plot shows, as plain data: the programs that draw no plot build it
// too, and hand it to the code that draws.
#pragma once

#include <string>
#include <vector>

struct PlotData {
    std::string title;         // "Metoda 1", "PSD"
    std::string result;        // "D = 3.22743553297671", "D = 2.5123 [2.4901; 2.5345]"
    std::string xLabel, yLabel;
    std::vector<double> x, y;  // the points; pairs that are not finite are left out
    std::vector<bool> fitted;  // per point; empty: every point is fitted
    bool line = false;         // y = intercept + slope x over the fitted points' x range
    double slope = 0, intercept = 0;
    // A model's curve through (curveX, curveY), drawn over the points.
    std::vector<double> curveX, curveY;
    std::string tooFewPoints = "Za mało punktów do wykresu";  // shown in the frame when fewer than two
    // For x = ln q in cycles per pixel: the pixel's size in metres when it is
    // known (0 otherwise).  The frame's top edge then gives the wavelength,
    // in metres, of each of the bottom axis's ticks, under `topLabel`.
    double pixelSize = 0;
    std::string topLabel = "długość fali";
};
