// The model behind the Whittle estimate and its expected periodogram (see
// whittle_model.h).
#include "analysis/whittle_model.h"

#include "analysis/fourier.h"
#include "analysis/psd_stages.h"
#include "analysis/thread_pool.h"
#include "analysis/whittle_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

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

// cos and sin of 2 pi k / P for k = 0 .. count - 1, appended.
void turns(std::uint32_t count, std::uint32_t P, std::vector<double>& cosine, std::vector<double>& sine)
{
    for (std::uint32_t k = 0; k < count; ++k) {
        cosine.push_back(std::cos(2 * pi * k / P));
        sine.push_back(std::sin(2 * pi * k / P));
    }
}

// The Laplacian's autocorrelation r(v): 20 at no lag, -8 a step away, 2 a
// diagonal step away, 1 two steps away; it sums to zero.
struct Tap {
    int dx, dy;
    double weight;
};
constexpr Tap laplacianSquared[13] = {{0, 0, 20},  {1, 0, -8}, {-1, 0, -8}, {0, 1, -8}, {0, -1, -8},
                                      {1, 1, 2},   {1, -1, 2}, {-1, 1, 2},  {-1, -1, 2}, {2, 0, 1},
                                      {-2, 0, 1},  {0, 2, 1},  {0, -2, 1}};

}  // namespace

Anisotropy::Anisotropy(double a_, double b_) : a(a_), b(b_)
{
    // exp(-T) = cosh(t) I - sinh(t)/t T with t = |(a, b)|; near t = 0 the
    // ratios by their series.  q is (d (sinh t / t) / dt) / t.
    const double t = std::sqrt(a * a + b * b);
    ch = std::cosh(t);
    sh = t < 1e-4 ? 1 + t * t / 6 : std::sinh(t) / t;
    q = t < 1e-3 ? 1.0 / 3 + t * t / 30 : (t * ch - std::sinh(t)) / (t * t * t);
}

Spectrum::Spectrum(const Parameters& p)
    : nu(p[hurst]), logKappa(p[lnKappa]), k2(std::exp(2 * p[lnKappa])),
      scale(4 * pi * std::exp(p[lnVariance]) * p[hurst] * std::exp(2 * p[hurst] * p[lnKappa])),
      frequencies(-p[anisoA], -p[anisoB])
{
}

double Spectrum::at(double fx, double fy) const
{
    double f;
    whittleKernels().spectrum(terms(), &fx, &fy, 1, &f);
    return f;
}

void Spectrum::at(double fx, double fy, double out[5]) const
{
    whittleKernels().derivatives(terms(), fx, fy, out);
}

double laplacianGain(double fx, double fy)
{
    const double g = 2 * std::cos(2 * pi * fx) + 2 * std::cos(2 * pi * fy) - 4;
    return g * g;
}

