// The model behind the Whittle estimate and its expected periodogram (see
// whittle_model.h).
#include "analysis/whittle_model.h"

#include "analysis/fourier.h"
#include "analysis/matrix.h"
#include "analysis/psd_stages.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>

namespace whittle {

namespace {

constexpr double pi = 3.14159265358979323846;

// The autocorrelation sum_s h(s) h(s + k) for k = 0 .. n - 1.
std::vector<double> autocorrelation(const std::vector<double>& h)
{
    const std::size_t n = h.size();
    std::vector<double> c(n, 0.0);
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t s = 0; s + k < n; ++s) c[k] += h[s] * h[s + k];
    return c;
}

// sum_s w(s) e^(-2 pi i k s / P) for k = 0 .. P - 1.
std::vector<std::complex<double>> sideTransform(const std::vector<double>& w, std::uint32_t P)
{
    std::vector<std::complex<double>> out(P);
    for (std::uint32_t k = 0; k < P; ++k)
        for (std::size_t s = 0; s < w.size(); ++s)
            out[k] += w[s] * std::polar(1.0, -2 * pi * static_cast<double>((static_cast<std::uint64_t>(k) * s) % P) / P);
    return out;
}

// |sum_s h(s)^2 e^(-2 pi i k s / P)|^2 for k = 0 .. P - 1.
std::vector<double> squaredTaperTransform(const std::vector<double>& h, std::uint32_t P)
{
    std::vector<double> squares(h.size());
    for (std::size_t s = 0; s < h.size(); ++s) squares[s] = h[s] * h[s];
    std::vector<double> out;
    for (const std::complex<double>& c : sideTransform(squares, P)) out.push_back(std::norm(c));
    return out;
}

// ln S over t = ln x, tabulated on [t0, t0 + h (n - 1)], read by cubic
// Hermite interpolation with slopes from central differences.
class StructureTable {
public:
    StructureTable(double nu, double t0, double t1, double h) : t0(t0), h(h)
    {
        const int n = static_cast<int>(std::ceil((t1 - t0) / h)) + 3;
        value.resize(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) value[static_cast<std::size_t>(i)] = std::log(maternStructure(nu, std::exp(t0 + h * (i - 1))));
        slope.resize(value.size());
        for (std::size_t i = 1; i + 1 < value.size(); ++i) slope[i] = (value[i + 1] - value[i - 1]) / (2 * h);
    }
    // ln S and its derivative by t.
    void at(double t, double& L, double& dL) const
    {
        const double f = (t - t0) / h + 1;
        std::size_t i = static_cast<std::size_t>(std::clamp(f, 1.0, static_cast<double>(value.size() - 3)));
        const double s = f - static_cast<double>(i);
        const double p0 = value[i], p1 = value[i + 1], m0 = slope[i] * h, m1 = slope[i + 1] * h;
        const double s2 = s * s, s3 = s2 * s;
        L = (2 * s3 - 3 * s2 + 1) * p0 + (s3 - 2 * s2 + s) * m0 + (-2 * s3 + 3 * s2) * p1 + (s3 - s2) * m1;
        dL = ((6 * s2 - 6 * s) * p0 + (3 * s2 - 4 * s + 1) * m0 + (-6 * s2 + 6 * s) * p1 + (3 * s2 - 2 * s) * m1) / h;
    }

private:
    double t0, h;
    std::vector<double> value, slope;
};

// H(k) / H(0), H(k) = sum_s h(s) e^(-2 pi i k s / P), for k = 0 .. P - 1,
// as (re, im) pairs.
std::vector<double> relativeTransform(const std::vector<double>& h, std::uint32_t P)
{
    double total = 0;
    for (double v : h) total += v;
    std::vector<double> out;
    for (const std::complex<double>& c : sideTransform(h, P)) {
        out.push_back(c.real() / total);
        out.push_back(c.imag() / total);
    }
    return out;
}

// The model's spectrum in cycles per pixel, f(q) = 4 pi s2 nu kappa^(2 nu)
// (kappa^2 + 4 pi^2 q' exp(T) q)^-(nu + 1), summed over its aliases q + m,
// m != 0 (what sampling folds into the band), with its derivatives by the
// parameters (ln s2, H, ln kappa, a, b): the aliases within 4 bands of
// the band each way, the rest as the integral of the isotropic tail.
void aliasedPower(double qx, double qy, const Parameters& p, double out[6])
{
    const double variance = std::exp(p[lnVariance]), nu = p[hurst], kappa = std::exp(p[lnKappa]);
    const double k2 = kappa * kappa, c = 4 * pi * variance * nu * std::pow(kappa, 2 * nu);
    for (int i = 0; i < 6; ++i) out[i] = 0;
    constexpr int reach = 4;
    const Anisotropy frequencies(-p[anisoA], -p[anisoB]);  // q' exp(T) q
    for (int my = -reach; my <= reach; ++my)
        for (int mx = -reach; mx <= reach; ++mx) {
            if (mx == 0 && my == 0) continue;
            const Distance d = frequencies.at(qx + mx, qy + my);
            const double base = k2 + 4 * pi * pi * d.d2;
            const double f = c * std::exp(-(nu + 1) * std::log(base));
            out[0] += f;
            out[1] += f * (1 / nu + 2 * p[lnKappa] - std::log(base));
            out[2] += f * (2 * nu - (nu + 1) * 2 * k2 / base);
            out[3] += f * (nu + 1) * 4 * pi * pi * d.da / base;
            out[4] += f * (nu + 1) * 4 * pi * pi * d.db / base;
        }
    // Beyond: 4 pi s2 nu kappa^(2 nu) (4 pi^2)^-(nu + 1) times the integral of
    // r^(-2 nu - 2) over r > R, 2 pi R^(-2 nu) / (2 nu), R the reach plus a half.
    const double R = (reach + 0.5) * 2 / std::sqrt(pi);  // the disc of the square's area
    const double tail = c * std::pow(4 * pi * pi, -(nu + 1)) * 2 * pi * std::pow(R, -2 * nu) / (2 * nu);
    out[0] += tail;
    out[1] += tail * (1 / nu + 2 * p[lnKappa] - std::log(4 * pi * pi) - 2 * std::log(R) - 1 / nu);
    out[2] += tail * 2 * nu;
}

}  // namespace

