// The level scorer: a level's candidates scored on the data, and the values of those that join the beam.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kiv/discover/beam.hpp"
#include "kiv/discover/candidate.hpp"
#include "kiv/discover/expr.hpp"
#include "kiv/discover/moments.hpp"
#include "kiv/discover/stopping.hpp"

namespace kiv::discover {

// Scratch space of one pool chunk.
struct Scratch {
    std::vector<double> a, b, out, stack;
    Scratch() : a(kRowBatch), b(kRowBatch), out(kRowBatch) {}
};

// A candidate's values come from its members' kept rows and parts through one operand pass (ops.hpp
// picks the route), or, for members whose rows are not kept, from re-evaluating their tokens batch by
// batch. The score is the penalised error of fit.hpp, summed in row order; or, when the search scales its
// candidates (target is set), that of the best affine map of the values (scaling.hpp), from the values'
// co-moments with the target added in row order. Holds only const views of the beam and the data: every
// member function may run on pool threads.
class LevelScorer {
public:
    LevelScorer(const Beam& beam, const Columns& x, std::span<const double> y, std::size_t rows, double penalty,
                const TargetMoments* target = nullptr) noexcept
        : beam_(beam), x_(x), y_(y), rows_(rows), penalty_(penalty), target_(target) {}

    // The score of candidate c into score; false when a row fails, or when the score can no longer come
    // out below limit (NaN: no limit), in which case it is of no use to the level.
    bool score(const Candidate& c, Scratch& s, double limit, double& score) const;

    // Scores candidates [first, first + scores.size()) of the store on the pool: sets scores[i] and
    // ok[i] = 1 for each one that scored (ok is cleared by the caller). Polls stop.
    void score_pass(const CandidateStore& store, std::size_t first, double limit, std::span<double> scores,
                    std::span<std::uint8_t> ok, const Stopping& stop) const;

    // On the pool: the values on every row of each candidate into rows[k] where it is set, and then their
    // parts into parts[k] where those are set. Polls stop.
    void values_pass(std::span<const Candidate> candidates, std::span<double* const> rows,
                     std::span<const std::array<double*, kParts>> parts, const Stopping& stop) const;

    // The complexity a candidate is ranked with: its token count, and the map's tokens when scaled.
    std::size_t ranked_complexity(const Candidate& c) const noexcept;

private:
    bool score_scaled(const Candidate& c, Scratch& s, double limit, double& score) const;
    template <class Sink>
    bool values(const Candidate& c, Scratch& s, Sink sink) const;
    const double* member_rows(const Member& m, std::size_t begin, std::size_t end, double* scratch,
                              std::vector<double>& stack) const;

    const Beam& beam_;
    const Columns& x_;
    std::span<const double> y_;
    std::size_t rows_;
    double penalty_;
    const TargetMoments* target_;
};

}  // namespace kiv::discover