ExpectedPeriodogram::ExpectedPeriodogram(const std::vector<double>& hx, const std::vector<double>& hy,
                                         std::uint32_t PW_, std::uint32_t PH_)
    : W(static_cast<int>(hx.size())), H(static_cast<int>(hy.size())), PW(PW_), PH(PH_),
      GW(2 * PW_), GH(2 * PH_), cx(autocorrelation(hx)),
      cy(autocorrelation(hy)), fine(static_cast<int>(GH), static_cast<int>(GW), matrix::Unfilled{}),
      sums(static_cast<int>(PH), static_cast<int>(PW), matrix::Unfilled{})
{
    // Both are sums of products of cosines along each side: cos 2 pi f d
    // for the lags d = 0, 1, 2 the Laplacian's autocorrelation reaches.
    auto cosines = [](std::uint32_t P) {
        std::vector<std::array<double, 3>> c(P);
        for (std::uint32_t k = 0; k < P; ++k)
            for (int d = 0; d < 3; ++d) c[k][static_cast<std::size_t>(d)] = std::cos(2 * pi * signedFrequency(k, P) * d);
        return c;
    };
    const auto along = cosines(PW), across = cosines(PH);
    const std::size_t n = std::size_t{PW} * PH;
    gain_.resize(n);
    noise_.resize(n);
    for (std::uint32_t ky = 0; ky < PH; ++ky)
        for (std::uint32_t kx = 0; kx < PW; ++kx) {
            // The taps come in mirrored pairs, so the sines cancel.
            double N = 0;
            for (const Tap& tap : laplacianSquared) {
                const std::size_t dx = static_cast<std::size_t>(std::abs(tap.dx)), dy = static_cast<std::size_t>(std::abs(tap.dy));
                N += tap.weight * cx[dx] * cy[dy] * along[kx][dx] * across[ky][dy];
            }
            const double g = 2 * along[kx][1] + 2 * across[ky][1] - 4;
            gain_[std::size_t{ky} * PW + kx] = g * g;
            noise_[std::size_t{ky} * PW + kx] = N;
        }
    const auto fineAlong = cosines(GW), fineAcross = cosines(GH);
    fineGain.resize(std::size_t{GH / 2 + 1} * GW);
    for (std::uint32_t ky = 0; ky <= GH / 2; ++ky)
        for (std::uint32_t kx = 0; kx < GW; ++kx) {
            const double g = 2 * fineAlong[kx][1] + 2 * fineAcross[ky][1] - 4;
            fineGain[std::size_t{ky} * GW + kx] = g * g;
        }
    turns(GW / 2, GW, fineCos, fineSin);
    turns(PW, PW, periodCos, periodSin);
}

namespace {

// The threads a transform of the fit's is given: every core from 2^14
// complex values, where a second thread pays while the fit waits for it
// (the process's rule, for pictures transformed side by side, waits for
// 2^19).
int fitThreads(std::size_t values) { return values >= (std::size_t{1} << 14) ? analysisThreads() : 1; }

// Z is the transform of a real array of `cols` columns and `rows` rows
// (cols even), its even and odd columns packed as one complex array of
// cols / 2 columns.  Calls body(x, a, b, c, d) for the columns x in
// [0, count) of row y, with Z(x, y) = a + i b and Z(-x, -y) = c + i d (x
// read modulo cols / 2): what the real array's transform at (x, y) is
// made of.
template <class Body>
void forEachMirrorPair(const double* Z, std::uint32_t cols, std::uint32_t rows, std::uint32_t y, std::uint32_t count,
                       const Body& body)
{
    const std::uint32_t half = cols / 2;
    const double* here = Z + 2 * std::size_t{y} * half;
    const double* there = Z + 2 * std::size_t{(rows - y) % rows} * half;
    for (std::uint32_t x = 0; x < count; ++x) {
        const std::uint32_t h = x < half ? x : x - half, t = h == 0 ? 0 : half - h;
        body(x, here[2 * h], here[2 * h + 1], there[2 * t], there[2 * t + 1]);
    }
}

// The real parts along a row y of the real array's transform (see
// forEachMirrorPair) at columns [0, count): each is (a + c) / 2 + cos t
// (b + d) / 2 + direction sin t (a - c) / 2, t = 2 pi x / cols (the
// cosines and sines given).
void unpackedRow(const double* Z, std::uint32_t cols, std::uint32_t rows, std::uint32_t y, std::uint32_t count,
                 const double* cosine, const double* sine, int direction, double* out)
{
    forEachMirrorPair(Z, cols, rows, y, count, [&](std::uint32_t x, double a, double b, double c, double d) {
        out[x] = 0.5 * (a + c) + cosine[x] * (0.5 * (b + d)) + direction * sine[x] * (0.5 * (a - c));
    });
}

}  // namespace

void ExpectedPeriodogram::evaluate(const Parameters& p, std::vector<double>& surface) const
{
    fillFineGrid(Spectrum(p));
    foldLags();
    transformFolded(surface);
}

