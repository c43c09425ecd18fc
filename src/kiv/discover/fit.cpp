// Fitting candidates on the data over the worker pool, each piece into its own list, joined in order.
#include "kiv/discover/fit.hpp"

#include <algorithm>
#include <cmath>

#include "kiv/discover/render.hpp"
#include "kiv/pool.hpp"

namespace kiv::discover {

double RmseSum::finish(std::size_t y_len) const noexcept { return std::sqrt(sum / static_cast<double>(y_len)); }

double rmse(std::span<const double> pred, std::span<const double> y) {
    std::size_t m = std::min(pred.size(), y.size());
    RmseSum s;
    for (std::size_t j = 0; j < m; ++j) s.add(pred[j], y[j]);
    return s.finish(y.size());
}

double penalised_score(double rmse_value, std::size_t complexity, double penalty) noexcept {
    return rmse_value * (static_cast<double>(complexity) * penalty + 1.0);
}

std::optional<FitResult> fit_candidate(const Expr& expr, const Columns& x_data, std::span<const double> y_data,
                                       const SearchConfig& config) {
    auto pred = eval_dataset(expr, x_data, {});
    if (!pred) return std::nullopt;
    FitResult r;
    double e = rmse(*pred, y_data);
    r.formula = render_formula(expr);
    r.complexity = expr.size();
    r.tokens = expr;
    r.score = penalised_score(e, r.complexity, config.complexity_penalty);
    return r;
}

std::vector<FitResult> fit_candidates(const std::vector<Expr>& candidates, const Columns& x_data,
                                      std::span<const double> y_data, const SearchConfig& config) {
    // Pieces are contiguous and each index belongs to exactly one piece, so one optional slot per
    // candidate, compacted in order afterwards, is the same as joining per-piece lists in piece order.
    std::vector<std::optional<FitResult>> slots(candidates.size());
    kiv::pool::parallel_for(candidates.size(), 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) slots[i] = fit_candidate(candidates[i], x_data, y_data, config);
    });
    std::size_t count = 0;
    for (const auto& s : slots) count += s.has_value();
    std::vector<FitResult> results;
    results.reserve(count);
    for (auto& s : slots) {
        if (s) results.push_back(std::move(*s));
    }
    return results;
}

}  // namespace kiv::discover
