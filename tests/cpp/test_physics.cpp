// Batch physics kernels: agreement with the point and pair formulas, pulse trajectories and their sizing
// failures, and the Christoffel table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "kiv/memory.hpp"
#include "kiv/physics.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<kiv::Point> random_points(std::size_t n, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> d(-5.0, 5.0);
    std::vector<kiv::Point> pts(n);
    for (auto& p : pts) p = {d(gen), d(gen)};
    // A few awkward coordinates among the ordinary ones.
    if (n > 8) {
        pts[1] = {710.0, 0.0};
        pts[2] = {kNaN, -3.0};
        pts[3] = {1.0, kInf};
        pts[4] = {-kInf, 1e-310};
    }
    return pts;
}

TEST(BoostN, EachSlotIsThePointBoostWhateverTheChunking) {
    // Large enough to be split over every pool thread several times.
    const auto pts = random_points(50'000, 1);
    std::vector<double> phis(pts.size() + 7);
    for (std::size_t i = 0; i < phis.size(); ++i) phis[i] = std::sin(static_cast<double>(i)) * 3.0;
    const auto out = kiv::boost_n(pts, phis, 1.5);
    ASSERT_EQ(out.size(), pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i) {
        const kiv::Point want = kiv::boost(pts[i], phis[i], 1.5);
        ASSERT_TRUE(same_bits(out[i].x, want.x) && same_bits(out[i].y, want.y)) << i;
    }
}

TEST(BoostN, ShorterListSetsTheLength) {
    const std::vector<kiv::Point> pts = {{0.0, 1.0}, {1.0, 2.0}, {2.0, 3.0}};
    const std::vector<double> phis = {0.1, 0.2};
    EXPECT_EQ(kiv::boost_n(pts, phis, 1.0).size(), 2u);
    EXPECT_TRUE(kiv::boost_n({}, phis, 1.0).empty());
}

TEST(RotatePhaseN, QuarterTurnOfOne) {
    const std::vector<kiv::Pair> ps = {{1.0, 0.0}};
    const std::vector<double> angles = {M_PI / 2, 1.0};
    const auto out = kiv::rotate_phase_n(ps, angles);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].real, 6.123233995736766e-17);
    EXPECT_EQ(out[0].imag, 1.0);
}

TEST(SchrodingerStepN, PotentialPhase) {
    const std::vector<kiv::Pair> psi = {{0.3, -0.7}, {1.0, 2.0}, {5.0, 5.0}};
    // v = 0 leaves psi as it is; v·dt/hbar = π negates it up to rounding.
    const auto still = kiv::schrodinger_step_n(psi, std::vector<double>{0.0, 0.0, 0.0}, 0.25, 2.0);
    for (std::size_t i = 0; i < psi.size(); ++i) {
        EXPECT_EQ(still[i].real, psi[i].real);
        EXPECT_EQ(still[i].imag, psi[i].imag);
    }
    const auto half = kiv::schrodinger_step_n(psi, std::vector<double>{M_PI, M_PI}, 2.0, 2.0);
    ASSERT_EQ(half.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(half[i].real, -psi[i].real, 1e-15);
        EXPECT_NEAR(half[i].imag, -psi[i].imag, 1e-15);
    }
    // The angle is ((−v)·dt)/hbar, so the sign of v sets the direction: e^{-iπ/2}·1 = −i.
    const auto quarter = kiv::schrodinger_step_n(std::vector<kiv::Pair>{{1.0, 0.0}},
                                                 std::vector<double>{1.0}, M_PI / 2, 1.0);
    EXPECT_EQ(quarter[0].imag, -1.0);
    const auto no_hbar = kiv::schrodinger_step_n(psi, std::vector<double>{1.0}, 1.0, 0.0);
    EXPECT_TRUE(std::isnan(no_hbar[0].real) && std::isnan(no_hbar[0].imag));
}

TEST(SimulatePulsesN, Trajectories) {
    const double e = std::exp(1.0);
    const auto t = kiv::simulate_pulses_n(0.0, 1.0, 2);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].x, 0.0);
    EXPECT_EQ(t[0].y, 1.0);
    EXPECT_EQ(t[0].tension, 1.0);
    EXPECT_EQ(t[1].x, 1.0);
    EXPECT_EQ(t[1].y, 1.0);
    EXPECT_EQ(t[1].tension, e);
    EXPECT_EQ(t[2].x, 1.0);
    EXPECT_EQ(t[2].y, e);
    EXPECT_EQ(t[2].tension, e - 1.0);

    const auto z = kiv::simulate_pulses_n(2.0, 0.0, 1);
    EXPECT_EQ(z[0].y, 0.0);
    EXPECT_EQ(z[0].tension, std::exp(2.0) + 690.7755278982137);
    EXPECT_EQ(z[1].x, 1e-300);

    const auto one = kiv::simulate_pulses_n(-3.0, kNaN, 0);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].x, -3.0);
    EXPECT_TRUE(std::isnan(one[0].y));
}

