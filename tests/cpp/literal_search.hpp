// The beam search exactly as the algorithm is stated, step by step and without shortcuts: the reference the
// fast search is checked (and benchmarked) against.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <unordered_set>
#include <vector>

#include "kiv/discover/expr.hpp"
#include "kiv/discover/fingerprint.hpp"
#include "kiv/discover/fit.hpp"
#include "kiv/discover/render.hpp"
#include "kiv/discover/search.hpp"
#include "kiv/failure.hpp"
#include "kiv/pool.hpp"

namespace literal {

using namespace kiv::discover;

struct FingerprintHash {
    std::size_t operator()(const Fingerprint& fp) const noexcept {
        std::size_t h = 1469598103934665603ULL;
        for (auto w : fp) h = (h ^ std::hash<std::int64_t>{}(w)) * 1099511628211ULL;
        return h;
    }
};

// Row by row: gather each row, evaluate it at that point, stop at the first row without a value.
inline std::optional<std::vector<double>> eval_dataset_rows(const Expr& expr, const Columns& columns) {
    const std::size_t rows = kiv::at(columns, 0).size();
    std::vector<double> out;
    out.reserve(rows);
    for (std::size_t r = 0; r < rows; ++r) {
        auto v = eval_point(expr, gather_row(columns, r), {});
        if (!v) return std::nullopt;
        out.push_back(*v);
    }
    return out;
}

inline std::optional<FitResult> fit_one(const Expr& expr, const Columns& x, std::span<const double> y,
                                        const SearchConfig& cfg) {
    auto pred = eval_dataset_rows(expr, x);
    if (!pred) return std::nullopt;
    std::size_t m = std::min(pred->size(), y.size());
    double s = -0.0;
    for (std::size_t j = 0; j < m; ++j) s = s + ((*pred)[j] - y[j]) * ((*pred)[j] - y[j]);
    double e = std::sqrt(s / static_cast<double>(y.size()));
    FitResult r;
    r.formula = render_formula(expr);
    r.tokens = expr;
    r.complexity = expr.size();
    r.score = e * (static_cast<double>(r.complexity) * cfg.complexity_penalty + 1.0);
    return r;
}

// Contiguous pieces on the pool, each into its own list, joined in piece order.
inline std::vector<FitResult> fit_all(const std::vector<Expr>& cands, const Columns& x, std::span<const double> y,
                                      const SearchConfig& cfg) {
    const std::size_t pieces = std::max<std::size_t>(1, std::min<std::size_t>(cands.size(), 64));
    std::vector<std::vector<FitResult>> lists(pieces);
    kiv::pool::parallel_for(pieces, 1, [&](std::size_t pb, std::size_t pe) {
        for (std::size_t p = pb; p < pe; ++p) {
            std::size_t begin = cands.size() * p / pieces, end = cands.size() * (p + 1) / pieces;
            for (std::size_t i = begin; i < end; ++i) {
                if (auto r = fit_one(cands[i], x, y, cfg)) lists[p].push_back(std::move(*r));
            }
        }
    });
    std::size_t total = 0;
    for (auto& l : lists) total += l.size();
    std::vector<FitResult> out;
    out.reserve(total);
    for (auto& l : lists) {
        for (auto& r : l) out.push_back(std::move(r));
    }
    return out;
}

inline std::optional<FitResult> beam_search(const Columns& x, std::span<const double> y, std::size_t n,
                                            const SearchConfig& cfg, std::vector<Expr>* admitted_trace = nullptr) {
    std::unordered_set<Fingerprint, FingerprintHash> seen;
    std::vector<OpKind> unary = {OpKind::Neg, OpKind::Recip, OpKind::Exp, OpKind::Ln, OpKind::Sqrt};
    if (cfg.use_trig) {
        unary.push_back(OpKind::Sin);
        unary.push_back(OpKind::Cos);
    }
    std::vector<OpKind> binary = {OpKind::Add, OpKind::Sub, OpKind::Mul, OpKind::Div};
    if (cfg.use_kiv) binary.push_back(OpKind::Kiv);

    auto admit = [&](Expr e, std::vector<Expr>& into) {
        auto fp = fingerprint(e, n);
        if (!fp) return;
        if (!seen.insert(*fp).second) return;
        if (admitted_trace) admitted_trace->push_back(e);
        into.push_back(std::move(e));
    };
    std::optional<FitResult> best;
    auto update_best = [&](const std::vector<FitResult>& results) {
        for (const auto& r : results) {
            if (!best || best->score > r.score) best = r;
        }
    };

    std::vector<Expr> seeds;
    admit({Token::constant(0.0)}, seeds);
    admit({Token::constant(1.0)}, seeds);
    for (std::size_t k = 0; k < n; ++k) admit({Token::var(k)}, seeds);
    update_best(fit_all(seeds, x, y, cfg));
    if (best && best->score <= cfg.precision_goal) return best;

    std::vector<Expr> beam = seeds;
    for (std::uint64_t level = 1; cfg.max_complexity >= 1 && level <= cfg.max_complexity - 1; ++level) {
        std::vector<Expr> cands;
        for (std::size_t e = 0; e < beam.size(); ++e) {
            for (OpKind u : unary) {
                Expr c = beam[e];
                c.push_back(Token::oper(u));
                admit(std::move(c), cands);
            }
        }
        for (std::size_t i = 0; i < beam.size(); ++i) {
            for (std::size_t j = 0; j <= i; ++j) {
                const Expr& a = beam[i];
                const Expr& b = beam[j];
                if (!(a.size() + b.size() < cfg.max_complexity)) continue;
                for (OpKind o : binary) {
                    Expr ab = a;
                    ab.insert(ab.end(), b.begin(), b.end());
                    ab.push_back(Token::oper(o));
                    admit(std::move(ab), cands);
                    if (o == OpKind::Kiv || o == OpKind::Sub || o == OpKind::Div) {
                        Expr ba = b;
                        ba.insert(ba.end(), a.begin(), a.end());
                        ba.push_back(Token::oper(o));
                        admit(std::move(ba), cands);
                    }
                }
            }
        }
        if (cands.empty()) break;
        std::vector<FitResult> results = fit_all(cands, x, y, cfg);
        update_best(results);
        if (best && best->score <= cfg.precision_goal) return best;
        // IEEE less-than, with NaN scores placed after every number.
        std::stable_sort(results.begin(), results.end(), [](const FitResult& p, const FitResult& q) {
            if (std::isnan(p.score) || std::isnan(q.score)) return !std::isnan(p.score) && std::isnan(q.score);
            return p.score < q.score;
        });
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(results.size(), cfg.beam_width / 4));
        for (std::size_t k = 0; k < take; ++k) beam.push_back(results[k].tokens);
    }
    return best;
}

}  // namespace literal
