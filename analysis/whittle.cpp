// The debiased Whittle estimate: the picture's periodogram, fitted by
// Fisher scoring to the model's expected periodogram, with a sandwich
// covariance for the periodogram's correlated ordinates.
#include "analysis/whittle.h"

#include "analysis/fourier.h"
#include "analysis/matrix.h"
#include "analysis/psd_stages.h"
#include "analysis/whittle_model.h"

#include <algorithm>
#include <cmath>
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

// x solving m x = y for a small dense system (partial pivoting); false
// when m is singular.
bool solve(std::vector<std::vector<double>> m, std::vector<double>& x)
{
    const std::size_t n = x.size();
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
        if (!(std::fabs(m[pivot][c]) > 0)) return false;
        std::swap(m[c], m[pivot]);
        std::swap(x[c], x[pivot]);
        for (std::size_t r = c + 1; r < n; ++r) {
            const double f = m[r][c] / m[c][c];
            for (std::size_t k = c; k < n; ++k) m[r][k] -= f * m[c][k];
            x[r] -= f * x[c];
        }
    }
    for (std::size_t c = n; c-- > 0;) {
        for (std::size_t k = c + 1; k < n; ++k) x[c] -= m[c][k] * x[k];
        x[c] /= m[c][c];
    }
    return true;
}

// What one evaluation of the model gives against the periodogram.
struct Fit {
    double objective = 0;                            // sum of ln mean + I / mean
    std::vector<double> score;                       // minus its gradient
    std::vector<std::vector<double>> information;    // the expected Hessian
};

class Likelihood {
public:
    Likelihood(const whittle::ExpectedPeriodogram& model, const std::vector<double>& periodogram,
               const std::vector<char>& used, const std::vector<int>& active)
        : model(model), I(periodogram), used(used), active(active)
    {
    }

    Fit at(const Parameters& p, bool derivatives)
    {
        model.evaluate(p, mean, derivatives ? &gradient : nullptr);
        Fit f;
        const std::size_t m = active.size();
        if (derivatives) {
            f.score.assign(m, 0.0);
            f.information.assign(m, std::vector<double>(m, 0.0));
        }
        for (std::size_t i = 0; i < I.size(); ++i) {
            if (!used[i]) continue;
            if (!(mean[i] > 0)) {
                f.objective = INFINITY;
                return f;
            }
            f.objective += std::log(mean[i]) + I[i] / mean[i];
            if (!derivatives) continue;
            const double inv = 1 / mean[i], residual = (I[i] - mean[i]) * inv * inv;
            for (std::size_t j = 0; j < m; ++j) {
                const double gj = gradient[static_cast<std::size_t>(active[j])][i];
                f.score[j] += gj * residual;
                for (std::size_t k = 0; k <= j; ++k)
                    f.information[j][k] += gj * gradient[static_cast<std::size_t>(active[k])][i] * inv * inv;
            }
        }
        for (std::size_t j = 0; derivatives && j < m; ++j)
            for (std::size_t k = 0; k < j; ++k) f.information[k][j] = f.information[j][k];
        return f;
    }

    const std::vector<double>& lastMean() const { return mean; }
    const std::array<std::vector<double>, parameterCount>& lastGradient() const { return gradient; }

private:
    const whittle::ExpectedPeriodogram& model;
    const std::vector<double>& I;
    const std::vector<char>& used;
    const std::vector<int>& active;
    std::vector<double> mean;
    std::array<std::vector<double>, parameterCount> gradient;
};

