// Beam search, as a conductor over its collaborators: the beam (beam.hpp), admission (admission.hpp), the
// level scorer (scorer.hpp), the ranking of a level (ranking.hpp), the memory budget and row cache
// (budget.hpp) and stopping (stopping.hpp). Everything they hold is changed on the searching thread alone;
// the parallel passes are const member functions that write only the slots they are handed.
//
// Each level combines only what is new since the previous level: every expression built from older
// members alone was offered at that level already and is either taken in the seen set or cannot be probed,
// so offering it again would drop it without effect. Candidates are kept as (operator, member, member)
// triples; their probe values and row values come from the members' stored values, which is exactly what
// evaluating the concatenated tokens computes. Tokens and text are made only for what joins the beam or is
// returned.
#include "kiv/discover/search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "kiv/discover/admission.hpp"
#include "kiv/discover/beam.hpp"
#include "kiv/discover/budget.hpp"
#include "kiv/discover/constfit.hpp"
#include "kiv/discover/front.hpp"
#include "kiv/discover/moments.hpp"
#include "kiv/discover/ranking.hpp"
#include "kiv/discover/render.hpp"
#include "kiv/discover/scaling.hpp"
#include "kiv/discover/scorer.hpp"
#include "kiv/discover/stopping.hpp"
#include "kiv/memory.hpp"
#include "kiv/pool.hpp"

namespace kiv::discover {
namespace {

// Fitting free constants: candidates taken as parents besides the front's, and the share of its parent's
// rmse by which a fitted variant must improve on it to be kept.
constexpr std::size_t kFitParents = 24;
constexpr double kFitGain = 1e-3;
// Kept variants of the first round that get a second constant.
constexpr std::size_t kFitAgain = 8;

// The seeds' scores on the pool, from their tokens (which raises the data errors): scores[i] and ok[i] = 1
// for each seed that evaluates on every row. With target set, the score of each seed's best affine map.
void fit_seeds(std::span<const Expr> seeds, const Columns& x, std::span<const double> y, const SearchConfig& config,
               const TargetMoments* target, std::span<double> scores, std::span<std::uint8_t> ok) {
    kiv::pool::parallel_for(seeds.size(), 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            auto score = target ? scaled_score(seeds[i], x, y, *target, config.complexity_penalty)
                                : fit_score(seeds[i], x, y, config);
            if (!score) continue;
            scores[i] = *score;
            ok[i] = 1;
        }
    });
}

class Search {
public:
    Search(const Columns& x, std::span<const double> y, std::size_t n, const SearchConfig& config,
           const SearchOptions& options, ProbePoints probes)
        : x_(x),
          y_(y),
          n_(n),
          config_(config),
          options_(options),
          probes_(std::move(probes)),
          ops_(offered_ops(config)),
          stop_(options.stop, options.deadline),
          budget_(options.footprint),
          beam_(ops_.keeps_parts),
          // Rows are those of the first column; a search over no columns fails at the seeds' fit.
          cache_(options.row_cache_bytes, x.empty() ? 0 : x.front().size()),
          admission_(beam_, options.fingerprint_block, options.admitted, scaled()),
          target_(scaled() ? std::optional<TargetMoments>(std::in_place, y) : std::nullopt),
          scorer_(beam_, x, y, cache_.rows(), config.complexity_penalty, target_ ? &*target_ : nullptr) {}

    SearchOutcome run() {
        SearchOutcome out;
        try {
            levels();
            if (config_.constants == Constants::Fit && !goal_met()) fit_pass();
        } catch (const Halt&) {
            out.stopped = stop_.reason();
        } catch (const std::bad_alloc&) {
            // An allocation the checks did not foresee (an address-space limit, say): the search's memory
            // is released on the way out, so the process can carry on.
            throw kiv::OutOfMemory("formula search: memory ran out at level " + std::to_string(budget_.level()) +
                                   "; try a smaller beam_width or max_complexity");
        }
        out.levels = levels_done_;
        out.best = result();
        if (options_.front) out.front = front();
        return out;
    }

private:
    // Per level: offer, admit, score and rank, then the best quarter-beam joins the beam.
    void levels() {
        if (seeds()) return;
        stop_.check();
        std::size_t new_begin = 0;
        for (std::uint64_t level = 1; level < config_.max_complexity; ++level) {
            budget_.at_level(level);
            admission_.begin_level(level);
            const std::size_t m = beam_.size();
            offer_level(new_begin, m);
            admit();
            if (admission_.admitted().size() == admission_.level_begin()) break;
            if (score_level(level)) return;
            new_begin = m;
        }
    }

