// Geometric product: blade rules, agreement with a factor-sorting reference, associativity, the
// out-of-range failures and batch behaviour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kiv/failure.hpp"
#include "kiv/multivector.hpp"

namespace {

using kiv::Multivector;
using Sig = std::vector<std::int8_t>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Multivector gp(const Multivector& a, const Multivector& b, const Sig& sig) {
    return kiv::geometric_product(a, b, sig);
}

// Reference: write both blades as factor lists, bubble-sort the concatenation counting swaps, then
// contract equal neighbours through the metric.
Multivector reference_product(const Multivector& a, const Multivector& b, const Sig& sig) {
    const std::size_t n = a.size();
    Multivector r(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            std::vector<int> f;
            for (int m = 0; m < 64; ++m)
                if ((i >> m) & 1) f.push_back(m);
            for (int m = 0; m < 64; ++m)
                if ((j >> m) & 1) f.push_back(m);
            double coef = 1.0;
            for (std::size_t pass = 0; pass < f.size(); ++pass)
                for (std::size_t t = 0; t + 1 < f.size(); ++t)
                    if (f[t] > f[t + 1]) {
                        std::swap(f[t], f[t + 1]);
                        coef = -coef;
                    }
            std::size_t k = 0;
            for (std::size_t t = 0; t < f.size(); ++t) {
                if (t + 1 < f.size() && f[t] == f[t + 1]) {
                    coef *= sig[f[t]];
                    ++t;
                } else {
                    k |= std::size_t{1} << f[t];
                }
            }
            r[k] += coef * a[i] * b[j];
        }
    }
    return r;
}

Multivector random_integer_mv(std::mt19937& gen, std::size_t n, double zero_share = 0.2) {
    std::uniform_int_distribution<int> d(-4, 4);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Multivector m(n);
    for (auto& c : m) c = u(gen) < zero_share ? 0.0 : d(gen);
    return m;
}

void expect_failure(const Multivector& a, const Multivector& b, const Sig& sig, const std::string& what) {
    try {
        gp(a, b, sig);
        FAIL() << "no failure, expected " << what;
    } catch (const kiv::InternalFailure& err) {
        EXPECT_EQ(err.what(), what);
    }
}

TEST(GeometricProduct, BladeRules) {
    const Sig euclid2 = {1, 1};
    EXPECT_EQ(gp({0, 1, 0, 0}, {0, 0, 1, 0}, euclid2), (Multivector{0, 0, 0, 1}));
    EXPECT_EQ(gp({0, 0, 1, 0}, {0, 1, 0, 0}, euclid2), (Multivector{0, 0, 0, -1}));
    EXPECT_EQ(gp({0, 1, 0, 0}, {0, 1, 0, 0}, Sig{-1, 1}), (Multivector{-1, 0, 0, 0}));
    EXPECT_EQ(gp({0, 1, 0, 0}, {0, 1, 0, 0}, Sig{0, 1}), (Multivector{0, 0, 0, 0}));
    EXPECT_EQ(gp({0, 0, 0, 1}, {0, 0, 0, 1}, euclid2), (Multivector{-1, 0, 0, 0}));
    EXPECT_EQ(gp({0, 0, 0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 1}, Sig{1, 1, 1}),
              (Multivector{-1, 0, 0, 0, 0, 0, 0, 0}));
    // Scalars need no metric at all.
    EXPECT_EQ(gp({2, 0, 0, 0}, {3, 0, 0, 0}, Sig{}), (Multivector{6, 0, 0, 0}));
    // Metric entries other than ±1 act as multipliers.
    EXPECT_EQ(gp({0, 3, 0, 0}, {0, 2, 0, 0}, Sig{5, 1}), (Multivector{30, 0, 0, 0}));
    EXPECT_TRUE(gp({}, {1, 2}, Sig{}).empty());
}

TEST(GeometricProduct, ZerosAreSkippedNaNIsNot) {
    const auto r = gp({0, 1}, {kInf, 0}, Sig{1});
    EXPECT_EQ(r, (Multivector{0, kInf}));
    const auto s = gp({0, 1, 0, 0}, {0, 0, 0, kInf}, Sig{1, 1});
    EXPECT_FALSE(std::isnan(s[0]) || std::isnan(s[1]) || std::isnan(s[3]));
    EXPECT_EQ(s[2], kInf);
    const auto n = gp({kNaN, 0, 0, 0}, {0, 0, 2, 0}, Sig{1, 1});
    EXPECT_TRUE(std::isnan(n[2]));
    EXPECT_EQ(n[0], 0.0);
    // A −0 coefficient is skipped; every slot starts from +0.
    const auto z = gp({1, 0}, {-0.0, 1}, Sig{1});
    EXPECT_FALSE(std::signbit(z[0]));
}

