// The operator table: every row's shape, its text, and its batched kernel against its scalar one.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "discover_test_util.hpp"
#include "kiv/discover/expr.hpp"
#include "kiv/discover/fit.hpp"
#include "kiv/discover/moments.hpp"
#include "kiv/discover/render.hpp"

using namespace kiv::discover;
using namespace kiv::discover::testing;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Values on and around every guard and threshold, and the non-finite ones.
const std::vector<double> kSpecials = {0.0,     -0.0,    1e-300,  -1e-300, 9.99e-301, -9.99e-301, 5e-324,
                                       0.5,     -0.5,    1.0,     -1.0,    2.0,       3.0,        709.78,
                                       709.79,  710.0,   -745.0,  1e308,   -1e308,    kInf,       -kInf,
                                       std::numeric_limits<double>::quiet_NaN()};

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

TEST(OperatorTable, EveryRowRendersItsPatternAndValidates) {
    for (const OpInfo& o : kOps) {
        SCOPED_TRACE(std::string(o.prefix) + "..." + std::string(o.suffix));
        ASSERT_TRUE(o.arity == 1 || o.arity == 2);
        EXPECT_EQ(arity(o.op), o.arity);
        EXPECT_FALSE(o.order_sensitive && o.arity == 1);
        Expr e = {V(0)};
        std::string want = std::string(o.prefix) + "x";
        if (o.arity == 2) {
            e.push_back(V(1));
            want += std::string(o.infix) + "y";
        }
        want += o.suffix;
        e.push_back(O(o.op));
        EXPECT_EQ(render_formula(e), want);
        EXPECT_EQ(stack_depth(e, 2), std::optional<std::size_t>(o.arity));
        // One operand short.
        e.erase(e.begin());
        EXPECT_FALSE(stack_depth(e, 2));
    }
    EXPECT_FALSE(is_op(static_cast<OpKind>(kOps.size())));
    EXPECT_FALSE(stack_depth({V(0), V(0), O(static_cast<OpKind>(kOps.size()))}, 1));
    double r = 0.0;
    EXPECT_FALSE(apply_op(static_cast<OpKind>(kOps.size()), 1.0, 1.0, r));
}

// Each lane of the batched kernel is the scalar kernel, bit for bit, whether run one lane at a time or
// over a whole batch, in place or not; a batch fails exactly when one of its lanes does.
TEST(OperatorTable, LaneKernelIsTheScalarKernel) {
    for (const OpInfo& o : kOps) {
        SCOPED_TRACE(std::string(o.prefix) + "..." + std::string(o.suffix));
        std::vector<double> as, bs, good_a, good_b, good_r;
        for (double a : kSpecials) {
            for (double b : (o.arity == 2 ? kSpecials : std::vector<double>{0.0})) {
                as.push_back(a);
                bs.push_back(b);
                double s = -1.0, l = -1.0;
                const bool scalar_ok = apply_op(o.op, a, b, s);
                const bool lane_ok = apply_lanes(o.op, &a, o.arity == 2 ? &b : nullptr, &l, 1);
                ASSERT_EQ(scalar_ok, lane_ok) << a << ", " << b;
                if (!scalar_ok) continue;
                EXPECT_TRUE(std::isfinite(s));
                ASSERT_EQ(bits(s), bits(l)) << a << ", " << b;
                good_a.push_back(a);
                good_b.push_back(b);
                good_r.push_back(s);
            }
        }
        ASSERT_FALSE(good_r.empty());
        std::vector<double> out(as.size());
        EXPECT_FALSE(apply_lanes(o.op, as.data(), bs.data(), out.data(), as.size()));
        out.assign(good_a.size(), 0.0);
        ASSERT_TRUE(apply_lanes(o.op, good_a.data(), good_b.data(), out.data(), out.size()));
        ASSERT_TRUE(apply_lanes(o.op, good_a.data(), good_b.data(), good_a.data(), out.size()));
        for (std::size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(bits(out[i]), bits(good_r[i])) << i;
            ASSERT_EQ(bits(good_a[i]), bits(good_r[i])) << i;
        }
    }
}

