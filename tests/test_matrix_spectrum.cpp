#include "analysis/matrix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <stdexcept>
#include <vector>

TEST(Matrix, NullSourceGivesZerosForBothConstructors)
{
    const matrix a(3, 4, static_cast<const double*>(nullptr));
    const matrix b(3, 4, static_cast<const std::uint32_t*>(nullptr));
    const matrix c(3, 4, nullptr);
    for (const matrix* m : {&a, &b, &c}) {
        ASSERT_EQ(m->getRows(), 3);
        ASSERT_EQ(m->getCols(), 4);
        for (int i = 0; i < 12; ++i) ASSERT_EQ(m->getData()[i], 0.0);
    }
}

TEST(Matrix, CopiesDoublesAndConvertsUnsignedIntegersExactly)
{
    std::vector<double> source = {1.5, -2.0, 3.25, 0.0};
    const matrix d(2, 2, source.data());
    source[0] = 99.0;  // the matrix owns a copy
    EXPECT_EQ(d.getData()[0], 1.5);
    EXPECT_EQ(d.getData()[2], 3.25);

    const std::uint32_t ints[4] = {0, 255, 0xFFFFFFFFu, 7};
    const matrix u(1, 4, ints);
    EXPECT_EQ(u.getData()[0], 0.0);
    EXPECT_EQ(u.getData()[1], 255.0);
    EXPECT_EQ(u.getData()[2], 4294967295.0);
    EXPECT_EQ(u.getData()[3], 7.0);
}

TEST(Matrix, RefusesNegativeSizesAndTheSizeLimit)
{
    EXPECT_THROW(matrix(-1, 2, nullptr), std::invalid_argument);
    EXPECT_THROW(matrix(2, -2, nullptr), std::invalid_argument);
    EXPECT_THROW(matrix(1 << 14, 1 << 14, nullptr), std::invalid_argument);
    EXPECT_THROW(matrix(1 << 30, 4, nullptr), std::invalid_argument);  // would wrap in 32 bits
    const matrix empty(0, 8, nullptr);
    EXPECT_EQ(empty.getRows(), 0);
}

namespace {

// A complex matrix whose element (r, e) is (100 r + e, -(100 r + e)).
matrix numbered(int rows, int elements)
{
    std::vector<double> v;
    for (int r = 0; r < rows; ++r)
        for (int e = 0; e < elements; ++e) {
            v.push_back(100.0 * r + e);
            v.push_back(-(100.0 * r + e));
        }
    return matrix(rows, 2 * elements, v.data());
}

double re(const matrix& m, int r, int e) { return m.getData()[r * m.getCols() + 2 * e]; }
double im(const matrix& m, int r, int e) { return m.getData()[r * m.getCols() + 2 * e + 1]; }

}  // namespace

TEST(SwapQuadrants, SwapsQuadrantsDiagonally)
{
    matrix two = numbered(2, 2);  // a b / c d  ->  d c / b a
    swapQuadrants(two);
    EXPECT_EQ(re(two, 0, 0), 101);
    EXPECT_EQ(re(two, 0, 1), 100);
    EXPECT_EQ(re(two, 1, 0), 1);
    EXPECT_EQ(re(two, 1, 1), 0);

    matrix four = numbered(4, 4);
    swapQuadrants(four);
    EXPECT_EQ(re(four, 2, 2), 0);
    EXPECT_EQ(im(four, 2, 2), -0.0);
    EXPECT_EQ(re(four, 1, 3), 301);
    EXPECT_EQ(re(four, 0, 0), 202);
    EXPECT_EQ(im(four, 0, 0), -202);
}

TEST(SwapQuadrants, TwiceRestoresAndOneRowStaysPut)
{
    for (auto [rows, elements] : std::vector<std::pair<int, int>>{{8, 4}, {1, 8}, {4, 1}, {1, 1}}) {
        matrix m = numbered(rows, elements);
        const matrix original = numbered(rows, elements);
        const std::size_t n = static_cast<std::size_t>(rows) * 2 * elements;
        swapQuadrants(m);
        if (rows == 1) {
            EXPECT_TRUE(std::equal(m.getData(), m.getData() + n, original.getData())) << "one row stays";
        }
        swapQuadrants(m);
        EXPECT_TRUE(std::equal(m.getData(), m.getData() + n, original.getData())) << rows << " x " << elements;
    }
}