double maternStructure(double nu, double x)
{
    if (x <= 0) return 0.0;
    if (x < 2) {
        // 1 - m = Gamma(1 - nu) [2^(-2 nu) x^(2 nu) sum z^k / (k! Gamma(k + nu + 1))
        //                         - sum_(k >= 1) z^k / (k! Gamma(k + 1 - nu))], z = x^2 / 4.
        const double z = x * x / 4;
        double first = 1 / std::tgamma(nu + 1), second = 1 / std::tgamma(1 - nu);
        double sumFirst = first, sumSecond = 0;
        for (int k = 1; k < 60; ++k) {
            first *= z / (k * (k + nu));
            second *= z / (k * (k - nu));
            sumFirst += first;
            sumSecond += second;
            if (std::fabs(first) < 1e-18 * sumFirst && std::fabs(second) < 1e-18 * std::fabs(sumSecond) + 1e-300) break;
        }
        return std::tgamma(1 - nu) * (std::pow(x / 2, 2 * nu) * sumFirst - sumSecond);
    }
    if (x > 700) return 1.0;
    return 1 - std::pow(2.0, 1 - nu) / std::tgamma(nu) * std::pow(x, nu) * std::cyl_bessel_k(nu, x);
}

Anisotropy::Anisotropy(double a_, double b_) : a(a_), b(b_)
{
    // exp(-T) = cosh(t) I - sinh(t)/t T with t = |(a, b)|; near t = 0 the
    // ratios by their series.  q is (d (sinh t / t) / dt) / t.
    const double t = std::sqrt(a * a + b * b);
    ch = std::cosh(t);
    sh = t < 1e-4 ? 1 + t * t / 6 : std::sinh(t) / t;
    q = t < 1e-3 ? 1.0 / 3 + t * t / 30 : (t * ch - std::sinh(t)) / (t * t * t);
}

ExpectedPeriodogram::ExpectedPeriodogram(const std::vector<double>& hx_, const std::vector<double>& hy_,
                                         std::uint32_t PW_, std::uint32_t PH_)
    : W(static_cast<int>(hx_.size())), H(static_cast<int>(hy_.size())), PW(PW_), PH(PH_), hx(hx_), hy(hy_),
      cx(autocorrelation(hx_)), cy(autocorrelation(hy_)), alphaX(relativeTransform(hx_, PW_)),
      alphaY(relativeTransform(hy_, PH_))
{
    matrix grid(static_cast<int>(2 * PH), static_cast<int>(4 * PW), nullptr);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            grid.getData()[2 * (static_cast<std::size_t>(y) * 2 * PW + static_cast<std::size_t>(x))] =
                hx[static_cast<std::size_t>(x)] * hy[static_cast<std::size_t>(y)];
    fourierTransform2D(grid.getData(), 2 * PW, 2 * PH, -1);
    taperHat.assign(grid.getData(), grid.getData() + 8 * std::size_t{PW} * PH);
}