    // Unary operators on the new members [new_begin, m), then binary operators on each new member and
    // every member up to it whose token count keeps the pair within max_complexity.
    void offer_level(std::size_t new_begin, std::size_t m) {
        for (std::size_t e = new_begin; e < m; ++e) {
            for (OpKind u : ops_.unary) offer({member_index(e), member_index(e), u});
        }
        for (std::size_t i = new_begin; i < m; ++i) {
            stop_.check();
            const std::size_t ci = beam_.tokens(i);
            if (!(ci < config_.max_complexity)) continue;
            beam_.partners(i, config_.max_complexity - 1 - ci, [&](std::size_t j) {
                for (OpKind o : ops_.binary) {
                    offer({member_index(i), member_index(j), o});
                    // The reversed self-pair is the same expression, dropped as already seen.
                    if (j != i && op_info(o).order_sensitive) offer({member_index(j), member_index(i), o});
                }
            });
        }
    }

    void offer(const Candidate& c) {
        if (admission_.offer(c)) admit();
    }

    // Admits the pending block, once the memory it may take is known to be there.
    void admit() {
        if (admission_.pending() == 0) return;
        const std::size_t table = admission_.table_growth();
        budget_.afford(table + admission_.store_growth());
        note(table);
        admission_.admit_pending(stop_);
        note();
    }

    // Seeds: admitted, fitted on the data (which raises the data errors) and all made beam members.
    // True when the search ends right here.
    bool seeds() {
        std::vector<Expr> seeds;
        std::vector<ProbeValues> probes;
        auto seed = [&](Expr e) {
            auto values = probe_values(e, probes_);
            if (!values || !admission_.admit_seed(e, *values)) return;
            probes.push_back(*values);
            seeds.push_back(std::move(e));
        };
        seed({Token::constant(0.0)});
        seed({Token::constant(1.0)});
        for (std::size_t k = 0; k < n_; ++k) seed({Token::var(k)});

        std::vector<double> scores(seeds.size());
        std::vector<std::uint8_t> ok(seeds.size(), 0);
        fit_seeds(seeds, x_, y_, config_, target_ ? &*target_ : nullptr, scores, ok);
        for (std::size_t i = 0; i < seeds.size(); ++i) {
            // A seed's place in the store is its place among the admitted seeds. A constant seed is reported
            // as the constant mean of y, one token, which is how the front counts it.
            if (ok[i] && options_.front) {
                const bool mapped = scaled() && seeds[i].front().kind != TokenKind::Const;
                front_.take(seeds[i].size() + (mapped ? kScaleTokens : 0), {scores[i], i});
            }
            if (ok[i] && fitting()) screen_.take({scores[i], i});
            if (ok[i] && (!best_ || best_->score > scores[i])) {
                FitResult r;
                r.tokens = seeds[i];
                r.complexity = r.tokens.size();
                r.score = scores[i];
                best_ = std::move(r);
            }
        }
        report(0);
        // The fit succeeded, so every column holds every row.
        const std::size_t rows = cache_.rows();
        for (std::size_t i = 0; i < seeds.size(); ++i) {
            Member m;
            m.tokens = std::move(seeds[i]);
            m.probe = probes[i];
            const Token& t = m.tokens.front();
            if (t.kind == TokenKind::Var) {
                if (t.index < x_.size()) {
                    m.rows = x_[t.index].data();
                } else {
                    m.evaluable = rows == 0;
                }
            } else if (double* kept = cache_.take_rows()) {
                std::fill_n(kept, rows, t.value);
                m.rows = kept;
            }
            if (ops_.keeps_parts && m.rows) {
                const std::array<double*, kParts> parts = cache_.take_parts();
                if (parts[0]) {
                    for (std::size_t p = 0; p < kParts; ++p) part_lanes(p, m.rows, parts[p], rows);
                    m.row_parts = {parts[0], parts[1]};
                }
            }
            beam_.append(std::move(m));
        }
        return goal_met();
    }

