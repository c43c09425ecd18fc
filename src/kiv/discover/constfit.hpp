// Free constants inside a formula: the variants of a candidate that carry them, and their fit to the rows
// by Levenberg-Marquardt together with the affine map a + b*g.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "kiv/discover/dual.hpp"
#include "kiv/discover/expr.hpp"

namespace kiv::discover {

// Trial steps of one fit (an accepted or refused step counts one each): the cap that bounds its cost.
inline constexpr int kFitSteps = 40;
// Trial steps of the screen: every start runs this many on a sample of the rows, and only the best start
// of a variant that beats its parent there goes on to the full fit.
inline constexpr int kScreenSteps = 10;
// Rows of the screen's sample (every k-th row, from the first).
inline constexpr std::size_t kScreenRows = 200;
// The damping's start, and its factors after a refused and an accepted step.
inline constexpr double kDampStart = 1e-3, kDampUp = 4.0, kDampDown = 0.25;

// The fitted constants of a formula g with Param tokens 0..k-1 and its map: sse of b*g + a against y.
struct ParamFit {
    std::vector<double> params;
    double a = 0.0, b = 0.0;
    double sse = 0.0;
};

// Values and derivatives of g on rows [0, rows) by its k free constants (Param tokens, index < k <=
// kMaxFitParams), passed row by row to sink(row, dual); false when any row fails or a derivative is not
// finite.
template <class Sink>
bool eval_dual(const Expr& g, const Columns& x, std::size_t rows, std::span<const double> params, Sink sink) {
    std::vector<Dual> stack;
    stack.reserve(g.size());
    const std::size_t k = params.size();
    for (std::size_t r = 0; r < rows; ++r) {
        stack.clear();
        for (const Token& t : g) {
            switch (t.kind) {
                case TokenKind::Const: stack.push_back(Dual{t.value, {}}); break;
                case TokenKind::Param: {
                    Dual d{t.index < k ? params[t.index] : t.value, {}};
                    if (t.index < k) d.grad[t.index] = 1.0;
                    stack.push_back(d);
                    break;
                }
                case TokenKind::Var: stack.push_back(Dual{x[t.index][r], {}}); break;
                case TokenKind::Op:
                    if (arity(t.op) == 1) {
                        if (!apply_dual(t.op, stack.back(), stack.back(), k, stack.back())) return false;
                    } else {
                        const Dual b = stack.back();
                        stack.pop_back();
                        if (!apply_dual(t.op, stack.back(), b, k, stack.back())) return false;
                    }
                    break;
            }
        }
        sink(r, stack.back());
    }
    return true;
}

// Fits the free constants of g (well-formed, k = start.size() Param tokens) and the map a + b*g to the rows
// by damped Gauss-Newton (Levenberg-Marquardt, Marquardt's diagonal scaling) from start, a and b first set
// by least squares at start, for at most `steps` trial steps; sums in row order, so the result is the same
// on every thread. None when g fails on a row at the start, is not well formed over x's columns, or a column
// holds fewer rows than y.
std::optional<ParamFit> fit_params(const Expr& g, const Columns& x, std::span<const double> y,
                                   std::span<const double> start, int steps);

// A candidate with free constants: tokens with Param tokens 0..k-1, and the starts to fit them from (the
// first makes the variant equal to its parent).
struct Variant {
    Expr tokens;
    std::vector<std::vector<double>> starts;
};

// The variants of f with one free constant each: a factor inside the argument of each exp, sin and cos
// (f -> c*f), an added constant inside the argument of each ln, sqrt, 1/, sin and cos (f -> f + c), and
// for each variable leaf a factor (x -> c*x, when f has two leaves or more) and, on a column positive on
// every row, a power (x -> exp(c*ln x)). Starts: the parent's value, then values scaled to the argument's
// spread on the rows (rms of the argument s: c = 1/s, -1/s; f + c: c = s, -s; powers -1, 2, 0.5).
//
// f may carry free constants already (Param tokens 0..k-1 holding their values, base the same values): the
// new constant is Param k, and every start begins with base. None when f has kMaxFitParams already.
std::vector<Variant> variants_of(const Expr& f, const Columns& x, std::size_t rows,
                                 std::span<const double> base = {});

// g with its Param tokens replaced by constant tokens of the given values.
Expr with_constants(const Expr& g, std::span<const double> params);

// The fit of one variant: each start screened on the sample (x_s, y_s) for kScreenSteps, then the best
// start (lowest sse, the earlier of equals) fitted on every row for kFitSteps. None when no start beats
// parent_sse_sample on the sample (the parent's sse of its best map there), or the full fit fails.
struct Fitted {
    Expr tokens;                 // the constants as constant tokens
    Expr free;                   // the constants as Param tokens holding the fitted values
    std::vector<double> params;  // the fitted values
};
std::optional<Fitted> fit_variant(const Variant& v, const Columns& x, std::span<const double> y, const Columns& x_s,
                                std::span<const double> y_s, double parent_sse_sample);

// sse of the best map a + b*g of a formula without free constants on the rows (least squares); none when it
// fails on a row.
std::optional<double> map_sse(const Expr& g, const Columns& x, std::span<const double> y);

}  // namespace kiv::discover
