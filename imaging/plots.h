// The plots of the estimates: each fit as the toolkit's plot draws it.
#pragma once

#include "analysis/matrix.h"
#include "toolkit/plot_data.h"

// Metoda 1 or 2: ln threshold against ln count, every point fitted, and the
// least-squares line of slope -2 / D through their centre.
PlotData methodPlot(int method, const FitPoints& points, double d);
// The spectral estimate: ln q against ln PSD of every bin, the fitted bins
// filled, the fitted line, and D with its interval.
// With the pixel's size in metres (plotPixelSize), the frame's top edge gives
// the ticks' wavelengths too.
PlotData psdPlot(const PsdResult& psd, double pixelSize = 0);
// The pixel size a plot of a picture's spectrum gives its wavelengths by: the
// geometric mean of its sides, as a fit range in wavelengths takes it; 0
// when either is unknown.
double plotPixelSize(double dx, double dy);
// The same plot with English axis labels and titles, for the files the batch
// tool and Python write (the methods keep their names, "Metoda 1" and "2").
PlotData inEnglish(PlotData plot);

// "2.5123 [2.4901; 2.5345]": the spectral D and its interval as the window shows them.
std::string psdText(const PsdResult& psd);

// The Whittle estimate: the periodogram's rings (ln q against ln of their
// mean), the fitted model's radial profile over them as a curve, and D with
// its interval and the anisotropy.
PlotData whittlePlot(const WhittleResult& whittle, double pixelSize = 0);
// "W 2.4950 [2.4761; 2.5139] r 1.01, 73°": as the window shows it.
std::string whittleText(const WhittleResult& whittle);
