// Beam search. Each level combines only what is new since the previous level: every expression built from
// older members alone was offered at that level already and is either taken in the seen set or cannot be
// probed, so offering it again would drop it without effect. Candidates are kept as (operator, member,
// member) triples; their probe values and row values come from the members' stored values, which is
// exactly what evaluating the concatenated tokens computes. Tokens and text are made only for what joins
// the beam or is returned.
#include "kiv/discover/search.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "kiv/discover/fingerprint.hpp"
#include "kiv/discover/render.hpp"
#include "kiv/failure.hpp"
#include "kiv/memory.hpp"
#include "kiv/pool.hpp"

namespace kiv::discover {
namespace {

struct Member {
    Expr tokens;
    ProbeValues probe{};
    const double* rows = nullptr;  // values on every row when kept, else null
    std::size_t depth = 1;         // evaluation stack depth, for re-evaluating from tokens
    bool evaluable = true;         // false only for a seed variable that the data lacks
    // When the split operator is offered: its part 0 and part 1 of this member's values, at the probe
    // points and, when kept, on every row (kept only along with the rows), so that pairing two members
    // with it costs a subtraction.
    std::array<ProbeValues, 2> part_probe{};
    std::array<const double*, 2> part_rows{};
};

// op(a, b), or op(a) for a unary op (b then equals a and is not read), in eight bytes; a leaf is seed a
// itself.
class Candidate {
public:
    static constexpr std::size_t kMaxMember = (std::size_t{1} << 28) - 1;

    Candidate() = default;
    Candidate(std::uint32_t a, std::uint32_t b, OpKind op) noexcept
        : a(a), b_op_(b | static_cast<std::uint32_t>(op) << 28) {}
    static Candidate leaf(std::uint32_t seed) noexcept {
        Candidate c;
        c.a = seed;
        c.b_op_ = kLeaf << 28;
        return c;
    }

    std::uint32_t a = 0;
    std::uint32_t b() const noexcept { return b_op_ & kMaxMember; }
    OpKind op() const noexcept { return static_cast<OpKind>(b_op_ >> 28); }
    bool is_leaf() const noexcept { return b_op_ >> 28 == kLeaf; }

private:
    static constexpr std::uint32_t kLeaf = 15;
    static_assert(kOps.size() <= kLeaf, "operator codes and the leaf mark share four bits");
    std::uint32_t b_op_ = 0;  // b in the low 28 bits, the operator code (or the leaf mark) above them
};

// Every candidate admitted so far, in admission order, in fixed-size chunks: growing never copies or
// briefly doubles what is held.
class CandidateStore {
public:
    std::size_t size() const noexcept { return size_; }
    const Candidate& operator[](std::size_t i) const noexcept { return chunks_[i >> kShift][i & kMask]; }
    // Bytes that holding `more` further candidates may allocate.
    std::size_t bytes_to_grow(std::size_t more) const noexcept {
        const std::size_t have = chunks_.size() << kShift;
        if (size_ + more <= have) return 0;
        return ((size_ + more - have) / kChunk + 1) * (kChunk * sizeof(Candidate) + sizeof(void*));
    }
    std::size_t bytes() const noexcept { return chunks_.size() * (kChunk * sizeof(Candidate) + sizeof(void*)); }
    void push_back(const Candidate& c) {
        if (size_ == (chunks_.size() << kShift)) chunks_.push_back(std::make_unique_for_overwrite<Candidate[]>(kChunk));
        chunks_.back()[size_ & kMask] = c;
        ++size_;
    }

private:
    static constexpr std::size_t kShift = 16;
    static constexpr std::size_t kChunk = std::size_t{1} << kShift;
    static constexpr std::size_t kMask = kChunk - 1;
    std::vector<std::unique_ptr<Candidate[]>> chunks_;
    std::size_t size_ = 0;
};

struct Scored {
    double score;
    std::size_t pos;  // position in the candidate store
};

// Ascending score; NaN after every number; equal scores keep candidate order (a stable sort's order).
bool ranks_before(const Scored& x, const Scored& y) noexcept {
    bool xn = std::isnan(x.score), yn = std::isnan(y.score);
    if (xn != yn) return yn;
    if (!xn) {
        if (x.score < y.score) return true;
        if (y.score < x.score) return false;
    }
    return x.pos < y.pos;
}

// Thrown on the searching thread once a poll has seen the stop flag or the deadline; caught by run().
struct Halt {};

// Items between two polls in the fingerprint pass (a probe costs a few dozen operations).
constexpr std::size_t kPollEvery = 1024;

class Search {
public:
    Search(const Columns& x, std::span<const double> y, std::size_t n, const SearchConfig& config,
           const SearchOptions& options)
        : x_(x),
          y_(y),
          n_(n),
          config_(config),
          options_(options),
          cache_left_(options.row_cache_bytes),
          watched_(options.stop != nullptr || options.deadline.has_value()) {
        // The operators always offered come first, then those behind a switch, each in table order.
        for (const bool switched : {false, true}) {
            for (const OpInfo& o : kOps) {
                const bool offered = switched ? (o.offer == Offer::WithTrig && config.use_trig) ||
                                                    (o.offer == Offer::WithKiv && config.use_kiv)
                                              : o.offer == Offer::Always;
                if (offered) (o.arity == 1 ? unary_ : binary_).push_back(o.op);
                if (offered && o.op == kSplitOp) split_ = true;
            }
        }
    }

