// The first stage of the spectral estimate, one pass over the values: the
// trend to remove (the mean or the least-squares plane), the largest
// magnitude, whether every value is whole, the mean steps between
// neighbours, the points not measured and what the values are made of.
// The pass runs two columns side by side in one register (lanes2.h): the
// even columns in lane 0, the odd ones in lane 1, the two partial sums of
// each row that its scalar form kept, so the bits are the same on every
// processor.
#include "analysis/psd_stages.h"

#include "analysis/lanes2.h"
#include "analysis/row_blocks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace psd {

namespace {

// Whether v is a whole number, without a call to floor (which is a library
// call on processors without SSE4.1).
inline bool isWholeNumber(double v)
{
    // Below 2^52 adding and taking away 2^52 rounds to a whole number (in
    // the default rounding); from 2^52 up every double is whole.
    const double a = std::fabs(v);
    return !(a < 0x1p52) || (a + 0x1p52) - 0x1p52 == a;
}

// The smallest and the largest values and how many were each, lane by
// lane.  A NaN compares false with everything, so it is never counted.
struct LaneExtremes {
    lanes2::Reg smallest = lanes2::splat(INFINITY), largest = lanes2::splat(-INFINITY);
    lanes2::Reg atSmallest = lanes2::splat(0.0), atLargest = lanes2::splat(0.0);

    void count(lanes2::Reg v)
    {
        using namespace lanes2;
        const Reg one = splat(1.0);
        const Reg below = less(v, smallest), above = less(largest, v);
        smallest = select(below, v, smallest);
        largest = select(above, v, largest);
        atSmallest = add(unless(below, atSmallest), where(equal(v, smallest), one));
        atLargest = add(unless(above, atLargest), where(equal(v, largest), one));
    }
    // Both lanes merged into `into`.
    void mergeInto(Extremes& into) const
    {
        using namespace lanes2;
        Extremes lane;
        lane = {lane0(smallest), lane0(largest), static_cast<long long>(lane0(atSmallest)),
                static_cast<long long>(lane0(atLargest))};
        into.merge(lane);
        lane = {lane1(smallest), lane1(largest), static_cast<long long>(lane1(atSmallest)),
                static_cast<long long>(lane1(atLargest))};
        into.merge(lane);
    }
};

// What the rows of a block have seen so far: in lanes for the pairs of
// columns, in plain variables for a last column of odd width.
struct Seen {
    lanes2::Reg largest = lanes2::splat(0.0);
    lanes2::Reg whole = lanes2::equal(lanes2::splat(0.0), lanes2::splat(0.0));  // every lane true
    LaneExtremes extremes;
    double largestLast = 0;
    bool wholeLast = true;
    ValueStats values;  // the distinct values, and the extremes of the last column