    // Scores the level's candidates on the pool, pass by pass, and folds each pass's scores in candidate
    // order into the ranking; updates the best and extends the beam. True when the best meets the goal.
    bool score_level(std::uint64_t level) {
        const CandidateStore& all = admission_.admitted();
        const std::size_t begin = admission_.level_begin(), end = all.size();
        // After the last level nobody reads the beam.
        const bool extend = level + 1 < config_.max_complexity;
        const std::size_t keep =
            extend ? static_cast<std::size_t>(std::min<std::uint64_t>(end - begin, config_.beam_width / 4)) : 0;
        // Only one pass's scores are held at a time.
        const std::size_t block = std::min(std::max<std::size_t>(options_.score_block, 1), end - begin);
        const std::size_t held = block * (sizeof(double) + sizeof(std::uint8_t)) + keep * sizeof(Scored);
        budget_.afford(held);
        note(0, held);
        std::vector<double> scores(block);
        std::vector<std::uint8_t> ok(block);
        Ranking ranking(keep, best_ ? std::optional<double>(best_->score) : std::nullopt);
        // The first pass is about a quarter-beam, so that the passes after it have a limit; passes then
        // double up to the block size. The limit only falls during a pass's fold, so the one taken before
        // the pass holds for all of it.
        std::size_t pass = std::min(block, std::max<std::size_t>(keep, 64));
        for (std::size_t first = begin, n = 0; first < end; first += n, pass = std::min(block, 2 * pass)) {
            n = std::min(pass, end - first);
            std::fill_n(ok.begin(), n, std::uint8_t{0});
            scorer_.score_pass(all, first, ranking.limit(), std::span(scores).first(n), std::span(ok).first(n), stop_);
            // A level cut short counts for nothing.
            stop_.check();
            for (std::size_t i = 0; i < n; ++i) {
                if (!ok[i]) continue;
                ranking.take({scores[i], first + i});
                if (fitting()) screen_.take({scores[i], first + i});
                if (options_.front) front_.take(scorer_.ranked_complexity(all[first + i]), {scores[i], first + i});
            }
        }
        if (const auto pos = ranking.best_pos()) {
            FitResult r;
            r.tokens = beam_.tokens_of(all[*pos]);
            r.complexity = r.tokens.size();
            r.score = ranking.best_score();
            best_ = std::move(r);
        }
        report(level);
        if (goal_met()) return true;
        stop_.check();
        const std::vector<Scored> top = std::move(ranking).ranked();
        if (!top.empty()) join(top);
        return false;
    }

    // Appends the candidates of results to the beam with their tokens and probe values, and, within the
    // row cache's allowance, their values on every row (computed on the pool) and their parts.
    void join(const std::vector<Scored>& results) {
        const CandidateStore& all = admission_.admitted();
        const std::size_t take = results.size();
        // The joined candidates and their row pointers, their tokens, the beam's growth and the rows kept.
        std::size_t bytes = take * (sizeof(Candidate) + (1 + kParts) * sizeof(double*));
        std::size_t largest = 0;
        for (const Scored& r : results) {
            const std::size_t c = beam_.complexity(all[r.pos]);
            bytes += c * sizeof(Token);
            largest = std::max(largest, c);
        }
        bytes += beam_.bytes_to_grow(take, largest) + cache_.bytes_for(take, ops_.keeps_parts);
        budget_.afford(bytes);
        std::vector<Candidate> joined(take);
        std::vector<double*> rows(take);
        std::vector<std::array<double*, kParts>> parts(take);
        for (std::size_t k = 0; k < take; ++k) {
            joined[k] = all[results[k].pos];
            rows[k] = cache_.take_rows();
            if (ops_.keeps_parts && rows[k]) parts[k] = cache_.take_parts();
        }
        scorer_.values_pass(joined, rows, parts, stop_);
        stop_.check();
        for (std::size_t k = 0; k < take; ++k) {
            Member m;
            m.tokens = beam_.tokens_of(joined[k]);
            admission_.probe(joined[k], m.probe);
            m.depth = stack_depth(m.tokens, x_.size()).value_or(1);
            m.rows = rows[k];
            if (parts[k][0]) m.row_parts = {parts[k][0], parts[k][1]};
            beam_.append(std::move(m));
        }
        note();
    }