std::vector<double> tukeyTaper(int n, double share)
{
    std::vector<double> h(static_cast<std::size_t>(n), 1.0);
    const double edge = share * n / 2;
    double squares = 0;
    for (int i = 0; i < n; ++i) {
        const double x = std::min(i + 0.5, n - i - 0.5);
        if (x < edge) h[static_cast<std::size_t>(i)] = 0.5 * (1 - std::cos(pi * x / edge));
        squares += h[static_cast<std::size_t>(i)] * h[static_cast<std::size_t>(i)];
    }
    for (double& v : h) v /= std::sqrt(squares);
    return h;
}

template <class T>
double taperedMean(const T* values, const std::vector<double>& hx, const std::vector<double>& hy)
{
    double sum = 0, weight = 0;
    for (std::size_t y = 0; y < hy.size(); ++y) {
        double row = 0;
        for (std::size_t x = 0; x < hx.size(); ++x) row += hx[x] * static_cast<double>(values[y * hx.size() + x]);
        sum += hy[y] * row;
    }
    for (double a : hx)
        for (double b : hy) weight += a * b;
    return sum / weight;
}

#define ORVANE_WHITTLE_TYPE(T) template double taperedMean(const T*, const std::vector<double>&, const std::vector<double>&);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_WHITTLE_TYPE)
#undef ORVANE_WHITTLE_TYPE

