// A level's scores folded in candidate order: the level's best and its best quarter-beam.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <vector>

namespace kiv::discover {

struct Scored {
    double score;
    std::size_t pos;  // position in the candidate store
};

// Ascending score; NaN after every number; equal scores keep candidate order (a stable sort's order).
inline bool ranks_before(const Scored& x, const Scored& y) noexcept {
    const bool xn = std::isnan(x.score), yn = std::isnan(y.score);
    if (xn != yn) return yn;
    if (!xn) {
        if (x.score < y.score) return true;
        if (y.score < x.score) return false;
    }
    return x.pos < y.pos;
}

// Fed on the searching thread, in candidate order. The best is the first candidate with the lowest score
// (as if each were considered in turn, after the best so far); a bounded heap keeps the best `keep` by
// rank, which is exactly the head of the whole level sorted by rank.
class Ranking {
public:
    // best: the score to beat from earlier levels, if any.
    Ranking(std::size_t keep, std::optional<double> best) : keep_(keep), have_(best.has_value()) {
        if (have_) best_score_ = *best;
        top_.reserve(keep);
    }

    // What a candidate must score below to matter: the worst of a full quarter-beam (a later candidate
    // must beat it outright; beating the best takes no more, the best being no higher), or on the last
    // level (keep 0) the best. NaN when nothing bounds it yet. It only falls as candidates are taken.
    double limit() const noexcept {
        if (keep_ == 0) return have_ ? best_score_ : std::numeric_limits<double>::quiet_NaN();
        return top_.size() == keep_ ? top_.front().score : std::numeric_limits<double>::quiet_NaN();
    }

    void take(const Scored& r) {
        if (!have_ || best_score_ > r.score) {
            have_ = true;
            best_score_ = r.score;
            best_pos_ = r.pos;
        }
        if (keep_ == 0) return;
        if (top_.size() < keep_) {
            top_.push_back(r);
            std::push_heap(top_.begin(), top_.end(), ranks_before);
        } else if (ranks_before(r, top_.front())) {
            std::pop_heap(top_.begin(), top_.end(), ranks_before);
            top_.back() = r;
            std::push_heap(top_.begin(), top_.end(), ranks_before);
        }
    }

    // The level's best, when one of its candidates beat the best so far.
    std::optional<std::size_t> best_pos() const noexcept { return best_pos_; }
    double best_score() const noexcept { return best_score_; }

    // The kept candidates, best first; ends the fold.
    std::vector<Scored> ranked() && {
        std::sort_heap(top_.begin(), top_.end(), ranks_before);
        return std::move(top_);
    }

private:
    std::size_t keep_;
    bool have_;
    double best_score_ = 0.0;
    std::optional<std::size_t> best_pos_;
    std::vector<Scored> top_;
};

}  // namespace kiv::discover