    SearchOutcome run() {
        SearchOutcome out;
        try {
            levels();
        } catch (const Halt&) {
            out.stopped = static_cast<StopReason>(halted_.load(std::memory_order_relaxed));
        } catch (const std::bad_alloc&) {
            // An allocation the checks did not foresee (an address-space limit, say): the search's memory
            // is released on the way out, so the process can carry on.
            throw kiv::OutOfMemory("formula search: memory ran out at level " + std::to_string(level_) +
                                   "; try a smaller beam_width or max_complexity");
        }
        out.levels = levels_done_;
        out.best = result();
        return out;
    }

private:
    void levels() {
        if (seeds()) return;
        check();
        std::size_t new_begin = 0;
        for (std::uint64_t level = 1; level < config_.max_complexity; ++level) {
            level_ = level;
            const std::size_t m = beam_.size();
            level_begin_ = all_.size();
            pending_.clear();
            for (std::size_t e = new_begin; e < m; ++e) {
                for (OpKind u : unary_) offer({index(e), index(e), u});
            }
            for (std::size_t i = new_begin; i < m; ++i) {
                check();
                const std::size_t ci = counts_[i];
                if (!(ci < config_.max_complexity)) continue;
                auto pair = [&](std::size_t j) {
                    for (OpKind o : binary_) {
                        offer({index(i), index(j), o});
                        // The reversed self-pair is the same expression, dropped as already seen.
                        if (j != i && op_info(o).order_sensitive) {
                            offer({index(j), index(i), o});
                        }
                    }
                };
                // The partners j <= i with ci + counts_[j] < max_complexity, in ascending order.
                const std::uint64_t bound = config_.max_complexity - 1 - ci;
                if (bound >= within_.size()) {
                    for (std::size_t j = 0; j <= i; ++j) pair(j);
                } else {
                    for (const std::uint32_t j : within_[bound]) {
                        if (j > i) break;
                        pair(j);
                    }
                }
            }
            flush();
            if (all_.size() == level_begin_) break;
            if (fit_level(level)) return;
            new_begin = m;
        }
    }

    // True once the stop flag or the deadline has been seen, by this poll or an earlier one on any
    // thread; the first reason seen is kept. Free when neither hook is set.
    bool halted() const noexcept {
        if (!watched_) return false;
        if (halted_.load(std::memory_order_relaxed) != 0) return true;
        StopReason why = StopReason::None;
        if (options_.stop && options_.stop->load(std::memory_order_relaxed)) {
            why = StopReason::Requested;
        } else if (options_.deadline && std::chrono::steady_clock::now() >= *options_.deadline) {
            why = StopReason::Deadline;
        }
        if (why == StopReason::None) return false;
        std::uint8_t none = 0;
        halted_.compare_exchange_strong(none, static_cast<std::uint8_t>(why), std::memory_order_relaxed);
        return true;
    }

    // On the searching thread only, outside parallel passes.
    void check() const {
        if (halted()) throw Halt{};
    }