    double largestValue() const { return std::max({lanes2::lane0(largest), lanes2::lane1(largest), largestLast}); }
    bool wholeNumbers() const { return lanes2::all(whole) && wholeLast; }
    ValueStats stats() const
    {
        ValueStats all = values;
        extremes.mergeInto(all);
        return all;
    }
};

// One row's sums: of the values, of (x - cx) times the values, of the steps
// to the right and down between measured neighbours, and how many values
// were missing and how many steps measured.
struct RowSums {
    double values = 0, valuesX = 0, stepX = 0, stepY = 0;
    long long missing = 0, pairsX = 0, pairsY = 0;
};

// The row r's values (NaN ones, points not measured, add 0 and are
// counted instead) in `seen` and in two partial sums, the even columns' and
// the odd ones', added at the row's end.
template <class T>
void sumValues(const T* r, int W, double cx, Seen& seen, RowSums& out)
{
    using namespace lanes2;
    constexpr bool floating = std::is_floating_point_v<T>;
    const Reg one = splat(1.0), two = splat(2.0), big = splat(0x1p52);
    Reg sum = splat(0.0), sumX = splat(0.0), measured = splat(0.0), u = set(-cx, 1 - cx);
    int x = 0;
    for (; x + 2 <= W; x += 2) {
        Reg v = lanes2::loadAsDoubles(r + x);
        seen.extremes.count(v);
        if (seen.values.distinct <= distinctCounted) {
            const double v0 = lane0(v), v1 = lane1(v);
            if (v0 == v0) seen.values.addDistinct(v0, distinctCounted);
            if (v1 == v1) seen.values.addDistinct(v1, distinctCounted);
        }
        if constexpr (floating) {
            const Reg m = notNaN(v);
            measured = add(measured, where(m, one));
            v = where(m, v);
            // whole: at least 2^52, or unchanged by adding and taking away 2^52
            const Reg a = abs(v);
            seen.whole = both(seen.whole, either(atLeast(a, big), equal(sub(add(a, big), big), a)));
            seen.largest = max(seen.largest, a);
        } else {
            seen.largest = max(seen.largest, abs(v));
        }
        sum = add(sum, v);
        sumX = add(sumX, mul(u, v));
        u = add(u, two);
    }
    double sum2[2] = {lane0(sum), lane1(sum)}, sumX2[2] = {lane0(sumX), lane1(sumX)};
    if constexpr (floating) out.missing = x - static_cast<long long>(lane0(measured) + lane1(measured));
    for (; x < W; ++x) {
        double v = static_cast<double>(r[x]);
        if constexpr (floating) {
            if (v != v) {
                ++out.missing;
                v = 0;
            } else {
                seen.values.add(v, distinctCounted);
            }
            seen.wholeLast = seen.wholeLast && isWholeNumber(v);
        } else {
            seen.values.add(v, distinctCounted);
        }
        sum2[x & 1] += v;
        sumX2[x & 1] += (x - cx) * v;
        seen.largestLast = std::max(seen.largestLast, std::fabs(v));
    }
    out.values = sum2[0] + sum2[1];
    out.valuesX = sumX2[0] + sumX2[1];
}

// The sum of |b[i] - a[i]| for i < n, the steps of pairs of columns side by
// side (lane 0 from i, lane 1 from i + 1), then the column left into the
// partial sum of parity (i + tailParity) & 1; steps with an end not
// measured are left out, and the measured ones counted into `pairs`.
template <class T>
double sumSteps(const T* b, const T* a, int n, int tailParity, long long& pairs)
{
    using namespace lanes2;
    constexpr bool floating = std::is_floating_point_v<T>;
    const Reg one = splat(1.0);
    Reg sum = splat(0.0), measured = splat(0.0);
    int i = 0;
    for (; i + 2 <= n; i += 2) {
        Reg d = abs(sub(lanes2::loadAsDoubles(b + i), lanes2::loadAsDoubles(a + i)));
        if constexpr (floating) {
            const Reg m = notNaN(d);
            measured = add(measured, where(m, one));
            d = where(m, d);
        }
        sum = add(sum, d);
    }
    double sum2[2] = {lane0(sum), lane1(sum)};
    long long count = floating ? static_cast<long long>(lane0(measured) + lane1(measured)) : i;
    for (; i < n; ++i) {
        const double d = std::fabs(static_cast<double>(b[i]) - static_cast<double>(a[i]));
        if (d == d) {
            sum2[(i + tailParity) & 1] += d;
            ++count;
        }
    }
    pairs = count;
    return sum2[0] + sum2[1];
}

}  // namespace

// The greatest common divisor of the differences between whole-number
// values (NaN ones left out), 1 when they differ by 1 somewhere or are all
// the same.  Most pictures step by 1 within their first few values, so the
// pass usually ends at once.
template <class T>
double levelStepOf(const T* values, std::size_t n)
{
    std::size_t i = 0;
    while (i < n && std::isnan(static_cast<double>(values[i]))) ++i;
    if (i == n) return 1.0;
    const double first = static_cast<double>(values[i]);
    std::uint64_t step = 0;
    for (++i; i < n && step != 1; ++i) {
        const double v = static_cast<double>(values[i]);
        if (std::isnan(v)) continue;
        const double d = std::fabs(v - first);
        if (!(d < 0x1p62)) return 1.0;
        step = std::gcd(step, static_cast<std::uint64_t>(d));
    }
    return step > 1 ? static_cast<double>(step) : 1.0;
}

// The trend of values some of which are missing: the mean of the measured
// points, and the plane by its normal equations over them (the measured
// points' own sums of centred x, y and their products, in a second pass).
template <class T>
Trend trendOfMeasured(const T* values, int W, int H, PsdOptions::Trend kind, double sum, double sumX, double sumY,
                      long long missing, double largest, bool wholeNumbers, double stepX, double stepY)
{
    const double n = static_cast<double>(W) * H - static_cast<double>(missing);
    if (!(n > 0)) throw std::invalid_argument("no point of the image was measured: every value is missing (NaN)");
    Trend trend;
    trend.missing = missing;
    trend.largest = largest;
    trend.wholeNumbers = wholeNumbers;
    trend.stepX = stepX;
    trend.stepY = stepY;
    trend.mean = sum / n;
    if (kind != PsdOptions::Trend::plane) return trend;
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (std::isnan(static_cast<double>(values[static_cast<std::size_t>(y) * W + x]))) continue;
            const double u = x - cx, v = y - cy;
            sx += u;
            sy += v;
            sxx += u * u;
            syy += v * v;
            sxy += u * v;
        }
    // [n sx sy; sx sxx sxy; sy sxy syy] (c, bx, by) = (sum, sumX, sumY), by Cramer's rule.
    const double m[3][3] = {{n, sx, sy}, {sx, sxx, sxy}, {sy, sxy, syy}};
    const double t[3] = {sum, sumX, sumY};
    auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    if (!(std::fabs(d) > 1e-12 * n * sxx * syy)) return trend;  // the measured points lie on a line: the mean alone
    double c[3];
    for (int k = 0; k < 3; ++k) {
        double a[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) a[i][j] = j == k ? t[i] : m[i][j];
        c[k] = det(a) / d;
    }
    trend.mean = c[0];
    trend.bx = c[1];
    trend.by = c[2];
    return trend;
}