TEST(SwapQuadrants, OneComplexColumnExchangesPartsAndCentresTheColumn)
{
    matrix m = numbered(4, 1);  // (0,-0) (100,-100) (200,-200) (300,-300)
    swapQuadrants(m);
    EXPECT_EQ(re(m, 0, 0), -200);
    EXPECT_EQ(im(m, 0, 0), 200);
    EXPECT_EQ(re(m, 2, 0), -0.0);
    EXPECT_EQ(im(m, 3, 0), 100);
}

TEST(SwapQuadrants, RefusesOddColumns)
{
    matrix m(2, 3, nullptr);
    EXPECT_THROW(swapQuadrants(m), std::invalid_argument);
    EXPECT_THROW(powerSpectrum(m), std::invalid_argument);
}

TEST(PowerSpectrum, SquaredModuliInTheSameOrder)
{
    const double v[8] = {3.0, 4.0, 200.0, 0.0, -0.5, 0.5, 0.0, -2.0};
    const matrix m(2, 4, v);
    const auto p = powerSpectrum(m);
    ASSERT_EQ(p->getRows(), 2);
    ASSERT_EQ(p->getCols(), 2);
    EXPECT_EQ(p->getData()[0], 25.0);
    EXPECT_EQ(p->getData()[1], 40000.0);
    EXPECT_EQ(p->getData()[2], 0.5);
    EXPECT_EQ(p->getData()[3], 4.0);
    EXPECT_EQ(m.getData()[0], 3.0);
}

TEST(LastRowMaximum, SearchesTheLastRowOnly)
{
    auto maxOf = [](int rows, int cols, std::vector<double> v) {
        return lastRowMaximum(matrix(rows, cols, v.data()));
    };
    EXPECT_EQ(maxOf(2, 2, {9, 1, 2, 3}), 3);
    EXPECT_EQ(maxOf(2, 2, {1, 2, 3, 0}), 3);
    EXPECT_EQ(maxOf(2, 2, {-5, -2, -7, -3}), -3);
    EXPECT_EQ(maxOf(1, 3, {4, 8, 6}), 8);
    EXPECT_EQ(maxOf(1, 1, {-0.5}), -0.5);
    EXPECT_THROW(lastRowMaximum(matrix(0, 3, nullptr)), std::invalid_argument);
    EXPECT_THROW(lastRowMaximum(matrix(3, 0, nullptr)), std::invalid_argument);
}

TEST(SpectrumPreparation, UniformImageHasOnlyTheCentredZeroFrequency)
{
    const int R = 8, E = 4;
    std::vector<double> v(2 * R * E, 0.0);
    for (int i = 0; i < R * E; ++i) v[2 * i] = 10.0;
    matrix m(R, 2 * E, v.data());
    fourierTransform2D(m.getData(), E, R, 1);
    swapQuadrants(m);
    const auto p = powerSpectrum(m);
    for (int r = 0; r < R; ++r)
        for (int e = 0; e < E; ++e)
            ASSERT_EQ(p->getData()[r * E + e], (r == R / 2 && e == E / 2) ? 100.0 : 0.0) << r << ", " << e;
    EXPECT_EQ(lastRowMaximum(*p), 0.0);
}

// The power of the centred spectrum, computed in one pass from the spectrum
// not yet centred: the same doubles, bit for bit, for every shape the
// padded pictures take (one row, one column, square, wide, tall).
TEST(Spectrum, CentredPowerIsThePowerOfTheCentredSpectrumBitForBit)
{
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> value(-1e3, 1e3);
    for (const auto& [rows, columns] : std::vector<std::pair<int, int>>{{1, 1}, {1, 8}, {2, 1}, {8, 1}, {2, 2}, {4, 8}, {16, 4}, {32, 32}}) {
        matrix m(rows, 2 * columns, nullptr);
        for (int i = 0; i < 2 * rows * columns; ++i) m.getData()[i] = value(random);
        const auto ours = centredPowerSpectrum(m);
        swapQuadrants(m);
        const auto reference = powerSpectrum(m);
        ASSERT_EQ(ours->getRows(), reference->getRows());
        ASSERT_EQ(ours->getCols(), reference->getCols());
        EXPECT_EQ(std::memcmp(ours->getData(), reference->getData(), sizeof(double) * rows * columns), 0)
            << rows << " x " << columns;
    }
}
