// Fitting free constants: Levenberg-Marquardt on forward-mode derivatives, the variants that carry the
// constants, and the screen that decides which variant pays for a full fit.
#include "kiv/discover/constfit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kiv::discover {
namespace {

// The values of g and their derivatives on every row at one set of constants.
struct Pass {
    std::vector<double> value;
    std::vector<std::array<double, kMaxFitParams>> grad;
};

bool run_pass(const Expr& g, const Columns& x, std::size_t rows, std::span<const double> params, Pass& out) {
    out.value.resize(rows);
    out.grad.resize(rows);
    return eval_dual(g, x, rows, params, [&](std::size_t r, const Dual& d) {
        out.value[r] = d.value;
        out.grad[r] = d.grad;
    });
}

// Least squares b*v + a about the means; b = 0 when v does not vary.
void fit_map(const std::vector<double>& v, std::span<const double> y, double& a, double& b) {
    const std::size_t n = y.size();
    double mv = 0.0, my = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        mv = mv + v[i];
        my = my + y[i];
    }
    mv = mv / static_cast<double>(n);
    my = my / static_cast<double>(n);
    double cvv = 0.0, cvy = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = v[i] - mv;
        cvv = cvv + d * d;
        cvy = cvy + d * (y[i] - my);
    }
    b = cvv > 0.0 ? cvy / cvv : 0.0;
    a = my - b * mv;
}

double sse_of(const std::vector<double>& v, std::span<const double> y, double a, double b) {
    double s = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double d = (b * v[i] + a) - y[i];
        s = s + d * d;
    }
    return s;
}

// Solves m x = rhs (n <= kMaxFitParams) by elimination with partial pivoting; false when singular.
constexpr std::size_t kMaxUnknowns = kMaxFitParams + 2;
using Square = std::array<std::array<double, kMaxUnknowns>, kMaxUnknowns>;
bool solve(Square m, std::array<double, kMaxUnknowns> rhs, std::size_t n, std::array<double, kMaxUnknowns>& x) {
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t p = c;
        for (std::size_t r = c + 1; r < n; ++r) {
            if (std::fabs(m[r][c]) > std::fabs(m[p][c])) p = r;
        }
        if (!(std::fabs(m[p][c]) > 0.0)) return false;
        std::swap(m[p], m[c]);
        std::swap(rhs[p], rhs[c]);
        for (std::size_t r = c + 1; r < n; ++r) {
            const double f = m[r][c] / m[c][c];
            for (std::size_t j = c; j < n; ++j) m[r][j] = m[r][j] - f * m[c][j];
            rhs[r] = rhs[r] - f * rhs[c];
        }
    }
    for (std::size_t c = n; c-- > 0;) {
        double s = rhs[c];
        for (std::size_t j = c + 1; j < n; ++j) s = s - m[c][j] * x[j];
        x[c] = s / m[c][c];
        if (!std::isfinite(x[c])) return false;
    }
    return true;
}

// The first token of the subtree whose root is at `root`.
std::size_t subtree_begin(const Expr& f, std::size_t root) {
    std::size_t need = 1, j = root + 1;
    while (need > 0 && j > 0) {
        --j;
        const Token& t = f[j];
        if (t.kind == TokenKind::Op) {
            need += arity(t.op) - 1;
        } else {
            --need;
        }
    }
    return j;
}

// rms of the subtree [begin, end) of f on the rows; 1 when it fails or is not a positive number.
double spread(const Expr& f, std::size_t begin, std::size_t end, const Columns& x) {
    const Expr sub(f.begin() + static_cast<std::ptrdiff_t>(begin), f.begin() + static_cast<std::ptrdiff_t>(end));
    const std::optional<std::vector<double>> v = eval_dataset(sub, x, {});
    if (!v || v->empty()) return 1.0;
    double s = 0.0;
    for (const double t : *v) s = s + t * t;
    s = std::sqrt(s / static_cast<double>(v->size()));
    return std::isfinite(s) && s > 0.0 ? s : 1.0;
}

// f with `insert` in place of the tokens [begin, end).
Expr spliced(const Expr& f, std::size_t begin, std::size_t end, std::initializer_list<Token> insert) {
    Expr e(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(begin));
    e.insert(e.end(), insert.begin(), insert.end());
    e.insert(e.end(), f.begin() + static_cast<std::ptrdiff_t>(end), f.end());
    return e;
}