    // Refuses, before it is allocated, an amount of memory the process cannot get.
    void require(std::size_t bytes) const {
        std::size_t available = 0;
        if (kiv::memory_fits(bytes, available)) return;
        constexpr std::size_t kMiB = std::size_t{1} << 20;
        char text[200];
        std::snprintf(text, sizeof text,
                      "formula search: level %llu needs %llu MiB more memory, but only %llu MiB are available; "
                      "try a smaller beam_width or max_complexity",
                      static_cast<unsigned long long>(level_), static_cast<unsigned long long>(bytes / kMiB + 1),
                      static_cast<unsigned long long>(available / kMiB));
        throw kiv::OutOfMemory(text);
    }

    // Records, when asked to, the bytes each part holds now; growing is the seen set's larger table while
    // it is built, scoring the bytes a level's scoring holds.
    void note(std::size_t growing = 0, std::size_t scoring = 0) const {
        SearchFootprint* f = options_.footprint;
        if (!f) return;
        std::size_t members = beam_.capacity() * (sizeof(Member) + sizeof(std::size_t)) +
                              seed_probes_.capacity() * sizeof(ProbeValues);
        for (const Member& m : beam_) members += m.tokens.capacity() * sizeof(Token);
        for (const auto& list : within_) members += list.capacity() * sizeof(std::uint32_t);
        const std::size_t parts[] = {
            seen_.bytes() + growing,
            all_.bytes() + pending_.capacity() * sizeof(Candidate) +
                keys_.capacity() * (sizeof(SeenSet::Key) + sizeof(std::uint64_t) + sizeof(std::uint8_t)),
            scoring,
            options_.row_cache_bytes - cache_left_,
            members,
        };
        std::size_t* peaks[] = {&f->seen_set, &f->candidates, &f->scores, &f->cached_rows, &f->members};
        std::size_t total = 0;
        for (std::size_t k = 0; k < std::size(parts); ++k) {
            *peaks[k] = std::max(*peaks[k], parts[k]);
            total += parts[k];
        }
        f->total = std::max(f->total, total);
        f->candidates_admitted = all_.size();
        f->largest_level = std::max(f->largest_level, all_.size() - level_begin_);
    }

    // Reports a fully fitted level to the progress hook.
    void report(std::uint64_t level) {
        levels_done_ = level;
        if (!options_.progress || !best_) return;
        best_->formula = render_formula(best_->tokens);
        options_.progress(level, *best_);
    }

    static std::uint32_t index(std::size_t i) {
        if (i > Candidate::kMaxMember) throw InternalFailure("beam too large");
        return static_cast<std::uint32_t>(i);
    }

    std::size_t complexity(const Candidate& c) const {
        if (c.is_leaf()) return counts_[c.a];
        std::size_t k = counts_[c.a] + 1;
        if (arity(c.op()) == 2) k += counts_[c.b()];
        return k;
    }

    void append_member(Member m) {
        const std::size_t c = m.tokens.size();
        const std::uint32_t at = index(beam_.size());
        // Every member so far has at most within_.size() tokens, so a new bound's list holds them all.
        for (std::size_t k = within_.size(); k < c; ++k) {
            within_.emplace_back(at);
            for (std::uint32_t j = 0; j < at; ++j) within_.back()[j] = j;
        }
        for (std::size_t k = c; k < within_.size(); ++k) within_[k].push_back(at);
        counts_.push_back(c);
        beam_.push_back(std::move(m));
    }

    Expr tokens_of(const Candidate& c) const {
        Expr e;
        e.reserve(complexity(c));
        e.insert(e.end(), beam_[c.a].tokens.begin(), beam_[c.a].tokens.end());
        if (arity(c.op()) == 2) e.insert(e.end(), beam_[c.b()].tokens.begin(), beam_[c.b()].tokens.end());
        e.push_back(Token::oper(c.op()));
        return e;
    }

    bool probe_of(const Candidate& c, ProbeValues& out) const noexcept {
        if (c.is_leaf()) {
            out = seed_probes_[c.a];
            return true;
        }
        // The operator's lanes over the probes (exp and log on the vector path): the verdict is the one
        // probe by probe, and the values of a candidate that passes are the same bits.
        const OpKind op = c.op();
        if (op == kSplitOp) {
            return split_lanes(beam_[c.a].part_probe[0].data(), beam_[c.b()].part_probe[1].data(), out.data(), kProbes);
        }
        return apply_lanes(op, beam_[c.a].probe.data(), beam_[c.b()].probe.data(), out.data(), kProbes);
    }

