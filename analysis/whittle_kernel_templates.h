// The Whittle fit's kernels over its ordinates (see whittle_kernels.h),
// four doubles at a time as a GCC vector: one AVX register in a unit built
// with AVX2, two SSE2 or NEON registers elsewhere.  exp and ln are the
// classic argument reductions and minimax polynomials of the freely
// distributable fdlibm, within 1 ulp, in IEEE operations only (the C
// library's own differ between processors); a lane outside their range
// (exp beyond +-708, ln of a value not positive, normal and finite) is
// handed to the C library.
// Included once per instruction set, by units that hold nothing else but
// their table; everything here has internal linkage.  No vector crosses a
// translation unit, so the compiler's notes about passing 32-byte vectors
// without AVX (-Wpsabi) do not apply: the build turns them off for
// whittle_kernels.cpp.
#pragma once

#include "analysis/whittle_kernels.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

typedef double Quad __attribute__((vector_size(32)));
typedef std::int64_t QuadMask __attribute__((vector_size(32)));  // lanes all ones (true) or zeros
typedef std::uint64_t QuadBits __attribute__((vector_size(32)));  // a double's bits, shifted without sign

inline Quad splat(double v) { return Quad{v, v, v, v}; }
inline Quad load(const double* p)
{
    Quad q;
    std::memcpy(&q, p, sizeof q);
    return q;
}
inline void store(double* p, Quad q) { std::memcpy(p, &q, sizeof q); }
inline Quad select(QuadMask m, Quad a, Quad b) { return (Quad)((m & (QuadMask)a) | (~m & (QuadMask)b)); }
inline bool allOf(QuadMask m) { return (m[0] & m[1] & m[2] & m[3]) != 0; }
// The four partial sums added in one order, whatever the width.
inline double total(Quad q) { return (q[0] + q[1]) + (q[2] + q[3]); }

constexpr double ln2Hi = 6.93147180369123816490e-01, ln2Lo = 1.90821492927058770002e-10;

// The lanes not in range worked out by the C library's f.
template <class F>
inline Quad patched(Quad result, QuadMask inRange, Quad x, const F& f)
{
    if (allOf(inRange)) return result;
    for (int i = 0; i < 4; ++i)
        if (!inRange[i]) result[i] = f(x[i]);
    return result;
}

inline Quad expOf(Quad x)
{
    constexpr double invLn2 = 1.44269504088896338700e+00;
    constexpr double P1 = 1.66666666666666019037e-01, P2 = -2.77777777770155933842e-03,
                     P3 = 6.61375632143793436117e-05, P4 = -1.65339022054652515390e-06,
                     P5 = 4.13813679705723846039e-08;
    // x = k ln 2 + r, |r| <= ln 2 / 2, k the whole number nearest x / ln 2
    // (rounded by adding and taking away 1.5 * 2^52, which leaves k in the
    // low bits of the sum).
    const Quad magic = splat(0x1.8p52);
    const Quad shifted = x * splat(invLn2) + magic;
    const Quad k = shifted - magic;
    const Quad hi = x - k * splat(ln2Hi), lo = k * splat(ln2Lo);
    const Quad r = hi - lo, t = r * r;
    const Quad c = r - t * (splat(P1) + t * (splat(P2) + t * (splat(P3) + t * (splat(P4) + t * splat(P5)))));
    const Quad y = splat(1.0) - ((lo - (r * c) / (splat(2.0) - c)) - hi);
    const Quad scale = (Quad)(((QuadBits)shifted + 1023) << 52);  // 2^k
    const QuadMask inRange = (x >= splat(-708.0)) & (x <= splat(708.0));
    return patched(y * scale, inRange, x, [](double v) { return std::exp(v); });
}

