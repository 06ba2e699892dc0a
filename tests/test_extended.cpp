#include "analysis/extended.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)

namespace {

// The x87 extended value's fields, as Extended keeps them.
void expectSame(long double expected, const Extended& got, const char* what)
{
    if (std::isnan(expected)) {
        EXPECT_EQ(got.kind, Extended::Kind::nan) << what;
        return;
    }
    unsigned char bytes[16] = {};
    std::memcpy(bytes, &expected, 10);
    std::uint64_t m;
    std::memcpy(&m, bytes, 8);
    const int signExponent = bytes[8] | bytes[9] << 8;
    ASSERT_EQ(got.negative, (signExponent >> 15) != 0) << what;
    if (expected == 0) {
        ASSERT_EQ(got.kind, Extended::Kind::zero) << what;
        return;
    }
    ASSERT_EQ(got.significand, m) << what << " " << static_cast<double>(expected);
    ASSERT_EQ(got.exponent, (signExponent & 0x7fff) - 16383) << what;
    const double a = static_cast<double>(expected), b = got.toDouble();
    ASSERT_EQ(0, std::memcmp(&a, &b, 8)) << what;
}

}  // namespace

// On x86 the x87 is the reference: every operation and every rounding to
// double must give its bits, so that the estimators' digits hold everywhere.
TEST(Extended, EveryOperationGivesTheX87Bits)
{
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> mantissa(-1, 1);
    std::uniform_int_distribution<int> scale(-70, 70);
    std::vector<std::pair<long double, Extended>> pool;
    for (double v : {0.0, -0.0, 1.0, 0.1, 10.0, 0.35, 1e300, 1e-300, 4.9e-324, -2.5, 3.0})
        pool.push_back({v, Extended(v)});
    for (long long i : {0LL, 1LL, 2LL, 18LL, -7LL, 1LL << 62, -(1LL << 53) - 1})
        pool.push_back({static_cast<long double>(i), Extended(i)});
    for (int round = 0; round < 400000; ++round) {
        if (pool.size() < 64 || random() % 4 == 0) {
            const double v = std::ldexp(mantissa(random), scale(random));
            pool.push_back({v, Extended(v)});
        }
        const auto& [la, ea] = pool[random() % pool.size()];
        const auto& [lb, eb] = pool[random() % pool.size()];
        long double l;
        Extended e;
        switch (random() % 4) {
        case 0: l = la + lb; e = ea + eb; expectSame(l, e, "+"); break;
        case 1: l = la - lb; e = ea - eb; expectSame(l, e, "-"); break;
        case 2: l = la * lb; e = ea * eb; expectSame(l, e, "*"); break;
        default:
            if (lb == 0) continue;
            l = la / lb; e = ea / eb; expectSame(l, e, "/");
        }
        if (HasFatalFailure()) return;
        if (std::isfinite(l) && std::fabs(l) < 1e30L && std::fabs(l) > 1e-30L) pool[random() % pool.size()] = {l, e};
    }
}

#endif

TEST(Extended, SpecialValuesAndTheNearestTenth)
{
    const Extended tenth = Extended(1LL) / Extended(10LL);
    EXPECT_EQ(tenth.significand, 0xCCCCCCCCCCCCCCCDull);  // 0.1 to 64 bits, rounded up
    EXPECT_EQ(tenth.exponent, -4);
    EXPECT_TRUE(std::isnan((Extended(NAN) + Extended(1.0)).toDouble()));
    EXPECT_TRUE(std::isnan((Extended(INFINITY) - Extended(INFINITY)).toDouble()));
    EXPECT_EQ((Extended(1.0) / Extended(0.0)).toDouble(), INFINITY);
    EXPECT_EQ((Extended(2.5) - Extended(2.5)).toDouble(), 0.0);
    EXPECT_FALSE(std::signbit((Extended(2.5) - Extended(2.5)).toDouble()));
    EXPECT_EQ((Extended(1e308) * Extended(10.0)).toDouble(), INFINITY);  // past double's range on rounding
    EXPECT_EQ((Extended(4.9e-324) / Extended(2.0)).toDouble(), 0.0);    // a tie below the smallest: to even
}
