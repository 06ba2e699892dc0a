#include "analysis/matrix.h"
#include "analysis/thread_pool.h"
#include "reference_fft.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstring>
#include <new>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using Shape = std::pair<std::uint32_t, std::uint32_t>;  // rows, complex columns

std::vector<double> randomArray(std::size_t doubles, unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> dist(-300.0, 300.0);
    std::vector<double> v(doubles);
    for (double& x : v) x = dist(rng);
    return v;
}

// Direct evaluation of the defining sum, in long double, with the angle
// reduced the way the radix-2 recurrence sees it.
std::vector<double> naiveDft2D(const std::vector<double>& in, std::uint32_t R, std::uint32_t C, int direction)
{
    const long double K = 6.28318530717959L;
    std::vector<double> out(in.size());
    for (std::uint32_t p = 0; p < R; ++p)
        for (std::uint32_t q = 0; q < C; ++q) {
            long double sr = 0, si = 0;
            for (std::uint32_t r = 0; r < R; ++r)
                for (std::uint32_t c = 0; c < C; ++c) {
                    const long double angle =
                        direction * K * ((long double)((p * r) % R) / R + (long double)((q * c) % C) / C);
                    const long double xr = in[2 * (r * C + c)], xi = in[2 * (r * C + c) + 1];
                    sr += xr * cosl(angle) - xi * sinl(angle);
                    si += xr * sinl(angle) + xi * cosl(angle);
                }
            const long double f = direction == 1 ? 1.0L / (R * C) : 1.0L;
            out[2 * (p * C + q)] = (double)(sr * f);
            out[2 * (p * C + q) + 1] = (double)(si * f);
        }
    return out;
}

double maxAbs(const std::vector<double>& v)
{
    double m = 0;
    for (double x : v) m = std::max(m, std::fabs(x));
    return m;
}

void expectComplexNear(const double* d, std::size_t element, double re, double im, double tol = 1e-15)
{
    EXPECT_NEAR(d[2 * element], re, tol) << "element " << element;
    EXPECT_NEAR(d[2 * element + 1], im, tol) << "element " << element;
}

}  // namespace

TEST(FourierTransform, MatchesNaiveDftOnRandomShapes)
{
    const std::vector<Shape> shapes = {{1, 1}, {1, 2}, {2, 1}, {1, 64}, {64, 1}, {4, 4},
                                       {8, 32}, {32, 8}, {16, 16}, {2, 128}};
    unsigned seed = 1;
    for (auto [R, C] : shapes)
        for (int direction : {1, -1}) {
            const auto input = randomArray(2ull * R * C, seed++);
            auto ours = input;
            fourierTransform2D(ours.data(), C, R, direction);
            const auto expected = naiveDft2D(input, R, C, direction);
            const double scale = std::max(maxAbs(expected), 1e-300);
            for (std::size_t i = 0; i < ours.size(); ++i)
                ASSERT_LE(std::fabs(ours[i] - expected[i]) / scale, 1e-12)
                    << R << " x " << C << " direction " << direction << " double " << i;
        }
}

// Every code path: 1, 2 or 3 stages per group, contiguous and strided
// passes, 128-, 256- and 512-bit vectors (those the processor has), one to
// three threads.
TEST(FourierTransform, BitIdenticalToPlainLoopOrder)
{
    const std::vector<Shape> shapes = {{1, 1},     {1, 2},     {2, 1},     {1, 1024}, {1024, 1},
                                       {2, 2},     {4, 64},    {64, 4},    {8, 8},    {16, 32},
                                       {256, 256}, {512, 128}, {128, 512}, {8, 4096}, {32768, 2},
                                       {2, 32768}};
    unsigned seed = 100;
    for (int bits : {128, 256, 512}) {
        if (setTransformVectorBits(bits) != bits) continue;
        for (int threads : {1, 2, 3}) {
            setTransformThreads(threads);
            for (auto [R, C] : shapes)
                for (int direction : {1, -1}) {
                    const auto input = randomArray(2ull * R * C, seed++);
                    auto ours = input, theirs = input;
                    // Asked for its threads whatever the size: by size alone
                    // none of these shapes would use more than one.
                    fourierTransform2D(ours.data(), C, R, direction, threads);
                    reference::fourierTransform2D(theirs.data(), C, R, direction);
                    ASSERT_EQ(0, std::memcmp(ours.data(), theirs.data(), ours.size() * sizeof(double)))
                        << R << " x " << C << " direction " << direction << " threads " << threads
                        << " vectors " << bits;
                }
        }
    }
    setTransformVectorBits(512);
    setTransformThreads(0);
}

