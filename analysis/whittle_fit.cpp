// Fitting the Whittle likelihood (see whittle_fit.h).
#include "analysis/whittle_fit.h"

#include "analysis/thread_pool.h"

#include "analysis/fourier.h"
#include "analysis/matrix.h"
#include "analysis/psd_stages.h"
#include "analysis/whittle_kernels.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <stdexcept>

namespace whittle {

namespace {

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

}  // namespace

double scoreVariance(matrix& b, const std::vector<double>& hx, const std::vector<double>& hy, std::uint32_t PW,
                     std::uint32_t PH)
{
    // sum_i b(i) (b conv K)(i) = (1 / n) sum_u B(u)^2 K^(u), with B the
    // transform of b (real, as b is even) and K^ the correlation's, which is
    // the product of one along each side.
    const std::vector<double> kx = correlationTransform(hx, PW), ky = correlationTransform(hy, PH);
    const std::vector<double> power = realPower(b, PW, PH);
    double s = 0;
    for (std::uint32_t y = 0; y < PH; ++y) {
        const double* row = power.data() + std::size_t{y} * PW;
        double r = 0;
        for (std::uint32_t x = 0; x < PW; ++x) r += row[x] * kx[x];
        s += r * ky[y];
    }
    return 2 * s / (static_cast<double>(PW) * PH);
}

Ordinates ordinatesOf(const ExpectedPeriodogram& model, double lowest)
{
    Ordinates o;
    o.PW = model.width();
    o.PH = model.height();
    auto nearNyquist = [](std::uint32_t k, std::uint32_t P) { return k + 1 >= P / 2 && k <= P / 2 + 1; };
    for (std::uint32_t ky = 0; ky < o.PH; ++ky)
        for (std::uint32_t kx = 0; kx < o.PW; ++kx) {
            const double fx = signedFrequency(kx, o.PW), fy = signedFrequency(ky, o.PH);
            const double q2 = fx * fx + fy * fy;
            // The upper half plane (fy > 0, or fy = 0 and fx > 0) holds one of each pair.
            if (!(q2 > 0) || q2 < lowest * lowest || nearNyquist(kx, o.PW) || nearNyquist(ky, o.PH) || fy < 0 ||
                (fy == 0 && fx < 0))
                continue;
            const std::size_t i = std::size_t{ky} * o.PW + kx;
            o.index.push_back(i);
            o.fx.push_back(fx);
            o.fy.push_back(fy);
            o.gain.push_back(model.gain()[i]);
            o.noise.push_back(model.noise()[i]);
        }
    return o;
}

template <class T>
std::vector<double> laplacianPeriodogram(const T* values, int W, int H, const ExpectedPeriodogram& model,
                                         const std::vector<double>& hx, const std::vector<double>& hy)
{
    const std::uint32_t PW = model.width(), PH = model.height();
    matrix grid(static_cast<int>(PH), static_cast<int>(PW), nullptr);  // real, the padding zero
    const double squares = taperedLaplacian(values, W, H, hx, hy, grid.getData(), PW);
    double largest = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(W) * static_cast<std::size_t>(H); ++i)
        largest = std::max(largest, std::fabs(static_cast<double>(values[i])));
    // A plane's Laplacian is rounding error, some 1e-16 of the values.
    if (!(squares > 1e-20 * largest * largest))
        throw std::invalid_argument("the image is flat: there is no spectrum to fit");
    return realPower(grid, PW, PH);
}

#define ORVANE_WHITTLE_TYPE(T)                                                                                    \
    template std::vector<double> laplacianPeriodogram(const T*, int, int, const ExpectedPeriodogram&,          \
                                                      const std::vector<double>&, const std::vector<double>&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_WHITTLE_TYPE)
#undef ORVANE_WHITTLE_TYPE

namespace {

// f at every ordinate.
std::vector<double> spectrumAt(const Ordinates& o, const Spectrum& f)
{
    std::vector<double> out(o.index.size());
    whittleKernels().spectrum(f.terms(), o.fx.data(), o.fy.data(), out.size(), out.data());
    return out;
}

}  // namespace

double matchedLnVariance(const Ordinates& o, Parameters p)
{
    p[lnVariance] = 0;
    const std::vector<double> unit = spectrumAt(o, Spectrum(p));
    double si = 0, sm = 0;
    for (std::size_t i = 0; i < o.index.size(); ++i) {
        si += o.I[i];
        sm += unit[i] * o.gain[i];
    }
    return std::log(si / sm);
}

