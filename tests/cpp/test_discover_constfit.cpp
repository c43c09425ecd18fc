// Free constants: each operator's derivative rule against a finite difference, the Levenberg-Marquardt fit,
// the variants, and the search with constants fitted inside formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "kiv/discover/constfit.hpp"
#include "kiv/discover/dual.hpp"
#include "kiv/discover/fit.hpp"
#include "kiv/discover/search.hpp"

using namespace kiv::discover;

namespace {

// Value of one operator at (a, b), NaN where it fails.
double value_at(OpKind op, double a, double b) {
    double r = 0.0;
    return apply_op(op, a, b, r) ? r : std::nan("");
}

Columns one_column(std::size_t n, double lo, double hi, unsigned seed = 7) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    Columns x(1, std::vector<double>(n));
    for (double& v : x[0]) v = u(gen);
    return x;
}

double rmse_of(const Expr& e, const Columns& x, const std::vector<double>& y) {
    SearchConfig plain;
    plain.complexity_penalty = 0.0;
    return fit_score(e, x, y, plain).value();
}

}  // namespace

// Every row of the table: the derivative by each operand matches a central difference wherever the operator
// and its neighbourhood evaluate (the kiv row also above its exp threshold and at a negative second operand).
TEST(DualRules, EveryOperatorMatchesAFiniteDifference) {
    const double as[] = {-0.7, 0.35, 1.3, 2.1, 800.0};
    const double bs[] = {-1.2, 0.9, 1.7};
    for (const OpInfo& info : kOps) {
        int checked = 0;
        for (const double a : as) {
            for (const double b : (info.arity == 2 ? std::span<const double>(bs) : std::span<const double>(bs, 1))) {
                Dual da{a, {}}, db{b, {}};
                da.grad[0] = 1.0;
                db.grad[1] = 1.0;
                Dual out;
                if (!apply_dual(info.op, da, db, 2, out)) continue;
                EXPECT_EQ(out.value, value_at(info.op, a, b)) << info.name;
                const double ha = 1e-6 * std::max(1.0, std::fabs(a)), hb = 1e-6 * std::max(1.0, std::fabs(b));
                const double fa = (value_at(info.op, a + ha, b) - value_at(info.op, a - ha, b)) / (2 * ha);
                if (!std::isfinite(fa)) continue;
                EXPECT_NEAR(out.grad[0], fa, 1e-5 * std::max(1.0, std::fabs(fa))) << info.name << " a=" << a;
                if (info.arity == 2) {
                    const double fb = (value_at(info.op, a, b + hb) - value_at(info.op, a, b - hb)) / (2 * hb);
                    EXPECT_NEAR(out.grad[1], fb, 1e-5 * std::max(1.0, std::fabs(fb))) << info.name << " b=" << b;
                } else {
                    EXPECT_EQ(out.grad[1], 0.0) << info.name;
                }
                ++checked;
            }
        }
        EXPECT_GE(checked, 2) << info.name << " has too few points in its domain";
    }
}

TEST(DualRules, FailsWhereTheOperatorFails) {
    Dual a{-1.0, {}}, out;
    a.grad[0] = 1.0;
    EXPECT_FALSE(apply_dual(OpKind::Ln, a, a, 1, out));
    EXPECT_FALSE(apply_dual(OpKind::Exp, Dual{1000.0, {}}, a, 1, out));
    // sqrt at 0 evaluates but its slope does not exist.
    Dual zero{0.0, {}};
    zero.grad[0] = 1.0;
    EXPECT_FALSE(apply_dual(OpKind::Sqrt, zero, zero, 1, out));
}