// The pool runs every part exactly once, also when there are more parts
// than threads (threads set above the cores, as front ends may).
TEST(ThreadPool, RunsEveryPartOnceHoweverManyParts)
{
    for (int parts = 1; parts <= 2 * poolSize() + 3; ++parts) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(parts));
        runParts(parts, [&](int part) { ++runs[static_cast<std::size_t>(part)]; });
        for (int part = 0; part < parts; ++part) EXPECT_EQ(runs[static_cast<std::size_t>(part)], 1) << part << " of " << parts;
    }
}

// A part that throws, on the caller or on a helper, stops neither the others
// nor the process: every part runs, and the lowest-numbered part's
// exception reaches the caller after all have finished.  A job started
// inside a part runs there, whole.
TEST(ThreadPool, CarriesPartsExceptionsToTheCallerAfterEveryPartRan)
{
    const int parts = 2 * poolSize() + 3;
    for (int throwing : {0, 1, parts - 1}) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(parts));
        try {
            runParts(parts, [&](int part) {
                ++runs[static_cast<std::size_t>(part)];
                if (part == throwing || part == parts - 1) throw std::runtime_error(std::to_string(part));
                if (part % 2 == 0) throw std::bad_alloc();
            });
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            // Parts below `throwing` that are even threw bad_alloc first.
            EXPECT_EQ(throwing, 0) << e.what();
            EXPECT_STREQ(e.what(), "0");
        } catch (const std::bad_alloc&) {
            EXPECT_NE(throwing, 0);
        }
        for (int part = 0; part < parts; ++part) EXPECT_EQ(runs[static_cast<std::size_t>(part)], 1) << part;
    }
    std::atomic<int> inner{0};
    runParts(2, [&](int) {
        runParts(3, [&](int) { ++inner; });
    });
    EXPECT_EQ(inner, 6);
    // The pool is whole afterwards.
    std::atomic<int> after{0};
    runParts(parts, [&](int) { ++after; });
    EXPECT_EQ(after, parts);
}

// Three dimensions: strided passes over several blocks of lines.
TEST(FourierTransform, BitIdenticalInThreeDimensions)
{
    const std::uint32_t shapes[][3] = {{4, 8, 16}, {2, 64, 128}, {128, 2, 4}};
    for (int bits : {128, 256, 512}) {
        if (setTransformVectorBits(bits) != bits) continue;
        for (const auto& lengths : shapes) {
            const auto input = randomArray(2ull * lengths[0] * lengths[1] * lengths[2], 7);
            auto ours = input, theirs = input;
            fourierTransformND(ours.data(), lengths, 3, -1);
            reference::fourierTransformND(theirs.data(), lengths, 3, -1);
            EXPECT_EQ(0, std::memcmp(ours.data(), theirs.data(), ours.size() * sizeof(double)))
                << lengths[0] << " x " << lengths[1] << " x " << lengths[2] << " vectors " << bits;
        }
    }
    setTransformVectorBits(512);
}

TEST(FourierTransform, ForwardThenInverseRestoresInput)
{
    for (auto [R, C] : std::vector<Shape>{{1, 8}, {16, 4}, {64, 256}}) {
        const auto input = randomArray(2ull * R * C, R + C);
        auto v = input;
        fourierTransform2D(v.data(), C, R, 1);
        fourierTransform2D(v.data(), C, R, -1);
        for (std::size_t i = 0; i < v.size(); ++i) ASSERT_NEAR(v[i], input[i], 1e-10) << R << " x " << C;
    }
}