void Anchors::add(const Parameters& p, const std::vector<double>& surface, const Ordinates& o)
{
    const std::vector<double> f = spectrumAt(o, Spectrum(p));
    std::vector<double> r(o.index.size());
    for (std::size_t i = 0; i < o.index.size(); ++i) r[i] = surface[o.index[i]] / (f[i] * o.gain[i]);
    hurst.push_back(p[whittle::hurst]);
    ratio.push_back(std::move(r));
}

AnchoredInputs AnchoredModel::inputsAt(const Parameters& p) const
{
    // Between which anchors H lies, and how far.
    std::size_t k = 0;
    double t = 0, span = 1;
    const std::vector<double>& hs = anchors.hurst;
    if (hs.size() > 1) {
        const double h = std::clamp(p[hurst], hs.front(), hs.back());
        k = static_cast<std::size_t>(std::upper_bound(hs.begin(), hs.end() - 1, h) - hs.begin());
        k = k == 0 ? 0 : k - 1;
        span = hs[k + 1] - hs[k];
        t = (h - hs[k]) / span;
        if (p[hurst] < hs.front() || p[hurst] > hs.back()) span = INFINITY;  // held beyond: no slope
    }
    const std::vector<double>& r0 = anchors.ratio[k];
    const std::vector<double>& r1 = anchors.ratio[hs.size() > 1 ? k + 1 : k];
    AnchoredInputs in{o.fx.data(), o.fy.data(), r0.data(), r1.data(), o.gain.data(), o.noise.data()};
    in.t = t;
    in.span = span;
    in.eta = std::exp(p[lnNoise]);
    return in;
}

Fit Likelihood::part(const Parameters& p, bool derivatives, bool keep, std::size_t first, std::size_t last)
{
    // A failed evaluation (a mean that is not positive) keeps the shape of a
    // good one, its objective infinite and its derivatives zero, so that the
    // parts add up and the fit stops on it rather than reading past them.
    const std::size_t m = active.size();
    Fit f;
    if (derivatives) {
        f.score.assign(m, 0.0);
        f.information.assign(m, std::vector<double>(m, 0.0));
    }
    double* kept[parameterCount] = {};
    for (int j = 0; j < parameterCount; ++j) kept[j] = gradient[static_cast<std::size_t>(j)].data();
    LikelihoodSums sums;
    if (!whittleKernels().fit(Spectrum(p).terms(), model.inputsAt(p), o.I.data(), active.data(), static_cast<int>(m),
                              derivatives, first, last, sums, keep ? mean.data() : nullptr, keep ? kept : nullptr) ||
        !std::isfinite(sums.objective)) {
        f.objective = INFINITY;
        return f;
    }
    f.objective = sums.objective;
    if (derivatives) {
        f.score.assign(sums.score, sums.score + m);
        for (std::size_t j = 0; j < m; ++j)
            for (std::size_t k = 0; k <= j; ++k) f.information[j][k] = sums.information[j][k];
    }
    return f;
}

Fit Likelihood::at(const Parameters& p, bool derivatives, bool keep)
{
    // Four parts, summed in order, whether or not a second thread takes
    // two of them: the digits do not depend on the cores.  Small fits (a
    // map's windows, which have threads of their own) keep to one.
    constexpr std::size_t parts = 4;
    const std::size_t n = o.I.size();
    if (keep) {
        mean.resize(n);
        if (derivatives)
            for (auto& each : gradient) each.resize(n);
    }
    std::array<Fit, parts> partial;
    auto run = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) partial[k] = part(p, derivatives, keep, n * k / parts, n * (k + 1) / parts);
    };
    // The second thread from the process's pool, which runs it all on the
    // caller when it is busy.
    if (n >= 8192 && analysisThreads() > 1)
        runParts(2, [&](int half) { run(parts / 2 * static_cast<std::size_t>(half), parts / 2 * static_cast<std::size_t>(half + 1)); });
    else
        run(0, parts);
    Fit f = std::move(partial[0]);
    for (std::size_t k = 1; k < parts; ++k) {
        f.objective += partial[k].objective;
        for (std::size_t j = 0; j < f.score.size(); ++j) {
            f.score[j] += partial[k].score[j];
            for (std::size_t i = 0; i <= j; ++i) f.information[j][i] += partial[k].information[j][i];
        }
    }
    for (std::size_t j = 0; j < f.score.size(); ++j)
        for (std::size_t i = 0; i < j; ++i) f.information[i][j] = f.information[j][i];
    return f;
}

