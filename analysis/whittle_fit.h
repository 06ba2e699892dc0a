// Fitting the Whittle likelihood: the model near an anchor, the likelihood
// with its score and information, Fisher scoring, and the sandwich
// covariance of the parameters.
#pragma once

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

// The expected periodogram near an anchor p0: R f(w; p) |G|^2 + eta N, with
// R the exact surface part over f |G|^2 at p0 (the taper's blur and the
// band's edges), held while p moves.  It is exact at the anchor, costs one
// spectrum a frequency, and its score, which leaves out how R moves, still
// has mean zero at the truth: fitted and re-anchored until the anchor stays
// put, it finds the exact model's estimate to within its own precision.
class AnchoredModel {
public:
    explicit AnchoredModel(const Ordinates& ordinates) : o(ordinates) {}
    // `surface` is ExpectedPeriodogram::evaluate's at p, on the whole grid.
    void anchor(const Parameters& p, const std::vector<double>& surface);
    // The mean and (when asked) its derivatives at every ordinate.
    void evaluate(const Parameters& p, std::vector<double>& mean,
                  std::array<std::vector<double>, parameterCount>* gradient) const;

private:
    const Ordinates& o;
    std::vector<double> ratio;
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
    Fit at(const Parameters& p, bool derivatives);
    const std::vector<double>& lastMean() const { return mean; }
    const std::array<std::vector<double>, parameterCount>& lastGradient() const { return gradient; }
    const std::vector<int>& parameters() const { return active; }
    const Ordinates& ordinates() const { return o; }

private:
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
};

// Fisher scoring from p over the likelihood's parameters, each step along
// F^-1 score, shortened to move no parameter further than its limit and
// halved until the objective falls; p is left at the minimum found.
Scoring fisherScoring(Likelihood& likelihood, Parameters& p, const Bounds& bounds, int maxIterations);

// The sandwich variance F^-1 J F^-1 of the parameter at `which` among the
// likelihood's, at its last evaluation `fit` (with derivatives), for
// ordinates correlated as the taper makes them; NaN when F is singular.
double sandwichVariance(const Likelihood& likelihood, const Fit& fit, const std::vector<double>& hx,
                        const std::vector<double>& hy, std::size_t which);

}  // namespace whittle
