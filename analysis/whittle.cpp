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
            const double fx = (kx <= PW / 2 ? double(kx) : double(kx) - PW) / PW;
            const double fy = (ky <= PH / 2 ? double(ky) : double(ky) - PH) / PH;
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
    const int parts = std::min(availableCores(), 8);

    // The periodogram of the tapered picture less its tapered mean (the
    // trend the model's expected periodogram takes exactly).
    psd::Trend trend = psd::measureTrend(values, W, H, PsdOptions::Trend::mean, parts);
    const std::vector<double> hx = whittle::tukeyTaper(W, options.taper), hy = whittle::tukeyTaper(H, options.taper);
    trend.mean = whittle::taperedMean(values, hx, hy);
    matrix real(static_cast<int>(PH), static_cast<int>(PW), nullptr);
    const double residual = psd::windowedResiduals(values, W, H, trend, hx, hy, real, parts);
    if (!(residual > 1e-24 * trend.largest * trend.largest * W * H))
        throw std::invalid_argument("the image is flat: there is no spectrum to fit");
    const std::size_t n = std::size_t{PW} * PH;
    matrix grid(static_cast<int>(PH), static_cast<int>(2 * PW), nullptr);
    for (std::size_t i = 0; i < n; ++i) grid.getData()[2 * i] = real.getData()[i];
    fourierTransform2D(grid.getData(), PW, PH, -1);
    std::vector<double> I(n);
    std::vector<char> used(n, 0);
    const double lowest = options.lowestCycles / std::min(W, H);
    int frequencies = 0;
    for (std::uint32_t ky = 0; ky < PH; ++ky)
        for (std::uint32_t kx = 0; kx < PW; ++kx) {
            const std::size_t i = std::size_t{ky} * PW + kx;
            const double* c = grid.getData() + 2 * i;
            I[i] = c[0] * c[0] + c[1] * c[1];
            const double fx = (kx <= PW / 2 ? double(kx) : double(kx) - PW) / PW;
            const double fy = (ky <= PH / 2 ? double(ky) : double(ky) - PH) / PH;
            // The mean and the Nyquist lines (their own conjugates, where the
            // band-limited spectrum folds) are left out.
            used[i] = fx * fx + fy * fy > 0 && fx * fx + fy * fy >= lowest * lowest && 2 * kx != PW && 2 * ky != PH;
            frequencies += used[i];
        }

    // The parameters fitted, and where they start: H 0.5, isotropic, the
    // scale that matches the periodogram's total, noise a thousandth of
    // its median.
    std::vector<int> active = {whittle::lnVariance, whittle::hurst, whittle::lnKappa};
    if (options.anisotropy) active.insert(active.end(), {whittle::anisoA, whittle::anisoB});
    if (options.noise) active.push_back(whittle::lnNoise);
    const whittle::ExpectedPeriodogram model(hx, hy, PW, PH);
    std::vector<double> usedI;
    for (std::size_t i = 0; i < n; ++i)
        if (used[i]) usedI.push_back(I[i]);
    std::nth_element(usedI.begin(), usedI.begin() + static_cast<std::ptrdiff_t>(usedI.size() / 2), usedI.end());
    const double median = usedI[usedI.size() / 2];
    Parameters p = {0.0, startingHurst(values, W, H), std::log(1.0 / std::max(W, H)), 0.0, 0.0,
                    options.noise ? std::log(median * 1e-3) : -700.0};
    {
        std::vector<double> unit;
        Parameters q = p;
        q[whittle::lnNoise] = -700;
        model.evaluate(q, unit, nullptr);
        double si = 0, sm = 0;
        for (std::size_t i = 0; i < n; ++i)
            if (used[i]) {
                si += I[i];
                sm += unit[i];
            }
        p[whittle::lnVariance] = std::log(si / sm);
    }

    // Fisher scoring with a backtracking line search: first without the
    // noise (its direction is flat while it is negligible), then with it.
    Likelihood likelihood(model, I, used, active);
    Bounds bounds;
    bounds.lnKappa = {std::log(1e-4 / std::max(W, H)), std::log(10.0)};
    bounds.lnNoise = std::log(median * 1e-8);
    int iterations = 0;
    bool converged = true;
    if (options.noise) {
        std::vector<int> quiet(active.begin(), active.end() - 1);
        Likelihood withoutNoise(model, I, used, quiet);
        const Scoring first = fisherScoring(withoutNoise, quiet, p, bounds, options.maxIterations);
        iterations += first.iterations;
    }
    const Scoring second = fisherScoring(likelihood, active, p, bounds, options.maxIterations);
    iterations += second.iterations;
    converged = second.converged;
    Fit fit = likelihood.at(p, true);

    // The sandwich covariance: F^-1 J F^-1.
    const std::vector<double>& mean = likelihood.lastMean();
    const auto& gradient = likelihood.lastGradient();
    std::vector<std::vector<double>> a(active.size(), std::vector<double>(n, 0.0));
    for (std::size_t j = 0; j < active.size(); ++j)
        for (std::size_t i = 0; i < n; ++i)
            if (used[i]) a[j][i] = gradient[static_cast<std::size_t>(active[j])][i] / mean[i];
    const std::vector<std::vector<double>> J =
        scoreCovariance(a, whittle::periodogramCorrelation(hx, hy, PW, PH), PW, PH);
    // The column of F^-1 for H, then its quadratic form with J.
    std::vector<double> column(active.size(), 0.0);
    column[1] = 1;
    double varianceH = NAN;
    if (solve(fit.information, column)) {
        varianceH = 0;
        for (std::size_t j = 0; j < active.size(); ++j)
            for (std::size_t k = 0; k < active.size(); ++k) varianceH += column[j] * J[j][k] * column[k];
    }

    WhittleResult r{};
    r.hurst = p[whittle::hurst];
    r.hurstStdError = std::sqrt(varianceH);
    r.dimension = 3 - r.hurst;
    r.dimensionLow = r.dimension - 1.959963984540054 * r.hurstStdError;
    r.dimensionHigh = r.dimension + 1.959963984540054 * r.hurstStdError;
    r.variance = std::exp(p[whittle::lnVariance]);
    r.crossover = std::exp(-p[whittle::lnKappa]);
    r.noise = options.noise ? std::exp(p[whittle::lnNoise]) : 0.0;
    const double t = std::hypot(p[whittle::anisoA], p[whittle::anisoB]);
    r.anisoRatio = std::exp(t);
    // The long direction in the array's axes (y down) is half the angle of
    // (a, b); seen with y up it turns the other way.
    double angle = t > 0 ? -0.5 * std::atan2(p[whittle::anisoB], p[whittle::anisoA]) * 180 / pi : 0.0;
    angle = std::fmod(angle + 360.0, 180.0);
    r.anisoAngle = angle >= 180.0 ? 0.0 : angle;
    r.iterations = iterations;
    r.converged = converged;
    r.frequencies = frequencies;
    r.rings = ringsOf(I, likelihood.lastMean(), used, PW, PH);
    const double inside = std::max(0.0, std::min(r.dimensionHigh, 3.0) - std::max(r.dimensionLow, 2.0));
    if (r.hurst <= 0.005 || r.hurst >= 0.995 || inside < 0.5 * (r.dimensionHigh - r.dimensionLow))
        r.flags.push_back("out_of_range");
    if (!converged) r.flags.push_back("no_convergence");
    return r;
}

#define ORVANE_WHITTLE_TYPE(T) \
    template WhittleResult estimateWhittleDimension(const T*, int, int, const WhittleOptions&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_WHITTLE_TYPE)
#undef ORVANE_WHITTLE_TYPE
