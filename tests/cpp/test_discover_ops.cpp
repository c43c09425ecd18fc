// The operator table: every row's shape, its text, and its batched kernel against its scalar one.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "discover_test_util.hpp"
#include "kiv/discover/expr.hpp"
#include "kiv/discover/fit.hpp"
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

// What the search keeps per member instead of recomputing: the split operator from its two parts, and exp
// and ln from those parts, give the scalar kernel's verdict and bits on every pair of special values.
TEST(OperatorTable, KeptPartsGiveTheKernelsResults) {
    // Only the split operator has parts, and only exp and ln are taken from one.
    ASSERT_TRUE(only_split_op());
    ASSERT_TRUE(only_exp_and_ln_have_parts());
    for (double a : kSpecials) {
        std::vector<double> first(1), second(kSpecials.size()), out(kSpecials.size());
        split_part_lanes(0, &a, first.data(), 1);
        split_part_lanes(1, kSpecials.data(), second.data(), kSpecials.size());
        for (std::size_t j = 0; j < kSpecials.size(); ++j) {
            const double b = kSpecials[j];
            double want = -1.0, got = -1.0, lane = -1.0;
            const bool ok = apply_op(kSplitOp, a, b, want);
            ASSERT_EQ(apply_split(first[0], second[j], got), ok) << a << ", " << b;
            ASSERT_EQ(split_lanes(first.data(), &second[j], &lane, 1), ok) << a << ", " << b;
            if (!ok) continue;
            EXPECT_EQ(bits(got), bits(want)) << a << ", " << b;
            EXPECT_EQ(bits(lane), bits(want)) << a << ", " << b;
        }
        for (const OpKind op : {OpKind::Exp, OpKind::Ln}) {
            const double part = op_info(kSplitOp).parts[op_info(op).part](a);
            double want = -1.0, got = -1.0;
            const bool ok = apply_op(op, a, 0.0, want);
            ASSERT_EQ(apply_lanes_from_part(op, &a, &part, &got, 1), ok) << a;
            if (ok) {
                EXPECT_EQ(bits(got), bits(want)) << a;
            }
        }
    }
    // A lane that fails fails the pass.
    const std::vector<double> a = {0.5, 1.0, -1.0}, part = {0.0, 0.0, 0.0};
    std::vector<double> out(3);
    EXPECT_FALSE(apply_lanes_from_part(OpKind::Ln, a.data(), part.data(), out.data(), 3));
    const double inf_part[] = {1.0, kInf}, zero[] = {0.0, 0.0};
    EXPECT_FALSE(split_lanes(inf_part, zero, out.data(), 2));
}

// The scoring forms give the verdict of the storing forms and, bit for bit, the sum a caller adds from the
// stored results, whether the target covers all lanes, some or none; a failing lane past the target still
// fails the pass.
TEST(OperatorTable, ScoringLanesAddWhatTheStoredResultsWouldAdd) {
    std::vector<double> a, b, y;
    for (std::size_t i = 0; i < 40; ++i) {
        a.push_back(0.37 * static_cast<double>(i) - 6.0);
        b.push_back(1.0 + 0.11 * static_cast<double>(i));
        y.push_back(std::sin(static_cast<double>(i)));
    }
    std::vector<double> part(a.size()), first(a.size()), second(a.size()), out(a.size());
    split_part_lanes(0, a.data(), first.data(), a.size());
    split_part_lanes(1, b.data(), second.data(), b.size());
    for (const std::size_t m : {std::size_t{0}, std::size_t{17}, a.size()}) {
        const std::span<const double> target(y.data(), m);
        auto check = [&](const char* what, bool stored_ok, bool scored_ok, double scored_sum) {
            SCOPED_TRACE(std::string(what) + ", " + std::to_string(m) + " target values");
            ASSERT_EQ(scored_ok, stored_ok);
            ScoreSum want(target);
            want.add(0, out.data(), out.size());
            ScoreSum got(target);
            got.add_scored(0, out.size(), [&](const double*, std::size_t, double& acc) {
                acc = scored_sum;
                return true;
            });
            if (stored_ok) {
                EXPECT_EQ(bits(got.rmse()), bits(want.rmse()));
            }
        };
        for (const OpInfo& o : kOps) {
            const double* bp = o.arity == 2 ? b.data() : nullptr;
            double sum = -0.0;
            const bool scored_ok = score_lanes(o.op, a.data(), bp, y.data(), m, a.size(), sum);
            check(o.prefix.data(), apply_lanes(o.op, a.data(), bp, out.data(), a.size()), scored_ok, sum);
        }
        for (const OpKind op : {OpKind::Exp, OpKind::Ln}) {
            split_part_lanes(static_cast<std::size_t>(op_info(op).part), a.data(), part.data(), a.size());
            double sum = -0.0;
            const bool scored_ok = score_lanes_from_part(op, a.data(), part.data(), y.data(), m, a.size(), sum);
            check("from part", apply_lanes_from_part(op, a.data(), part.data(), out.data(), a.size()), scored_ok, sum);
        }
        double sum = -0.0;
        const bool scored_ok = score_split_lanes(first.data(), second.data(), y.data(), m, a.size(), sum);
        check("split", split_lanes(first.data(), second.data(), out.data(), a.size()), scored_ok, sum);
    }
    // A lane past the target that fails fails the pass.
    const double bad[] = {1.0, -1.0}, target[] = {0.0};
    double sum = -0.0;
    EXPECT_FALSE(score_lanes(OpKind::Ln, bad, nullptr, target, 1, 2, sum));
    EXPECT_TRUE(score_lanes(OpKind::Ln, bad, nullptr, target, 1, 1, sum));
}

}  // namespace