    // Records, when asked to, the bytes each holder of memory holds now; growing is the seen set's larger
    // table while it is built, scoring the bytes a level's scoring holds.
    void note(std::size_t growing = 0, std::size_t scoring = 0) const {
        if (!budget_.recording()) return;
        FootprintNow now;
        now.seen_set = admission_.seen_bytes() + growing;
        now.candidates = admission_.candidate_bytes();
        now.scores = scoring;
        now.cached_rows = cache_.used();
        now.members = beam_.bytes() + admission_.seed_bytes();
        now.admitted = admission_.admitted().size();
        now.level_size = now.admitted - admission_.level_begin();
        budget_.record(now);
    }

    // Reports a fully scored level to the progress hook.
    void report(std::uint64_t level) {
        levels_done_ = level;
        if (!options_.progress || !best_) return;
        if (scaled()) {
            // The formula as it would be returned, with its constants.
            if (std::optional<FitResult> r = reported(*best_)) options_.progress(level, *r);
            return;
        }
        best_->formula = render_formula(best_->tokens);
        options_.progress(level, *best_);
    }

    bool goal_met() const { return best_ && best_->score <= config_.precision_goal; }

    bool scaled() const noexcept { return config_.constants != Constants::None; }
    bool fitting() const noexcept { return config_.constants == Constants::Fit; }

    struct FitParent {
        Expr tokens;                 // free constants (if any) as Param tokens holding their values
        std::vector<double> params;  // those values
        double rmse = std::numeric_limits<double>::infinity();
        double sample_sse = std::numeric_limits<double>::infinity();
    };
    struct FitKept {
        Fitted fitted;
        Reported rep;
        double score = 0.0;
    };