void ExpectedPeriodogram::fillFineGrid(const Spectrum& f) const
{
    // f |G|^2 on the fine grid, even in w: each frequency of the upper half
    // plane is worked out once and written at w and -w.  On the Nyquist
    // lines, where the band's two edges meet, the mean of both sides (the
    // trapezoidal rule over the jump of a stretched spectrum).  f row by
    // row, in two parts on two threads when the grid is large; the Nyquist
    // column and row then mended one by one.
    double* const grid = fine.getData();
    std::vector<double> fx(GW);
    for (std::uint32_t kx = 0; kx < GW; ++kx) fx[kx] = signedFrequency(kx, GW);
    auto rows = [&](std::uint32_t from, std::uint32_t to) {
        std::vector<double> fy(GW), row(GW);
        for (std::uint32_t ky = from; ky < to; ++ky) {
            std::fill(fy.begin(), fy.end(), signedFrequency(ky, GH));
            whittleKernels().spectrum(f.terms(), fx.data(), fy.data(), GW, row.data());
            // The Nyquist row and column: (u, v) with (u, -v), (-u, v) or both.
            const std::uint32_t n = GW / 2;
            const double u = fx[n], v = fy[0], corner = row[n];
            if (2 * ky == GH)
                for (std::uint32_t kx = 0; kx < GW; ++kx) row[kx] = (row[kx] + f.at(fx[kx], -v)) / 2;
            row[n] = 2 * ky == GH ? (corner + f.at(-u, v) + f.at(u, -v) + f.at(-u, -v)) / 4 : (corner + f.at(-u, v)) / 2;
            const double* gain = fineGain.data() + std::size_t{ky} * GW;
            double* here = grid + std::size_t{ky} * GW;
            double* mirror = grid + std::size_t{(GH - ky) % GH} * GW;
            for (std::uint32_t kx = 0; kx < GW; ++kx) here[kx] = row[kx] * gain[kx];
            mirror[0] = here[0];
            for (std::uint32_t kx = 1; kx < GW; ++kx) mirror[GW - kx] = here[kx];
        }
    };
    const std::uint32_t last = GH / 2 + 1;
    if (std::size_t{GW} * GH >= (std::size_t{1} << 16) && analysisThreads() > 1)
        runParts(2, [&](int part) { rows(part == 0 ? 0 : last / 2, part == 0 ? last / 2 : last); });
    else
        rows(0, last);
}

void ExpectedPeriodogram::foldLags() const
{
    // The fine grid's transform is the filtered covariance c at every lag
    // (the grid is at least twice the picture, so no lag wraps), real and
    // even: its lags (ux, uy) with 0 <= ux < W (< GW / 2) are read from the
    // packed transform, and each also stands for (-ux, -uy).  Times the
    // taper's autocorrelation, folded onto the periodogram's grid: lag u sits
    // at u when u >= 0 and at P + u below (W <= PW, H <= PH).
    double* const grid = fine.getData();
    fourierTransform2D(grid, GW / 2, GH, 1, fitThreads(std::size_t{GW / 2} * GH));  // scaled by 2 / (GW GH)
    double* const folded = sums.getData();
    std::fill(folded, folded + std::size_t{PW} * PH, 0.0);
    std::vector<double> lags(static_cast<std::size_t>(W));
    for (int uy = -(H - 1); uy < H; ++uy) {
        const std::uint32_t gy = uy < 0 ? GH - static_cast<std::uint32_t>(-uy) : static_cast<std::uint32_t>(uy);
        const std::uint32_t py = uy < 0 ? PH - static_cast<std::uint32_t>(-uy) : static_cast<std::uint32_t>(uy);
        unpackedRow(grid, GW, GH, gy, static_cast<std::uint32_t>(W), fineCos.data(), fineSin.data(), 1, lags.data());
        double* const here = folded + std::size_t{py} * PW;
        double* const mirror = folded + std::size_t{(PH - py) % PH} * PW;
        const double taperY = 0.5 * cy[static_cast<std::size_t>(std::abs(uy))];
        here[0] += lags[0] * cx[0] * taperY;
        for (std::uint32_t ux = 1; ux < static_cast<std::uint32_t>(W); ++ux) {
            const double v = lags[ux] * cx[ux] * taperY;
            here[ux] += v;
            mirror[PW - ux] += v;
        }
    }
}