// An operand over the lanes of `values` holding its values, its parts too, or (null) not its values.
struct Held {
    std::vector<double> values;
    std::array<std::vector<double>, kParts> parts;
    explicit Held(std::vector<double> v) : values(std::move(v)) {
        for (std::size_t p = 0; p < kParts; ++p) {
            parts[p].resize(values.size());
            part_lanes(p, values.data(), parts[p].data(), values.size());
        }
    }
    Operand plain(std::size_t at = 0) const { return {values.data() + at, {}}; }
    Operand with_parts(std::size_t at = 0) const {
        return {values.data() + at, {parts[0].data() + at, parts[1].data() + at}};
    }
    Operand parts_only(std::size_t at = 0) const { return {nullptr, {parts[0].data() + at, parts[1].data() + at}}; }
};

// A row's parts are all there where its role says they are; the table's roles are checked at compile time.
TEST(OperatorTable, EveryRoleHasItsFunctions) {
    for (const OpInfo& o : kOps) {
        SCOPED_TRACE(std::string(o.prefix) + "..." + std::string(o.suffix));
        switch (o.parts.role) {
            case Parts::Role::None: break;
            case Parts::Role::Separable:
                for (PartKernel k : o.parts.kernels) EXPECT_NE(k, nullptr);
                break;
            case Parts::Role::FromPart: EXPECT_NE(o.parts.holds, nullptr); break;
        }
    }
}

// What the search keeps per member instead of recomputing: the separable operator from its operands' parts,
// and each unary operator with a part from its operand's part, give the scalar kernel's verdict and bits
// on every pair of special values; so does the same pass with the parts not held (the plain lanes).
TEST(OperatorTable, KeptPartsGiveTheKernelsResults) {
    const Held b(kSpecials);
    for (std::size_t i = 0; i < kSpecials.size(); ++i) {
        const Held a({kSpecials[i]});
        for (const OpInfo& o : kOps) {
            if (o.parts.role == Parts::Role::None) continue;
            SCOPED_TRACE(std::string(o.prefix) + "..." + std::string(o.suffix));
            for (std::size_t j = 0; j < (o.arity == 2 ? kSpecials.size() : 1); ++j) {
                double want = -1.0;
                const bool ok = apply_op(o.op, kSpecials[i], o.arity == 2 ? kSpecials[j] : 0.0, want);
                for (const bool parts : {true, false}) {
                    const OperandPass pass(o.op, parts ? a.with_parts() : a.plain(),
                                           parts ? b.with_parts(j) : b.plain(j));
                    ASSERT_TRUE(pass.ready());
                    double got = -1.0;
                    ASSERT_EQ(pass.apply(0, 1, &got), ok) << kSpecials[i] << ", " << kSpecials[j];
                    if (ok) {
                        EXPECT_EQ(bits(got), bits(want)) << kSpecials[i] << ", " << kSpecials[j];
                    }
                }
            }
        }
    }
}

// A pass is ready when its operands hold what its route reads: the separable operator needs no values
// when both operands' parts are held, an operator taken from a part still needs its operand's values, and
// the plain lanes need the values of every operand they take.
TEST(OperatorTable, APassReadsOnlyWhatItsRouteNeeds) {
    const Held a({0.5, 2.0});
    for (const OpInfo& o : kOps) {
        SCOPED_TRACE(std::string(o.prefix) + "..." + std::string(o.suffix));
        EXPECT_TRUE(OperandPass(o.op, a.plain(), a.plain()).ready());
        EXPECT_FALSE(OperandPass(o.op, Operand{}, a.plain()).ready());
        EXPECT_EQ(OperandPass(o.op, a.plain(), Operand{}).ready(), o.arity == 1);
        const bool separable = o.parts.role == Parts::Role::Separable;
        EXPECT_EQ(OperandPass(o.op, a.parts_only(), a.parts_only()).ready(), separable);
        if (separable) {
            const OperandPass pass(o.op, a.parts_only(), a.parts_only());
            std::array<double, 2> got{}, want{};
            ASSERT_TRUE(pass.apply(0, 2, got.data()));
            ASSERT_TRUE(apply_lanes(o.op, a.values.data(), a.values.data(), want.data(), 2));
            EXPECT_EQ(bits(got[1]), bits(want[1]));
        }
    }
    double r = 0.0;
    EXPECT_FALSE(OperandPass(static_cast<OpKind>(kOps.size()), a.plain(), a.plain()).apply(0, 1, &r));
}

