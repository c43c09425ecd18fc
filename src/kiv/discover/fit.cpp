// Scoring a token expression: column-wise evaluation streamed into the score.
#include "kiv/discover/fit.hpp"

namespace kiv::discover {

std::optional<double> fit_score(const Expr& expr, const Columns& x_data, std::span<const double> y_data,
                                const SearchConfig& config) {
    ScoreSum sum(y_data);
    if (!for_each_batch(expr, x_data, {}, [&](std::size_t begin, const double* v, std::size_t n) { sum.add(begin, v, n); })) {
        return std::nullopt;
    }
    return sum.score(expr.size(), config.complexity_penalty);
}

}  // namespace kiv::discover