TEST(FourierTransform, RealInputGivesConjugateSymmetricSpectrum)
{
    const std::uint32_t R = 8, C = 16;
    auto v = randomArray(2 * R * C, 3);
    for (std::size_t i = 1; i < v.size(); i += 2) v[i] = 0.0;
    fourierTransform2D(v.data(), C, R, 1);
    for (std::uint32_t p = 0; p < R; ++p)
        for (std::uint32_t q = 0; q < C; ++q) {
            const std::size_t a = p * C + q, b = ((R - p) % R) * C + (C - q) % C;
            ASSERT_NEAR(v[2 * a], v[2 * b], 1e-12);
            ASSERT_NEAR(v[2 * a + 1], -v[2 * b + 1], 1e-12);
        }
}

TEST(FourierTransform, SignOfTheExponent)
{
    std::vector<double> v = {0, 0, 1, 0, 0, 0, 0, 0};
    fourierTransform2D(v.data(), 4, 1, 1);
    expectComplexNear(v.data(), 0, 0.25, 0);
    expectComplexNear(v.data(), 1, 0, 0.25);
    expectComplexNear(v.data(), 2, -0.25, 0);
    expectComplexNear(v.data(), 3, 0, -0.25);

    v = {0, 0, 1, 0, 0, 0, 0, 0};
    fourierTransform2D(v.data(), 4, 1, -1);
    expectComplexNear(v.data(), 0, 1, 0);
    expectComplexNear(v.data(), 1, 0, -1);
    expectComplexNear(v.data(), 2, -1, 0);
    expectComplexNear(v.data(), 3, 0, 1);
}

TEST(FourierTransform, RowsAreTheSlowDimension)
{
    std::vector<double> v(16, 0.0);
    for (int i = 0; i < 8; ++i) v[2 * i] = i;
    fourierTransform2D(v.data(), 4, 2, 1);
    const double expected[8][2] = {{3.5, 0}, {-0.5, -0.5}, {-0.5, 0}, {-0.5, 0.5}, {-2, 0}, {0, 0}, {0, 0}, {0, 0}};
    for (int e = 0; e < 8; ++e) expectComplexNear(v.data(), e, expected[e][0], expected[e][1]);
}

TEST(FourierTransform, ConstantAndImpulseAreExact)
{
    const std::uint32_t R = 8, C = 4;
    std::vector<double> constant(2 * R * C, 0.0);
    for (std::size_t i = 0; i < constant.size(); i += 2) constant[i] = 7.0;
    fourierTransform2D(constant.data(), C, R, 1);
    EXPECT_EQ(constant[0], 7.0);
    for (std::size_t i = 1; i < constant.size(); ++i) ASSERT_EQ(constant[i], 0.0) << i;

    std::vector<double> impulse(2 * R * C, 0.0);
    impulse[0] = 64.0;
    fourierTransform2D(impulse.data(), C, R, 1);
    for (std::size_t i = 0; i < impulse.size(); i += 2) {
        ASSERT_EQ(impulse[i], 2.0);
        ASSERT_EQ(impulse[i + 1], 0.0);
    }
}

TEST(FourierTransform, OneByOneAndNoDimensionsLeaveDataAlone)
{
    double one[2] = {3.25, -1.5};
    fourierTransform2D(one, 1, 1, 1);
    fourierTransform2D(one, 1, 1, -1);
    EXPECT_EQ(one[0], 3.25);
    EXPECT_EQ(one[1], -1.5);

    double v[4] = {1, 2, 3, 4};
    const std::uint32_t lengths[1] = {2};
    fourierTransformND(v, lengths, 0, 1);
    fourierTransformND(v, lengths, -3, 1);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[3], 4);
}

TEST(FourierTransform, RefusesArgumentsOutsideItsContract)
{
    std::vector<double> v(64, 0.0);
    EXPECT_THROW(fourierTransform2D(v.data(), 3, 2, 1), std::invalid_argument);
    EXPECT_THROW(fourierTransform2D(v.data(), 4, 0, 1), std::invalid_argument);
    EXPECT_THROW(fourierTransform2D(v.data(), 4, 2, 0), std::invalid_argument);
    EXPECT_THROW(fourierTransform2D(v.data(), 1u << 14, 1u << 13, 1), std::invalid_argument);
    const std::uint32_t lengths[2] = {4, 6};
    EXPECT_THROW(fourierTransformND(v.data(), lengths, 2, -1), std::invalid_argument);
}
