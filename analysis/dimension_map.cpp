// Local dimension maps (see dimension_map.h).
//
// Each window is fitted with an isotropic model for its own variance, H,
// crossover and noise.  (A stretched surface has the same power law along
// every direction, so the isotropic fit finds its H; fitting the stretch
// in small windows, or holding the picture's, made D far less sure.)  The
// windows share one model, whose exact expected periodogram is worked out
// once, at values of H across (0, 1) with the crossover beyond the window,
// and read between them: a window costs its transform and a few cheap
// evaluations of the likelihood.
#include "analysis/dimension_map.h"

#include "analysis/fourier.h"
#include "analysis/psd_stages.h"
#include "analysis/thread_pool.h"
#include "analysis/value_scale.h"
#include "analysis/whittle_fit.h"
#include "analysis/whittle_kernels.h"
#include "analysis/whittle_model.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {

// The shared model's ratios at H = 0.02, 0.06, ..., 0.98.
whittle::Anchors anchorsAcross(const whittle::ExpectedPeriodogram& model, const whittle::Ordinates& ordinates,
                               whittle::Parameters p)
{
    whittle::Anchors anchors;
    std::vector<double> surface;
    p[whittle::lnVariance] = 0;
    for (int k = 0; k < 25; ++k) {
        p[whittle::hurst] = 0.02 + 0.04 * k;
        model.evaluate(p, surface);
        anchors.add(p, surface, ordinates);
    }
    return anchors;
}

// Where a window's H starts: the slope of ln(I / gain) against ln q, which
// is -2 (H + 1) where the surface is self-affine, read as H within [0.05,
// 0.95] (a half when it is not a number).  A start near the end saves the
// fit most of its steps.
class SlopeStart {
public:
    explicit SlopeStart(const whittle::Ordinates& o) : centred(o.index.size())
    {
        double mean = 0;
        for (std::size_t i = 0; i < centred.size(); ++i) {
            centred[i] = 0.5 * std::log(o.fx[i] * o.fx[i] + o.fy[i] * o.fy[i]);
            mean += centred[i];
        }
        mean /= static_cast<double>(centred.size());
        for (double& x : centred) {
            x -= mean;
            squares += x * x;
        }
    }
    // `work` is the caller's, reused from window to window.
    double hurst(const whittle::Ordinates& o, std::vector<double>& work) const
    {
        work.resize(centred.size());
        for (std::size_t i = 0; i < work.size(); ++i) work[i] = o.I[i] / o.gain[i];
        whittle::whittleKernels().log(work.data(), work.size(), work.data());
        double along = 0;
        for (std::size_t i = 0; i < work.size(); ++i) along += centred[i] * work[i];
        const double h = -0.5 * along / squares - 1;
        return std::isfinite(h) ? std::clamp(h, 0.05, 0.95) : 0.5;
    }

private:
    std::vector<double> centred;  // ln q less its mean, at each ordinate
    double squares = 0;           // their sum of squares
};

// D of one window, its ordinates' periodogram filled in from `part`;
// throws std::invalid_argument when it cannot be estimated.
template <class T>
double windowDimension(const std::vector<T>& part, int window, const whittle::ExpectedPeriodogram& model,
                       const std::vector<double>& taper, whittle::Ordinates& o, const whittle::Anchors& anchors,
                       const SlopeStart& start, std::vector<double>& work, whittle::Parameters p,
                       const WhittleOptions& options)
{
    const std::vector<double> I = whittle::laplacianPeriodogram(part.data(), window, window, model, taper, taper);
    // H from the slope; the variance that matches the periodogram's total,
    // and the noise a thousandth of its mean power (the gain taken off).
    double power = 0;
    for (std::size_t i = 0; i < o.index.size(); ++i) {
        o.I[i] = I[o.index[i]];
        power += o.I[i] / o.gain[i];
    }
    p[whittle::hurst] = start.hurst(o, work);
    p[whittle::lnVariance] = whittle::matchedLnVariance(o, p);
    power /= static_cast<double>(o.index.size());
    p[whittle::lnNoise] = options.noise ? std::log(power * 1e-3) : -700.0;
    std::vector<int> active = {whittle::lnVariance, whittle::hurst, whittle::lnKappa};
    if (options.noise) active.push_back(whittle::lnNoise);
    const whittle::AnchoredModel anchored(o, anchors);
    whittle::Likelihood likelihood(anchored, o, active);
    whittle::Bounds bounds;
    bounds.lnKappa = {p[whittle::lnKappa], std::log(10.0)};
    bounds.lnNoise = std::log(power * 1e-8);
    whittle::fisherScoring(likelihood, p, bounds, options.maxIterations);
    return 3 - p[whittle::hurst];
}

}  // namespace

