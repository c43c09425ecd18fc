// The scaled search (each candidate as its best affine map onto the target) and the Pareto front.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <stdexcept>

#include "discover_test_util.hpp"
#include "kiv/discover/fingerprint.hpp"
#include "kiv/discover/fit.hpp"
#include "kiv/discover/render.hpp"
#include "kiv/discover/scaling.hpp"
#include "kiv/discover/search.hpp"

using namespace kiv::discover;
using namespace kiv::discover::testing;

namespace {

struct Data {
    Columns x;
    std::vector<double> y;
};

// n rows of two variables drawn from [1, 5), and y = law(x0, x1).
template <class Law>
Data draw(std::size_t n, Law law, unsigned seed = 3) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(1.0, 5.0);
    Data d{Columns(2, std::vector<double>(n)), std::vector<double>(n)};
    for (std::size_t r = 0; r < n; ++r) {
        d.x[0][r] = u(gen);
        d.x[1][r] = u(gen);
        d.y[r] = law(d.x[0][r], d.x[1][r]);
    }
    return d;
}

double rmse_of(const Expr& e, const Data& d) {
    SearchConfig plain;
    plain.complexity_penalty = 0.0;
    return fit_score(e, d.x, d.y, plain).value();
}

SearchOutcome run(const Data& d, Constants constants, bool front = true, std::uint64_t max_complexity = 8) {
    SearchConfig cfg;
    cfg.constants = constants;
    cfg.max_complexity = max_complexity;
    cfg.beam_width = 400;
    SearchOptions opt;
    opt.front = front;
    return run_beam_search(d.x, d.y, 2, cfg, opt);
}

std::size_t count_consts(const Expr& e) {
    std::size_t k = 0;
    for (const Token& t : e) k += t.kind == TokenKind::Const;
    return k;
}

// Token equality compares values by their bits.
bool same_tokens(const Expr& a, const Expr& b) { return a == b; }

}  // namespace

TEST(ScaledSearch, AffineKeysJoinMapsOfOneCandidateAndKeepOthersApart) {
    const ProbeValues f{0.3, 1.7, -2.0, 5.5, 0.9};
    ProbeValues twice, shifted, negated, other = f;
    for (std::size_t k = 0; k < kProbes; ++k) {
        twice[k] = 2.0 * f[k];
        shifted[k] = f[k] + 1.0;
        negated[k] = 7.0 - 3.0 * f[k];
    }
    other[4] = 1.0;
    const auto key = SeenSet::affine_key_of(f);
    EXPECT_EQ(SeenSet::affine_key_of(twice), key);
    EXPECT_EQ(SeenSet::affine_key_of(shifted), key);
    EXPECT_EQ(SeenSet::affine_key_of(negated), key);
    EXPECT_NE(SeenSet::affine_key_of(other), key);
    // Constants keep their own values: 0 and 1 stay two seeds.
    EXPECT_NE(SeenSet::affine_key_of(ProbeValues{0, 0, 0, 0, 0}), SeenSet::affine_key_of(ProbeValues{1, 1, 1, 1, 1}));
}

TEST(ScaledSearch, IndependentProbesTellEveryVariableFromMapsOfTheOthers) {
    const ProbePoints p = independent_probe_points(3);
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            if (i == j) continue;
            ProbeValues a, b;
            for (std::size_t k = 0; k < kProbes; ++k) {
                a[k] = p[k][i];
                b[k] = p[k][j];
            }
            EXPECT_NE(SeenSet::affine_key_of(a), SeenSet::affine_key_of(b)) << i << " " << j;
        }
    }
}

// Laws with constants that the plain grammar cannot state in eight tokens come back exactly, with their
// constants as full-precision constant tokens whose evaluation gives the reported rmse.
TEST(ScaledSearch, FindsLawsWithConstantsAndReportsTheirMap) {
    struct Case {
        const char* name;
        double (*law)(double, double);
        std::size_t consts;  // constants in the reported formula
    };
    const Case cases[] = {
        {"3.7 x + 1.2", [](double a, double) { return 3.7 * a + 1.2; }, 2},
        {"1.15 x^2", [](double a, double) { return 1.15 * (a * a); }, 1},
        {"y - x", [](double a, double b) { return b - a; }, 0},
        {"8.99 x / y^2", [](double a, double b) { return 8.99 * (a / (b * b)); }, 1},
    };
    for (const Case& c : cases) {
        const Data d = draw(200, c.law);
        const SearchOutcome out = run(d, Constants::Scale);
        ASSERT_TRUE(out.best) << c.name;
        const Expr& t = out.best->tokens;
        EXPECT_LE(rmse_of(t, d), 1e-12 * 10.0) << c.name << ": " << out.best->formula;
        EXPECT_EQ(count_consts(t), c.consts) << c.name << ": " << out.best->formula;
        EXPECT_EQ(out.best->formula, render_formula(t));
        // The best is a member of the front, the last one (nothing beats an exact fit).
        ASSERT_FALSE(out.front.empty()) << c.name;
        EXPECT_TRUE(same_tokens(out.front.back().tokens, t)) << c.name << ": " << render_formula(out.front.back().tokens);
    }
}