    // Free constants inside formulas, after the levels: the parents are the front's candidates (ascending
    // complexity) and then the best kFitParents of the whole search by ranked score (the screen), each
    // once. Every parent's variants (constfit.hpp) are fitted on the pool, one per task, each result in its
    // own slot, and folded here in variant order, so the outcome is the same on any number of threads. A
    // fitted variant is kept when its reported rmse is below its parent's by more than kFitGain of it and
    // kDropAbsolute * rms(y); the best kFitAgain kept get a second round with one more constant. A kept one
    // joins the front and, with the score the search ranks by (its map's rmse times (tokens + map tokens)
    // * penalty + 1), may become the best. A stop during the pass keeps the variants fitted by then.
    void fit_pass() {
        const CandidateStore& all = admission_.admitted();
        std::vector<std::size_t> chosen;
        auto choose = [&](std::size_t pos) {
            if (std::find(chosen.begin(), chosen.end(), pos) == chosen.end()) chosen.push_back(pos);
        };
        for (const Scored& e : front_.entries()) choose(e.pos);
        for (const Scored& e : std::move(screen_).ranked()) choose(e.pos);
        const std::size_t rows = cache_.rows();
        // The fit reads a target value for every row (a caller may hand a target of another length).
        if (rows == 0 || y_.size() != rows || chosen.empty()) return;

        // The screen's sample: every k-th row from the first, at most kScreenRows of them.
        const std::size_t stride = (rows + kScreenRows - 1) / kScreenRows;
        Columns xs(x_.size());
        std::vector<double> ys;
        for (std::size_t r = 0; r < rows; r += stride) {
            for (std::size_t j = 0; j < x_.size(); ++j) xs[j].push_back(x_[j][r]);
            ys.push_back(y_[r]);
        }

        // First exp(x), exp(1/x) and 1/x of each variable: the search drops the first two where they
        // overflow on some row, and the map makes 1/x one candidate with many others, but their fitted forms
        // exp(c*x) and 1/(x + c) are laws of their own (decay, Boltzmann factors, saturation), and cheap, so
        // they come first should a deadline cut the pass. A parent that fails counts as infinitely far from
        // the target. Then the chosen candidates.
        std::vector<FitParent> parents;
        for (std::size_t j = 0; j < n_; ++j) {
            parents.emplace_back().tokens = {Token::var(j), Token::oper(OpKind::Exp)};
            parents.emplace_back().tokens = {Token::var(j), Token::oper(OpKind::Recip), Token::oper(OpKind::Exp)};
            parents.emplace_back().tokens = {Token::var(j), Token::oper(OpKind::Recip)};
        }
        for (const std::size_t pos : chosen) parents.emplace_back().tokens = beam_.tokens_of(all[pos]);
        // The first round; then the best kFitAgain of what it kept, by score, each with one more constant.
        std::vector<FitKept> kept = fit_round(std::move(parents), xs, ys, rows);
        std::vector<std::size_t> order(kept.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t p, std::size_t q) { return kept[p].score < kept[q].score; });
        std::vector<FitParent> again;
        for (std::size_t i = 0; i < order.size() && again.size() < kFitAgain; ++i) {
            const FitKept& k = kept[order[i]];
            FitParent& p = again.emplace_back();
            p.tokens = k.fitted.free;
            p.params = k.fitted.params;
            p.rmse = k.rep.rmse;
        }
        take_fitted(std::move(kept));
        // Not when the first round met the goal.
        if (!goal_met()) take_fitted(fit_round(std::move(again), xs, ys, rows));
        stop_.check();
    }

    // Kept variants into the front and the best, in order.
    void take_fitted(std::vector<FitKept>&& kept) {
        for (FitKept& k : kept) {
            if (options_.front) {
                fitted_front_.push_back(k.rep);
                fitted_front_.back().score = k.score;
            }
            if (!best_ || k.score < best_->score) {
                FitResult r;
                r.tokens = std::move(k.fitted.tokens);
                r.complexity = r.tokens.size();
                r.score = k.score;
                best_ = std::move(r);
            }
        }
    }

    // One round of fitting: each parent's reported rmse (unless known) and its map's sse on the sample, then
    // its variants with one more constant, fitted on the pool and kept by the rule above, in variant order.
    // Stops early (keeping what is done) when the search is stopped.
    std::vector<FitKept> fit_round(std::vector<FitParent> parents, const Columns& xs, std::span<const double> ys,
                                   std::size_t rows) const {
        const double penalty = config_.complexity_penalty;
        // Gains below this are rounding, not fit: rms(y) * kDropAbsolute, as the leaving-out rule has it.
        double top = 0.0, rms = 0.0;
        for (const double t : y_) top = std::max(top, std::fabs(t));
        if (top > 0.0) {
            for (const double t : y_) rms = rms + (t / top) * (t / top);
            rms = top * std::sqrt(rms / static_cast<double>(y_.size()));
        }
        const double floor = kDropAbsolute * rms;
        kiv::pool::parallel_for(parents.size(), 1, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                if (stop_.halted()) return;
                FitParent& p = parents[i];
                if (p.params.empty()) {
                    if (auto rep = report_scaled(p.tokens, x_, y_, penalty)) p.rmse = rep->rmse;
                }
                if (auto sse = map_sse(p.tokens, xs, ys)) p.sample_sse = *sse;
            }
        });
        struct Job {
            std::size_t parent;
            Variant variant;
        };
        std::vector<Job> jobs;
        for (std::size_t i = 0; i < parents.size() && !stop_.halted(); ++i) {
            if (!(parents[i].sample_sse > 0.0)) continue;  // exact already
            for (Variant& v : variants_of(parents[i].tokens, x_, rows, parents[i].params)) {
                jobs.push_back({i, std::move(v)});
            }
        }
        std::vector<std::optional<FitKept>> done(jobs.size());
        kiv::pool::parallel_for(jobs.size(), 1, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                if (stop_.halted()) return;
                const FitParent& parent = parents[jobs[i].parent];
                std::optional<Fitted> g = fit_variant(jobs[i].variant, x_, y_, xs, ys, parent.sample_sse);
                if (!g) continue;
                std::optional<Reported> rep = report_scaled(g->tokens, x_, y_, penalty);
                if (!rep || !(rep->rmse < parent.rmse * (1.0 - kFitGain) - floor)) continue;
                const double score = penalised_score(rep->rmse, g->tokens.size() + kScaleTokens, penalty);
                done[i] = FitKept{std::move(*g), std::move(*rep), score};
            }
        });
        std::vector<FitKept> out;
        for (std::optional<FitKept>& d : done) {
            if (d) out.push_back(std::move(*d));
        }
        return out;
    }

    // The formula returned for a scaled candidate: its affine map's constants in the tokens (report_scaled),
    // with the score the search ranked it by (so the best's score never rises from one report to the next,
    // though the reported tokens may be fewer than the ranked count). None when it fails on a row.
    std::optional<FitResult> reported(const FitResult& best) const {
        std::optional<Reported> rep = report_scaled(best.tokens, x_, y_, config_.complexity_penalty);
        if (!rep) return std::nullopt;
        FitResult r;
        r.tokens = std::move(rep->tokens);
        r.complexity = r.tokens.size();
        r.score = best.score;
        r.formula = render_formula(r.tokens);
        return r;
    }

    std::optional<FitResult> result() {
        if (!best_) return std::nullopt;
        if (scaled()) {
            // The best evaluated on every row when it was scored, so its map can be fitted; keep the
            // candidate as it stands should that fail all the same.
            if (std::optional<FitResult> r = reported(*best_)) return r;
        }
        best_->formula = render_formula(best_->tokens);
        return std::move(best_);
    }

    // The front folded over the search, as reported: each kept candidate's returned formula with its ranked
    // score, then, by
    // ascending token count of those formulas (lower rmse first among equal counts), only those whose rmse
    // is strictly below that of every shorter one.
    std::vector<FrontEntry> front() const {
        const CandidateStore& all = admission_.admitted();
        std::vector<Reported> reps;
        for (const Scored& e : front_.entries()) {
            const Expr f = beam_.tokens_of(all[e.pos]);
            std::optional<Reported> rep = scaled() ? report_scaled(f, x_, y_, config_.complexity_penalty)
                                                   : report_plain(f, x_, y_, config_.complexity_penalty);
            if (!rep) continue;
            // The score it was ranked by (in the plain search the same bits as its tokens' own).
            rep->score = e.score;
            reps.push_back(std::move(*rep));
        }
        reps.insert(reps.end(), fitted_front_.begin(), fitted_front_.end());
        std::stable_sort(reps.begin(), reps.end(), [](const Reported& p, const Reported& q) {
            if (p.tokens.size() != q.tokens.size()) return p.tokens.size() < q.tokens.size();
            return p.rmse < q.rmse;
        });
        std::vector<FrontEntry> out;
        double last = std::numeric_limits<double>::infinity();
        for (Reported& r : reps) {
            if (!(r.rmse < last)) continue;
            last = r.rmse;
            out.push_back({std::move(r.tokens), r.score, r.rmse});
        }
        return out;
    }

    const Columns& x_;
    std::span<const double> y_;
    std::size_t n_;
    const SearchConfig& config_;
    const SearchOptions& options_;
    const ProbePoints probes_;
    const OfferedOps ops_;

    Stopping stop_;
    MemoryBudget budget_;
    Beam beam_;
    RowCache cache_;
    Admission admission_;
    const std::optional<TargetMoments> target_;  // with scaling: the target's running moments
    const LevelScorer scorer_;
    FrontFold front_;
    // With fitting: the best kFitParents candidates of the whole search, and the fitted variants kept.
    Ranking screen_{kFitParents, std::nullopt};
    std::vector<Reported> fitted_front_;

    std::optional<FitResult> best_;
    std::uint64_t levels_done_ = 0;
};

}  // namespace

std::optional<FitResult> beam_search(const Columns& x_data, std::span<const double> y_data, std::size_t n,
                                     const SearchConfig& config, const SearchOptions& options) {
    return run_beam_search(x_data, y_data, n, config, options).best;
}

SearchOutcome run_beam_search(const Columns& x_data, std::span<const double> y_data, std::size_t n,
                              const SearchConfig& config, const SearchOptions& options) {
    // A scaled search takes probe points with no rational relation between the variables: with affine keys,
    // x1 = 2 x0 at every probe point would make x1 one candidate with x0.
    Search search(x_data, y_data, n, config, options,
                  config.constants == Constants::None ? probe_points(n) : independent_probe_points(n));
    return search.run();
}

}  // namespace kiv::discover