// y = 2 + 3 exp(-0.7 x) from exp(c * x) at c = 1 (the parent's value), a and b fitted alongside.
TEST(FitParams, RecoversAConstantInsideAnExponential) {
    const Columns x = one_column(300, 0.0, 6.0);
    std::vector<double> y(300);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = 2.0 + 3.0 * std::exp(-0.7 * x[0][i]);
    const Expr g{Token::var(0), Token::param(0, 1.0), Token::oper(OpKind::Mul), Token::oper(OpKind::Exp)};
    const double start[] = {1.0};
    const auto fit = fit_params(g, x, y, start, kFitSteps);
    ASSERT_TRUE(fit);
    EXPECT_NEAR(fit->params[0], -0.7, 1e-9);
    EXPECT_NEAR(fit->a, 2.0, 1e-8);
    EXPECT_NEAR(fit->b, 3.0, 1e-8);
    EXPECT_LT(fit->sse, 1e-16);
    // No steps: the map alone, at the start.
    const auto none = fit_params(g, x, y, start, 0);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->params[0], 1.0);
    EXPECT_GT(none->sse, 1.0);
    // A start where a row fails gives nothing.
    const double bad[] = {1000.0};
    EXPECT_FALSE(fit_params(g, x, y, bad, kFitSteps));
    // Nor a formula that cannot evaluate, or a target longer than the columns.
    EXPECT_FALSE(fit_params({Token::var(0), Token::oper(OpKind::Add)}, x, y, start, kFitSteps));
    std::vector<double> longer = y;
    longer.push_back(1.0);
    EXPECT_FALSE(fit_params(g, x, longer, start, kFitSteps));
}

// The variants' first start is the parent; the power of a leaf only on a positive column; what the fit of
// a variant returns has its constants as constant tokens.
TEST(Variants, StartAtTheParentAndCarryConstantTokens) {
    const Columns x = one_column(120, 0.5, 4.0);
    const Expr parent{Token::var(0), Token::oper(OpKind::Exp)};
    const std::vector<Variant> vs = variants_of(parent, x, 120);
    bool has_factor = false, has_power = false;
    for (const Variant& v : vs) {
        ASSERT_FALSE(v.starts.empty());
        const auto p = eval_dataset(v.tokens, x, v.starts.front());
        const auto q = eval_dataset(parent, x, {});
        ASSERT_TRUE(p && q);
        for (std::size_t i = 0; i < q->size(); ++i) EXPECT_NEAR((*p)[i], (*q)[i], 1e-12 * std::fabs((*q)[i]));
        has_factor = has_factor || v.tokens.size() == 4;
        has_power = has_power || v.tokens.size() == 6;
    }
    EXPECT_TRUE(has_factor && has_power);
    Columns signed_x = x;
    signed_x[0][3] = -1.0;
    for (const Variant& v : variants_of(parent, signed_x, 120)) EXPECT_NE(v.tokens.size(), 6u);

    std::vector<double> y(120);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = std::pow(x[0][i], -1.4);
    const Expr inv{Token::var(0), Token::oper(OpKind::Recip)};
    bool found = false;
    for (const Variant& v : variants_of(inv, x, 120)) {
        const auto g = fit_variant(v, x, y, x, y, map_sse(inv, x, y).value());
        if (!g) continue;
        for (const Token& t : g->tokens) EXPECT_NE(t.kind, TokenKind::Param);
        found = found || rmse_of(g->tokens, x, y) < 1e-12;  // the map is applied by the caller; here b = 1, a = 0
    }
    EXPECT_TRUE(found);
}

// The search: a law with a constant inside the formula is found, reported with its constants as tokens at
// their full precision (its rmse is that of the tokens), and is on the front; "scale" alone misses it.
TEST(FitSearch, FindsAConstantInsideTheFormula) {
    const Columns x = one_column(400, 0.0, 8.0);
    std::vector<double> y(400);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = 20.0 + 70.0 * std::exp(-0.3 * x[0][i]);
    SearchConfig cfg;
    cfg.max_complexity = 6;
    cfg.beam_width = 300;
    cfg.constants = Constants::Scale;
    SearchOptions opt;
    opt.front = true;
    const SearchOutcome scaled = run_beam_search(x, y, 1, cfg, opt);
    ASSERT_TRUE(scaled.best);
    EXPECT_GT(rmse_of(scaled.best->tokens, x, y), 1e-6);

    cfg.constants = Constants::Fit;
    const SearchOutcome fitted = run_beam_search(x, y, 1, cfg, opt);
    ASSERT_TRUE(fitted.best);
    const double rmse = rmse_of(fitted.best->tokens, x, y);
    EXPECT_LT(rmse, 1e-10) << fitted.best->formula;
    bool on_front = false;
    for (const FrontEntry& e : fitted.front) {
        EXPECT_EQ(e.rmse, rmse_of(e.tokens, x, y));
        on_front = on_front || e.tokens == fitted.best->tokens;
    }
    EXPECT_TRUE(on_front) << fitted.best->formula;
    // Fitting reaches a lower error than the scaled search anywhere on its front.
    EXPECT_LT(fitted.front.back().rmse, scaled.front.back().rmse);
}
