// Fingerprints at the five probe points and the seen set.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <set>

#include "discover_test_util.hpp"
#include "kiv/discover/fingerprint.hpp"

using namespace kiv::discover;
using namespace kiv::discover::testing;

namespace {

Fingerprint fp(const Expr& e, std::size_t n = 1) {
    auto f = fingerprint(e, n);
    EXPECT_TRUE(f.has_value());
    return f.value_or(Fingerprint{});
}

TEST(Fingerprint, WordsAreTheHalvesOfTheValueBits) {
    Fingerprint f = fp(E({C(-2.0)}));
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(-2.0);  // 0xC000000000000000
    for (std::size_t k = 0; k < kProbes; ++k) {
        EXPECT_EQ(f[2 * k], static_cast<std::int32_t>(bits >> 32));
        EXPECT_LT(f[2 * k], 0);
        EXPECT_EQ(f[2 * k + 1], 0);
    }
    Fingerprint g = fp(E({V(0)}));
    for (std::size_t k = 0; k < kProbes; ++k) {
        std::uint64_t b = std::bit_cast<std::uint64_t>(kProbeScales[k]);
        EXPECT_EQ(g[2 * k], static_cast<std::int64_t>(b >> 32));
        EXPECT_EQ(g[2 * k + 1], static_cast<std::int64_t>(b & 0xFFFFFFFFu));
        EXPECT_GE(g[2 * k + 1], 0);
    }
}

TEST(Fingerprint, ProbePointsScaleByVariableNumber) {
    EXPECT_EQ(probe_point(2, 3), (std::vector<double>{1.618033988749895, 2 * 1.618033988749895, 3 * 1.618033988749895}));
    EXPECT_TRUE(probe_point(0, 0).empty());
}

TEST(Fingerprint, EqualFunctionsAtTheProbes) {
    EXPECT_EQ(fp(E({V(0), C(1.0), O(OpKind::Add)})), fp(E({C(1.0), V(0), O(OpKind::Add)})));
    EXPECT_NE(fp(E({V(0), V(0), O(OpKind::Mul)})), fp(E({V(0), V(0), O(OpKind::Add)})));
    EXPECT_EQ(fp(E({V(0), V(0), O(OpKind::Sub)})), fp(E({C(0.0)})));
    EXPECT_NE(fp(E({C(0.0)})), fp(E({C(-0.0)})));
    // Rounding differs at probe 3, so sqrt(x) * sqrt(x) is not x.
    EXPECT_NE(fp(E({V(0), O(OpKind::Sqrt), V(0), O(OpKind::Sqrt), O(OpKind::Mul)})), fp(E({V(0)})));
    // Two variables: the second is twice the first at every probe.
    EXPECT_NE(fp(E({V(0)}), 2), fp(E({V(1)}), 2));
    EXPECT_EQ(fp(E({V(0), V(0), O(OpKind::Add)}), 2), fp(E({V(1)}), 2));
    EXPECT_EQ(fp(E({V(1), V(0), O(OpKind::Sub)}), 2), fp(E({V(0)}), 2));
    // Parameters are probed with their stored values.
    EXPECT_EQ(fp(E({P(4, 2.5)})), fp(E({C(2.5)})));
}

TEST(Fingerprint, UndefinedOrNonFiniteExpressionsHaveNone) {
    EXPECT_FALSE(fingerprint(E({V(0), C(1.0), O(OpKind::Sub), O(OpKind::Ln)}), 1));
    EXPECT_FALSE(fingerprint(E({V(0), O(OpKind::Neg), O(OpKind::Sqrt)}), 1));
    EXPECT_FALSE(fingerprint(E({C(1.0), V(0), V(0), O(OpKind::Sub), O(OpKind::Div)}), 1));
    Expr e4 = E({V(0), O(OpKind::Exp), O(OpKind::Exp), O(OpKind::Exp), O(OpKind::Exp)});
    EXPECT_TRUE(eval_point(e4, probe_point(0, 1), {}).has_value());
    EXPECT_FALSE(eval_point(e4, probe_point(1, 1), {}).has_value());
    EXPECT_FALSE(fingerprint(e4, 1));
    // Lone non-finite constants evaluate, but their values are not finite.
    EXPECT_FALSE(fingerprint(E({C(std::nan(""))}), 1));
    EXPECT_FALSE(fingerprint(E({C(HUGE_VAL)}), 1));
    // With no variables every variable reference fails.
    EXPECT_FALSE(fingerprint(E({V(0)}), 0));
    EXPECT_TRUE(fingerprint(E({C(1.0)}), 0));
    EXPECT_FALSE(fingerprint(E({}), 1));
}

TEST(SeenSet, ReportsPresenceAndKeepsEverything) {
    SeenSet seen;
    std::set<Fingerprint> model;
    std::mt19937_64 rng(7);
    // Many entries force several growths; half the offers repeat an earlier value.
    std::vector<Fingerprint> offered;
    for (int i = 0; i < 20000; ++i) {
        Fingerprint f;
        if (!offered.empty() && rng() % 2) {
            f = offered[rng() % offered.size()];
        } else {
            ProbeValues v;
            for (double& d : v) d = static_cast<double>(rng() % 1000) / 7.0;
            f = fingerprint_of(v);
        }
        offered.push_back(f);
        bool present = seen.insert(f);
        EXPECT_EQ(present, !model.insert(f).second);
    }
    EXPECT_EQ(seen.size(), model.size());
    for (const auto& f : model) EXPECT_TRUE(seen.contains(f));
    EXPECT_FALSE(seen.contains(fingerprint_of({-1.0, 0.0, 0.0, 0.0, 0.0})));
    // Keys made from probe values and from their fingerprint are the same key.
    ProbeValues v = {0.5, -2.0, 1e-300, 3.0, -0.0};
    EXPECT_EQ(SeenSet::key_of(v), SeenSet::key_of(fingerprint_of(v)));
    EXPECT_FALSE(seen.insert(fingerprint_of(v)));
    EXPECT_TRUE(seen.contains(SeenSet::key_of(v), seen.hash(SeenSet::key_of(v))));
    // Room made in advance keeps every entry.
    seen.reserve(100000);
    for (const auto& f : model) EXPECT_TRUE(seen.contains(f));
    // +0.0 and -0.0 are different entries.
    SeenSet zeros;
    EXPECT_FALSE(zeros.insert(fingerprint_of({0.0, 0.0, 0.0, 0.0, 0.0})));
    EXPECT_FALSE(zeros.insert(fingerprint_of({-0.0, 0.0, 0.0, 0.0, 0.0})));
    EXPECT_TRUE(zeros.insert(fingerprint_of({0.0, 0.0, 0.0, 0.0, 0.0})));
}

}  // namespace