void ExpectedPeriodogram::evaluate(const Parameters& p, std::vector<double>& mean,
                                   std::array<std::vector<double>, parameterCount>* gradient) const
{
    const double variance = std::exp(p[lnVariance]), nu = p[hurst], lnKappa_ = p[lnKappa];
    const double a = p[anisoA], b = p[anisoB], eta = std::exp(p[lnNoise]);
    // ln S over every t = ln(kappa d) the lags reach (the anisotropy
    // stretches d^2 by at most e^(+-|(a, b)|)), and its derivative by nu.
    const double t = std::hypot(a, b);
    const double far = 0.5 * std::log(static_cast<double>(W - 1) * (W - 1) + static_cast<double>(H - 1) * (H - 1));
    const double t0 = lnKappa_ - t / 2 - 1, t1 = lnKappa_ + t / 2 + far + 1, step = 1.0 / 32;
    const StructureTable table(nu, t0, t1, step);
    const double dNu = 1e-4;
    const StructureTable above(std::min(nu + dNu, 0.9999), t0, gradient ? t1 : t0, step);
    const StructureTable below(std::max(nu - dNu, 1e-4), t0, gradient ? t1 : t0, step);
    const double spanNu = std::min(nu + dNu, 0.9999) - std::max(nu - dNu, 1e-4);
    // Complex grids each carrying two real sums, as (re, im): on the
    // padded grid the lag sums with the taper's autocorrelation, (value,
    // by H), (by ln kappa, by a), (by b, -); on the grid twice as large the
    // same without it, the kernels of the convolution psi = -Gamma h.
    const std::size_t n = std::size_t{PW} * PH, big = 4 * n;
    const int pairs = gradient ? 3 : 1;
    // Work space kept from call to call (a model is used by one thread).
    std::vector<std::vector<double>>& lagSums = work.lagSums;
    std::vector<std::vector<double>>& kernels = work.kernels;
    lagSums.resize(3);
    kernels.resize(3);
    for (int k = 0; k < pairs; ++k) {
        lagSums[static_cast<std::size_t>(k)].assign(2 * n, 0.0);
        kernels[static_cast<std::size_t>(k)].assign(2 * big, 0.0);
    }
    const int pw = static_cast<int>(PW), ph = static_cast<int>(PH);
    const Anisotropy lags(a, b);
    // The sums are even in the lag: each lag of the upper half-plane is
    // worked out once and written at u and -u.
    for (int v = 0; v <= H - 1; ++v) {
        const double taperY = cy[static_cast<std::size_t>(v)];
        const std::size_t rows[2] = {static_cast<std::size_t>(v % ph), static_cast<std::size_t>((ph - v % ph) % ph)};
        const std::size_t bigRows[2] = {static_cast<std::size_t>(v), static_cast<std::size_t>((2 * ph - v) % (2 * ph))};
        for (int u = v == 0 ? 1 : -(W - 1); u <= W - 1; ++u) {
            const double taper = cx[static_cast<std::size_t>(std::abs(u))] * taperY;
            const Distance d = lags.at(u, v);
            const double tt = lnKappa_ + 0.5 * std::log(d.d2);
            double L, dL;
            table.at(tt, L, dL);
            const double g = -variance * std::exp(L);  // -gamma(u)
            double values[6] = {g, 0, 0, 0, 0, 0};
            if (gradient) {
                double La, dLa, Lb, dLb;
                above.at(tt, La, dLa);
                below.at(tt, Lb, dLb);
                values[1] = g * (La - Lb) / spanNu;
                values[2] = g * dL;
                values[3] = values[2] * 0.5 * d.da / d.d2;
                values[4] = values[2] * 0.5 * d.db / d.d2;
            }
            for (int side = 0; side < 2; ++side) {
                const int x = side == 0 ? u : -u;
                const std::size_t at = 2 * (rows[side] * PW + static_cast<std::size_t>((x % pw + pw) % pw));
                const std::size_t bigAt =
                    2 * (bigRows[side] * 2 * PW + static_cast<std::size_t>((x % (2 * pw) + 2 * pw) % (2 * pw)));
                for (int k = 0; k < 2 * pairs; ++k) {
                    lagSums[static_cast<std::size_t>(k / 2)][at + static_cast<std::size_t>(k % 2)] += values[k] * taper;
                    kernels[static_cast<std::size_t>(k / 2)][bigAt + static_cast<std::size_t>(k % 2)] += values[k];
                }
            }
        }
    }
    // The mean's correction: psi_k = kernel_k conv h on the picture's grid,
    // its tapered transform Psi_k and Q_k = sum h psi_k.
    std::vector<std::vector<double>>& Psi = work.psi;
    Psi.resize(3);
    for (int k = 0; k < pairs; ++k) Psi[static_cast<std::size_t>(k)].assign(2 * n, 0.0);
    std::vector<double> Q(static_cast<std::size_t>(2 * pairs), 0.0);
    for (int k = 0; k < pairs; ++k) {
        std::vector<double>& kernel = kernels[static_cast<std::size_t>(k)];
        fourierTransform2D(kernel.data(), 2 * PW, 2 * PH, -1);
        for (std::size_t i = 0; i < big; ++i) {
            // (k1 + i k2)^ times h^, h real: the transforms of k1 conv h and k2 conv h, packed.
            const double kr = kernel[2 * i], ki = kernel[2 * i + 1], hr = taperHat[2 * i], hi = taperHat[2 * i + 1];
            kernel[2 * i] = kr * hr - ki * hi;
            kernel[2 * i + 1] = kr * hi + ki * hr;
        }
        fourierTransform2D(kernel.data(), 2 * PW, 2 * PH, 1);
        std::vector<double>& psi = Psi[static_cast<std::size_t>(k)];
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double weight = hx[static_cast<std::size_t>(x)] * hy[static_cast<std::size_t>(y)];
                const std::size_t from = 2 * (static_cast<std::size_t>(y) * 2 * PW + static_cast<std::size_t>(x));
                const std::size_t to = 2 * (static_cast<std::size_t>(y) * PW + static_cast<std::size_t>(x));
                psi[to] = weight * kernel[from];
                psi[to + 1] = weight * kernel[from + 1];
                Q[static_cast<std::size_t>(2 * k)] += weight * kernel[from];
                Q[static_cast<std::size_t>(2 * k + 1)] += weight * kernel[from + 1];
            }
        fourierTransform2D(psi.data(), PW, PH, -1);
        fourierTransform2D(lagSums[static_cast<std::size_t>(k)].data(), PW, PH, -1);
    }
    // Each real sum r of a packed pair (p, q) at frequency i: the pair's
    // transform is P + i Q' with P, Q' the transforms of p and q, which for
    // psi are complex: P(i) = (T(i) + conj T(-i)) / 2, Q'(i) = (T(i) - conj T(-i)) / 2i.
    auto unpack = [&](const std::vector<double>& t, std::size_t i, std::size_t mirror, int which, double& re, double& im) {
        const double ar = t[2 * i], ai = t[2 * i + 1], br = t[2 * mirror], bi = -t[2 * mirror + 1];
        if (which == 0) {
            re = (ar + br) / 2;
            im = (ai + bi) / 2;
        } else {
            re = (ai - bi) / 2;
            im = -(ar - br) / 2;
        }
    };
    mean.assign(n, 0.0);
    if (gradient)
        for (auto& each : *gradient) each.assign(n, 0.0);
    const int order[5] = {-1, hurst, lnKappa, anisoA, anisoB};
    for (std::uint32_t ky = 0; ky < PH; ++ky)
        for (std::uint32_t kx = 0; kx < PW; ++kx) {
            const std::size_t i = std::size_t{ky} * PW + kx;
            const std::size_t mirror = std::size_t{(PH - ky) % PH} * PW + (PW - kx) % PW;
            // alpha = alphaX alphaY
            const double axr = alphaX[2 * kx], axi = alphaX[2 * kx + 1], ayr = alphaY[2 * ky], ayi = alphaY[2 * ky + 1];
            const double ar = axr * ayr - axi * ayi, ai = axr * ayi + axi * ayr;
            for (int k = 0; k < (gradient ? 5 : 1); ++k) {
                double lr, li, pr, pi_;
                unpack(lagSums[static_cast<std::size_t>(k / 2)], i, mirror, k % 2, lr, li);
                unpack(Psi[static_cast<std::size_t>(k / 2)], i, mirror, k % 2, pr, pi_);
                // A - 2 Re(conj(alpha) Psi) + |alpha|^2 Q
                const double value = lr - 2 * (ar * pr + ai * pi_) + (ar * ar + ai * ai) * Q[static_cast<std::size_t>(k)];
                if (k == 0) {
                    mean[i] = value + eta;
                    if (gradient) (*gradient)[lnVariance][i] = value;
                } else {
                    (*gradient)[static_cast<std::size_t>(order[k])][i] = value;
                }
            }
            if (gradient) (*gradient)[lnNoise][i] = eta;
        }
    // The lattice's model is the spectrum within the band, unaliased (as a
    // spectral synthesis or an instrument's optics make it): the aliases
    // that sampling the continuous model folds in are taken off.  They are
    // smooth over the band, so they are computed on a coarse grid and read
    // bilinearly; the taper spreads them too little to matter.
    constexpr int coarse = 8;  // points per half band
    std::vector<double> aliases(static_cast<std::size_t>((2 * coarse + 1) * (2 * coarse + 1) * 6));
    for (int j = 0; j <= 2 * coarse; ++j)
        for (int i = 0; i <= 2 * coarse; ++i)
            aliasedPower(0.5 * (i - coarse) / coarse, 0.5 * (j - coarse) / coarse, p,
                         &aliases[static_cast<std::size_t>((j * (2 * coarse + 1) + i) * 6)]);
    for (std::uint32_t ky = 0; ky < PH; ++ky)
        for (std::uint32_t kx = 0; kx < PW; ++kx) {
            const double fx = signedFrequency(kx, PW);
            const double fy = signedFrequency(ky, PH);
            const double gx = (fx + 0.5) * 2 * coarse, gy = (fy + 0.5) * 2 * coarse;
            const int ix = std::min(static_cast<int>(gx), 2 * coarse - 1), iy = std::min(static_cast<int>(gy), 2 * coarse - 1);
            const double sx = gx - ix, sy = gy - iy;
            auto node = [&](int x, int y, int k) { return aliases[static_cast<std::size_t>((y * (2 * coarse + 1) + x) * 6 + k)]; };
            auto read = [&](int k) {
                return (1 - sy) * ((1 - sx) * node(ix, iy, k) + sx * node(ix + 1, iy, k)) +
                       sy * ((1 - sx) * node(ix, iy + 1, k) + sx * node(ix + 1, iy + 1, k));
            };
            const std::size_t i = std::size_t{ky} * PW + kx;
            mean[i] -= read(0);
            if (gradient) {
                (*gradient)[lnVariance][i] -= read(0);
                (*gradient)[hurst][i] -= read(1);
                (*gradient)[lnKappa][i] -= read(2);
                (*gradient)[anisoA][i] -= read(3);
                (*gradient)[anisoB][i] -= read(4);
            }
        }
}

std::vector<double> periodogramCorrelation(const std::vector<double>& hx, const std::vector<double>& hy,
                                           std::uint32_t PW, std::uint32_t PH)
{
    const std::vector<double> kx = squaredTaperTransform(hx, PW), ky = squaredTaperTransform(hy, PH);
    std::vector<double> k(std::size_t{PW} * PH);
    for (std::uint32_t y = 0; y < PH; ++y)
        for (std::uint32_t x = 0; x < PW; ++x) k[std::size_t{y} * PW + x] = kx[x] * ky[y];
    return k;
}

}  // namespace whittle
