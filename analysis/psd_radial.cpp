// The periodogram of the windowed residuals in radial bins: the transform
// of the padded rows (read as complex numbers of half the width), then one
// pass that turns its output into the power of the real rows' transform and
// sums it over rings of |q|.
#include "analysis/psd_stages.h"

#include "analysis/fourier.h"
#include "analysis/lanes2.h"
#include "analysis/row_blocks.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace psd {

namespace {

constexpr double pi = 3.14159265358979323846;

// The mean of ln q over an annulus a <= q < b of the plane, where the
// frequencies lie with density proportional to q.
double meanLnQ(double a, double b)
{
    auto f = [](double q) { return q > 0 ? q * q * (std::log(q) - 0.5) : 0.0; };
    return (f(b) - f(a)) / (b * b - a * a);
}

}  // namespace

RadialSpectrum radialPowerSpectrum(matrix& padded, std::uint32_t PW, std::uint32_t PH, int binsPerOctave, int parts)
{
    const std::uint32_t M = PW / 2;
    fourierTransform2D(padded.getData(), M, PH, 1);
    const matrix& spectrum = padded;
    // Bin edges by rising q, the last at 0.5; below the lowest frequency the
    // first bin starts at 0, which no frequency but the excluded 0 has.
    const double step = 1.0 / std::max(PW, PH);
    std::vector<double> edges;
    if (binsPerOctave > 0) {
        for (int k = 0;; ++k) {
            const double e = 0.5 * std::exp2(-static_cast<double>(k) / binsPerOctave);
            edges.push_back(e);
            if (e < step * 0.5) break;
        }
        edges.push_back(0.0);
        std::reverse(edges.begin(), edges.end());
    } else {
        edges.push_back(0.0);
        for (double e = 0.5 * step; e < 0.5; e += step) edges.push_back(e);
        edges.push_back(0.5);
    }
    const std::size_t bins = edges.size() - 1;
    // Squared edges from the exponent itself, so that every other one of a
    // log-spaced set is a power of two exactly, as are the squared
    // frequencies that fall on it.
    std::vector<double> edges2(edges.size());
    for (std::size_t j = 0; j < edges.size(); ++j)
        edges2[j] = binsPerOctave > 0 && edges[j] > 0
                        ? 0.25 * std::exp2(-2.0 * static_cast<double>(edges.size() - 1 - j) / binsPerOctave)
                        : edges[j] * edges[j];
    // Bins with few frequencies get their mean ln q from the frequencies
    // themselves; the others from the annulus they cover.
    std::vector<char> exact(bins);
    for (std::size_t j = 0; j < bins; ++j) exact[j] = pi / 2 * (edges2[j + 1] - edges2[j]) * PW * PH < 4096;

    // Third pass: each row's frequencies in order of kx, so that a bin is a
    // run of them; its end is found from the edge and checked exactly.
    struct Accumulated {
        std::vector<double> power, lnQ;
        std::vector<long long> count;
    };
    std::vector<Accumulated> acc(rowBlocks);
    // C, the transform of the rows read as M complex numbers, is E + iO with
    // E and O the transforms of the even and the odd columns, both of real
    // values and so Hermitian.  With b = conj C(-ky, -kx) (indices modulo PH
    // and M): E = (C + b) / 2, O = (C - b) / 2i, and the transform of the
    // real rows is E + e^(2 pi i kx / PW) O, half of it after the scaling by
    // 1 / (PH M) rather than 1 / (PH PW).
    const double* data = spectrum.getData();
    std::vector<double> cosine(std::size_t{M} + 1), sine(std::size_t{M} + 1);
    for (std::uint32_t kx = 0; kx <= M; ++kx) {
        cosine[kx] = std::cos(2 * pi * kx / PW);
        sine[kx] = std::sin(2 * pi * kx / PW);
    }
    auto powerAt = [&](const double* row, const double* mirror, std::uint32_t kx) {
        // kx runs from 0 to M, and M is 0 modulo M: no division needed.
        const std::uint32_t k = kx == M ? 0 : kx;
        const double* a = row + 2 * k;
        const double* m = mirror + 2 * (k == 0 ? 0 : M - k);
        const double br = m[0], bi = -m[1];
        const double er = a[0] + br, ei = a[1] + bi;      // 2E
        const double dr = a[0] - br, di = a[1] - bi;      // 2iO
        const double c = cosine[kx], s = sine[kx];
        // four times the transform: 2E - i w (2iO), w = c + i s
        const double rr = er + s * dr + c * di, ri = ei + s * di - c * dr;
        return (rr * rr + ri * ri) / 16;
    };
    // The summed power of kx = from .. to - 1: two at a time in registers
    // between 0 and M, where the mirror's index is M - kx, each lane the
    // arithmetic of powerAt (adding -m is subtracting m, and dividing by 16
    // multiplying by 1/16, to the bit), added in order.
    auto powerOf = [&](const double* row, const double* mirror, std::uint32_t from, std::uint32_t to) {
        using namespace lanes2;
        double p = 0;
        std::uint32_t k = from;
        if (k == 0 && k < to) p += powerAt(row, mirror, k++);
        const std::uint32_t pairsEnd = std::min(to, M);
        const Reg sixteenth = splat(1.0 / 16);
        for (; k + 2 <= pairsEnd; k += 2) {
            const Reg a0 = load(row + 2 * k), a1 = load(row + 2 * k + 2);
            const Reg m0 = load(mirror + 2 * (M - k)), m1 = load(mirror + 2 * (M - k - 1));
            const Reg ar = evens(a0, a1), ai = odds(a0, a1), mr = evens(m0, m1), mi = odds(m0, m1);
            const Reg er = add(ar, mr), ei = sub(ai, mi), dr = sub(ar, mr), di = add(ai, mi);
            const Reg c = load(cosine.data() + k), s = load(sine.data() + k);
            const Reg rr = add(add(er, mul(s, dr)), mul(c, di)), ri = sub(add(ei, mul(s, di)), mul(c, dr));
            const Reg power = mul(add(mul(rr, rr), mul(ri, ri)), sixteenth);
            p += lane0(power);
            p += lane1(power);
        }
        for (; k < to; ++k) p += powerAt(row, mirror, k);
        return p;
    };
    splitRows(static_cast<int>(PH), parts, [&](int first, int last, int part) {
        Accumulated& a = acc[static_cast<std::size_t>(part)];
        a.power.assign(bins, 0.0);
        a.lnQ.assign(bins, 0.0);
        a.count.assign(bins, 0);
        for (std::uint32_t ky = static_cast<std::uint32_t>(first); ky < static_cast<std::uint32_t>(last); ++ky) {
            const double fy = (ky <= PH / 2 ? static_cast<double>(ky) : static_cast<double>(ky) - PH) / PH;
            const double fy2 = fy * fy;
            if (fy2 >= 0.25) continue;
            // One of each conjugate pair: the half-plane kx >= 0, and on the
            // columns kx = 0 and PW/2 (their own conjugates) fy >= 0 only.
            const bool ownConjugates = ky <= PH / 2;
            auto q2 = [&](std::uint32_t kx) {
                const double fx = static_cast<double>(kx) / PW;
                return fx * fx + fy2;
            };
            std::uint32_t kx = ownConjugates ? 0 : 1;
            if (ky == 0) kx = 1;  // the mean
            std::uint32_t end = ownConjugates || PW == 1 ? PW / 2 + 1 : PW / 2;
            while (end > kx && q2(end - 1) >= 0.25) --end;
            if (kx >= end) continue;
            std::size_t j = static_cast<std::size_t>(std::upper_bound(edges2.begin(), edges2.end(), q2(kx)) - edges2.begin()) - 1;
            const double* row = data + std::size_t{PW} * ky;
            const double* mirror = data + std::size_t{PW} * ((PH - ky) % PH);
            while (kx < end) {
                // The first kx past bin j.
                const double room = edges2[j + 1] - fy2;
                std::uint32_t stop = room <= 0 ? kx : static_cast<std::uint32_t>(std::min<double>(end, std::ceil(std::sqrt(room) * PW)));
                stop = std::max(stop, kx);
                while (stop > kx && q2(stop - 1) >= edges2[j + 1]) --stop;
                while (stop < end && q2(stop) < edges2[j + 1]) ++stop;
                const double p = powerOf(row, mirror, kx, stop);
                a.power[j] += p;
                a.count[j] += stop - kx;
                if (exact[j])
                    for (std::uint32_t k = kx; k < stop; ++k) a.lnQ[j] += 0.5 * std::log(q2(k));
                kx = stop;
                ++j;
            }
        }
    });
    std::vector<double> power(bins, 0.0), lnQ(bins, 0.0);
    std::vector<long long> count(bins, 0);
    for (const Accumulated& a : acc) {
        if (a.count.empty()) continue;
        for (std::size_t j = 0; j < bins; ++j) {
            power[j] += a.power[j];
            lnQ[j] += a.lnQ[j];
            count[j] += a.count[j];
        }
    }

    // Bins with few frequencies get their mean ln q from the frequencies
    // themselves; the others from the annulus they cover.
    for (std::size_t j = 0; j < bins; ++j)
        lnQ[j] = count[j] == 0 ? 0.0 : exact[j] ? lnQ[j] / count[j] : meanLnQ(edges[j], edges[j + 1]);
    RadialSpectrum out;
    out.power = std::move(power);
    out.count = std::move(count);
    out.lnQ = std::move(lnQ);
    out.edges = std::move(edges);
    return out;
}

}  // namespace psd