TEST(SimulatePulsesN, SizingFailsBeforeAnythingIsAllocated) {
    // One past the largest 24-byte count: a capacity overflow.
    try {
        kiv::simulate_pulses_n(0.0, 1.0, kiv::kMaxPulseSteps);
        FAIL() << "no failure";
    } catch (const std::length_error& err) {
        EXPECT_STREQ(err.what(), "capacity overflow");
    }
    EXPECT_THROW(kiv::simulate_pulses_n(0.0, 1.0, UINT64_MAX - 1), std::length_error);
    // At the limit itself, and far below it, the count is valid but no machine holds it.
    EXPECT_THROW(kiv::simulate_pulses_n(0.0, 1.0, kiv::kMaxPulseSteps - 1), kiv::OutOfMemory);
    EXPECT_THROW(kiv::simulate_pulses_n(0.0, 1.0, 1'000'000'000'000ULL), kiv::OutOfMemory);
    // n + 1 does not fit in 64 bits.
    EXPECT_THROW(kiv::simulate_pulses_n(0.0, 1.0, UINT64_MAX), kiv::OutOfMemory);
}

TEST(CheckMemory, OverflowAndAvailability) {
    EXPECT_NO_THROW(kiv::check_memory(1000, 24));
    EXPECT_THROW(kiv::check_memory(SIZE_MAX / 2, 3), kiv::OutOfMemory);
    const std::size_t avail = kiv::available_memory();
    ASSERT_GT(avail, 0u);
    EXPECT_THROW(kiv::check_memory(avail, 2), kiv::OutOfMemory);
}

struct SymbolCase {
    std::uint64_t lam, mu, nu;
    double want;
};

TEST(Christoffel, TableAtUnitRadius) {
    const SymbolCase cases[] = {{1, 1, 1, -0.5}, {0, 0, 1, 0.5}, {0, 1, 0, 0.5}, {1, 0, 0, 0.125},
                                {0, 0, 0, 0.0},  {1, 0, 1, 0.0}, {2, 2, 2, 0.0}, {0, 1, 1, 0.0},
                                {1, 1, 0, 0.0},  {5, 0, 1, 0.0}};
    for (const auto& c : cases) {
        EXPECT_EQ(kiv::christoffel(0.0, c.lam, c.mu, c.nu, 0.5), c.want) << c.lam << c.mu << c.nu;
    }
}

TEST(Christoffel, RadiusFloorAndThreshold) {
    // Inside the horizon the radius is floored at rs + 1e-9: large but finite.
    const double inside = kiv::christoffel(-1.0, 0, 0, 1, 1.0);
    EXPECT_GT(inside, 4e8);
    EXPECT_LT(inside, 6e8);
    // rs + 1e-9 rounds to rs: every symbol vanishes.
    EXPECT_EQ(kiv::christoffel(5.0, 1, 1, 1, 1e300), 0.0);
    EXPECT_EQ(kiv::christoffel(5.0, 1, 0, 0, 1e300), 0.0);
    // Past 709.78 the exponent is ln(x): the radius is about 709.781 instead of 1.8e308.
    const double f = std::exp(std::log(709.781));
    EXPECT_EQ(kiv::christoffel(709.781, 1, 0, 0, 1.0), ((1.0 - 1.0 / f) * 1.0) / ((f + f) * f));
    EXPECT_GT(kiv::christoffel(709.781, 1, 0, 0, 1.0), 1e-7);
    EXPECT_EQ(kiv::christoffel(709.78, 1, 0, 0, 1.0), 0.0);  // e^709.78 doubled overflows to inf
    // A negative floor with r = 0 leaves f ≤ 0.
    EXPECT_EQ(kiv::christoffel(-kInf, 1, 1, 1, -1.0), 0.0);
}

TEST(Christoffel, NaNOperandsOfTheFloor) {
    // NaN rs: f = r, and the NaN spreads into the symbol.
    EXPECT_TRUE(std::isnan(kiv::christoffel(0.0, 1, 1, 1, kNaN)));
    // NaN x: f = rs + 1e-9.
    const double rs = 0.5, f = rs + 1e-9;
    EXPECT_EQ(kiv::christoffel(kNaN, 0, 0, 1, rs), rs / ((f - rs) * (f + f)));
}

TEST(ChristoffelBatchN, EachSlotIsTheSymbol) {
    auto pts = random_points(20'000, 2);
    const auto out = kiv::christoffel_batch_n(pts, 1, 0, 0, 0.75);
    ASSERT_EQ(out.size(), pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i) {
        ASSERT_TRUE(same_bits(out[i], kiv::christoffel(pts[i].x, 1, 0, 0, 0.75))) << i;
    }
    EXPECT_TRUE(kiv::christoffel_batch_n({}, 0, 0, 1, 1.0).empty());
}

}  // namespace
