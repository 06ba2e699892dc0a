// The model behind the Whittle estimate and its expected periodogram.
//
// The surface is a stationary field of Matern covariance: its spectrum is
// proportional to (kappa^2 + |A w|^2)^-(H + 1), fractional-Brownian of
// Hurst exponent H (dimension 3 - H) at scales below 1 / kappa, flat above;
// with geometric anisotropy, plus white noise of variance eta.  Its
// semivariogram is s2 S(kappa d), S(x) = 1 - 2^(1-H) / Gamma(H) x^H K_H(x)
// (about s2 c (kappa d)^(2H) for small kappa d).  The distance d stretches
// lags by r along the direction of the long features (angle theta from the
// x axis): d^2 = u' M u with M = exp(-T), T = [[a, b], [b, -a]],
// (a, b) = ln r (cos 2 theta, sin 2 theta), a form smooth through the
// isotropic r = 1.
//
// The picture's tapered mean sum h X / sum h is removed before the taper
// (h, sum h^2 = 1), so the transform's weights at every frequency w,
// v = h (e^(-i w s) - alpha), alpha = H(w) / H(0), sum to nothing, and the
// expected periodogram is exact for the semivariogram alone:
//   A(w) - 2 Re(conj(alpha) Psi(w)) + |alpha|^2 Q + eta,
// A = -sum_u gamma(u) c_h(u) e^(-i w u) (c_h the taper's autocorrelation,
// every lag of the picture folded onto the padded grid), Psi the tapered
// transform of psi = -Gamma h (a convolution) and Q = h' psi.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace whittle {

// ln s2, H, ln kappa, a, b, ln eta.
constexpr int parameterCount = 6;
using Parameters = std::array<double, parameterCount>;
enum Parameter { lnVariance, hurst, lnKappa, anisoA, anisoB, lnNoise };

// S(x) = 1 - 2^(1-nu) / Gamma(nu) x^nu K_nu(x) for 0 < nu < 1: by its power
// series below x = 2 (where the difference from 1 would cancel), from the
// Bessel function above.
double maternStructure(double nu, double x);

class ExpectedPeriodogram {
public:
    // For a W x H picture tapered by hx (along x) and hy (along y), each
    // normalised so that sum hx^2 = sum hy^2 = 1, on the PW x PH grid of
    // frequencies (PW >= W, PH >= H, powers of two).
    ExpectedPeriodogram(const std::vector<double>& hx, const std::vector<double>& hy, std::uint32_t PW,
                        std::uint32_t PH);

    // The expected periodogram at every frequency of the grid (row-major,
    // PH rows of PW, frequency (kx / PW, ky / PH) cycles per pixel), and,
    // when `gradient` is given, its derivative by each parameter.  One
    // model is not to be evaluated from two threads at once: it keeps its
    // work space.
    void evaluate(const Parameters& p, std::vector<double>& mean,
                  std::array<std::vector<double>, parameterCount>* gradient) const;

    std::uint32_t width() const { return PW; }
    std::uint32_t height() const { return PH; }

private:
    int W, H;
    std::uint32_t PW, PH;
    std::vector<double> hx, hy;
    std::vector<double> cx, cy;  // the taper's autocorrelation along each side, by lag
    std::vector<double> alphaX, alphaY;  // H(w) / H(0) along each side, (re, im) pairs
    std::vector<double> taperHat;        // the taper's transform on the 2 PW x 2 PH grid, (re, im)
    struct Work {
        std::vector<std::vector<double>> lagSums, kernels, psi;
    };
    mutable Work work;
};

// A Tukey taper over n samples (cosine ends over `share` of the side, at
// the samples' centres), scaled so that its squares sum to 1.
std::vector<double> tukeyTaper(int n, double share);

// The tapered mean sum h X / sum h of W x H values, h = hx hy.
template <class T>
double taperedMean(const T* values, const std::vector<double>& hx, const std::vector<double>& hy);

// The semivariogram's squared distance u' M u and its derivatives by a and b.
struct Distance {
    double d2, da, db;
};
// M = exp(-T) for one (a, b), its hyperbolic functions worked out once.
class Anisotropy {
public:
    Anisotropy(double a, double b);
    Distance at(double u1, double u2) const
    {
        const double P = u1 * u1 + u2 * u2, Qa = u1 * u1 - u2 * u2, Qb = 2 * u1 * u2;
        const double mixed = a * Qa + b * Qb;
        return {ch * P - sh * mixed, sh * a * P - q * a * mixed - sh * Qa, sh * b * P - q * b * mixed - sh * Qb};
    }

private:
    double a, b, ch, sh, q;
};

// Frequency k of a transform of length P in cycles per sample, from -0.5 up
// to 0.5 (the upper half of the indices read as negative frequencies).
inline double signedFrequency(std::uint32_t k, std::uint32_t P)
{
    return (k <= P / 2 ? static_cast<double>(k) : static_cast<double>(k) - P) / P;
}

// The periodogram's correlation between frequencies dk apart, |rho|^2, for
// the taper: rho(dk) = sum_s h(s)^2 e^(-2 pi i dk s / P) along each side;
// a PH x PW grid (row-major), 1 at dk = 0.
std::vector<double> periodogramCorrelation(const std::vector<double>& hx, const std::vector<double>& hy,
                                           std::uint32_t PW, std::uint32_t PH);

}  // namespace whittle