inline Quad logOf(Quad x)
{
    constexpr double Lg1 = 6.666666666666735130e-01, Lg2 = 3.999999999940941908e-01,
                     Lg3 = 2.857142874366239149e-01, Lg4 = 2.222219843214978396e-01,
                     Lg5 = 1.818357216161805012e-01, Lg6 = 1.531383769920937332e-01,
                     Lg7 = 1.479819860511658591e-01;
    // x = 2^k m, m in [sqrt(2) / 2, sqrt(2)); the exponent's bits read as
    // a double by making them the low bits of 2^52.
    const QuadBits bits = (QuadBits)x;
    Quad k = (Quad)((bits >> 52) | 0x4330000000000000ULL) - splat(0x1p52 + 1023);
    Quad m = (Quad)((bits & 0x000FFFFFFFFFFFFFULL) | 0x3FF0000000000000ULL);
    const QuadMask high = m > splat(1.41421356237309504880);
    m = select(high, m * splat(0.5), m);
    k = k + (Quad)(high & (QuadMask)splat(1.0));
    // ln m = f - (f^2 / 2 - s (f^2 / 2 + R(s^2))), f = m - 1, s = f / (2 + f).
    const Quad f = m - splat(1.0);
    const Quad s = f / (splat(2.0) + f);
    const Quad z = s * s, w = z * z;
    const Quad t1 = w * (splat(Lg2) + w * (splat(Lg4) + w * splat(Lg6)));
    const Quad t2 = z * (splat(Lg1) + w * (splat(Lg3) + w * (splat(Lg5) + w * splat(Lg7))));
    const Quad R = t2 + t1;
    const Quad hfsq = splat(0.5) * (f * f);
    const Quad result = k * splat(ln2Hi) - ((hfsq - (s * (hfsq + R) + k * splat(ln2Lo))) - f);
    const QuadMask inRange = (x >= splat(0x1p-1022)) & (x < splat(INFINITY));
    return patched(result, inRange, x, [](double v) { return std::log(v); });
}

// The model's spectrum f = scale (kappa^2 + 4 pi^2 q' exp(T) q)^-(H + 1)
// and its derivatives, four frequencies at a time.
class SpectrumQuad {
public:
    explicit SpectrumQuad(const whittle::Spectrum::Terms& t)
    {
        constexpr double pi = 3.14159265358979323846;
        const whittle::Anisotropy::Terms& a = t.frequencies;
        A = splat(a.a), B = splat(a.b), ch = splat(a.ch), sh = splat(a.sh);
        shA = splat(a.sh * a.a), shB = splat(a.sh * a.b), qA = splat(a.q * a.a), qB = splat(a.q * a.b);
        k2 = splat(t.k2), scale = splat(t.scale), fourPi2 = splat(4 * pi * pi);
        minusPower = splat(-(t.nu + 1));
        hurstTerm = splat(1 / t.nu + 2 * t.logKappa);
        twoNu = splat(2 * t.nu), twoK2Power = splat((t.nu + 1) * 2 * t.k2);
        anisoFactor = splat((t.nu + 1) * 4 * pi * pi);
    }

    Quad value(Quad fx, Quad fy) const
    {
        Quad base, lnBase;
        return value(fx, fy, nullptr, base, lnBase);
    }

    // f and its derivatives by H, ln kappa, a and b.
    void derivatives(Quad fx, Quad fy, Quad out[5]) const
    {
        Quad d[2], base, lnBase;
        const Quad f = value(fx, fy, d, base, lnBase);
        const Quad inverse = splat(1.0) / base;
        out[0] = f;
        out[1] = f * (hurstTerm - lnBase);
        out[2] = f * (twoNu - twoK2Power * inverse);
        // The form is for (-a, -b): f's derivatives by a and b are its
        // derivatives d times +(H + 1) 4 pi^2 f / base.
        const Quad g = f * anisoFactor * inverse;
        out[3] = g * d[0];
        out[4] = g * d[1];
    }

private:
    Quad value(Quad u1, Quad u2, Quad* d, Quad& base, Quad& lnBase) const
    {
        const Quad P = u1 * u1 + u2 * u2, Qa = u1 * u1 - u2 * u2, Qb = (u1 + u1) * u2;
        const Quad mixed = A * Qa + B * Qb;
        const Quad d2 = ch * P - sh * mixed;
        if (d) {
            d[0] = (shA * P - qA * mixed) - sh * Qa;
            d[1] = (shB * P - qB * mixed) - sh * Qb;
        }
        base = k2 + fourPi2 * d2;
        lnBase = logOf(base);
        return scale * expOf(minusPower * lnBase);
    }

    Quad A, B, ch, sh, shA, shB, qA, qB, k2, scale, fourPi2, minusPower, hurstTerm, twoNu, twoK2Power, anisoFactor;
};

// Up to four values from p (`count` of them), the rest `pad`.
inline Quad loadSome(const double* p, std::size_t count, double pad)
{
    Quad q = splat(pad);
    for (std::size_t i = 0; i < count; ++i) q[i] = p[i];
    return q;
}
inline void storeSome(double* p, std::size_t count, Quad q)
{
    for (std::size_t i = 0; i < count; ++i) p[i] = q[i];
}

void spectrumKernel(const whittle::Spectrum::Terms& terms, const double* fx, const double* fy, std::size_t n,
                    double* out)
{
    const SpectrumQuad f(terms);
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) store(out + i, f.value(load(fx + i), load(fy + i)));
    if (i < n) storeSome(out + i, n - i, f.value(loadSome(fx + i, n - i, fx[i]), loadSome(fy + i, n - i, fy[i])));
}