    // The seen-set key of an admitted candidate, recomputed from its operands: the same operations on
    // the same stored values give the same bits as when it was admitted.
    SeenSet::Key key_at(SeenSet::Id id) const noexcept {
        ProbeValues v;
        probe_of(all_[id], v);
        return SeenSet::key_of(v);
    }

    // Admits c with the given key unless the key is taken; true when admitted.
    bool admit(const Candidate& c, const SeenSet::Key& key, std::uint64_t hash) {
        if (all_.size() >= SeenSet::kMaxIds) {
            throw kiv::OutOfMemory("formula search: level " + std::to_string(level_) +
                                   " admits more candidates than one search can track; try a smaller "
                                   "beam_width or max_complexity");
        }
        const auto keys = [this](SeenSet::Id id) { return key_at(id); };
        if (seen_.insert(key, hash, static_cast<SeenSet::Id>(all_.size()), keys)) return false;
        all_.push_back(c);
        return true;
    }

    // Seeds: admitted, fitted on the data (which raises the data errors) and all made beam members.
    // True when the search ends right here.
    bool seeds() {
        std::vector<Expr> seeds;
        seen_.reserve(n_ + 2, [this](SeenSet::Id id) { return key_at(id); });
        auto admit_seed = [&](Expr e) {
            auto pv = probe_values(e, n_);
            if (!pv) return;
            const SeenSet::Key key = SeenSet::key_of(fingerprint_of(*pv));
            seed_probes_.push_back(*pv);
            if (!admit(Candidate::leaf(index(seeds.size())), key, seen_.hash(key))) {
                seed_probes_.pop_back();
                return;
            }
            if (options_.admitted) options_.admitted->push_back(e);
            seeds.push_back(std::move(e));
        };
        admit_seed({Token::constant(0.0)});
        admit_seed({Token::constant(1.0)});
        for (std::size_t k = 0; k < n_; ++k) admit_seed({Token::var(k)});

        std::vector<double> scores(seeds.size());
        std::vector<std::uint8_t> ok(seeds.size(), 0);
        kiv::pool::parallel_for(seeds.size(), 1, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                auto score = fit_score(seeds[i], x_, y_, config_);
                if (!score) continue;
                scores[i] = *score;
                ok[i] = 1;
            }
        });
        // The fit succeeded, so every column holds every row.
        rows_ = x_.front().size();
        for (std::size_t i = 0; i < seeds.size(); ++i) {
            if (ok[i]) consider(scores[i], [&] { return seeds[i]; });
        }
        report(0);
        for (std::size_t i = 0; i < seeds.size(); ++i) {
            Member m;
            m.tokens = std::move(seeds[i]);
            m.probe = seed_probes_[i];
            const Token& t = m.tokens.front();
            if (t.kind == TokenKind::Var) {
                if (t.index < x_.size()) {
                    m.rows = x_[t.index].data();
                } else {
                    m.evaluable = rows_ == 0;
                }
            } else {
                m.rows = keep_rows([&](double* out) { std::fill_n(out, rows_, t.value); });
            }
            if (split_) {
                split_probes(m);
                if (m.rows) m.part_rows = keep_parts(m.rows);
            }
            append_member(std::move(m));
        }
        return goal_met();
    }

    // Storage for rows_ values when the allowance lasts; null otherwise.
    double* reserve_rows() {
        const std::size_t bytes = rows_ * sizeof(double);
        if (rows_ == 0 || bytes > cache_left_) return nullptr;
        cache_left_ -= bytes;
        store_.push_back(std::make_unique_for_overwrite<double[]>(rows_));
        return store_.back().get();
    }

    // Whether a member's parts fit in what is left of the allowance. Parts may take it down to a third,
    // which stays for the rows of later members: a member without parts costs its kiv pairs an exp and a
    // log a row, one without rows a re-evaluation of all its tokens.
    bool parts_fit(std::size_t left) const noexcept {
        const std::size_t bytes = 2 * rows_ * sizeof(double);
        return rows_ > 0 && bytes <= left && left - bytes >= options_.row_cache_bytes / 3;
    }

    // Storage for the split operator's two parts on every row when the allowance lasts; nulls otherwise.
    std::array<double*, 2> reserve_parts() {
        const std::size_t bytes = 2 * rows_ * sizeof(double);
        if (!parts_fit(cache_left_)) return {};
        cache_left_ -= bytes;
        std::array<double*, 2> out;
        for (double*& p : out) {
            store_.push_back(std::make_unique_for_overwrite<double[]>(rows_));
            p = store_.back().get();
        }
        return out;
    }