Scoring fisherScoring(Likelihood& likelihood, Parameters& p, const Bounds& bounds, int maxIterations)
{
    const std::vector<int>& active = likelihood.parameters();
    const double limits[parameterCount] = {3.0, 0.1, 2.0, 0.5, 0.5, 3.0};
    Scoring result;
    Fit fit = likelihood.at(p, true);
    // A start the model cannot be evaluated at has no step to take: the fit
    // ends there, not converged.
    for (; result.iterations < maxIterations && std::isfinite(fit.objective); ++result.iterations) {
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
        // Converged when the step's predicted gain (the Newton decrement,
        // score' F^-1 score) is far below what chance moves the objective by
        // (about 1 for each parameter), or when D and the anisotropy have
        // stopped moving, or creep while the objective gains next to nothing
        // (a flat valley in the crossover, beyond the picture's size).
        double decrement = 0;
        for (std::size_t j = 0; j < step.size(); ++j) decrement += step[j] * fit.score[j];
        const bool last = decrement < 1e-2;
        // The full step's trial is worked out with its derivatives, which
        // serve the next iteration when it is taken, as it mostly is; not
        // when it is the last.
        bool accepted = false, withDerivatives = false;
        Parameters next = p;
        double trialObjective = fit.objective;
        Fit trial;
        for (int halving = 0; halving < 40 && !accepted; ++halving, scale /= 2) {
            next = p;
            for (std::size_t j = 0; j < step.size(); ++j) next[static_cast<std::size_t>(active[j])] += scale * step[j];
            next[whittle::hurst] = std::clamp(next[whittle::hurst], 0.005, 0.995);
            next[whittle::lnKappa] = std::clamp(next[whittle::lnKappa], bounds.lnKappa.first, bounds.lnKappa.second);
            next[whittle::lnNoise] = std::max(next[whittle::lnNoise], bounds.lnNoise);
            withDerivatives = halving == 0 && !last;
            trial = likelihood.at(next, withDerivatives);
            trialObjective = trial.objective;
            accepted = trialObjective <= fit.objective;
        }
        if (!accepted) {
            result.converged = true;  // no step lowers it: a minimum to the objective's precision
            break;
        }
        double moved = 0;
        for (int j : {whittle::hurst, whittle::anisoA, whittle::anisoB})
            moved = std::max(moved, std::fabs(next[static_cast<std::size_t>(j)] - p[static_cast<std::size_t>(j)]));
        const double gain = fit.objective - trialObjective;
        p = next;
        if (last) {
            fit = std::move(trial);
            result.converged = true;
            ++result.iterations;
            break;
        }
        fit = withDerivatives ? std::move(trial) : likelihood.at(p, true);
        if (moved < 1e-5 || (gain < 0.05 && moved < 1e-4)) {
            result.converged = true;
            ++result.iterations;
            break;
        }
    }
    result.objective = fit.objective;
    return result;
}

double sandwichVariance(const Likelihood& likelihood, const Fit& fit, const std::vector<double>& hx,
                        const std::vector<double>& hy, std::size_t which)
{
    // The score over the whole grid is twice the half plane's: a_j = d mean /
    // d theta_j / mean at each fitted frequency and its conjugate, and the
    // information twice the fit's.  The variance is c' J c for c the column
    // of F^-1 for the parameter: the score's variance along sum_j c_j a_j.
    const Ordinates& o = likelihood.ordinates();
    const std::vector<int>& active = likelihood.parameters();
    const std::vector<double>& mean = likelihood.lastMean();
    const auto& gradient = likelihood.lastGradient();
    // A failed evaluation's information is zero, which solve refuses below.
    if (which >= active.size()) return NAN;
    std::vector<std::vector<double>> F = fit.information;
    for (auto& row : F)
        for (double& v : row) v *= 2;
    std::vector<double> column(active.size(), 0.0);
    column[which] = 1;
    if (!solve(F, column)) return NAN;
    matrix b(static_cast<int>(o.PH), static_cast<int>(o.PW), nullptr);
    double* const grid = b.getData();
    for (std::size_t i = 0; i < o.index.size(); ++i) {
        double v = 0;
        for (std::size_t j = 0; j < active.size(); ++j) v += column[j] * gradient[static_cast<std::size_t>(active[j])][i];
        const std::size_t at = o.index[i], ky = at / o.PW, kx = at % o.PW;
        grid[at] = grid[((o.PH - ky) % o.PH) * o.PW + (o.PW - kx) % o.PW] = v / mean[i];
    }
    return scoreVariance(b, hx, hy, o.PW, o.PH);
}

}  // namespace whittle