// The score's covariance for ordinates correlated as the taper makes them:
// J = 2 sum a_j (a_k conv K), a_j = d mean / d theta_j / mean on the
// frequencies used, K the periodogram's correlation (see whittle_model.h).
std::vector<std::vector<double>> scoreCovariance(const std::vector<std::vector<double>>& a,
                                                 const std::vector<double>& K, std::uint32_t PW, std::uint32_t PH)
{
    const std::size_t n = std::size_t{PW} * PH, m = a.size();
    matrix kernel(static_cast<int>(PH), static_cast<int>(2 * PW), nullptr);
    for (std::size_t i = 0; i < n; ++i) kernel.getData()[2 * i] = K[i];
    fourierTransform2D(kernel.getData(), PW, PH, -1);
    std::vector<std::vector<double>> convolved(m);
    for (std::size_t j = 0; j < m; j += 2) {
        // Two real sequences at once, as the real and imaginary parts.
        matrix grid(static_cast<int>(PH), static_cast<int>(2 * PW), nullptr);
        double* g = grid.getData();
        for (std::size_t i = 0; i < n; ++i) {
            g[2 * i] = a[j][i];
            g[2 * i + 1] = j + 1 < m ? a[j + 1][i] : 0.0;
        }
        fourierTransform2D(g, PW, PH, -1);
        for (std::size_t i = 0; i < n; ++i) {
            g[2 * i] *= kernel.getData()[2 * i];
            g[2 * i + 1] *= kernel.getData()[2 * i];
        }
        fourierTransform2D(g, PW, PH, 1);  // scaled by 1 / n
        convolved[j].resize(n);
        for (std::size_t i = 0; i < n; ++i) convolved[j][i] = g[2 * i];
        if (j + 1 < m) {
            convolved[j + 1].resize(n);
            for (std::size_t i = 0; i < n; ++i) convolved[j + 1][i] = g[2 * i + 1];
        }
    }
    std::vector<std::vector<double>> J(m, std::vector<double>(m, 0.0));
    for (std::size_t j = 0; j < m; ++j)
        for (std::size_t k = 0; k < m; ++k) {
            double s = 0;
            for (std::size_t i = 0; i < n; ++i) s += a[j][i] * convolved[k][i];
            J[j][k] = 2 * s;
        }
    return J;
}

struct Bounds {
    std::pair<double, double> lnKappa;
    double lnNoise = -700;
};

struct Scoring {
    int iterations = 0;
    bool converged = false;
};

