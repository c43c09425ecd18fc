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

// A set over keys kept by the test: id i is keys[i].
struct Keyed {
    SeenSet seen;
    std::vector<SeenSet::Key> keys;
    std::size_t confirmations = 0;  // keys asked for again
    SeenSet::Key operator()(SeenSet::Id id) {
        ++confirmations;
        return keys.at(id);
    }
    bool insert(const ProbeValues& v) {
        const auto key_at = [this](SeenSet::Id id) { return (*this)(id); };
        const SeenSet::Key key = SeenSet::key_of(v);
        seen.reserve(1, key_at);
        if (seen.insert(key, seen.hash(key), static_cast<SeenSet::Id>(keys.size()), key_at)) return true;
        keys.push_back(key);
        return false;
    }
    bool contains(const ProbeValues& v) {
        const SeenSet::Key key = SeenSet::key_of(v);
        return seen.contains(key, seen.hash(key), [this](SeenSet::Id id) { return (*this)(id); });
    }
};

TEST(SeenSet, ReportsPresenceAndKeepsEverythingAcrossGrowth) {
    Keyed set;
    std::set<SeenSet::Key> model;
    std::mt19937_64 rng(7);
    // Many entries force several growths; half the offers repeat an earlier value.
    std::vector<ProbeValues> offered;
    for (int i = 0; i < 20000; ++i) {
        ProbeValues v;
        if (!offered.empty() && rng() % 2) {
            v = offered[rng() % offered.size()];
        } else {
            for (double& d : v) d = static_cast<double>(rng() % 1000) / 7.0;
        }
        offered.push_back(v);
        EXPECT_EQ(set.insert(v), !model.insert(SeenSet::key_of(v)).second);
    }
    EXPECT_EQ(set.seen.size(), model.size());
    EXPECT_EQ(set.seen.bytes(), 32768 * sizeof(std::uint64_t));  // at most half full
    // Lookups of absent keys rarely need a key again: 32 bits of hash sort out almost every slot.
    set.confirmations = 0;
    for (int i = 0; i < 1000; ++i) EXPECT_FALSE(set.contains({-1.0 - i, 0.0, 0.0, 0.0, 0.0}));
    EXPECT_LE(set.confirmations, 2u);
    for (const ProbeValues& v : offered) EXPECT_TRUE(set.contains(v));
    // Keys made from probe values and from their fingerprint are the same key.
    ProbeValues v = {0.5, -2.0, 1e-300, 3.0, -0.0};
    EXPECT_EQ(SeenSet::key_of(v), SeenSet::key_of(fingerprint_of(v)));
}

TEST(SeenSet, AMatchOfHashBitsIsConfirmedOnTheWholeKey) {
    Keyed set;
    const ProbeValues v = {0.0, 1.0, 2.0, 3.0, 4.0};
    EXPECT_FALSE(set.insert(v));
    set.confirmations = 0;
    EXPECT_TRUE(set.contains(v));
    EXPECT_EQ(set.confirmations, 1u);
    // The same hash bits now stand for another key (one bit apart): the lookup must not trust them.
    set.keys[0][4] ^= 1;
    EXPECT_FALSE(set.contains(v));
    EXPECT_FALSE(set.insert(v));
    EXPECT_EQ(set.seen.size(), 2u);
}

}  // namespace
