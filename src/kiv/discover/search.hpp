// The level-by-level beam search over postfix expressions that finds the best-scoring formula.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "kiv/discover/config.hpp"
#include "kiv/discover/expr.hpp"
#include "kiv/discover/fit.hpp"

namespace kiv::discover {

// Peak bytes of each holder of memory in one search (each one's own peak; they need not peak together),
// for measuring where the memory goes.
struct SearchFootprint {
    std::size_t seen_set = 0;     // the table of admitted probe keys, two tables while it grows
    std::size_t candidates = 0;   // every admitted candidate, and the block being fingerprinted
    std::size_t scores = 0;       // one level's scores and its best quarter-beam
    std::size_t cached_rows = 0;  // beam members' values (and their kiv parts) on every row
    std::size_t members = 0;      // beam members' records, tokens and partner lists
    std::size_t total = 0;        // the largest sum of the above at one time
    std::size_t candidates_admitted = 0;
    std::size_t largest_level = 0;  // candidates admitted at one level, at most
};

// Knobs that change how the search works, never what it finds.
struct SearchOptions {
    // When set, receives every admitted expression in admission order: the seeds, then each level's
    // candidates.
    std::vector<Expr>* admitted = nullptr;
    // Bytes allowed for keeping beam members' values on every row, and, when kiv is offered, the two parts
    // kiv takes from its operands (exp and ln of those values, three arrays of rows per member in all; the
    // parts stop where they would leave less than a third of the allowance); members beyond the allowance
    // are re-evaluated from their tokens whenever a candidate built on them is scored.
    std::size_t row_cache_bytes = std::size_t{256} << 20;
    // Candidates fingerprinted per parallel pass before they are admitted in order.
    std::size_t fingerprint_block = std::size_t{1} << 15;
    // Candidates scored per parallel pass, at most, before their scores are folded, in order, into the
    // level's best and its best quarter-beam: only that many scores are held at a time.
    std::size_t score_block = std::size_t{1} << 12;

    // Hooks for a caller that runs the search away from its own thread and must be able to end it. None
    // of them changes what the search finds up to the point where it stops.
    //
    // stop: when it points to a flag, the flag is read (relaxed) between bounded steps of work on every
    // thread of the search — fingerprint blocks, each candidate fitted, each member joined to the beam,
    // each row of the pairing loop — so that setting it ends the search within a few milliseconds of
    // work. The seeds are always fitted; a flag already set on entry ends the search right after them.
    const std::atomic<bool>* stop = nullptr;
    // deadline: read at the same places; once it has passed, the search ends as for a stop.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    // progress: called on the searching thread after the seeds are fitted (level 0) and after each level
    // is fitted (1, 2, ... in order), with the best result so far (formula rendered), which never gets
    // worse from one call to the next. Not called for a level that was cut short. An exception it throws
    // ends the search and propagates to the caller.
    std::function<void(std::uint64_t level, const FitResult& best)> progress;
    // footprint: when set, receives the peak bytes of each holder of memory in the search.
    SearchFootprint* footprint = nullptr;
    // front: when set, the outcome carries the search's Pareto front (SearchOutcome::front).
    bool front = false;
};

// One formula of a search's Pareto front, as reported: its tokens (fitted constants as constant tokens of
// full precision), the score the search ranked it by, and its rmse from evaluating the tokens as they stand
// on the rows. Without scaling the score is that of the tokens too; with scaling it counts the map's four
// tokens and the map's rmse before the leaving-out rule (see scaling.hpp), as the best's score does.
struct FrontEntry {
    Expr tokens;
    double score = 0.0;
    double rmse = 0.0;
};

// Why a search ended before its last level.
enum class StopReason : std::uint8_t {
    None,       // it ran to its end (the goal, the last level, or no new candidates)
    Requested,  // the stop flag was set
    Deadline,   // the deadline passed
};

// What run_beam_search returns. When stopped, best is the best over the seeds and the levels fitted in
// full (a level cut short counts for nothing), which is what the last progress call reported; the worker
// pool is idle and every byte the search held is released. The admitted list, when kept, then ends with
// whatever the cut level admitted before it stopped.
struct SearchOutcome {
    std::optional<FitResult> best;
    StopReason stopped = StopReason::None;
    std::uint64_t levels = 0;  // levels fitted in full after the seeds
    // When asked for: per token count of the reported formulas, the one with the lowest rmse over the
    // whole search, kept only where it beats every shorter one (strictly falling rmse), in ascending
    // token count. A candidate counts once it is scored, in a level cut short as well (the passes of it
    // that finished).
    std::vector<FrontEntry> front;
};

// Best result over all levels of the search over n variables, or none when no candidate evaluates on the
// data. Data errors (no columns, a later column shorter than the first) raise the index-out-of-bounds
// internal failure. A level that needs more memory than the process can get (available memory, its memory
// cgroups, its address-space limit) raises kiv::OutOfMemory before it is allocated, as does an allocation
// that fails all the same; everything the search held is released by then.
std::optional<FitResult> beam_search(const Columns& x_data, std::span<const double> y_data, std::size_t n,
                                     const SearchConfig& config, const SearchOptions& options = {});

// The same search, also saying whether and why it stopped early (see SearchOptions::stop, deadline).
SearchOutcome run_beam_search(const Columns& x_data, std::span<const double> y_data, std::size_t n,
                              const SearchConfig& config, const SearchOptions& options = {});

}  // namespace kiv::discover