// Fisher scoring from p over the parameters `active`, each step along
// F^-1 score, shortened to move no parameter further than its limit and
// halved until the objective falls; p is left at the minimum found.
Scoring fisherScoring(Likelihood& likelihood, const std::vector<int>& active, Parameters& p, const Bounds& bounds,
                      int maxIterations)
{
    const double limits[parameterCount] = {3.0, 0.1, 2.0, 0.5, 0.5, 3.0};
    Scoring result;
    Fit fit = likelihood.at(p, true);
    for (; result.iterations < maxIterations; ++result.iterations) {
        // A parameter held at a bound that the step would push past is
        // left where it is, and the step taken in the others.
        std::vector<char> held(active.size(), 0);
        std::vector<double> step;
        bool solved = false;
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<std::vector<double>> m = fit.information;
            step = fit.score;
            for (std::size_t j = 0; j < m.size(); ++j) {
                m[j][j] *= 1 + 1e-9;
                if (!held[j]) continue;
                for (std::size_t k = 0; k < m.size(); ++k) m[j][k] = m[k][j] = 0;
                m[j][j] = 1;
                step[j] = 0;
            }
            solved = solve(m, step);
            if (!solved) break;
            bool more = false;
            for (std::size_t j = 0; j < step.size(); ++j) {
                const int which = active[j];
                const double at = p[static_cast<std::size_t>(which)];
                const bool blocked = (which == whittle::hurst && ((at <= 0.005 && step[j] < 0) || (at >= 0.995 && step[j] > 0))) ||
                                     (which == whittle::lnNoise && at <= bounds.lnNoise && step[j] < 0) ||
                                     (which == whittle::lnKappa && ((at <= bounds.lnKappa.first && step[j] < 0) ||
                                                                    (at >= bounds.lnKappa.second && step[j] > 0)));
                if (blocked && !held[j]) held[j] = more = true;
            }
            if (!more) break;
        }
        if (!solved) break;
        double scale = 1;
        for (std::size_t j = 0; j < step.size(); ++j)
            scale = std::min(scale, limits[active[j]] / std::max(std::fabs(step[j]), 1e-300));
        bool accepted = false;
        Parameters next = p;
        double trialObjective = fit.objective;
        for (int halving = 0; halving < 40 && !accepted; ++halving, scale /= 2) {
            next = p;
            for (std::size_t j = 0; j < step.size(); ++j) next[static_cast<std::size_t>(active[j])] += scale * step[j];
            next[whittle::hurst] = std::clamp(next[whittle::hurst], 0.005, 0.995);
            next[whittle::lnKappa] = std::clamp(next[whittle::lnKappa], bounds.lnKappa.first, bounds.lnKappa.second);
            next[whittle::lnNoise] = std::max(next[whittle::lnNoise], bounds.lnNoise);
            trialObjective = likelihood.at(next, false).objective;
            accepted = trialObjective <= fit.objective;
        }
        if (!accepted) {
            result.converged = true;  // no step lowers it: a minimum to the objective's precision
            break;
        }
        // Converged when the step's predicted gain (the Newton decrement,
        // score' F^-1 score) is far below what chance moves the objective by
        // (about 1 for each parameter), or when D and the anisotropy have
        // stopped moving, or creep while the objective gains next to nothing
        // (a flat valley in the crossover, beyond the picture's size).
        double decrement = 0;
        for (std::size_t j = 0; j < step.size(); ++j) decrement += step[j] * fit.score[j];
        double moved = 0;
        for (int j : {whittle::hurst, whittle::anisoA, whittle::anisoB})
            moved = std::max(moved, std::fabs(next[static_cast<std::size_t>(j)] - p[static_cast<std::size_t>(j)]));
        const double gain = fit.objective - trialObjective;
        p = next;
        fit = likelihood.at(p, true);
        if (decrement < 1e-2 || moved < 1e-5 || (gain < 0.05 && moved < 1e-4)) {
            result.converged = true;
            ++result.iterations;
            break;
        }
    }
    return result;
}

// The periodogram and the model averaged over rings eight to an octave
// (edges 0.5 * 2^(-k/8)), over the frequencies fitted inside q < 0.5.
std::vector<WhittleRing> ringsOf(const std::vector<double>& I, const std::vector<double>& mean,
                                 const std::vector<char>& used, std::uint32_t PW, std::uint32_t PH)
{
    struct Sum {
        double lnQ = 0, data = 0, model = 0;
        long long count = 0;
    };
    std::vector<Sum> sums;
    for (std::uint32_t ky = 0; ky < PH; ++ky)
        for (std::uint32_t kx = 0; kx < PW; ++kx) {
            const std::size_t i = std::size_t{ky} * PW + kx;
            if (!used[i]) continue;
            const double fx = whittle::signedFrequency(kx, PW);
            const double fy = whittle::signedFrequency(ky, PH);
            const double q = std::sqrt(fx * fx + fy * fy);
            if (!(q < 0.5)) continue;
            const std::size_t k = static_cast<std::size_t>(std::floor(-8 * std::log2(2 * q)));
            if (k >= sums.size()) sums.resize(k + 1);
            sums[k].lnQ += std::log(q);
            sums[k].data += I[i];
            sums[k].model += mean[i];
            ++sums[k].count;
        }
    std::vector<WhittleRing> rings;
    for (std::size_t k = sums.size(); k-- > 0;)
        if (sums[k].count > 0)
            rings.push_back({sums[k].lnQ / sums[k].count, std::log(sums[k].data / sums[k].count),
                             std::log(sums[k].model / sums[k].count), sums[k].count});
    return rings;
}

// The periodogram of the tapered picture less its tapered mean (the trend
// the model's expected periodogram takes exactly), on the PW x PH grid, and
// which frequencies are fitted: all but the mean, those below `lowestCycles`
// across the shorter side and the Nyquist lines (their own conjugates,
// where the band-limited spectrum folds).
struct Periodogram {
    std::vector<double> I;
    std::vector<char> used;
    int frequencies = 0;
    double median = 0;  // of the fitted ordinates
};

