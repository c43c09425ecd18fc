// The level-by-level beam search over postfix expressions that finds the best-scoring formula.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "kiv/discover/config.hpp"
#include "kiv/discover/expr.hpp"
#include "kiv/discover/fit.hpp"

namespace kiv::discover {

// Knobs that change how the search works, never what it finds.
struct SearchOptions {
    // When set, receives every admitted expression in admission order: the seeds, then each level's
    // candidates.
    std::vector<Expr>* admitted = nullptr;
    // Bytes allowed for keeping beam members' values on every row; members beyond the allowance are
    // re-evaluated from their tokens whenever a candidate built on them is fitted.
    std::size_t row_cache_bytes = std::size_t{256} << 20;
    // Candidates fingerprinted per parallel pass before they are admitted in order.
    std::size_t fingerprint_block = std::size_t{1} << 15;
};

// Best result over all levels of the search over n variables, or none when no candidate evaluates on the
// data. Data errors (no columns, a later column shorter than the first) raise the index-out-of-bounds
// internal failure.
std::optional<FitResult> beam_search(const Columns& x_data, std::span<const double> y_data, std::size_t n,
                                     const SearchConfig& config, const SearchOptions& options = {});

}  // namespace kiv::discover
