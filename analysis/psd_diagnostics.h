// What the spectral estimate knows about itself: the checks behind its
// flags (see PsdResult::flags), each a function of what the stages found.
#pragma once

#include "analysis/psd_stages.h"

#include <cstddef>
#include <string>
#include <vector>

namespace psd {

// The 0.995 quantile of Student's t with `df` degrees of freedom.
double tQuantile995(int df);

// The t statistic of the quadratic term of a weighted parabola through the
// fitted bins (weights as fitLine's, its error widened as the interval's),
// in ln q about the bins' weighted mean; 0 with fewer than 5 bins.
double curvatureT(const std::vector<PsdBin>& bins, const std::vector<double>& kept, double kappa);
// The same for points (x, y) with weights w, x about its weighted mean.
double curvatureT(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& w);

// The statistics of `count` values in one pass (see ValueStats).
template <class T>
ValueStats valueStats(const T* values, std::size_t count, int limit);

// The flags of a finished estimate (see PsdResult::flags).  `floorCut`: how
// many bins inside the fit range asked for the noise left out.
std::vector<std::string> diagnose(const PsdResult& result, double curvature, int curvatureDf, int floorCut,
                                  const ValueStats& values, std::size_t samples);

// How many bins with frequencies inside [fitMin, fitMax] the noise leaves
// out of the fit: those of the range less those fitted.
int binsCutByNoise(const RadialSpectrum& spectrum, double fitMin, double fitMax, int binsFitted);

}  // namespace psd