template <class T>
Periodogram taperedPeriodogram(const T* values, int W, int H, const std::vector<double>& hx,
                               const std::vector<double>& hy, std::uint32_t PW, std::uint32_t PH, double lowestCycles)
{
    const int parts = std::min(availableCores(), 8);
    psd::Trend trend = psd::measureTrend(values, W, H, PsdOptions::Trend::mean, parts);
    trend.mean = whittle::taperedMean(values, hx, hy);
    matrix real(static_cast<int>(PH), static_cast<int>(PW), nullptr);
    const double residual = psd::windowedResiduals(values, W, H, trend, hx, hy, real, parts);
    if (!(residual > 1e-24 * trend.largest * trend.largest * W * H))
        throw std::invalid_argument("the image is flat: there is no spectrum to fit");
    const std::size_t n = std::size_t{PW} * PH;
    matrix grid(static_cast<int>(PH), static_cast<int>(2 * PW), nullptr);
    for (std::size_t i = 0; i < n; ++i) grid.getData()[2 * i] = real.getData()[i];
    fourierTransform2D(grid.getData(), PW, PH, -1);
    Periodogram out;
    out.I.resize(n);
    out.used.assign(n, 0);
    const double lowest = lowestCycles / std::min(W, H);
    std::vector<double> fitted;
    for (std::uint32_t ky = 0; ky < PH; ++ky)
        for (std::uint32_t kx = 0; kx < PW; ++kx) {
            const std::size_t i = std::size_t{ky} * PW + kx;
            const double* c = grid.getData() + 2 * i;
            out.I[i] = c[0] * c[0] + c[1] * c[1];
            const double fx = whittle::signedFrequency(kx, PW);
            const double fy = whittle::signedFrequency(ky, PH);
            const double q2 = fx * fx + fy * fy;
            out.used[i] = q2 > 0 && q2 >= lowest * lowest && 2 * kx != PW && 2 * ky != PH;
            if (out.used[i]) fitted.push_back(out.I[i]);
        }
    out.frequencies = static_cast<int>(fitted.size());
    std::nth_element(fitted.begin(), fitted.begin() + static_cast<std::ptrdiff_t>(fitted.size() / 2), fitted.end());
    out.median = fitted[fitted.size() / 2];
    return out;
}

// Where the fit starts: H as given, isotropic, the crossover at the
// picture's size, noise a thousandth of the periodogram's median, and the
// variance that matches the periodogram's total over the fitted frequencies.
Parameters startingParameters(const whittle::ExpectedPeriodogram& model, const Periodogram& periodogram, double hurst,
                              int W, int H, bool noise)
{
    Parameters p = {0.0, hurst, std::log(1.0 / std::max(W, H)), 0.0, 0.0,
                    noise ? std::log(periodogram.median * 1e-3) : -700.0};
    Parameters unitWithoutNoise = p;
    unitWithoutNoise[whittle::lnNoise] = -700;
    std::vector<double> unit;
    model.evaluate(unitWithoutNoise, unit, nullptr);
    double si = 0, sm = 0;
    for (std::size_t i = 0; i < unit.size(); ++i)
        if (periodogram.used[i]) {
            si += periodogram.I[i];
            sm += unit[i];
        }
    p[whittle::lnVariance] = std::log(si / sm);
    return p;
}

