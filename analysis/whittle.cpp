// The debiased Whittle estimate: the periodogram of the picture's tapered
// Laplacian, fitted by Fisher scoring to the model's expected periodogram,
// with a sandwich covariance for the periodogram's correlated ordinates.
#include "analysis/whittle.h"

#include "analysis/fourier.h"
#include "analysis/matrix.h"
#include "analysis/psd.h"
#include "analysis/psd_stages.h"
#include "analysis/thread_pool.h"
#include "analysis/value_scale.h"
#include "analysis/whittle_fit.h"
#include "analysis/whittle_model.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <stdexcept>

namespace {

constexpr double pi = 3.14159265358979323846;
using whittle::parameterCount;
using whittle::Parameters;

// Where H starts: the radial estimate's, a transform's cost, when it has
// one inside (0, 1); 0.5 otherwise.
template <class T>
double startingHurst(const T* values, int W, int H)
{
    try {
        const PsdResult radial = estimatePsdDimension(values, W, H);
        if (radial.fitted() && radial.hurst > 0.05 && radial.hurst < 0.95) return radial.hurst;
    } catch (const std::invalid_argument&) {
        // too small or flat for it: the middle
    }
    return 0.5;
}

// The periodogram and the model, the filter's gain taken off, averaged over
// rings eight to an octave (edges 0.5 * 2^(-k/8)), over the frequencies
// fitted inside q < 0.5: one of each conjugate pair, which holds the same
// values as the other, counted twice.
std::vector<WhittleRing> ringsOf(const whittle::Ordinates& o, const std::vector<double>& mean)
{
    struct Sum {
        double lnQ = 0, data = 0, model = 0;
        long long count = 0;
    };
    std::vector<Sum> sums;
    constexpr double ln2 = 0.693147180559945309417;
    for (std::size_t i = 0; i < o.index.size(); ++i) {
        const double q2 = o.fx[i] * o.fx[i] + o.fy[i] * o.fy[i];
        if (!(q2 < 0.25)) continue;
        // log2(4 q^2) = 2 log2(2 q): the ring -8 log2(2 q) and ln q from one logarithm.
        const double octaves = std::log2(4 * q2);
        const std::size_t k = static_cast<std::size_t>(std::floor(-4 * octaves));
        if (k >= sums.size()) sums.resize(k + 1);
        sums[k].lnQ += (0.5 * octaves - 1) * ln2;
        sums[k].data += o.I[i] / o.gain[i];
        sums[k].model += mean[o.index[i]] / o.gain[i];
        ++sums[k].count;
    }
    std::vector<WhittleRing> rings;
    for (std::size_t k = sums.size(); k-- > 0;)
        if (sums[k].count > 0)
            rings.push_back({sums[k].lnQ / sums[k].count, std::log(sums[k].data / sums[k].count),
                             std::log(sums[k].model / sums[k].count), 2 * sums[k].count});
    return rings;
}

// The ordinates fitted (see whittle::ordinatesOf), those below
// `lowestCycles` across the shorter side left out, with the periodogram of
// the picture's tapered Laplacian at each.
struct Periodogram {
    whittle::Ordinates ordinates;
    double median = 0;  // of the fitted ordinates, the filter's gain taken off
};

template <class T>
Periodogram taperedPeriodogram(const T* values, int W, int H, const whittle::ExpectedPeriodogram& model,
                               const std::vector<double>& hx, const std::vector<double>& hy, double lowestCycles)
{
    Periodogram out;
    const std::vector<double> I = whittle::laplacianPeriodogram(values, W, H, model, hx, hy);
    whittle::Ordinates& o = out.ordinates;
    o = whittle::ordinatesOf(model, lowestCycles / std::min(W, H));
    if (o.index.empty()) throw std::invalid_argument("the image has no frequencies left to fit");
    o.I.resize(o.index.size());
    std::vector<double> fitted(o.index.size());
    for (std::size_t i = 0; i < o.index.size(); ++i) {
        o.I[i] = I[o.index[i]];
        fitted[i] = o.I[i] / o.gain[i];
    }
    std::nth_element(fitted.begin(), fitted.begin() + static_cast<std::ptrdiff_t>(fitted.size() / 2), fitted.end());
    out.median = fitted[fitted.size() / 2];
    return out;
}

// Where the fit starts: H as given, isotropic, the crossover at the
// picture's size, noise a thousandth of the periodogram's median, and the
// variance that matches the periodogram's total over the fitted ordinates
// (by the filtered spectrum, near enough for a start).
Parameters startingParameters(const Periodogram& periodogram, double hurst, int W, int H, bool noise)
{
    Parameters p = {0.0, hurst, std::log(1.0 / std::max(W, H)), 0.0, 0.0,
                    noise ? std::log(periodogram.median * 1e-3) : -700.0};
    p[whittle::lnVariance] = whittle::matchedLnVariance(periodogram.ordinates, p);
    return p;
}

// Fits the anchored model, re-anchoring at each fit's end, until a fit
// stays by its anchor (D and the anisotropy within 1e-4) or after six
// anchors; `surface` is left the exact model's at the last anchor.  The
// noise is fitted after the rest (its direction is flat while it is
// negligible) and kept only when it raises the likelihood beyond chance:
// by more than 5.4, twice which is chi-squared's 99.9 % point, strict
// because the taper makes neighbouring ordinates count twice over.  Below
// that it only trades against H.  `active` loses the noise then.
struct Anchoring {
    int iterations = 0;
    bool converged = false;
};

Anchoring fitByAnchors(const whittle::ExpectedPeriodogram& model, whittle::Anchors& anchors,
                       const whittle::AnchoredModel& anchored, const whittle::Ordinates& ordinates,
                       std::vector<int>& active, Parameters& p, const whittle::Bounds& bounds,
                       const WhittleOptions& options, std::vector<double>& surface)
{
    Anchoring result;
    for (int round = 0; round < 6; ++round) {
        model.evaluate(p, surface);
        anchors = {};
        anchors.add(p, surface, ordinates);
        const Parameters before = p;
        whittle::Likelihood likelihood(anchored, ordinates, active);
        if (round == 0 && options.noise) {
            std::vector<int> quiet(active.begin(), active.end() - 1);
            whittle::Likelihood withoutNoise(anchored, ordinates, quiet);
            const whittle::Scoring quietScoring = whittle::fisherScoring(withoutNoise, p, bounds, options.maxIterations);
            result.iterations += quietScoring.iterations;
            const Parameters withoutNoiseFound = p;
            const whittle::Scoring scoring = whittle::fisherScoring(likelihood, p, bounds, options.maxIterations);
            result.iterations += scoring.iterations;
            result.converged = scoring.converged;
            if (!(quietScoring.objective - scoring.objective > 5.4)) {
                p = withoutNoiseFound;
                p[whittle::lnNoise] = -700;
                active = quiet;
            }
        } else {
            const whittle::Scoring scoring = whittle::fisherScoring(likelihood, p, bounds, options.maxIterations);
            result.iterations += scoring.iterations;
            result.converged = scoring.converged;
        }
        double moved = 0;
        for (int j : {whittle::hurst, whittle::anisoA, whittle::anisoB})
            moved = std::max(moved, std::fabs(p[static_cast<std::size_t>(j)] - before[static_cast<std::size_t>(j)]));
        if (moved < 1e-4) return result;  // the anchor held: near enough to p
        result.converged = false;  // until an anchor holds
    }
    model.evaluate(p, surface);
    anchors = {};
    anchors.add(p, surface, ordinates);
    return result;
}

// The result's numbers from the parameters found and the variance of H.
WhittleResult resultOf(const Parameters& p, double varianceH, bool noise)
{
    WhittleResult r;
    r.hurst = p[whittle::hurst];
    r.hurstStdError = std::sqrt(varianceH);
    r.dimension = 3 - r.hurst;
    r.dimensionLow = r.dimension - 1.959963984540054 * r.hurstStdError;
    r.dimensionHigh = r.dimension + 1.959963984540054 * r.hurstStdError;
    r.variance = std::exp(p[whittle::lnVariance]);
    r.crossover = std::exp(-p[whittle::lnKappa]);
    r.noise = noise ? std::exp(p[whittle::lnNoise]) : 0.0;
    const double t = std::hypot(p[whittle::anisoA], p[whittle::anisoB]);
    r.anisoRatio = std::exp(t);
    // The long direction in the array's axes (y down) is half the angle of
    // (a, b); seen with y up it turns the other way.
    double angle = t > 0 ? -0.5 * std::atan2(p[whittle::anisoB], p[whittle::anisoA]) * 180 / pi : 0.0;
    angle = std::fmod(angle + 360.0, 180.0);
    r.anisoAngle = angle >= 180.0 ? 0.0 : angle;
    return r;
}

// A result fitted to the values times `factor`, in the values' own unit:
// the variances and the rings' powers divided by factor^2.
WhittleResult inUnitOf(WhittleResult r, double factor)
{
    const double square = factor * factor, lnSquare = 2 * std::log(factor);
    r.variance /= square;
    r.noise /= square;
    for (WhittleRing& ring : r.rings) {
        ring.lnData -= lnSquare;
        ring.lnModel -= lnSquare;
    }
    return r;
}

}  // namespace

