// Octonion product: the unit table against the index triples, algebraic identities on integer
// octonions, zero skipping and batch behaviour.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "kiv/octonion.hpp"

namespace {

using kiv::Octonion;

constexpr double kInf = std::numeric_limits<double>::infinity();

Octonion unit(int i, double c = 1.0) {
    Octonion o{};
    o[i] = c;
    return o;
}

Octonion mul(const Octonion& a, const Octonion& b) { return kiv::octonion_mul(a, b); }

Octonion random_integer_octonion(std::mt19937& gen) {
    std::uniform_int_distribution<int> d(-9, 9);
    Octonion o;
    for (auto& c : o) c = d(gen);
    return o;
}

double norm2(const Octonion& o) {
    double s = 0;
    for (double c : o) s += c * c;
    return s;
}

TEST(OctonionTable, FollowsTheIndexTriples) {
    // Expected table from the rules alone: e_0 neutral, e_i² = −1, and for each triple (p, q, r) =
    // (t, t+1, t+3) mod 7: e_p e_q = e_r, e_q e_r = e_p, e_r e_p = e_q, reversed orders negated.
    int sign[8][8] = {}, index[8][8] = {};
    for (int i = 0; i < 8; ++i) {
        sign[0][i] = sign[i][0] = 1;
        index[0][i] = index[i][0] = i;
    }
    for (int i = 1; i < 8; ++i) sign[i][i] = -1, index[i][i] = 0;
    for (int t = 0; t < 7; ++t) {
        const int p = t % 7 + 1, q = (t + 1) % 7 + 1, r = (t + 3) % 7 + 1;
        const int cyc[3][3] = {{p, q, r}, {q, r, p}, {r, p, q}};
        for (const auto& c : cyc) {
            sign[c[0]][c[1]] = 1, index[c[0]][c[1]] = c[2];
            sign[c[1]][c[0]] = -1, index[c[1]][c[0]] = c[2];
        }
    }
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            ASSERT_NE(sign[i][j], 0) << i << "," << j;
            EXPECT_EQ(kiv::kOctonionTable[i][j].sign, sign[i][j]) << i << "," << j;
            EXPECT_EQ(kiv::kOctonionTable[i][j].index, index[i][j]) << i << "," << j;
        }
}

TEST(OctonionMul, UnitProducts) {
    EXPECT_EQ(mul(unit(1), unit(2)), unit(4));
    EXPECT_EQ(mul(unit(2), unit(1)), unit(4, -1.0));
    EXPECT_EQ(mul(unit(7), unit(7)), unit(0, -1.0));
    // Not associative: (e1 e2) e3 = −e6 while e1 (e2 e3) = +e6.
    EXPECT_EQ(mul(mul(unit(1), unit(2)), unit(3)), unit(6, -1.0));
    EXPECT_EQ(mul(unit(1), mul(unit(2), unit(3))), unit(6));
    Octonion ones;
    ones.fill(1.0);
    EXPECT_EQ(mul(ones, ones), (Octonion{-6, 2, 2, 2, 2, 2, 2, 2}));
}

TEST(OctonionMul, ZerosAreSkipped) {
    // The zero real part of a never meets the infinity of b.
    EXPECT_EQ(mul(unit(1), unit(0, kInf)), unit(1, kInf));
    // The real unit is neutral, except that −0 comes back as +0.
    const Octonion b = {-0.0, 1.5, -2.0, 0.0, 3.0, -0.0, 7.0, 1e300};
    const Octonion r = mul(unit(0), b);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(r[k], b[k]);
        EXPECT_FALSE(std::signbit(r[k]) && r[k] == 0.0) << k;
    }
}

TEST(OctonionMul, SignIsAppliedByMultiplication) {
    // e_2 e_1 = −e_4: the term is (s × a[i]) × b[j], a real product that keeps a NaN's sign bit.
    volatile double s = -1.0, nan = std::numeric_limits<double>::quiet_NaN(), one = 1.0;
    const double want = (s * nan) * one;
    const Octonion r = mul(unit(2, nan), unit(1));
    ASSERT_TRUE(std::isnan(r[4]));
    EXPECT_EQ(std::signbit(r[4]), std::signbit(want));
}

TEST(OctonionMul, AlternativeAndNormMultiplicative) {
    std::mt19937 gen(7);
    for (int trial = 0; trial < 500; ++trial) {
        const auto a = random_integer_octonion(gen), b = random_integer_octonion(gen);
        EXPECT_EQ(mul(mul(a, a), b), mul(a, mul(a, b)));
        EXPECT_EQ(mul(mul(a, b), b), mul(a, mul(b, b)));
        EXPECT_EQ(mul(mul(a, b), a), mul(a, mul(b, a)));  // flexible
        EXPECT_EQ(norm2(mul(a, b)), norm2(a) * norm2(b));
    }
}

TEST(OctonionMulN, BatchEqualsPairwiseProducts) {
    std::mt19937 gen(11);
    std::vector<Octonion> as, bs;
    for (int p = 0; p < 20000; ++p) {
        as.push_back(random_integer_octonion(gen));
        bs.push_back(random_integer_octonion(gen));
    }
    as.push_back(unit(3));  // surplus ignored
    const auto out = kiv::octonion_mul_n(as, bs);
    ASSERT_EQ(out.size(), bs.size());
    for (std::size_t p = 0; p < bs.size(); ++p) ASSERT_EQ(out[p], mul(as[p], bs[p])) << p;
    EXPECT_TRUE(kiv::octonion_mul_n({}, bs).empty());
}

}  // namespace