// The sandwich variance F^-1 J F^-1 of the parameter at `which` in `active`,
// at the fit's last evaluation; NaN when F is singular.
double sandwichVariance(const Likelihood& likelihood, const Fit& fit, const std::vector<int>& active,
                        const std::vector<char>& used, const std::vector<double>& hx, const std::vector<double>& hy,
                        std::uint32_t PW, std::uint32_t PH, std::size_t which)
{
    const std::vector<double>& mean = likelihood.lastMean();
    const auto& gradient = likelihood.lastGradient();
    const std::size_t n = mean.size();
    std::vector<std::vector<double>> a(active.size(), std::vector<double>(n, 0.0));
    for (std::size_t j = 0; j < active.size(); ++j)
        for (std::size_t i = 0; i < n; ++i)
            if (used[i]) a[j][i] = gradient[static_cast<std::size_t>(active[j])][i] / mean[i];
    const std::vector<std::vector<double>> J =
        scoreCovariance(a, whittle::periodogramCorrelation(hx, hy, PW, PH), PW, PH);
    // The column of F^-1 for the parameter, then its quadratic form with J.
    std::vector<double> column(active.size(), 0.0);
    column[which] = 1;
    if (!solve(fit.information, column)) return NAN;
    double variance = 0;
    for (std::size_t j = 0; j < active.size(); ++j)
        for (std::size_t k = 0; k < active.size(); ++k) variance += column[j] * J[j][k] * column[k];
    return variance;
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

}  // namespace

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
    const std::uint32_t PW = powerOfTwoAtLeast(W), PH = powerOfTwoAtLeast(H);
    if (2.0 * PW * PH >= static_cast<double>(matrixSizeLimit))
        throw std::invalid_argument("the image (" + std::to_string(W) + " x " + std::to_string(H) +
                                    " pixels) is too large for the Whittle estimate");
    const std::vector<double> hx = whittle::tukeyTaper(W, options.taper), hy = whittle::tukeyTaper(H, options.taper);
    const Periodogram periodogram = taperedPeriodogram(values, W, H, hx, hy, PW, PH, options.lowestCycles);

    std::vector<int> active = {whittle::lnVariance, whittle::hurst, whittle::lnKappa};
    if (options.anisotropy) active.insert(active.end(), {whittle::anisoA, whittle::anisoB});
    if (options.noise) active.push_back(whittle::lnNoise);
    const whittle::ExpectedPeriodogram model(hx, hy, PW, PH);
    Parameters p = startingParameters(model, periodogram, startingHurst(values, W, H), W, H, options.noise);

    // Fisher scoring with a backtracking line search: first without the
    // noise (its direction is flat while it is negligible), then with it.
    Likelihood likelihood(model, periodogram.I, periodogram.used, active);
    Bounds bounds;
    bounds.lnKappa = {std::log(1e-4 / std::max(W, H)), std::log(10.0)};
    bounds.lnNoise = std::log(periodogram.median * 1e-8);
    int iterations = 0;
    if (options.noise) {
        const std::vector<int> quiet(active.begin(), active.end() - 1);
        Likelihood withoutNoise(model, periodogram.I, periodogram.used, quiet);
        iterations += fisherScoring(withoutNoise, quiet, p, bounds, options.maxIterations).iterations;
    }
    const Scoring scoring = fisherScoring(likelihood, active, p, bounds, options.maxIterations);
    iterations += scoring.iterations;
    const Fit fit = likelihood.at(p, true);
    const double varianceH = sandwichVariance(likelihood, fit, active, periodogram.used, hx, hy, PW, PH, 1);

    WhittleResult r = resultOf(p, varianceH, options.noise);
    r.iterations = iterations;
    r.converged = scoring.converged;
    r.frequencies = periodogram.frequencies;
    r.rings = ringsOf(periodogram.I, likelihood.lastMean(), periodogram.used, PW, PH);
    const double inside = std::max(0.0, std::min(r.dimensionHigh, 3.0) - std::max(r.dimensionLow, 2.0));
    if (r.hurst <= 0.005 || r.hurst >= 0.995 || inside < 0.5 * (r.dimensionHigh - r.dimensionLow))
        r.flags.push_back("out_of_range");
    if (!r.converged) r.flags.push_back("no_convergence");
    return r;
}

#define ORVANE_WHITTLE_TYPE(T) \
    template WhittleResult estimateWhittleDimension(const T*, int, int, const WhittleOptions&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_WHITTLE_TYPE)
#undef ORVANE_WHITTLE_TYPE