// With a target 1e-12 times as large (and the goal as large, as a caller relative to rms(y) sets it), the
// same formula comes back with its constants scaled.
TEST(ScaledSearch, ScaleOfTheTargetScalesTheConstantsOnly) {
    Data d = draw(150, [](double a, double b) { return 2.5 * (a * b) - 0.75; });
    const SearchOutcome big = run(d, Constants::Scale, false);
    for (double& v : d.y) v *= 1e-12;
    SearchConfig cfg;
    cfg.constants = Constants::Scale;
    cfg.beam_width = 400;
    cfg.precision_goal *= 1e-12;
    const SearchOutcome small = run_beam_search(d.x, d.y, 2, cfg, {});
    ASSERT_TRUE(big.best && small.best);
    ASSERT_EQ(big.best->tokens.size(), small.best->tokens.size());
    for (std::size_t i = 0; i < big.best->tokens.size(); ++i) {
        const Token &p = big.best->tokens[i], &q = small.best->tokens[i];
        ASSERT_EQ(p.kind, q.kind);
        if (p.kind == TokenKind::Const) EXPECT_NEAR(q.value, 1e-12 * p.value, 1e-20) << big.best->formula;
    }
}

// The front: ascending token counts, strictly falling rmse, each entry's rmse that of its tokens as they
// stand and its score the ranked one; asking for it changes nothing else.
TEST(ScaledSearch, FrontIsAParetoSetOfReportedFormulas) {
    const Data d = draw(120, [](double a, double b) { return std::sin(a) * 3.0 + 0.1 * b; });
    for (Constants c : {Constants::None, Constants::Scale}) {
        const SearchOutcome with = run(d, c, true, 7);
        const SearchOutcome without = run(d, c, false, 7);
        ASSERT_TRUE(with.best && without.best);
        EXPECT_TRUE(same_tokens(with.best->tokens, without.best->tokens));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(with.best->score), std::bit_cast<std::uint64_t>(without.best->score));
        EXPECT_TRUE(without.front.empty());
        ASSERT_GE(with.front.size(), 2u);
        bool best_on_front = false;
        for (std::size_t i = 0; i < with.front.size(); ++i) {
            const FrontEntry& e = with.front[i];
            EXPECT_EQ(std::bit_cast<std::uint64_t>(e.rmse), std::bit_cast<std::uint64_t>(rmse_of(e.tokens, d)));
            const double p = SearchConfig{}.complexity_penalty;
            if (c == Constants::None) {
                EXPECT_EQ(e.score, penalised_score(e.rmse, e.tokens.size(), p));
            } else {
                // Ranked with the map's four tokens, and the map's rmse, which the leaving-out rule keeps
                // within 1e-6 (plus 1e-12 rms(y)) of the reported one.
                EXPECT_LE(e.score, penalised_score(e.rmse, e.tokens.size() + kScaleTokens, p) * (1.0 + 1e-9));
                EXPECT_GE(e.score, penalised_score(e.rmse, e.tokens.size(), p) * (1.0 - 1e-6) - 1e-11);
            }
            if (i > 0) {
                EXPECT_LT(with.front[i - 1].tokens.size(), e.tokens.size());
                EXPECT_LT(e.rmse, with.front[i - 1].rmse);
            }
            best_on_front = best_on_front || same_tokens(e.tokens, with.best->tokens);
        }
        EXPECT_TRUE(best_on_front) << with.best->formula;
    }
}

// A target with a NaN scores NaN everywhere: the best is a candidate as it stands, never constants fitted to
// NaN.
TEST(ScaledSearch, NaNTargetGetsNoNaNConstants) {
    Data d = draw(30, [](double a, double) { return a; });
    d.y[7] = std::nan("");
    const SearchOutcome out = run(d, Constants::Scale, true, 4);
    ASSERT_TRUE(out.best);
    for (const Token& t : out.best->tokens) EXPECT_FALSE(t.kind == TokenKind::Const && std::isnan(t.value));
    EXPECT_TRUE(out.front.empty());
}

// Admission under scaling takes candidates that are affine maps of each other as one: x - 1, x + 1, -x and
// 1 - x never follow x, while in the plain search they do; x * x is no such map.
TEST(ScaledSearch, AffineMapsOfAnAdmittedCandidateAreNotAdmitted) {
    const Data d = draw(40, [](double a, double b) { return std::sin(a * b); });
    for (Constants c : {Constants::None, Constants::Scale}) {
        SearchConfig cfg;
        cfg.constants = c;
        cfg.max_complexity = 4;
        cfg.precision_goal = 0.0;
        std::vector<Expr> admitted;
        SearchOptions opt;
        opt.admitted = &admitted;
        run_beam_search(d.x, d.y, 2, cfg, opt);
        std::size_t maps = 0, squares = 0;
        for (const Expr& e : admitted) {
            const std::string t = render_formula(e);
            maps += t == "(x - 1.0000)" || t == "(x + 1.0000)" || t == "(-x)" || t == "(1.0000 - x)";
            squares += t == "(x * x)";
        }
        EXPECT_EQ(squares, 1u);
        if (c == Constants::None) {
            EXPECT_EQ(maps, 4u);
        } else {
            EXPECT_EQ(maps, 0u);
        }
    }
}

// Progress under scaling reports the returned formula (with its constants) and the ranked score, which
// never rises from one report to the next.
TEST(ScaledSearch, ProgressReportsTheMappedFormulaWithScoresThatNeverRise) {
    const Data d = draw(80, [](double a, double b) { return 2.0 * std::exp(-0.5 * a) + b; });
    SearchConfig cfg;
    cfg.constants = Constants::Scale;
    cfg.max_complexity = 7;
    cfg.beam_width = 200;
    std::vector<FitResult> seen;
    SearchOptions opt;
    opt.progress = [&](std::uint64_t, const FitResult& best) { seen.push_back(best); };
    const SearchOutcome out = run_beam_search(d.x, d.y, 2, cfg, opt);
    ASSERT_TRUE(out.best);
    ASSERT_GE(seen.size(), 2u);
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i].score, seen[i - 1].score);
    EXPECT_EQ(seen.back().tokens, out.best->tokens);
    EXPECT_EQ(seen.back().formula, out.best->formula);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(seen.back().score), std::bit_cast<std::uint64_t>(out.best->score));
}
