// The knot's moves: angle reduction, pulse and flip, wrapping count, truncating tread yield.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "kiv/knot.hpp"

namespace {

using kiv::Knot;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

void expect_same_bits(const Knot& a, const Knot& b) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.x), std::bit_cast<std::uint64_t>(b.x));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.y), std::bit_cast<std::uint64_t>(b.y));
    EXPECT_EQ(a.n, b.n);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.theta), std::bit_cast<std::uint64_t>(b.theta));
}

TEST(Knot, ConstructorReducesTheAngleKeepingItsSign) {
    EXPECT_EQ(kiv::make_knot({0, 1}, 0, 7.0).theta, 0.7168146928204138);
    EXPECT_EQ(kiv::make_knot({0, 1}, 0, -1.0).theta, -1.0);
    EXPECT_EQ(kiv::make_knot({0, 1}, 0, -7.0).theta, -0.7168146928204138);
    EXPECT_TRUE(std::signbit(kiv::make_knot({0, 1}, 0, -0.0).theta));
    EXPECT_TRUE(std::isnan(kiv::make_knot({0, 1}, 0, INFINITY).theta));
    EXPECT_TRUE(std::isnan(kiv::make_knot({0, 1}, 0, NAN).theta));
}

TEST(Knot, PulseMovesPointCountAndAngle) {
    const Knot k = kiv::knot_pulse(kiv::make_knot({0.0, 1.0}, 0, 0.0));
    EXPECT_EQ(k.x, 1.0);
    EXPECT_EQ(k.y, 1.0);
    EXPECT_EQ(k.n, 1);
    EXPECT_EQ(k.theta, 1.5707963267948966);
    EXPECT_EQ(kiv::quarter_turn(-1.0), 0.5707963267948966);
    // The point moves exactly as the point's own mirror pulse: y = 0 becomes x = 1e-300.
    const kiv::Point m = kiv::mirror_pulse({2.0, 0.0});
    const Knot z = kiv::knot_pulse(kiv::make_knot({2.0, 0.0}, 5, 0.0));
    EXPECT_EQ(z.x, m.x);
    EXPECT_EQ(z.y, m.y);
    EXPECT_EQ(z.x, 1e-300);
}

TEST(Knot, FlipEqualsFourPulsesBitForBit) {
    for (const Knot start : {kiv::make_knot({0.0, 1.0}, 0, 0.0), kiv::make_knot({-3.5, 1e-310}, -2, 6.0),
                             kiv::make_knot({710.0, -4.0}, kMax - 1, -2.5)}) {
        Knot four = start;
        for (int i = 0; i < 4; ++i) four = kiv::knot_pulse(four);
        expect_same_bits(kiv::three_one_flip(start), four);
    }
    // Four quarter turns from 0 land exactly on 0.
    const Knot f = kiv::three_one_flip(kiv::make_knot({0.0, 1.0}, 0, 0.0));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(f.theta), 0u);
    EXPECT_EQ(f.n, 4);
}

TEST(Knot, CountWrapsInTwosComplement) {
    EXPECT_EQ(kiv::knot_pulse(kiv::make_knot({0, 1}, kMax, 0)).n, kMin);
    EXPECT_EQ(kiv::three_one_flip(kiv::make_knot({0, 1}, kMax - 1, 0)).n, kMin + 2);
    EXPECT_EQ(kiv::knot_pulse(kiv::make_knot({0, 1}, -1, 0)).n, 0);
}

TEST(Knot, TreadYieldTruncatesTowardZero) {
    const std::pair<std::int64_t, std::int64_t> cases[] = {{7, 2},  {-5, -2}, {3, 0},         {-3, 0},
                                                           {8, 4},  {-8, -4}, {kMax, kMax / 4 * 2},
                                                           {kMin, kMin / 2}};
    for (auto [n, want] : cases) EXPECT_EQ(kiv::tread_yield(kiv::make_knot({0, 1}, n, 0)), want) << n;
}

TEST(Knot, RhoIsTheTensionMagnitude) {
    EXPECT_EQ(kiv::rho(kiv::make_knot({0.0, 1.0}, 0, 0.0)), 1.0);
    // exp(0) - ln(e^3) is negative; rho drops the sign.
    const double y = std::exp(3.0);
    EXPECT_EQ(kiv::rho(kiv::make_knot({0.0, y}, 0, 0.0)), std::fabs(1.0 - std::log(y)));
    EXPECT_EQ(kiv::rho(kiv::make_knot({0.0, 0.0}, 0, 0.0)), 691.7755278982137);
    EXPECT_TRUE(std::isnan(kiv::rho(kiv::make_knot({NAN, 1.0}, 0, 0.0))));
}

}  // namespace
