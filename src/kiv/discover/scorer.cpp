// Scoring candidates from their members' kept values, and evaluating the ones that join the beam.
#include "kiv/discover/scorer.hpp"

#include <algorithm>

#include "kiv/discover/fit.hpp"
#include "kiv/discover/scaling.hpp"
#include "kiv/pool.hpp"

namespace kiv::discover {

const double* LevelScorer::member_rows(const Member& m, std::size_t begin, std::size_t end, double* scratch,
                                       std::vector<double>& stack) const {
    if (m.rows) return m.rows + begin;
    if (!m.evaluable) return nullptr;
    if (!eval_rows(m.tokens, m.depth, x_, {}, begin, end, scratch, stack)) return nullptr;
    return scratch;
}

// Evaluates candidate c on every row, passing each batch of values to sink(begin, values, count); false
// when a row fails or the sink returns false.
template <class Sink>
bool LevelScorer::values(const Candidate& c, Scratch& s, Sink sink) const {
    const OperandPass kept(c.op(), beam_.on_rows(c.a, 0), beam_.on_rows(c.b(), 0));
    if (kept.ready()) {
        for (std::size_t r = 0; r < rows_; r += kRowBatch) {
            const std::size_t e = std::min(rows_, r + kRowBatch);
            if (!kept.apply(r, e - r, s.out.data())) return false;
            if (!sink(r, static_cast<const double*>(s.out.data()), e - r)) return false;
        }
        return true;
    }
    // Some operand's rows are not kept: its values are made batch by batch from its tokens.
    const bool binary = arity(c.op()) == 2;
    for (std::size_t r = 0; r < rows_; r += kRowBatch) {
        const std::size_t e = std::min(rows_, r + kRowBatch);
        Operand a = beam_.on_rows(c.a, r), b = beam_.on_rows(c.b(), r);
        a.values = member_rows(beam_[c.a], r, e, s.a.data(), s.stack);
        if (!a.values) return false;
        if (binary) {
            b.values = member_rows(beam_[c.b()], r, e, s.b.data(), s.stack);
            if (!b.values) return false;
        }
        if (!OperandPass(c.op(), a, b).apply(0, e - r, s.out.data())) return false;
        if (!sink(r, static_cast<const double*>(s.out.data()), e - r)) return false;
    }
    return true;
}

std::size_t LevelScorer::ranked_complexity(const Candidate& c) const noexcept {
    return beam_.complexity(c) + (target_ ? kScaleTokens : 0);
}

bool LevelScorer::score_scaled(const Candidate& c, Scratch& s, double limit, double& score) const {
    const std::size_t k = ranked_complexity(c);
    const std::size_t n = y_.size();
    const TargetMoments& t = *target_;
    const double factor = static_cast<double>(k) * penalty_ + 1.0;
    Moments acc;
    // Whether the best map over the first `done` rows already scores at least the limit: its residual
    // never falls as rows are added. The residual is taken a little lower first (kConfirmBelow of the
    // target's spread), for what cancellation may have added to it.
    auto hopeless = [&](std::size_t done) {
        if (done == 0 || !(factor > 0.0) || !(limit == limit)) return false;
        const double cyy = t.cyy[done - 1];
        const double sse = acc.residual(cyy, done) - kConfirmBelow * cyy;
        return sse > 0.0 && std::sqrt(sse / static_cast<double>(n)) * factor >= limit;
    };
    const OperandPass kept(c.op(), beam_.on_rows(c.a, 0), beam_.on_rows(c.b(), 0));
    if (kept.ready()) {
        constexpr std::size_t kStretch = 64;
        for (std::size_t r = 0; r < rows_; r += kStretch) {
            const std::size_t len = std::min(kStretch, rows_ - r);
            const std::size_t m = r < n ? std::min(len, n - r) : 0;
            const TargetLanes lanes{m ? t.inv.data() + r : nullptr, m ? t.dev.data() + r : nullptr};
            if (!kept.moments(r, lanes, m, len, acc)) return false;
            if (hopeless(r + m)) return false;
        }
    } else if (!values(c, s, [&](std::size_t r, const double* v, std::size_t len) {
                   const std::size_t stop = std::min(r + len, n);
                   for (std::size_t i = r; i < stop; ++i) acc.add(v[i - r], t.inv[i], t.dev[i]);
                   return !hopeless(stop);
               })) {
        return false;
    }
    const ValuesPass again = [&](const std::function<void(std::size_t, const double*, std::size_t)>& sink) {
        return values(c, s, [&](std::size_t r, const double* v, std::size_t len) {
            sink(r, v, len);
            return true;
        });
    };
    const std::optional<double> scored = scaled_score(acc, t, y_, k, penalty_, again);
    if (!scored) return false;
    score = *scored;
    return true;
}

bool LevelScorer::score(const Candidate& c, Scratch& s, double limit, double& score) const {
    if (target_) return score_scaled(c, s, limit, score);
    const std::size_t k = beam_.complexity(c);
    ScoreSum sum(y_);
    const OperandPass kept(c.op(), beam_.on_rows(c.a, 0), beam_.on_rows(c.b(), 0));
    if (kept.ready()) {
        // Where the operands' values are kept, the pass adds to the score itself, a stretch of rows at a
        // time, with a look at the limit after each.
        constexpr std::size_t kStretch = 64;
        for (std::size_t r = 0; r < rows_; r += kStretch) {
            const std::size_t n = std::min(kStretch, rows_ - r);
            if (!sum.add_scored(r, n, [&](const double* y, std::size_t m, double& acc) {
                    return kept.score(r, y, m, n, acc);
                })) {
                return false;
            }
            if (sum.cannot_beat(limit, k, penalty_)) return false;
        }
    } else if (!values(c, s, [&](std::size_t r, const double* v, std::size_t n) {
                   sum.add(r, v, n);
                   return !sum.cannot_beat(limit, k, penalty_);
               })) {
        return false;
    }
    score = sum.score(k, penalty_);
    return true;
}

void LevelScorer::score_pass(const CandidateStore& store, std::size_t first, double limit, std::span<double> scores,
                             std::span<std::uint8_t> ok, const Stopping& stop) const {
    kiv::pool::parallel_for(scores.size(), 16, [&](std::size_t b, std::size_t e) {
        Scratch s;
        for (std::size_t i = b; i < e; ++i) {
            if (stop.halted()) break;
            if (score(store[first + i], s, limit, scores[i])) ok[i] = 1;
        }
    });
}

void LevelScorer::values_pass(std::span<const Candidate> candidates, std::span<double* const> rows,
                              std::span<const std::array<double*, kParts>> parts, const Stopping& stop) const {
    kiv::pool::parallel_for(candidates.size(), 8, [&](std::size_t begin, std::size_t end) {
        Scratch s;
        for (std::size_t k = begin; k < end; ++k) {
            if (stop.halted()) break;
            double* out = rows[k];
            if (!out) continue;
            // It scored, so every row evaluates.
            values(candidates[k], s, [&](std::size_t r, const double* v, std::size_t n) {
                std::copy(v, v + n, out + r);
                return true;
            });
            if (parts[k][0]) {
                for (std::size_t p = 0; p < kParts; ++p) part_lanes(p, out, parts[k][p], rows_);
            }
        }
    });
}

}  // namespace kiv::discover