void derivativesKernel(const whittle::Spectrum::Terms& terms, double fx, double fy, double out[5])
{
    Quad d[5];
    SpectrumQuad(terms).derivatives(splat(fx), splat(fy), d);
    for (int j = 0; j < 5; ++j) out[j] = d[j][0];
}

// The anchored model at the ordinates [first, last), four at a time, and
// the likelihood's sums over them; the model's mean and gradient kept in
// `mean` and `gradient` when they are given.
bool fitKernel(const whittle::Spectrum::Terms& terms, const whittle::AnchoredInputs& in, const double* I,
               const int* active, int m, bool derivatives, std::size_t first, std::size_t last,
               whittle::LikelihoodSums& out, double* mean, double* const* gradient)
{
    using namespace whittle;
    const std::size_t n = static_cast<std::size_t>(m);
    const SpectrumQuad f(terms);
    const Quad t = splat(in.t), keep = splat(1 - in.t), slope = splat(1 / in.span), eta = splat(in.eta);
    const Quad zero = splat(0.0), one = splat(1.0), lane = Quad{0, 1, 2, 3};
    const double* from[7] = {in.fx, in.fy, in.r0, in.r1, in.gain, in.noise, I};
    Quad objective = zero, score[parameterCount], information[parameterCount][parameterCount];
    for (std::size_t j = 0; j < n; ++j) {
        score[j] = zero;
        for (std::size_t k = 0; k <= j; ++k) information[j][k] = zero;
    }
    for (std::size_t i = first; i < last; i += 4) {
        // The last ordinates of a count not a multiple of four padded with
        // the last one, its lanes then made to add nothing (mean 1, I 0,
        // no gradient).
        const std::size_t count = last - i < 4 ? last - i : 4;
        Quad v[7];
        for (int j = 0; j < 7; ++j) v[j] = count == 4 ? load(from[j] + i) : loadSome(from[j] + i, count, from[j][i]);
        const Quad &fx = v[0], &fy = v[1], &r0 = v[2], &r1 = v[3], &gain = v[4], &noise = v[5];
        const QuadMask valid = lane < splat(static_cast<double>(count));
        const Quad data = select(valid, v[6], zero);
        const Quad scale = (keep * r0 + t * r1) * gain;
        Quad mu, g[parameterCount];
        if (!derivatives) {
            mu = scale * f.value(fx, fy) + eta * noise;
        } else {
            Quad s[5];
            f.derivatives(fx, fy, s);
            const Quad surface = scale * s[0];
            mu = surface + eta * noise;
            g[lnVariance] = surface;
            g[hurst] = scale * s[1] + ((r1 - r0) * slope) * gain * s[0];
            g[lnKappa] = scale * s[2];
            g[anisoA] = scale * s[3];
            g[anisoB] = scale * s[4];
            g[lnNoise] = eta * noise;
        }
        auto keepIn = [&](double* to, Quad q) {
            if (count == 4)
                store(to + i, q);
            else
                storeSome(to + i, count, q);
        };
        if (mean) keepIn(mean, mu);
        if (derivatives && gradient)
            for (int j = 0; j < parameterCount; ++j) keepIn(gradient[j], g[j]);
        mu = select(valid, mu, one);
        if (!allOf(mu > zero)) return false;
        const Quad inverse = one / mu;
        objective += logOf(mu) + data * inverse;
        if (!derivatives) continue;
        const Quad residual = (data - mu) * inverse * inverse;
        Quad a[parameterCount];
        for (std::size_t j = 0; j < n; ++j) {
            const Quad gj = select(valid, g[active[j]], zero);
            score[j] += gj * residual;
            a[j] = gj * inverse;
            for (std::size_t k = 0; k <= j; ++k) information[j][k] += a[j] * a[k];
        }
    }
    out.objective = total(objective);
    for (std::size_t j = 0; j < n; ++j) {
        out.score[j] = total(score[j]);
        for (std::size_t k = 0; k <= j; ++k) out.information[j][k] = total(information[j][k]);
    }
    return true;
}

// f(x) of n values, four at a time.
template <Quad (*f)(Quad)>
void eachOf(const double* x, std::size_t n, double* out)
{
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) store(out + i, f(load(x + i)));
    if (i < n) storeSome(out + i, n - i, f(loadSome(x + i, n - i, 1.0)));
}

constexpr whittle::WhittleKernels whittleKernelTable{spectrumKernel, derivativesKernel, fitKernel, eachOf<expOf>,
                                                     eachOf<logOf>};

}  // namespace
