// Scoring candidates: the error of a candidate's values against the target and the complexity-penalised
// score, the one definition the search and everything else use.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kiv/discover/config.hpp"
#include "kiv/discover/expr.hpp"

namespace kiv::discover {

struct FitResult {
    std::string formula;
    std::vector<double> params;  // always empty: candidates carry no fittable parameters
    Expr tokens;
    double score = 0.0;
    std::size_t complexity = 0;
};

// rmse * (complexity * penalty + 1.0), in that order.
inline double penalised_score(double rmse_value, std::size_t complexity, double penalty) noexcept {
    return rmse_value * (static_cast<double>(complexity) * penalty + 1.0);
}

// The error of one candidate, taken from its values batch by batch in row order: the squared differences
// to y over the rows both have, summed in row order from -0.0; rmse is the root of that sum divided by the
// length of y (NaN for an empty y).
class ScoreSum {
public:
    explicit ScoreSum(std::span<const double> y) noexcept : y_(y) {}

    // The values of rows [begin, begin + n).
    void add(std::size_t begin, const double* values, std::size_t n) noexcept {
        const std::size_t stop = std::min(begin + n, y_.size());
        for (std::size_t j = begin; j < stop; ++j) {
            const double d = values[j - begin] - y_[j];
            sum_ = sum_ + d * d;
        }
    }

    // Rows [begin, begin + n) scored by a pass of its own: pass(y, m, sum) adds the squared differences of
    // its first m lanes (the rows that y covers) to sum in row order, and returns its verdict.
    template <class Pass>
    bool add_scored(std::size_t begin, std::size_t n, Pass pass) noexcept {
        const std::size_t m = begin < y_.size() ? std::min(n, y_.size() - begin) : 0;
        return pass(m == 0 ? y_.data() : y_.data() + begin, m, sum_);
    }

    // True when the score can no longer come out below limit, whatever further rows add: every term is a
    // square, so the sum never falls, and with a positive factor (complexity * penalty + 1) neither does
    // the score. False when limit or the sum is NaN, or the factor is not positive.
    bool cannot_beat(double limit, std::size_t complexity, double penalty) const noexcept {
        return static_cast<double>(complexity) * penalty + 1.0 > 0.0 && score(complexity, penalty) >= limit;
    }

    double rmse() const noexcept { return std::sqrt(sum_ / static_cast<double>(y_.size())); }
    double score(std::size_t complexity, double penalty) const noexcept {
        return penalised_score(rmse(), complexity, penalty);
    }

private:
    std::span<const double> y_;
    double sum_ = -0.0;
};

// Score of a token expression on the data (its complexity is its token count), or none when a row fails.
// Data errors raise as eval_dataset does.
std::optional<double> fit_score(const Expr& expr, const Columns& x_data, std::span<const double> y_data,
                                const SearchConfig& config);

}  // namespace kiv::discover