whittle::Parameters whittle::parametersOf(const WhittleResult& r)
{
    // resultOf's angle is -half the angle of (a, b), in degrees.
    const double t = std::log(r.anisoRatio), turn = -2 * r.anisoAngle * pi / 180;
    return {std::log(r.variance), r.hurst, -std::log(r.crossover), t * std::cos(turn), t * std::sin(turn),
            r.noise > 0 ? std::log(r.noise) : -700.0};
}

std::string whittleFlagsText(const WhittleResult& result)
{
    std::string text;
    for (const std::string& flag : result.flags) text += (text.empty() ? "" : ";") + flag;
    return text;
}

template <class T>
WhittleResult estimateWhittleDimension(const T* values, int W, int H, const WhittleOptions& options)
{
    if (W < 16 || H < 16)
        throw std::invalid_argument("the image (" + std::to_string(W) + " x " + std::to_string(H) +
                                    " pixels) is too small for the Whittle estimate: each side must be at least 16");
    // The Laplacian's interior, tapered, on a grid of powers of two; the
    // model sums its covariance on a grid twice as fine.
    const int w = W - 2, h = H - 2;
    const std::uint32_t PW = powerOfTwoAtLeast(w), PH = powerOfTwoAtLeast(h);
    if (8.0 * PW * PH >= static_cast<double>(matrixSizeLimit))
        throw std::invalid_argument("the image (" + std::to_string(W) + " x " + std::to_string(H) +
                                    " pixels) is too large for the Whittle estimate");
    // Values whose squares would overflow or vanish are fitted in a unit
    // near their size, and the result's variances given back in theirs.
    const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
    if (const double factor = scaling::extremeScale(values, n); factor != 1.0)
        return inUnitOf(estimateWhittleDimension(scaling::scaledCopy(values, n, factor).data(), W, H, options),
                        factor);
    const std::vector<double> hx = whittle::tukeyTaper(w, options.taper), hy = whittle::tukeyTaper(h, options.taper);
    // The radial estimate that gives H its start runs beside the model's
    // set-up and the periodogram, on a second core when there is one.
    std::optional<whittle::ExpectedPeriodogram> built;
    std::optional<Periodogram> measured;
    double hurst = 0.5;
    std::exception_ptr failed[2];
    auto setUp = [&](int part) {
        try {
            if (part == 0) {
                built.emplace(hx, hy, PW, PH);
                measured.emplace(taperedPeriodogram(values, W, H, *built, hx, hy, options.lowestCycles));
            } else {
                hurst = startingHurst(values, W, H);
            }
        } catch (...) {
            failed[part] = std::current_exception();
        }
    };
    if (analysisThreads() > 1) {
        runParts(2, setUp);
    } else {
        setUp(0);
        setUp(1);
    }
    for (const std::exception_ptr& failure : failed)
        if (failure) std::rethrow_exception(failure);
    const whittle::ExpectedPeriodogram& model = *built;
    const Periodogram& periodogram = *measured;

    std::vector<int> active = {whittle::lnVariance, whittle::hurst, whittle::lnKappa};
    if (options.anisotropy) active.insert(active.end(), {whittle::anisoA, whittle::anisoB});
    if (options.noise) active.push_back(whittle::lnNoise);
    Parameters p = startingParameters(periodogram, hurst, W, H, options.noise);
    whittle::Bounds bounds;
    bounds.lnKappa = {std::log(1e-4 / std::max(W, H)), std::log(10.0)};
    bounds.lnNoise = std::log(periodogram.median * 1e-8);
    whittle::Anchors anchors;
    const whittle::AnchoredModel anchored(periodogram.ordinates, anchors);
    std::vector<double> surface;
    const Anchoring fitted =
        fitByAnchors(model, anchors, anchored, periodogram.ordinates, active, p, bounds, options, surface);
    // The interval: the parameters the data cannot place are held, a
    // crossover beyond a hundred pictures (the surface self-affine across
    // it) and the noise at its floor, as their directions are flat.
    std::vector<int> placed;
    for (int j : active)
        if (!(j == whittle::lnKappa && p[whittle::lnKappa] < std::log(0.01 / std::max(W, H))) &&
            !(j == whittle::lnNoise && p[whittle::lnNoise] <= bounds.lnNoise))
            placed.push_back(j);
    whittle::Likelihood likelihood(anchored, periodogram.ordinates, placed);
    const whittle::Fit fit = likelihood.at(p, true, true);
    const auto hurstAt = std::find(placed.begin(), placed.end(), static_cast<int>(whittle::hurst));
    const double varianceH = whittle::sandwichVariance(likelihood, fit, hx, hy,
                                                       static_cast<std::size_t>(hurstAt - placed.begin()));

    WhittleResult r = resultOf(p, varianceH, options.noise);
    r.iterations = fitted.iterations;
    r.converged = fitted.converged;
    r.frequencies = static_cast<int>(2 * periodogram.ordinates.index.size());
    const double eta = std::exp(p[whittle::lnNoise]);
    for (std::size_t i = 0; i < surface.size(); ++i) surface[i] += eta * model.noise()[i];
    r.rings = ringsOf(periodogram.ordinates, surface);
    const double inside = std::max(0.0, std::min(r.dimensionHigh, 3.0) - std::max(r.dimensionLow, 2.0));
    if (!(varianceH > 0) || r.hurst <= 0.005 || r.hurst >= 0.995 || inside < 0.5 * (r.dimensionHigh - r.dimensionLow))
        r.flags.push_back("out_of_range");
    if (!r.converged || !std::isfinite(fit.objective)) r.flags.push_back("no_convergence");
    return r;
}

#define ORVANE_WHITTLE_TYPE(T) \
    template WhittleResult estimateWhittleDimension(const T*, int, int, const WhittleOptions&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_WHITTLE_TYPE)
#undef ORVANE_WHITTLE_TYPE