template <class T>
DimensionMap dimensionMap(const T* values, int W, int H, int window, int step, const WhittleOptions& options)
{
    if (window < 16 || window > W || window > H)
        throw std::invalid_argument("the map's window of " + std::to_string(window) +
                                    " pixels must be at least 16 and fit in the " + std::to_string(W) + " x " +
                                    std::to_string(H) + " picture");
    if (step < 1) throw std::invalid_argument("the map's step must be at least one pixel");
    // Values whose squares would overflow or vanish are mapped in a unit
    // near their size: D does not depend on it.
    const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
    if (const double factor = scaling::extremeScale(values, n); factor != 1.0)
        return dimensionMap(scaling::scaledCopy(values, n, factor).data(), W, H, window, step, options);
    DimensionMap map;
    map.window = window;
    map.step = step;
    map.columns = (W - window) / step + 1;
    map.rows = (H - window) / step + 1;
    map.d.assign(static_cast<std::size_t>(map.columns) * static_cast<std::size_t>(map.rows), NAN);

    // Where each window starts: the crossover a thousand windows away (H and
    // the noise are the window's own).
    const whittle::Parameters held = {0.0, 0.5, std::log(1e-3 / window), 0.0, 0.0, -700.0};
    const std::vector<double> taper = whittle::tukeyTaper(window - 2, options.taper);
    const std::uint32_t P = powerOfTwoAtLeast(window - 2);
    const whittle::ExpectedPeriodogram model(taper, taper, P, P);
    const whittle::Ordinates geometry = whittle::ordinatesOf(model, options.lowestCycles / window);
    const whittle::Anchors anchors = anchorsAcross(model, geometry, held);
    const SlopeStart start(geometry);

    // Each thread takes the next window.
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&] {
        try {
            std::vector<T> part(static_cast<std::size_t>(window) * static_cast<std::size_t>(window));
            whittle::Ordinates o = geometry;
            o.I.resize(o.index.size());
            std::vector<double> work;

            for (std::size_t cell = next++; cell < map.d.size(); cell = next++) {
                const std::size_t x0 = (cell % static_cast<std::size_t>(map.columns)) * static_cast<std::size_t>(step);
                const std::size_t y0 = (cell / static_cast<std::size_t>(map.columns)) * static_cast<std::size_t>(step);
                for (int y = 0; y < window; ++y)
                    std::copy_n(values + (y0 + static_cast<std::size_t>(y)) * static_cast<std::size_t>(W) + x0, window,
                                part.begin() + static_cast<std::ptrdiff_t>(y) * window);
                try {
                    map.d[cell] = windowDimension(part, window, model, taper, o, anchors, start, work, held, options);
                } catch (const std::invalid_argument&) {
                    // a flat window, or one holding a value that is not finite: NaN
                }
            }
        } catch (...) {
            // Anything else (memory) ends the map, once every thread has stopped.
            const std::lock_guard<std::mutex> hold(failureLock);
            if (!failure) failure = std::current_exception();
            next = map.d.size();
        }
    };
    // On the process's pool, as many threads as the analysis may take (one
    // when files run side by side, or as set for the transform).
    runParts(std::max(1, std::min(analysisThreads(), static_cast<int>(map.d.size()))), [&](int) { work(); });
    if (failure) std::rethrow_exception(failure);
    return map;
}

#define ORVANE_MAP_TYPE(T) \
    template DimensionMap dimensionMap(const T*, int, int, int, int, const WhittleOptions&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_MAP_TYPE)
#undef ORVANE_MAP_TYPE
