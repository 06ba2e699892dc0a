// Plot data from the estimators' records.
#include "imaging/plots.h"

#include "imaging/numbertext.h"

#include <cmath>
#include <cstdio>

namespace {

// The window's plot words and their English.
const char* const plotWords[][2] = {{"ln progu", "ln threshold"},
                                    {"ln liczby", "ln count"},
                                    {"Widmo mocy", "Power spectrum"},
                                    {"ln q (cykle na piksel)", "ln q (cycles per pixel)"},
                                    {"Za mało punktów do wykresu", "Too few points to plot"},
                                    {"długość fali", "wavelength"}};

}  // namespace

double plotPixelSize(double dx, double dy) { return dx > 0 && dy > 0 ? std::sqrt(dx * dy) : 0.0; }

PlotData inEnglish(PlotData plot)
{
    for (std::string* text : {&plot.title, &plot.xLabel, &plot.yLabel, &plot.tooFewPoints, &plot.topLabel})
        for (const auto& words : plotWords)
            if (*text == words[0]) *text = words[1];
    return plot;
}

PlotData methodPlot(int method, const FitPoints& points, double d)
{
    PlotData plot;
    plot.title = "Metoda " + std::to_string(method);
    plot.result = "D = " + FloatToStr(d);
    plot.xLabel = "ln progu";
    plot.yLabel = "ln liczby";
    double sx = 0, sy = 0;
    for (int i = points.first; i < points.first + points.count; ++i) {
        plot.x.push_back(points.x[i]);
        plot.y.push_back(points.y[i]);
        sx += points.x[i];
        sy += points.y[i];
    }
    const double slope = -2.0 / d;
    if (points.count > 1 && std::isfinite(slope) && std::isfinite(sx + sy)) {
        plot.line = true;
        plot.slope = slope;
        plot.intercept = (sy - slope * sx) / points.count;
    }
    return plot;
}

std::string psdText(const PsdResult& psd)
{
    if (!psd.fitted()) return "(" + psdFlagsText(psd) + ")";
    char text[96];
    std::snprintf(text, sizeof text, "%.4f [%.4f; %.4f]", psd.dimension, psd.dimensionLow, psd.dimensionHigh);
    // What the estimate says about itself goes with the number.
    return psd.flags.empty() ? std::string(text) : std::string(text) + " (" + psdFlagsText(psd) + ")";
}

std::string whittleText(const WhittleResult& whittle)
{
    char text[128];
    std::snprintf(text, sizeof text, "W %.4f [%.4f; %.4f] r %.2f, %.0f\u00b0", whittle.dimension, whittle.dimensionLow,
                  whittle.dimensionHigh, whittle.anisoRatio, whittle.anisoAngle);
    return whittle.flags.empty() ? std::string(text) : std::string(text) + " (" + whittleFlagsText(whittle) + ")";
}

PlotData whittlePlot(const WhittleResult& whittle, double pixelSize)
{
    PlotData plot;
    plot.pixelSize = pixelSize > 0 && std::isfinite(pixelSize) ? pixelSize : 0;
    plot.title = "Periodogram (Whittle)";
    plot.result = "D = " + whittleText(whittle).substr(2);
    plot.xLabel = "ln q (cykle na piksel)";
    plot.yLabel = "ln periodogram";
    for (const WhittleRing& ring : whittle.rings) {
        plot.x.push_back(ring.lnQ);
        plot.y.push_back(ring.lnData);
        plot.curveX.push_back(ring.lnQ);
        plot.curveY.push_back(ring.lnModel);
    }
    return plot;
}

PlotData psdPlot(const PsdResult& psd, double pixelSize)
{
    PlotData plot;
    plot.pixelSize = pixelSize > 0 && std::isfinite(pixelSize) ? pixelSize : 0;
    plot.title = "Widmo mocy";
    plot.result = "D = " + psdText(psd);
    plot.xLabel = "ln q (cykle na piksel)";
    plot.yLabel = "ln PSD";
    for (const PsdBin& bin : psd.bins) {
        plot.x.push_back(bin.lnQ);
        plot.y.push_back(bin.lnPsd);
        plot.fitted.push_back(bin.fitted);
    }
    plot.line = psd.fitted();
    plot.slope = -psd.beta;
    plot.intercept = psd.intercept;
    return plot;
}
