#include "analysis/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string fifteenDigits(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

// The 1 x 16 spectrum 1, 4, 9, ..., 100 followed by six zeros.
matrix squaresSpectrum(double factor = 1.0)
{
    std::vector<double> v(16, 0.0);
    for (int i = 0; i < 10; ++i) v[i] = factor * (i + 1) * (i + 1);
    return matrix(1, 16, v.data());
}

struct Recorder {
    std::vector<std::string> messages;
    Notifier notifier()
    {
        return [this](const std::string& m) { messages.push_back(m); };
    }
};

}  // namespace

TEST(CountAbove, CountsStrictlyGreaterValues)
{
    const double v[6] = {1, 2, 2, 3, -1, 2};
    EXPECT_EQ(countAbove(v, 3, 2, 2.0), 1.0);
    EXPECT_EQ(countAbove(v, 3, 2, 1.5), 4.0);
    EXPECT_EQ(countAbove(v, 3, 2, 3.0), 0.0);
    EXPECT_EQ(countAbove(v, 2, 1, -5.0), 2.0);  // only the extent asked for
    EXPECT_EQ(countAbove(v, 0, 2, -5.0), 0.0);
    EXPECT_EQ(countAbove(v, -3, 2, -5.0), 0.0);

    // Long runs, every remainder length, values equal to the threshold.
    std::vector<double> many(1000);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<double>((i * 37) % 101);
    for (int n : {7, 8, 9, 15, 16, 17, 999, 1000}) {
        int expected = 0;
        for (int i = 0; i < n; ++i) expected += many[static_cast<std::size_t>(i)] > 50.0;
        EXPECT_EQ(countAbove(many.data(), n, 1, 50.0), expected) << n;
    }
}

TEST(Estimators, WorkedExampleToTheLastDigit)
{
    const matrix p = squaresSpectrum();
    FitPoints points1, points2;
    const double slope1 = estimateMethod1(p, 16, 1, notifyOnStandardError, &points1);
    const double slope2 = estimateMethod2(p, 16, 1, notifyOnStandardError, &points2);
    EXPECT_EQ(fifteenDigits(slope1), "-0.619687048607095");
    EXPECT_EQ(fifteenDigits(slope2), "-0.64018497166216");
    EXPECT_EQ(fifteenDigits(-2.0 / slope1), "3.22743553297671");
    EXPECT_EQ(fifteenDigits(-2.0 / slope2), "3.12409707901648");

    const double counts1[10] = {2, 3, 4, 4, 5, 5, 6, 6, 7, 7};
    ASSERT_EQ(points1.first, 0);
    ASSERT_EQ(points1.count, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(points1.y[i], std::log(counts1[i])) << i;
    EXPECT_NEAR(std::exp(points1.x[0]), 70.469, 1e-3);
    EXPECT_NEAR(std::exp(points1.x[9]), 11.648, 1e-3);

    const double counts2[8] = {7, 6, 5, 4, 3, 3, 2, 2};
    ASSERT_EQ(points2.first, 1);
    ASSERT_EQ(points2.count, 8);
    for (int i = 1; i <= 8; ++i) {
        EXPECT_EQ(points2.y[i], std::log(counts2[i - 1])) << i;
        EXPECT_NEAR(std::exp(points2.x[i]), 10.0 * i, 1e-12);
    }
}

TEST(Estimators, SlopesDoNotDependOnTheSpectrumScale)
{
    const matrix p = squaresSpectrum();
    for (double factor : {1e-6, 3.0, 1e9}) {
        const matrix q = squaresSpectrum(factor);
        EXPECT_NEAR(estimateMethod1(q, 16, 1), estimateMethod1(p, 16, 1), 1e-12) << factor;
        EXPECT_NEAR(estimateMethod2(q, 16, 1), estimateMethod2(p, 16, 1), 1e-12) << factor;
    }
}

TEST(Estimators, ConstantCountsGiveSlopeZero)
{
    std::vector<double> single(32, 0.0);
    single[31] = 5.0;  // the only positive value, in the last row
    const matrix p(2, 16, single.data());
    EXPECT_EQ(estimateMethod1(p, 16, 2), 0.0);
    EXPECT_EQ(estimateMethod2(p, 16, 2), 0.0);

    std::vector<double> flat(12, 4.0);
    const matrix q(3, 4, flat.data());
    EXPECT_NEAR(estimateMethod1(q, 4, 3), 0.0, 1e-12);
    EXPECT_NEAR(estimateMethod2(q, 4, 3), 0.0, 1e-12);
}

TEST(Estimators, LogarithmOfZeroReportsAndYieldsNotANumber)
{
    // A uniform image's power spectrum: the zero frequency in the middle, a
    // last row of zeros, so M = 0.
    std::vector<double> v(16, 0.0);
    v[2 * 4 + 2] = 100.0;
    const matrix p(4, 4, v.data());
    for (auto method : {estimateMethod1, estimateMethod2}) {
        Recorder recorder;
        FitPoints points;
        const double slope = method(p, 4, 4, recorder.notifier(), &points);
        EXPECT_TRUE(std::isnan(slope));
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0], "PALANT!!!");
        EXPECT_TRUE(std::isnan(points.y[points.first]));
    }
}

TEST(Estimators, NormalRunNotifiesNothing)
{
    Recorder recorder;
    estimateMethod1(squaresSpectrum(), 16, 1, recorder.notifier());
    estimateMethod2(squaresSpectrum(), 16, 1, recorder.notifier());
    EXPECT_TRUE(recorder.messages.empty());
}

TEST(Estimators, RefuseAnExtentBeyondTheSpectrum)
{
    const matrix p = squaresSpectrum();
    EXPECT_THROW(estimateMethod1(p, 16, 2), std::invalid_argument);
    EXPECT_THROW(estimateMethod2(p, 17, 1), std::invalid_argument);
    const matrix empty(0, 0, nullptr);
    EXPECT_THROW(estimateMethod1(empty, 0, 0), std::invalid_argument);
}