    // Fills parts from a member's values on every row.
    void fill_parts(const double* rows, const std::array<double*, 2>& parts) const noexcept {
        for (std::size_t p = 0; p < 2; ++p) split_part_lanes(p, rows, parts[p], rows_);
    }

    std::array<const double*, 2> keep_parts(const double* rows) {
        const std::array<double*, 2> parts = reserve_parts();
        if (!parts[0]) return {};
        fill_parts(rows, parts);
        return {parts[0], parts[1]};
    }

    static void split_probes(Member& m) noexcept {
        for (std::size_t p = 0; p < 2; ++p) split_part_lanes(p, m.probe.data(), m.part_probe[p].data(), kProbes);
    }

    template <class Fill>
    const double* keep_rows(Fill fill) {
        double* out = reserve_rows();
        if (out) fill(out);
        return out;
    }

    template <class MakeTokens>
    void consider(double score, MakeTokens make) {
        if (!best_ || best_->score > score) {
            FitResult r;
            r.tokens = make();
            r.complexity = r.tokens.size();
            r.score = score;
            best_ = std::move(r);
        }
    }

    bool goal_met() const { return best_ && best_->score <= config_.precision_goal; }

    std::optional<FitResult> result() {
        if (best_) best_->formula = render_formula(best_->tokens);
        return std::move(best_);
    }

    void offer(const Candidate& c) {
        pending_.push_back(c);
        if (pending_.size() >= options_.fingerprint_block) flush();
    }

    // Makes room in the seen set for `more` insertions, moving its entries to the larger table on the pool.
    void grow_seen(std::size_t more) {
        SeenSet::Grown grown = seen_.larger_for(more);
        if (!grown.table) return;
        kiv::pool::parallel_for(seen_.slots(), 4 * kPollEvery, [&](std::size_t begin, std::size_t end) {
            for (std::size_t j = begin; j < end && !halted(); j += kPollEvery) {
                seen_.place(grown, j, std::min(end, j + kPollEvery), [this](SeenSet::Id id) { return key_at(id); });
            }
        });
        // A table left half made by a stop is dropped with the search.
        check();
        seen_.adopt(std::move(grown));
    }

