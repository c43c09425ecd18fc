// The best candidate per complexity over a whole search, folded in candidate order beside the ranking.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "kiv/discover/ranking.hpp"

namespace kiv::discover {

// Fed on the searching thread, in candidate order, with the complexity each candidate is ranked with:
// per complexity, the first candidate with the lowest score (within one complexity the penalty is one
// factor, so that is also the lowest error). NaN scores never enter.
class FrontFold {
public:
    void take(std::size_t complexity, const Scored& r) {
        if (!(r.score == r.score)) return;
        if (best_.size() <= complexity) best_.resize(complexity + 1);
        std::optional<Scored>& b = best_[complexity];
        if (!b || r.score < b->score) b = r;
    }

    // The kept candidates in ascending complexity.
    std::vector<Scored> entries() const {
        std::vector<Scored> out;
        for (const auto& b : best_) {
            if (b) out.push_back(*b);
        }
        return out;
    }

private:
    std::vector<std::optional<Scored>> best_;  // by complexity
};

}  // namespace kiv::discover
