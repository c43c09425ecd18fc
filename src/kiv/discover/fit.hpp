// Candidate fitting: evaluation on the data, root-mean-square error and the complexity-penalised score.
#pragma once

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

// Root of the squared differences over the common prefix of pred and y, summed in index order from -0.0,
// divided by the length of y (NaN for an empty y).
double rmse(std::span<const double> pred, std::span<const double> y);

// Streaming form of rmse: add the terms of rows j < len(y) in index order, then finish.
struct RmseSum {
    double sum = -0.0;
    void add(double pred, double y) noexcept {
        double d = pred - y;
        sum = sum + d * d;
    }
    double finish(std::size_t y_len) const noexcept;
};

// rmse * (complexity * penalty + 1.0), in that order.
double penalised_score(double rmse_value, std::size_t complexity, double penalty) noexcept;

// One candidate on the data, or none when it cannot be evaluated there.
std::optional<FitResult> fit_candidate(const Expr& expr, const Columns& x_data, std::span<const double> y_data,
                                       const SearchConfig& config);

// Every candidate that evaluates on the data, fitted on the worker pool, in candidate order.
std::vector<FitResult> fit_candidates(const std::vector<Expr>& candidates, const Columns& x_data,
                                      std::span<const double> y_data, const SearchConfig& config);

}  // namespace kiv::discover