TEST(GeometricProduct, SignIsAppliedByMultiplication) {
    // e_1 e_0 = −e_01: the term is b[j] × (f × a[i]) with f = −1, a real product, which keeps the sign
    // bit of a NaN where a negation would flip it. Both kernels (unit and general metric) agree.
    volatile double f = -1.0, nan = kNaN, one = 1.0;
    const double want = one * (f * nan);
    for (const Sig& sig : {Sig{1, 1}, Sig{1, 2}}) {
        const auto r = gp({0, 0, kNaN, 0}, {0, 1, 0, 0}, sig);
        ASSERT_TRUE(std::isnan(r[3]));
        EXPECT_EQ(std::signbit(r[3]), std::signbit(want));
    }
}

struct SigCase {
    const char* name;
    Sig sig;
    std::size_t n;
};

class ProductProperties : public ::testing::TestWithParam<SigCase> {};

TEST_P(ProductProperties, MatchesReferenceAndIsAssociative) {
    const SigCase& c = GetParam();
    std::mt19937 gen(1234);
    for (int trial = 0; trial < 200; ++trial) {
        const auto a = random_integer_mv(gen, c.n);
        const auto b = random_integer_mv(gen, c.n);
        const auto d = random_integer_mv(gen, c.n, 0.5);
        ASSERT_EQ(gp(a, b, c.sig), reference_product(a, b, c.sig)) << c.name << " trial " << trial;
        ASSERT_EQ(gp(gp(a, b, c.sig), d, c.sig), gp(a, gp(b, d, c.sig), c.sig)) << c.name << " trial " << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, ProductProperties,
    ::testing::Values(SigCase{"euclid3", {1, 1, 1}, 8}, SigCase{"spacetime", {1, -1, -1, -1}, 16},
                      SigCase{"degenerate", {1, 1, 0}, 8}, SigCase{"projective", {0, 1, 1, 1}, 16},
                      SigCase{"scaled", {2, -3, 1}, 8}, SigCase{"long_signature", {1, -1, 1, 1, 1}, 8},
                      SigCase{"five", {-1, 1, -1, 0, 1}, 32}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GeometricProduct, OutOfRangeFailures) {
    // The product blade e_0 e_1 lands at index 3 of a length-3 result.
    expect_failure({1, 2, 3}, {1, 1, 1}, Sig{1, 1}, "index out of bounds: the len is 3 but the index is 3");
    // b shorter than a: reading b[2].
    expect_failure({1, 0, 0, 0}, {1, 1}, Sig{1, 1}, "index out of bounds: the len is 2 but the index is 2");
    // A shared factor e_1 with no signature entry.
    expect_failure({0, 0, 1, 0}, {0, 0, 1, 0}, Sig{1}, "index out of bounds: the len is 1 but the index is 1");
    expect_failure({0, 1}, {0, 1}, Sig{}, "index out of bounds: the len is 0 but the index is 0");
}

TEST(GeometricProduct, LengthsThatDoNotFail) {
    // b longer than a: the surplus is ignored.
    EXPECT_EQ(gp({0, 1, 0, 0}, {0, 0, 1, 0, 9, 9}, Sig{1, 1}), (Multivector{0, 0, 0, 1}));
    // b shorter than a, but a is all zeros: nothing reads b.
    EXPECT_EQ(gp({0, 0, 0, 0}, {1}, Sig{}), (Multivector{0, 0, 0, 0}));
    // Zeros in b hide the index that would fall outside.
    EXPECT_EQ(gp({1, 2, 3}, {1, 0, 0}, Sig{1, 1}), (Multivector{1, 2, 3}));
}

TEST(GeometricProductN, BatchEqualsPairwiseProducts) {
    std::mt19937 gen(99);
    const Sig sig = {1, -1, -1, -1};
    std::vector<Multivector> as, bs;
    for (int p = 0; p < 5000; ++p) {
        as.push_back(random_integer_mv(gen, 16));
        bs.push_back(random_integer_mv(gen, 16));
    }
    bs.push_back(random_integer_mv(gen, 16));  // surplus ignored
    const auto out = kiv::geometric_product_n(as, bs, sig);
    ASSERT_EQ(out.size(), as.size());
    for (std::size_t p = 0; p < as.size(); ++p) ASSERT_EQ(out[p], gp(as[p], bs[p], sig)) << p;
    EXPECT_TRUE(kiv::geometric_product_n({}, bs, sig).empty());
}

TEST(GeometricProductN, LowestFailingPairEndsTheBatch) {
    const Sig sig = {1, 1};
    std::vector<Multivector> as(4000, Multivector{0, 1, 0, 0}), bs(4000, Multivector{0, 0, 1, 0});
    as[3100] = {1, 0, 0, 0};
    bs[3100] = {1};  // b too short: the len is 1 but the index is 1
    as[3500] = {1, 2, 3};  // product blade outside: the len is 3 but the index is 3
    bs[3500] = {1, 1, 1};
    try {
        kiv::geometric_product_n(as, bs, sig);
        FAIL() << "no failure";
    } catch (const kiv::InternalFailure& err) {
        EXPECT_STREQ(err.what(), "index out of bounds: the len is 1 but the index is 1");
    }
}

}  // namespace