void ExpectedPeriodogram::transformFolded(std::vector<double>& surface) const
{
    // The folded lags are real and even, so their transform is real.
    double* const folded = sums.getData();
    fourierTransform2D(folded, PW / 2, PH, -1, fitThreads(std::size_t{PW / 2} * PH));
    surface.resize(std::size_t{PW} * PH);
    for (std::uint32_t ky = 0; ky < PH; ++ky)
        unpackedRow(folded, PW, PH, ky, PW, periodCos.data(), periodSin.data(), -1, surface.data() + std::size_t{ky} * PW);
}

std::vector<double> realPower(matrix& grid, std::uint32_t cols, std::uint32_t rows)
{
    // X = E + e^(-i t) O with E and O the transforms of the even and the odd
    // columns: with Z(x, y) = a + i b and Z(-x, -y) = c + i d, E = ((a + c)
    // + i (b - d)) / 2 and O = ((b + d) - i (a - c)) / 2.
    const std::uint32_t half = cols / 2;
    double* const Z = grid.getData();
    fourierTransform2D(Z, half, rows, -1, fitThreads(std::size_t{half} * rows));
    std::vector<double> cosine, sine;
    turns(cols, cols, cosine, sine);
    std::vector<double> power(std::size_t{cols} * rows);
    for (std::uint32_t y = 0; y < rows; ++y) {
        double* out = power.data() + std::size_t{y} * cols;
        forEachMirrorPair(Z, cols, rows, y, cols, [&](std::uint32_t x, double a, double b, double c, double d) {
            const double re = 0.5 * (a + c) + 0.5 * (cosine[x] * (b + d) - sine[x] * (a - c));
            const double im = 0.5 * (b - d) - 0.5 * (cosine[x] * (a - c) + sine[x] * (b + d));
            out[x] = re * re + im * im;
        });
    }
    return power;
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
double taperedLaplacian(const T* values, int W, int H, const std::vector<double>& hx, const std::vector<double>& hy,
                        double* out, std::size_t stride)
{
    const std::size_t w = static_cast<std::size_t>(W);
    for (std::size_t i = 0; i < w * static_cast<std::size_t>(H); ++i)
        if (!std::isfinite(static_cast<double>(values[i])))
            throw std::invalid_argument(
                std::isnan(static_cast<double>(values[i]))
                    ? "the Whittle estimate does not take points that were not measured (NaN, the first at row " +
                          std::to_string(i / w + 1) + ", column " + std::to_string(i % w + 1) + ")"
                    : "the value at row " + std::to_string(i / w + 1) + ", column " + std::to_string(i % w + 1) +
                          " is not a finite number");
    double squares = 0;
    for (std::size_t y = 1; y + 1 < static_cast<std::size_t>(H); ++y) {
        const T* r = values + y * w;
        const T* up = r - w;
        const T* down = r + w;
        for (std::size_t x = 1; x + 1 < w; ++x) {
            const double l = static_cast<double>(r[x - 1]) + static_cast<double>(r[x + 1]) +
                             static_cast<double>(up[x]) + static_cast<double>(down[x]) - 4 * static_cast<double>(r[x]);
            const double v = hx[x - 1] * hy[y - 1] * l;
            out[(y - 1) * stride + x - 1] = v;
            squares += v * v;
        }
    }
    return squares;
}

#define ORVANE_WHITTLE_TYPE(T)                                                                                        \
    template double taperedLaplacian(const T*, int, int, const std::vector<double>&, const std::vector<double>&, \
                                     double*, std::size_t);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_WHITTLE_TYPE)
#undef ORVANE_WHITTLE_TYPE

std::vector<double> correlationTransform(const std::vector<double>& h, std::uint32_t P)
{
    // The transform of |rho|^2 is P times the circular autocorrelation of
    // h^2 with period P: sum_s h(s)^2 h((s + k) mod P)^2, the lags k and
    // k - P of the ordinary one together.
    std::vector<double> squares(h.size());
    for (std::size_t s = 0; s < h.size(); ++s) squares[s] = h[s] * h[s];
    const std::vector<double> c = autocorrelation(squares);
    std::vector<double> out(P, 0.0);
    for (std::size_t k = 0; k < c.size(); ++k) {
        out[k] += P * c[k];
        if (k > 0) out[P - k] += P * c[k];
    }
    return out;
}

}  // namespace whittle
