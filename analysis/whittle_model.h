// The model behind the Whittle estimate and its expected periodogram.
//
// The surface is a stationary field of Matern spectrum
//   f(q) = 4 pi s2 H kappa^(2H) (kappa^2 + 4 pi^2 q' exp(T) q)^-(H + 1)
// (cycles per pixel; s2 its variance): fractional-Brownian of Hurst
// exponent H (dimension 3 - H) at scales below 1 / kappa, flat above.  The
// anisotropy T = [[a, b], [b, -a]], (a, b) = ln r (cos 2 theta, sin 2 theta),
// makes features r times longer along the angle theta from the x axis than
// across, in a form smooth through the isotropic r = 1.  The spectrum is
// band-limited, as a spectral synthesis or an instrument's optics make it:
// the lattice sees f within |fx|, |fy| <= 1/2 and nothing folded in.  White
// noise of variance eta adds to the picture.
//
// The estimate fits the periodogram of the picture's discrete Laplacian
// (the four neighbours less four times the centre, on the interior
// pixels), tapered.  The Laplacian takes off the mean and any plane
// exactly, and multiplies the spectrum by the known gain
// |G(w)|^2 = (2 cos 2 pi fx + 2 cos 2 pi fy - 4)^2, which whitens it, so
// that the taper leaks little.  The expected periodogram is the filtered
// spectrum blurred by the taper's window: sum_u c(u) c_h(u) e^(-i w u), c
// the filtered field's covariance, c_h the taper's autocorrelation.  c is
// the transform of f |G|^2 summed on a grid twice as fine as the
// periodogram's, which is exact but for the jump at the band's edges (when
// stretched) and the cusp at w = 0: within a few tenths of a per cent,
// more beside the Nyquist lines, which the fit leaves out.
#pragma once

#include "analysis/matrix.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace whittle {

// ln s2, H, ln kappa, a, b, ln eta.
constexpr int parameterCount = 6;
using Parameters = std::array<double, parameterCount>;
enum Parameter { lnVariance, hurst, lnKappa, anisoA, anisoB, lnNoise };

// The anisotropy exp(-T) for one (a, b), by the terms that the kernels
// work the quadratic form u' exp(-T) u and its derivatives out of (q'
// exp(T) q is the form for (-a, -b)).
class Anisotropy {
public:
    Anisotropy(double a, double b);
    // a, b, cosh t and the ratios sinh(t) / t and (d (sinh t / t) / dt) / t.
    struct Terms {
        double a, b, ch, sh, q;
    };
    Terms terms() const { return {a, b, ch, sh, q}; }

private:
    double a, b, ch, sh, q;
};

// f at (fx, fy) and its derivatives by H, ln kappa, a and b (by ln s2 it
// is f itself): out = {f, df/dH, df/dln kappa, df/da, df/db}.
class Spectrum {
public:
    explicit Spectrum(const Parameters& p);
    void at(double fx, double fy, double out[5]) const;
    double at(double fx, double fy) const;
    // What a frequency's value is made from: H, ln kappa, kappa^2, the
    // factor 4 pi s2 H kappa^(2H), and the anisotropy of the frequencies.
    struct Terms {
        double nu, logKappa, k2, scale;
        Anisotropy::Terms frequencies;
    };
    Terms terms() const { return {nu, logKappa, k2, scale, frequencies.terms()}; }

private:
    double nu, logKappa, k2, scale;
    Anisotropy frequencies;
};

// The Laplacian's power gain |G(w)|^2.
double laplacianGain(double fx, double fy);

// Frequency k of a transform of length P in cycles per sample, from -0.5 up
// to 0.5 (the upper half of the indices read as negative frequencies).
inline double signedFrequency(std::uint32_t k, std::uint32_t P)
{
    return (k <= P / 2 ? static_cast<double>(k) : static_cast<double>(k) - P) / P;
}

class ExpectedPeriodogram {
public:
    // For the W x H Laplacian of a (W + 2) x (H + 2) picture, tapered by hx
    // (along x) and hy (along y), each normalised so that sum hx^2 =
    // sum hy^2 = 1, on the PW x PH grid of frequencies (PW >= W, PH >= H,
    // powers of two).
    ExpectedPeriodogram(const std::vector<double>& hx, const std::vector<double>& hy, std::uint32_t PW,
                        std::uint32_t PH);

    // The expected periodogram of the surface (without the noise) at every
    // frequency of the grid (row-major, PH rows of PW, frequency
    // (kx / PW, ky / PH) cycles per pixel).  A model is not to be evaluated
    // from two threads at once: it keeps its work space.
    void evaluate(const Parameters& p, std::vector<double>& surface) const;

    std::uint32_t width() const { return PW; }
    std::uint32_t height() const { return PH; }
    // |G(w)|^2 at every frequency of the grid.
    const std::vector<double>& gain() const { return gain_; }
    // The expected periodogram of white noise of unit variance, filtered
    // and tapered: sum_v r(v) c_h(v) e^(-i w v), r the Laplacian's
    // autocorrelation (13 lags within two steps).
    const std::vector<double>& noise() const { return noise_; }

private:
    // evaluate's stages: f |G|^2 on the fine grid; its transform, the
    // filtered covariance, times the taper's autocorrelation and folded
    // onto the periodogram's grid; and that one's transform.
    void fillFineGrid(const Spectrum& f) const;
    void foldLags() const;
    void transformFolded(std::vector<double>& surface) const;

    int W, H;
    std::uint32_t PW, PH;
    std::uint32_t GW, GH;        // the fine grid the covariance is summed on
    std::vector<double> cx, cy;  // the taper's autocorrelation along each side, by lag
    std::vector<double> gain_, noise_;
    std::vector<double> fineGain;  // |G|^2 on the fine grid's half plane
    // cos and sin of 2 pi k / GW (k < GW / 2) and of 2 pi k / PW (k < PW):
    // what joins the transforms of the even and the odd columns.
    std::vector<double> fineCos, fineSin, periodCos, periodSin;
    // evaluate's work space, real: the fine grid, and the lags folded onto
    // the periodogram's grid, each transformed as a complex array of half
    // its width (matrices, so that one model after another of the same size
    // reuses their memory).
    mutable matrix fine, sums;
};

// |X|^2 at every frequency of X, the transform of the real array of `rows`
// rows of `cols` values in `grid` (cols even), which is transformed in place
// as a complex array of cols / 2 columns: half the work of a complex one.
std::vector<double> realPower(matrix& grid, std::uint32_t cols, std::uint32_t rows);

// A Tukey taper over n samples (cosine ends over `share` of the side, at
// the samples' centres), scaled so that its squares sum to 1.
std::vector<double> tukeyTaper(int n, double share);

// The Laplacian of W x H values on their (W - 2) x (H - 2) interior pixels,
// each times hx(x) hy(y), into `out` (row-major, rows of `stride`); the sum
// of the squares written.  Throws std::invalid_argument for a value that is
// not a finite number.
template <class T>
double taperedLaplacian(const T* values, int W, int H, const std::vector<double>& hx, const std::vector<double>& hy,
                        double* out, std::size_t stride);

// The periodogram's correlation between frequencies dk apart is |rho|^2
// for the taper, rho(dk) = sum_s h(s)^2 e^(-2 pi i dk s / P), a product of
// one along each side.  Its transform along one side, sum_dk |rho(dk)|^2
// e^(-2 pi i dk k / P) for k = 0 .. P - 1 (real and even).
std::vector<double> correlationTransform(const std::vector<double>& h, std::uint32_t P);

}  // namespace whittle