// Starts of a new constant after the existing ones (base): base with each value appended, the first kept
// and the rest without repeats.
std::vector<std::vector<double>> starts(std::span<const double> base, std::initializer_list<double> values) {
    std::vector<std::vector<double>> out;
    for (const double v : values) {
        if (!std::isfinite(v)) continue;
        bool seen = false;
        for (const auto& s : out) seen = seen || s.back() == v;
        if (seen) continue;
        out.emplace_back(base.begin(), base.end());
        out.back().push_back(v);
    }
    return out;
}

}  // namespace

std::optional<ParamFit> fit_params(const Expr& g, const Columns& x, std::span<const double> y,
                                   std::span<const double> start, int steps) {
    const std::size_t k = std::min(start.size(), kMaxFitParams), n = y.size();
    if (n == 0 || !stack_depth(g, x.size())) return std::nullopt;
    for (const std::vector<double>& column : x) {
        if (column.size() < n) return std::nullopt;
    }
    ParamFit fit;
    fit.params.assign(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(k));
    Pass cur;
    if (!run_pass(g, x, n, fit.params, cur)) return std::nullopt;
    fit_map(cur.value, y, fit.a, fit.b);
    fit.sse = sse_of(cur.value, y, fit.a, fit.b);
    if (!std::isfinite(fit.sse)) return std::nullopt;
    if (k == 0) return fit;

    double damp = kDampStart;
    Square normal{};
    std::array<double, kMaxUnknowns> gradient{};
    bool stale = true;  // the normal equations belong to an older point
    Pass trial;
    std::vector<double> next(k), column(n), centred(n);
    for (int step = 0; step < steps && fit.sse > 0.0; ++step) {
        if (stale) {
            // The residual's derivative by each constant, b * dg/dc, with its parts along 1 and along g
            // taken out (a and b follow the constants by least squares: Kaufman's form of the projection).
            double mg = 0.0;
            for (std::size_t i = 0; i < n; ++i) mg = mg + cur.value[i];
            mg = mg / static_cast<double>(n);
            double gg = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                centred[i] = cur.value[i] - mg;
                gg = gg + centred[i] * centred[i];
            }
            std::array<std::vector<double>, kMaxFitParams> j;
            for (std::size_t c = 0; c < k; ++c) {
                double mu = 0.0, ug = 0.0;
                for (std::size_t i = 0; i < n; ++i) {
                    column[i] = fit.b * cur.grad[i][c];
                    mu = mu + column[i];
                }
                mu = mu / static_cast<double>(n);
                for (std::size_t i = 0; i < n; ++i) {
                    column[i] = column[i] - mu;
                    ug = ug + column[i] * centred[i];
                }
                const double along = gg > 0.0 ? ug / gg : 0.0;
                for (std::size_t i = 0; i < n; ++i) column[i] = column[i] - along * centred[i];
                j[c] = column;
            }
            normal = {};
            gradient = {};
            for (std::size_t i = 0; i < n; ++i) {
                const double r = (fit.b * cur.value[i] + fit.a) - y[i];
                for (std::size_t p = 0; p < k; ++p) {
                    for (std::size_t q = 0; q < k; ++q) normal[p][q] = normal[p][q] + j[p][i] * j[q][i];
                    gradient[p] = gradient[p] + j[p][i] * r;
                }
            }
            stale = false;
        }
        Square damped = normal;
        std::array<double, kMaxUnknowns> rhs{};
        for (std::size_t p = 0; p < k; ++p) {
            const double d = normal[p][p] > 0.0 ? normal[p][p] : 1.0;
            damped[p][p] = damped[p][p] + damp * d;
            rhs[p] = -gradient[p];
        }
        std::array<double, kMaxUnknowns> delta{};
        if (!solve(damped, rhs, k, delta)) {
            damp = damp * kDampUp;
            if (damp > 1e16) break;
            continue;
        }
        for (std::size_t c = 0; c < k; ++c) next[c] = fit.params[c] + delta[c];
        double a = 0.0, b = 0.0, sse = std::numeric_limits<double>::infinity();
        if (run_pass(g, x, n, next, trial)) {
            fit_map(trial.value, y, a, b);
            sse = sse_of(trial.value, y, a, b);
        }
        if (sse < fit.sse) {
            const double gain = (fit.sse - sse) / fit.sse;
            fit.params = next;
            fit.a = a;
            fit.b = b;
            fit.sse = sse;
            std::swap(cur, trial);
            stale = true;
            damp = std::max(damp * kDampDown, 1e-12);
            if (gain < 1e-12) break;
        } else {
            damp = damp * kDampUp;
            if (damp > 1e16) break;
        }
    }
    return fit;
}

