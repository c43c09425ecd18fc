// Guarded primitives: thresholds, zero and sign handling, NaN and infinities.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kiv/primitives.hpp"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(GuardedExp, JumpsDownAboveTheOverflowThreshold) {
    EXPECT_EQ(kiv::guarded_exp(709.782712893384), std::exp(709.782712893384));
    EXPECT_TRUE(std::isfinite(kiv::guarded_exp(709.782712893384)));
    EXPECT_NEAR(kiv::guarded_exp(709.7827128933841), 709.78, 0.01);
    EXPECT_EQ(kiv::guarded_exp(1000.0), std::exp(std::log(1000.0)));
    EXPECT_TRUE(std::isnan(kiv::guarded_exp(kNaN)));
    EXPECT_EQ(kiv::guarded_exp(kInf), kInf);
    EXPECT_EQ(kiv::guarded_exp(-kInf), 0.0);
}

TEST(BoundedExp, ClampsBothWaysAndPassesNaN) {
    EXPECT_EQ(kiv::bounded_exp(800.0), std::exp(709.0));
    EXPECT_EQ(kiv::bounded_exp(-800.0), std::exp(-709.0));
    EXPECT_EQ(kiv::bounded_exp(1.5), std::exp(1.5));
    EXPECT_TRUE(std::isnan(kiv::bounded_exp(kNaN)));
}

TEST(Logarithms, DifferOnlyWhereTheirGuardsDiffer) {
    EXPECT_EQ(kiv::guarded_ln(0.0), kiv::kLnLogFloor);
    EXPECT_EQ(kiv::guarded_ln(-0.0), kiv::kLnLogFloor);
    EXPECT_EQ(kiv::guarded_ln(-2.0), std::log(2.0));
    EXPECT_EQ(kiv::guarded_ln(-1e-310), std::log(1e-310));
    EXPECT_EQ(kiv::guarded_ln(kInf), kInf);
    EXPECT_EQ(kiv::guarded_ln(-kInf), kInf);
    EXPECT_TRUE(std::isnan(kiv::guarded_ln(kNaN)));

    EXPECT_EQ(kiv::floored_ln(-1e-310), kiv::kLnLogFloor);
    EXPECT_EQ(kiv::floored_ln(1e-310), std::log(1e-310));
    EXPECT_EQ(kiv::floored_ln(-5.0), std::log(5.0));
    EXPECT_TRUE(std::isnan(kiv::floored_ln(kNaN)));

    EXPECT_EQ(kiv::clamped_ln(kNaN), kiv::kLnLogFloor);
    EXPECT_EQ(kiv::clamped_ln(1e-310), kiv::kLnLogFloor);
    EXPECT_EQ(kiv::clamped_ln(-3.0), std::log(3.0));
    // The constant is what computing it gives.
    EXPECT_EQ(std::log(kiv::kLogFloor), kiv::kLnLogFloor);
}

TEST(Kiv, WorkedValues) {
    EXPECT_EQ(kiv::kiv(0.0, 1.0), 1.0);
    EXPECT_EQ(kiv::kiv(0.0, 0.0), 691.7755278982137);
    EXPECT_EQ(kiv::kiv(0.0, -1.0), 1.0);
    EXPECT_EQ(kiv::kiv(1.0, std::exp(1.0)), std::exp(1.0) - 1.0);
    EXPECT_NEAR(kiv::kiv(1000.0, 1.0), 1000.0, 1e-9);
}

TEST(SearchKiv, UsesTheShorterThresholdAndTheFlooredLog) {
    EXPECT_NEAR(kiv::search_kiv(709.781, 1.0), 709.781, 1e-9);
    EXPECT_GT(kiv::kiv(709.781, 1.0), 1e308);
    EXPECT_NEAR(kiv::search_kiv(709.79, 1.0), 709.79, 1e-9);
    EXPECT_EQ(kiv::search_kiv(0.0, 0.0), 691.7755278982137);
    EXPECT_EQ(kiv::search_kiv(0.0, -1e-310), 1.0 - kiv::kLnLogFloor);
    EXPECT_EQ(kiv::search_kiv(0.0, 1e-310), 1.0 - std::log(1e-310));
}

TEST(SafeDiv, TestsOnlyTheDivisor) {
    EXPECT_TRUE(std::isnan(kiv::safe_div(1.0, 0.0)));
    EXPECT_TRUE(std::isnan(kiv::safe_div(0.0, 0.0)));
    EXPECT_TRUE(std::isnan(kiv::safe_div(1.0, -1e-301)));
    EXPECT_TRUE(std::isnan(kiv::safe_div(1.0, kNaN)));
    EXPECT_EQ(kiv::safe_div(1.0, 1e-300), 1.0 / 1e-300);
    EXPECT_EQ(kiv::safe_div(6.0, -3.0), -2.0);
    EXPECT_FALSE(std::signbit(kiv::safe_div(1.0, 0.0)));
}

TEST(AbsRoots, UseTheMagnitude) {
    EXPECT_EQ(kiv::abs_sqrt(-4.0), 2.0);
    EXPECT_EQ(kiv::abs_pow(-2.0, 3.0), 8.0);
    EXPECT_EQ(kiv::abs_pow(0.0, -1.0), kInf);
    EXPECT_EQ(kiv::abs_pow(kNaN, 0.0), 1.0);
}

}  // namespace