template <class T>
Trend measureTrend(const T* values, int W, int H, PsdOptions::Trend kind, int parts)
{
    // With centred coordinates the normal equations of the plane are
    // independent (mean, x slope, y slope).
    struct Sums {
        double sum = 0, sumX = 0, sumY = 0, largest = 0, stepX = 0, stepY = 0;
        long long bad = -1, missing = 0, pairsX = 0, pairsY = 0;
        bool wholeNumbers = true;
        ValueStats values;
    };
    std::vector<Sums> sums(rowBlocks);
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    splitRows(H, parts, [&](int first, int last, int block) {
        Sums& s = sums[static_cast<std::size_t>(block)];
        Seen seen;
        for (int y = first; y < last; ++y) {
            const T* r = values + static_cast<std::size_t>(y) * W;
            RowSums row;
            sumValues(r, W, cx, seen, row);
            // Steps to the right (the odd columns' steps in lane 0), then down.
            row.stepX = W > 1 ? sumSteps(r + 1, r, W - 1, 1, row.pairsX) : 0.0;
            if (y + 1 < H) row.stepY = sumSteps(r + W, r, W, 0, row.pairsY);
            s.missing += row.missing;
            s.pairsX += row.pairsX;
            s.pairsY += row.pairsY;
            s.stepX += row.stepX;
            s.stepY += row.stepY;
            if (!std::isfinite(row.values + row.valuesX) && s.bad < 0)
                for (int x = 0; x < W; ++x)
                    if (std::isinf(static_cast<double>(r[x]))) {
                        s.bad = static_cast<long long>(y) * W + x;
                        break;
                    }
            s.sum += row.values;
            s.sumX += row.valuesX;
            s.sumY += (y - cy) * row.values;
        }
        s.largest = seen.largestValue();
        s.wholeNumbers = seen.wholeNumbers();
        s.values = seen.stats();
    });
    Sums all;
    for (const Sums& s : sums) {
        if (s.bad >= 0 && all.bad < 0) all.bad = s.bad;
        all.sum += s.sum;
        all.sumX += s.sumX;
        all.sumY += s.sumY;
        all.largest = std::max(all.largest, s.largest);
        all.stepX += s.stepX;
        all.stepY += s.stepY;
        all.missing += s.missing;
        all.pairsX += s.pairsX;
        all.pairsY += s.pairsY;
        all.wholeNumbers = all.wholeNumbers && s.wholeNumbers;
        all.values.merge(s.values, distinctCounted);
    }
    if (all.bad >= 0)
        throw std::invalid_argument("the value at row " + std::to_string(all.bad / W + 1) + ", column " +
                                    std::to_string(all.bad % W + 1) + " is not a finite number");
    auto withLevelStep = [&](Trend trend) {
        if (trend.wholeNumbers) trend.levelStep = levelStepOf(values, static_cast<std::size_t>(W) * static_cast<std::size_t>(H));
        return trend;
    };
    if (all.missing > 0) {
        Trend trend = trendOfMeasured(values, W, H, kind, all.sum, all.sumX, all.sumY, all.missing, all.largest,
                                      all.wholeNumbers, all.pairsX ? all.stepX / all.pairsX : 0.0,
                                      all.pairsY ? all.stepY / all.pairsY : 0.0);
        trend.values = std::move(all.values);
        return withLevelStep(std::move(trend));
    }
    Trend trend;
    trend.values = std::move(all.values);
    trend.mean = all.sum / (static_cast<double>(W) * H);
    trend.largest = all.largest;
    trend.wholeNumbers = all.wholeNumbers;
    if (W > 1) trend.stepX = all.stepX / (static_cast<double>(W - 1) * H);
    if (H > 1) trend.stepY = all.stepY / (static_cast<double>(H - 1) * W);
    if (kind == PsdOptions::Trend::plane) {
        // the sum of (x - cx)^2 over the grid is H W (W^2 - 1) / 12
        if (W > 1) trend.bx = all.sumX / (H * (W * (static_cast<double>(W) * W - 1) / 12.0));
        if (H > 1) trend.by = all.sumY / (W * (H * (static_cast<double>(H) * H - 1) / 12.0));
    }
    return withLevelStep(std::move(trend));
}


#define ORVANE_PSD_TYPE(T)                                                   \
    template Trend measureTrend(const T*, int, int, PsdOptions::Trend, int);
ORVANE_PSD_SAMPLE_TYPES(ORVANE_PSD_TYPE)
#undef ORVANE_PSD_TYPE

}  // namespace psd