// The scoring form of every route gives the verdict of the storing form and, bit for bit, the sum a caller
// adds from the stored results, whether the target covers all lanes, some or none; a failing lane past
// the target still fails the pass.
TEST(OperatorTable, ScoringLanesAddWhatTheStoredResultsWouldAdd) {
    std::vector<double> av, bv, y;
    for (std::size_t i = 0; i < 40; ++i) {
        av.push_back(0.37 * static_cast<double>(i) - 6.0);
        bv.push_back(1.0 + 0.11 * static_cast<double>(i));
        y.push_back(std::sin(static_cast<double>(i)));
    }
    const Held a(av), b(bv);
    std::vector<double> out(av.size());
    for (const std::size_t m : {std::size_t{0}, std::size_t{17}, av.size()}) {
        const std::span<const double> target(y.data(), m);
        for (const OpInfo& o : kOps) {
            for (const bool parts : {false, true}) {
                SCOPED_TRACE(std::string(o.prefix) + (parts ? " with parts, " : ", ") + std::to_string(m) +
                             " target values");
                const OperandPass pass(o.op, parts ? a.with_parts() : a.plain(), parts ? b.with_parts() : b.plain());
                const bool stored_ok = pass.apply(0, out.size(), out.data());
                double sum = -0.0;
                ASSERT_EQ(pass.score(0, y.data(), m, out.size(), sum), stored_ok);
                if (!stored_ok) continue;
                ScoreSum want(target);
                want.add(0, out.data(), out.size());
                ScoreSum got(target);
                got.add_scored(0, out.size(), [&](const double*, std::size_t, double& acc) {
                    acc = sum;
                    return true;
                });
                EXPECT_EQ(bits(got.rmse()), bits(want.rmse()));
            }
        }
    }
    // A lane past the target that fails fails the pass, from the values or from a part.
    const Held bad({1.0, -1.0});
    const double target[] = {0.0};
    for (const Operand& held : {bad.plain(), bad.with_parts()}) {
        const OperandPass ln(OpKind::Ln, held, held);
        double sum = -0.0;
        EXPECT_FALSE(ln.score(0, target, 1, 2, sum));
        EXPECT_TRUE(ln.score(0, target, 1, 1, sum));
    }
    // A stretch that starts later reads its operands from there.
    const OperandPass add(OpKind::Add, a.plain(), b.plain());
    double later = -1.0;
    ASSERT_TRUE(add.apply(5, 1, &later));
    EXPECT_EQ(bits(later), bits(av[5] + bv[5]));
}

// The moments form of every route gives the storing form's verdict and, bit for bit, the moments a caller
// adds from the stored results row by row, whether the target covers all lanes, some or none, and when a
// pass starts part way (the target lanes then start there too).
TEST(OperatorTable, MomentsLanesAddWhatTheStoredResultsWouldAdd) {
    std::vector<double> av, bv, y;
    for (std::size_t i = 0; i < 40; ++i) {
        av.push_back(0.37 * static_cast<double>(i) - 6.0);
        bv.push_back(1.0 + 0.11 * static_cast<double>(i));
        y.push_back(std::sin(static_cast<double>(i)) + 3.0);
    }
    const TargetMoments t(y);
    const Held a(av), b(bv);
    std::vector<double> out(av.size());
    for (const std::size_t m : {std::size_t{0}, std::size_t{17}, av.size()}) {
        for (const OpInfo& o : kOps) {
            for (const bool parts : {false, true}) {
                SCOPED_TRACE(std::string(o.prefix) + (parts ? " with parts, " : ", ") + std::to_string(m) +
                             " target values");
                const OperandPass pass(o.op, parts ? a.with_parts() : a.plain(), parts ? b.with_parts() : b.plain());
                const bool stored_ok = pass.apply(0, out.size(), out.data());
                // Two stretches, [0, 9) and [9, n), as the scorer runs them.
                Moments got;
                const std::size_t cut = 9, m0 = std::min(m, cut), m1 = m > cut ? m - cut : 0;
                const bool ok0 = pass.moments(0, {t.inv.data(), t.dev.data()}, m0, cut, got);
                const bool ok1 = pass.moments(cut, {t.inv.data() + cut, t.dev.data() + cut}, m1, out.size() - cut, got);
                ASSERT_EQ(ok0 && ok1, stored_ok);
                if (!stored_ok) continue;
                Moments want;
                for (std::size_t i = 0; i < m; ++i) want.add(out[i], t.inv[i], t.dev[i]);
                EXPECT_EQ(bits(got.mean), bits(want.mean));
                EXPECT_EQ(bits(got.cff), bits(want.cff));
                EXPECT_EQ(bits(got.cfy), bits(want.cfy));
            }
        }
    }
}

}  // namespace