    // Fingerprints of the pending block on the pool; then admission on this thread, in offer order.
    void flush() {
        const std::size_t count = pending_.size();
        if (count == 0) return;
        // This block may add up to count entries to the seen set and to the candidate store.
        const std::size_t table = seen_.bytes_to_grow(count);
        require(table + all_.bytes_to_grow(count));
        note(table);
        keys_.resize(count);
        hashes_.resize(count);
        state_.resize(count);
        grow_seen(count);
        kiv::pool::parallel_for(count, 1024, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                if ((i - begin) % kPollEvery == 0 && halted()) break;
                ProbeValues v;
                if (!probe_of(pending_[i], v)) {
                    state_[i] = kNoFingerprint;
                    continue;
                }
                keys_[i] = SeenSet::key_of(v);
                hashes_[i] = seen_.hash(keys_[i]);
                // The set does not change during this pass: what it holds now stays taken.
                state_[i] = seen_.contains(keys_[i], hashes_[i], [this](SeenSet::Id id) { return key_at(id); })
                                ? kTaken
                                : kOpen;
            }
        });
        check();
        for (std::size_t i = 0; i < count; ++i) {
            if (state_[i] != kOpen || !admit(pending_[i], keys_[i], hashes_[i])) continue;
            if (options_.admitted) options_.admitted->push_back(tokens_of(pending_[i]));
        }
        pending_.clear();
        note();
    }

    // Values of member m on rows [begin, end): its kept values, or a column-wise evaluation into scratch.
    const double* member_rows(const Member& m, std::size_t begin, std::size_t end, double* scratch,
                              std::vector<double>& stack) const {
        if (m.rows) return m.rows + begin;
        if (!m.evaluable) return nullptr;
        if (!eval_rows(m.tokens, m.depth, x_, {}, begin, end, scratch, stack)) return nullptr;
        return scratch;
    }

    struct Scratch {
        std::vector<double> a, b, out, stack;
        Scratch() : a(kRowBatch), b(kRowBatch), out(kRowBatch) {}
    };

    // Evaluates candidate c on every row, passing each batch of values to sink(begin, values, count);
    // false when a row fails or the sink returns false.
    template <class Sink>
    bool eval_candidate(const Candidate& c, Scratch& s, Sink sink) const {
        const Member& ma = beam_[c.a];
        const Member& mb = beam_[c.b()];
        const OpKind op = c.op();
        if (op == kSplitOp && ma.part_rows[0] && mb.part_rows[1]) {
            for (std::size_t r = 0; r < rows_; r += kRowBatch) {
                const std::size_t e = std::min(rows_, r + kRowBatch);
                if (!split_lanes(ma.part_rows[0] + r, mb.part_rows[1] + r, s.out.data(), e - r)) return false;
                if (!sink(r, static_cast<const double*>(s.out.data()), e - r)) return false;
            }
            return true;
        }
        if (const int p = op_info(op).part; p >= 0 && ma.part_rows[p]) {
            // Kept parts come with kept rows.
            for (std::size_t r = 0; r < rows_; r += kRowBatch) {
                const std::size_t e = std::min(rows_, r + kRowBatch);
                if (!apply_lanes_from_part(op, ma.rows + r, ma.part_rows[p] + r, s.out.data(), e - r)) return false;
                if (!sink(r, static_cast<const double*>(s.out.data()), e - r)) return false;
            }
            return true;
        }
        const bool binary = arity(op) == 2;
        for (std::size_t r = 0; r < rows_; r += kRowBatch) {
            const std::size_t e = std::min(rows_, r + kRowBatch);
            const double* a = member_rows(ma, r, e, s.a.data(), s.stack);
            if (!a) return false;
            const double* b = nullptr;
            if (binary) {
                b = member_rows(mb, r, e, s.b.data(), s.stack);
                if (!b) return false;
            }
            if (!apply_lanes(op, a, b, s.out.data(), e - r)) return false;
            if (!sink(r, static_cast<const double*>(s.out.data()), e - r)) return false;
        }
        return true;
    }

    // Scores candidate c on every row into sum; false when a row fails, or when the score can no longer
    // come out below limit (NaN: no limit), in which case it is of no use to the level. Where its operands'
    // values are kept, the operator's lanes add to the score themselves, a stretch of rows at a time;
    // otherwise the values are made batch by batch and then scored.
    bool score_candidate(const Candidate& c, Scratch& s, ScoreSum& sum, double limit) const {
        const Member& ma = beam_[c.a];
        const Member& mb = beam_[c.b()];
        const OpKind op = c.op();
        const bool binary = arity(op) == 2;
        const std::size_t k = complexity(c);
        const double penalty = config_.complexity_penalty;
        // Rows between two looks at the limit.
        constexpr std::size_t kStretch = 64;
        auto stretches = [&](auto pass) {
            for (std::size_t r = 0; r < rows_; r += kStretch) {
                const std::size_t n = std::min(kStretch, rows_ - r);
                if (!sum.add_scored(r, n, [&](const double* y, std::size_t m, double& acc) {
                        return pass(r, y, m, n, acc);
                    })) {
                    return false;
                }
                if (sum.cannot_beat(limit, k, penalty)) return false;
            }
            return true;
        };
        if (op == kSplitOp && ma.part_rows[0] && mb.part_rows[1]) {
            return stretches([&](std::size_t r, const double* y, std::size_t m, std::size_t n, double& acc) {
                return score_split_lanes(ma.part_rows[0] + r, mb.part_rows[1] + r, y, m, n, acc);
            });
        }
        if (const int p = op_info(op).part; p >= 0 && ma.part_rows[p]) {
            return stretches([&](std::size_t r, const double* y, std::size_t m, std::size_t n, double& acc) {
                return score_lanes_from_part(op, ma.rows + r, ma.part_rows[p] + r, y, m, n, acc);
            });
        }
        if (ma.rows && (!binary || mb.rows)) {
            return stretches([&](std::size_t r, const double* y, std::size_t m, std::size_t n, double& acc) {
                return score_lanes(op, ma.rows + r, binary ? mb.rows + r : nullptr, y, m, n, acc);
            });
        }
        return eval_candidate(c, s, [&](std::size_t r, const double* v, std::size_t n) {
            sum.add(r, v, n);
            return !sum.cannot_beat(limit, k, penalty);
        });
    }

    // Fits the level's candidates on the pool, block by block, updates the best and extends the beam.
    // True when the best meets the goal. Each block's scores are folded in candidate order: the best is
    // the first candidate with the lowest score (as if each were considered in turn), and a bounded heap
    // keeps the best quarter-beam by rank, which is exactly the head of the whole level sorted by rank.
    bool fit_level(std::uint64_t level) {
        const std::size_t begin = level_begin_, end = all_.size();
        // After the last level nobody reads the beam.
        const bool extend = level + 1 < config_.max_complexity;
        const std::size_t keep = extend ? static_cast<std::size_t>(std::min<std::uint64_t>(
                                              end - begin, config_.beam_width / 4))
                                        : 0;
        const std::size_t block = std::min(std::max<std::size_t>(options_.score_block, 1), end - begin);
        const std::size_t held = block * (sizeof(double) + sizeof(std::uint8_t)) + keep * sizeof(Scored);
        require(held);
        note(0, held);
        std::vector<double> scores(block);
        std::vector<std::uint8_t> ok(block);
        std::vector<Scored> top;
        top.reserve(keep);
        bool have = best_.has_value();
        double best_score = have ? best_->score : 0.0;
        std::optional<std::size_t> best_pos;
        // The first pass is about a quarter-beam, so that the passes after it have a limit; passes then
        // double up to the block size.
        std::size_t pass = std::min(block, std::max<std::size_t>(keep, 64));
        for (std::size_t first = begin, n = 0; first < end; first += n, pass = std::min(block, 2 * pass)) {
            n = std::min(pass, end - first);
            // A candidate of this pass can matter only by scoring below the worst of a full quarter-beam
            // (which, coming later, it must beat outright); beating the best takes no more, the best being no
            // higher. On the last level only the best counts. Both only improve during the pass's fold, so
            // the limit taken here holds for all of it.
            double limit = std::numeric_limits<double>::quiet_NaN();
            if (keep == 0) {
                if (have) limit = best_score;
            } else if (top.size() == keep) {
                limit = top.front().score;
            }
            std::fill_n(ok.begin(), n, std::uint8_t{0});
            kiv::pool::parallel_for(n, 16, [&](std::size_t b, std::size_t e) {
                Scratch s;
                for (std::size_t i = b; i < e; ++i) {
                    if (halted()) break;
                    const Candidate& c = all_[first + i];
                    ScoreSum sum(y_);
                    if (!score_candidate(c, s, sum, limit)) continue;
                    scores[i] = sum.score(complexity(c), config_.complexity_penalty);
                    ok[i] = 1;
                }
            });
            // A level cut short counts for nothing.
            check();
            for (std::size_t i = 0; i < n; ++i) {
                if (!ok[i]) continue;
                const Scored r{scores[i], first + i};
                if (!have || best_score > r.score) {
                    have = true;
                    best_score = r.score;
                    best_pos = r.pos;
                }
                if (keep == 0) continue;
                if (top.size() < keep) {
                    top.push_back(r);
                    std::push_heap(top.begin(), top.end(), ranks_before);
                } else if (ranks_before(r, top.front())) {
                    std::pop_heap(top.begin(), top.end(), ranks_before);
                    top.back() = r;
                    std::push_heap(top.begin(), top.end(), ranks_before);
                }
            }
        }
        if (best_pos) {
            FitResult r;
            r.tokens = tokens_of(all_[*best_pos]);
            r.complexity = r.tokens.size();
            r.score = best_score;
            best_ = std::move(r);
        }
        report(level);
        if (goal_met()) return true;
        check();
        if (top.empty()) return false;
        std::sort_heap(top.begin(), top.end(), ranks_before);
        join(top);
        return false;
    }

    // Appends the candidates of results to the beam with their tokens and probe values, and, within the
    // allowance, their values on every row (computed on the pool).
    void join(const std::vector<Scored>& results) {
        const std::size_t take = results.size();
        // Kept rows within the allowance, the new members with their tokens, and the beam's own growth.
        std::size_t bytes =
            take * (sizeof(Candidate) + 3 * sizeof(double*) + sizeof(Member) + sizeof(std::size_t));
        std::size_t lists = within_.size();
        for (std::size_t k = 0; k < take; ++k) {
            const std::size_t c = complexity(all_[results[k].pos]);
            bytes += c * sizeof(Token);
            lists = std::max(lists, c);
        }
        // The partner lists: new bounds list every member, and each list may double its capacity.
        bytes += 2 * (lists * (beam_.size() + take)) * sizeof(std::uint32_t);
        if (rows_ > 0) {
            // What the reservations below take from the allowance: rows, then parts, member by member.
            const std::size_t row_bytes = rows_ * sizeof(double);
            std::size_t left = cache_left_;
            for (std::size_t k = 0; k < take && left >= row_bytes; ++k) {
                left -= row_bytes;
                if (split_ && parts_fit(left)) left -= 2 * row_bytes;
            }
            bytes += cache_left_ - left;
        }
        if (beam_.capacity() - beam_.size() < take) {
            bytes += std::max(2 * beam_.capacity(), beam_.size() + take) * (sizeof(Member) + sizeof(std::size_t));
        }
        require(bytes);
        std::vector<Candidate> joined(take);
        std::vector<double*> rows(take);
        std::vector<std::array<double*, 2>> parts(split_ ? take : 0);
        for (std::size_t k = 0; k < take; ++k) {
            joined[k] = all_[results[k].pos];
            rows[k] = reserve_rows();
            if (split_ && rows[k]) parts[k] = reserve_parts();
        }
        kiv::pool::parallel_for(take, 8, [&](std::size_t begin, std::size_t end) {
            Scratch s;
            for (std::size_t k = begin; k < end; ++k) {
                if (halted()) break;
                if (double* out = rows[k]) {
                    eval_candidate(joined[k], s, [&](std::size_t r, const double* v, std::size_t n) {
                        std::copy(v, v + n, out + r);
                        return true;
                    });
                    if (split_ && parts[k][0]) fill_parts(out, parts[k]);
                }
            }
        });
        check();
        for (std::size_t k = 0; k < take; ++k) {
            Member m;
            m.tokens = tokens_of(joined[k]);
            probe_of(joined[k], m.probe);
            m.depth = stack_depth(m.tokens, x_.size()).value_or(1);
            m.rows = rows[k];
            if (split_) {
                split_probes(m);
                if (parts[k][0]) m.part_rows = {parts[k][0], parts[k][1]};
            }
            append_member(std::move(m));
        }
        note();
    }

    const Columns& x_;
    std::span<const double> y_;
    std::size_t n_;
    const SearchConfig& config_;
    const SearchOptions& options_;
    std::size_t rows_ = 0;
    std::size_t cache_left_;
    const bool watched_;                              // a stop flag or a deadline is set
    mutable std::atomic<std::uint8_t> halted_{0};     // the StopReason first seen
    std::uint64_t levels_done_ = 0;
    std::uint64_t level_ = 0;  // the level being built

    std::vector<OpKind> unary_, binary_;
    bool split_ = false;  // the split operator is offered, so members keep its parts
    SeenSet seen_;
    std::vector<Member> beam_;
    std::vector<std::size_t> counts_;  // token count of each beam member
    // within_[k]: the members of at most k tokens, in ascending order, for k below the largest count.
    std::vector<std::vector<std::uint32_t>> within_;
    std::vector<std::unique_ptr<double[]>> store_;
    std::optional<FitResult> best_;

    std::vector<ProbeValues> seed_probes_;  // of the admitted seeds, in order
    CandidateStore all_;                    // every admitted candidate, the seeds first
    std::size_t level_begin_ = 0;           // where the level being built starts in all_
    std::vector<Candidate> pending_;
    std::vector<SeenSet::Key> keys_;
    std::vector<std::uint64_t> hashes_;
    enum : std::uint8_t { kNoFingerprint, kTaken, kOpen };
    std::vector<std::uint8_t> state_;
};

}  // namespace

std::optional<FitResult> beam_search(const Columns& x_data, std::span<const double> y_data, std::size_t n,
                                     const SearchConfig& config, const SearchOptions& options) {
    return run_beam_search(x_data, y_data, n, config, options).best;
}

SearchOutcome run_beam_search(const Columns& x_data, std::span<const double> y_data, std::size_t n,
                              const SearchConfig& config, const SearchOptions& options) {
    Search search(x_data, y_data, n, config, options);
    return search.run();
}

}  // namespace kiv::discover