Expr with_constants(const Expr& g, std::span<const double> params) {
    Expr e = g;
    for (Token& t : e) {
        if (t.kind == TokenKind::Param) t = Token::constant(t.index < params.size() ? params[t.index] : t.value);
    }
    return e;
}

std::optional<double> map_sse(const Expr& g, const Columns& x, std::span<const double> y) {
    const std::optional<ParamFit> f = fit_params(g, x, y, {}, 0);
    if (!f) return std::nullopt;
    return f->sse;
}

std::vector<Variant> variants_of(const Expr& f, const Columns& x, std::size_t rows, std::span<const double> base) {
    std::vector<Variant> out;
    if (base.size() >= kMaxFitParams || !stack_depth(f, x.size())) return out;
    std::size_t leaves = 0;
    for (const Token& t : f) leaves += t.kind == TokenKind::Var;
    const Token c0 = Token::param(base.size(), 0.0), mul = Token::oper(OpKind::Mul), add = Token::oper(OpKind::Add);
    for (std::size_t p = 0; p < f.size(); ++p) {
        const Token& t = f[p];
        if (t.kind == TokenKind::Op && arity(t.op) == 1) {
            const std::size_t b = subtree_begin(f, p - 1);
            const bool factor = t.op == OpKind::Exp || t.op == OpKind::Sin || t.op == OpKind::Cos;
            const bool shift = t.op == OpKind::Ln || t.op == OpKind::Sqrt || t.op == OpKind::Recip ||
                               t.op == OpKind::Sin || t.op == OpKind::Cos;
            if (!factor && !shift) continue;
            const double s = spread(f, b, p, x);
            if (factor) out.push_back({spliced(f, p, p, {c0, mul}), starts(base, {1.0, 1.0 / s, -1.0 / s})});
            if (shift) out.push_back({spliced(f, p, p, {c0, add}), starts(base, {0.0, s, -s})});
        } else if (t.kind == TokenKind::Var && t.index < x.size()) {
            if (leaves >= 2) out.push_back({spliced(f, p + 1, p + 1, {c0, mul}), starts(base, {1.0, -1.0, 2.0})});
            const std::vector<double>& col = x[t.index];
            bool positive = rows > 0 && col.size() >= rows;
            for (std::size_t r = 0; positive && r < rows; ++r) positive = col[r] > 0.0;
            if (positive) {
                out.push_back({spliced(f, p, p + 1, {t, Token::oper(OpKind::Ln), c0, mul, Token::oper(OpKind::Exp)}),
                               starts(base, {1.0, -1.0, 2.0, 0.5})});
            }
        } else if (t.kind == TokenKind::Const) {
            out.push_back({spliced(f, p, p + 1, {c0}), starts(base, {t.value, t.value == 1.0 ? -1.0 : 1.0, 2.0})});
        }
    }
    return out;
}

std::optional<Fitted> fit_variant(const Variant& v, const Columns& x, std::span<const double> y, const Columns& x_s,
                                std::span<const double> y_s, double parent_sse_sample) {
    const std::vector<double>* best = nullptr;
    std::vector<double> screened;
    double best_sse = std::numeric_limits<double>::infinity();
    for (const std::vector<double>& s : v.starts) {
        const std::optional<ParamFit> f = fit_params(v.tokens, x_s, y_s, s, kScreenSteps);
        if (f && f->sse < best_sse) {
            best_sse = f->sse;
            screened = f->params;
            best = &screened;
        }
    }
    if (!best || !(best_sse < parent_sse_sample)) return std::nullopt;
    const std::optional<ParamFit> full = fit_params(v.tokens, x, y, *best, kFitSteps);
    if (!full) return std::nullopt;
    for (const double c : full->params) {
        if (!std::isfinite(c)) return std::nullopt;
    }
    Fitted out{with_constants(v.tokens, full->params), v.tokens, full->params};
    for (Token& t : out.free) {
        if (t.kind == TokenKind::Param) t.value = full->params[t.index];
    }
    return out;
}

}  // namespace kiv::discover
