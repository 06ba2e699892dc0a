// Fitting the Whittle likelihood: the model near an anchor, the likelihood
// with its score and information, Fisher scoring, and the sandwich
// covariance of the parameters.
#pragma once

#include "analysis/matrix.h"
#include "analysis/whittle.h"
#include "analysis/whittle_kernels.h"
#include "analysis/whittle_model.h"

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

namespace whittle {

// The frequencies fitted, one of each conjugate pair (the periodogram of a
// real picture is even): their places in the grid, frequencies, the
// periodogram, the Laplacian's gain and the noise's expected periodogram.
struct Ordinates {
    std::uint32_t PW = 0, PH = 0;
    std::vector<std::size_t> index;
    std::vector<double> fx, fy, I, gain, noise;
};

// Which ordinates a model's grid fits (I left empty): one of each
// conjugate pair, all but the mean, those below `lowest` cycles per pixel,
// and the Nyquist lines with the lines beside them (where the band's edges
// meet, and the model is least sure).
Ordinates ordinatesOf(const ExpectedPeriodogram& model, double lowest);

// The periodogram of the W x H picture's Laplacian, tapered by hx and hy, on
// the model's whole grid.  Throws std::invalid_argument for a value that is
// not a finite number and a picture that is flat once its plane is removed.
template <class T>
std::vector<double> laplacianPeriodogram(const T* values, int W, int H, const ExpectedPeriodogram& model,
                                         const std::vector<double>& hx, const std::vector<double>& hy);

// The exact expected periodogram's surface part over f |G|^2 at each
// ordinate (the taper's blur and the band's edges), worked out at one or
// more values of H (rising), the other parameters held.
struct Anchors {
    std::vector<double> hurst;
    std::vector<std::vector<double>> ratio;
    // `surface` is ExpectedPeriodogram::evaluate's at p, on the whole grid.
    void add(const Parameters& p, const std::vector<double>& surface, const Ordinates& ordinates);
};

// The expected periodogram near its anchors: R f(w; p) |G|^2 + eta N, with R
// the anchors' ratio, read linearly in H between them (held beyond).  With
// one anchor p0, R is held while p moves: the model is exact at p0, costs
// one spectrum a frequency, and its score, which leaves out how R moves,
// still has mean zero at the truth; fitted and re-anchored until the
// anchor stays put, it finds the exact model's estimate.  With anchors
// across H and the other parameters held, it is near exact for any H.
class AnchoredModel {
public:
    AnchoredModel(const Ordinates& ordinates, const Anchors& anchors) : o(ordinates), anchors(anchors) {}
    // What the kernels read to evaluate it at p: the ordinates, and the
    // anchors' ratios either side of p's H with where it lies between them.
    AnchoredInputs inputsAt(const Parameters& p) const;

private:
    const Ordinates& o;
    const Anchors& anchors;
};

// What one evaluation of the model gives against the periodogram.
struct Fit {
    double objective = 0;                          // sum of ln mean + I / mean
    std::vector<double> score;                     // minus its gradient
    std::vector<std::vector<double>> information;  // the expected Hessian
};

class Likelihood {
public:
    Likelihood(const AnchoredModel& model, const Ordinates& ordinates, const std::vector<int>& active)
        : model(model), o(ordinates), active(active)
    {
    }
    // The objective at p, with `derivatives` its score and information;
    // with `keep` the model's mean and gradient at every ordinate are kept,
    // for lastMean and lastGradient.
    Fit at(const Parameters& p, bool derivatives, bool keep = false);
    const std::vector<double>& lastMean() const { return mean; }
    const std::array<std::vector<double>, parameterCount>& lastGradient() const { return gradient; }
    const std::vector<int>& parameters() const { return active; }
    const Ordinates& ordinates() const { return o; }

private:
    Fit part(const Parameters& p, bool derivatives, bool keep, std::size_t first, std::size_t last);

    const AnchoredModel& model;
    const Ordinates& o;
    const std::vector<int>& active;
    std::vector<double> mean;
    std::array<std::vector<double>, parameterCount> gradient;
};

struct Bounds {
    std::pair<double, double> lnKappa;
    double lnNoise = -700;
};

struct Scoring {
    int iterations = 0;
    bool converged = false;
    double objective = 0;  // at the p left
};

// Fisher scoring from p over the likelihood's parameters, each step along
// F^-1 score, shortened to move no parameter further than its limit and
// halved until the objective falls; p is left at the minimum found.
Scoring fisherScoring(Likelihood& likelihood, Parameters& p, const Bounds& bounds, int maxIterations);

// The variance of the score along b for ordinates correlated as the taper
// makes them, 2 sum b (b conv K): b = sum_j c_j a_j, a_j = d mean / d
// theta_j / mean on the frequencies used (even, zero elsewhere) over the
// whole PW x PH grid, which `b` holds (real, and transformed in place), K
// the periodogram's correlation (see correlationTransform).
double scoreVariance(matrix& b, const std::vector<double>& hx, const std::vector<double>& hy, std::uint32_t PW,
                     std::uint32_t PH);

// The sandwich variance F^-1 J F^-1 of the parameter at `which` among the
// likelihood's, at its last evaluation `fit` (with derivatives), for
// ordinates correlated as the taper makes them; NaN when F is singular.
double sandwichVariance(const Likelihood& likelihood, const Fit& fit, const std::vector<double>& hx,
                        const std::vector<double>& hy, std::size_t which);

// ln s2 at which the filtered spectrum f |G|^2 has the periodogram's total
// over the ordinates, p's other parameters held: where a fit starts.
double matchedLnVariance(const Ordinates& ordinates, Parameters p);

// The model's parameters that a result reports.
Parameters parametersOf(const WhittleResult& result);

}  // namespace whittle
