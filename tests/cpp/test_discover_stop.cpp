// Search hooks: the stop flag, the deadline and the per-level progress report.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

#include "kiv/discover/search.hpp"

using namespace kiv::discover;
using Clock = std::chrono::steady_clock;

namespace {

struct Level {
    std::uint64_t level;
    std::string formula;
    double score;
};

// n rows of one variable and a target no short formula fits, so the goal never ends the search.
void problem(std::size_t n, Columns& x, std::vector<double>& y) {
    x.assign(1, std::vector<double>(n));
    y.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double v = -3.0 + 6.0 * static_cast<double>(i) / static_cast<double>(n);
        x[0][i] = v;
        y[i] = std::sin(3.7 * v) + 0.3 * v * v * v + 0.01 * std::cos(17.0 * v * v);
    }
}

SearchOutcome run(const Columns& x, const std::vector<double>& y, const SearchConfig& cfg, SearchOptions opt,
                  std::vector<Level>* levels = nullptr) {
    if (levels) {
        opt.progress = [levels](std::uint64_t level, const FitResult& best) {
            levels->push_back({level, best.formula, best.score});
        };
    }
    return run_beam_search(x, y, x.size(), cfg, opt);
}

void expect_best(const SearchOutcome& out, const Level& want) {
    ASSERT_TRUE(out.best);
    EXPECT_EQ(out.best->formula, want.formula);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(out.best->score), std::bit_cast<std::uint64_t>(want.score));
}

TEST(SearchHooks, ProgressReportsEveryLevelInOrderNeverWorse) {
    Columns x;
    std::vector<double> y;
    problem(120, x, y);
    SearchConfig cfg;
    cfg.max_complexity = 7;
    std::vector<Level> levels;
    SearchOutcome out = run(x, y, cfg, {}, &levels);
    EXPECT_EQ(out.stopped, StopReason::None);
    ASSERT_EQ(levels.size(), cfg.max_complexity);  // the seeds and levels 1..6
    for (std::size_t i = 0; i < levels.size(); ++i) {
        EXPECT_EQ(levels[i].level, i);
        if (i > 0) {
            EXPECT_LE(levels[i].score, levels[i - 1].score);
        }
    }
    EXPECT_EQ(out.levels, cfg.max_complexity - 1);
    expect_best(out, levels.back());
    // The hooks change nothing: the plain search finds the same.
    auto plain = beam_search(x, y, 1, cfg);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->formula, out.best->formula);
    EXPECT_EQ(plain->tokens, out.best->tokens);
}

// A stop already set, or a deadline already passed, ends the search right after the seeds.
TEST(SearchHooks, StopOrPastDeadlineOnEntryEndsAfterTheSeeds) {
    Columns x;
    std::vector<double> y;
    problem(50, x, y);
    SearchConfig seeds_only;
    seeds_only.max_complexity = 1;
    auto want = beam_search(x, y, 1, seeds_only);
    ASSERT_TRUE(want);

    std::atomic<bool> stop{true};
    SearchOptions by_flag;
    by_flag.stop = &stop;
    SearchOptions by_clock;
    by_clock.deadline = Clock::now() - std::chrono::seconds(1);
    for (const auto& [opt, why] : {std::pair{by_flag, StopReason::Requested}, std::pair{by_clock, StopReason::Deadline}}) {
        std::vector<Expr> admitted;
        SearchOptions o = opt;
        o.admitted = &admitted;
        std::vector<Level> levels;
        SearchOutcome out = run(x, y, SearchConfig{}, o, &levels);
        EXPECT_EQ(out.stopped, why);
        EXPECT_EQ(out.levels, 0u);
        ASSERT_EQ(levels.size(), 1u);
        EXPECT_EQ(levels[0].level, 0u);
        expect_best(out, levels[0]);
        EXPECT_EQ(out.best->tokens, want->tokens);
        EXPECT_EQ(admitted.size(), 3u);  // 0, 1, x
    }
}

// A stop from another thread ends the search promptly, with the best over the levels that were fitted in
// full; the pool then serves the next search normally. The search waits in its level-2 report until the
// other thread has set the flag, so the stop always lands before the search could end by itself.
TEST(SearchHooks, StopFromAnotherThreadKeepsTheCompletedLevels) {
    Columns x;
    std::vector<double> y;
    problem(20000, x, y);
    SearchConfig cfg;
    cfg.max_complexity = 9;
    std::atomic<bool> stop{false};
    std::atomic<bool> level_two{false};
    SearchOptions opt;
    opt.stop = &stop;
    std::vector<Level> levels;
    opt.progress = [&](std::uint64_t level, const FitResult& best) {
        levels.push_back({level, best.formula, best.score});
        if (level != 2) return;
        level_two = true;
        while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    Clock::time_point stopped_at;
    std::thread stopper([&] {
        while (!level_two) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stopped_at = Clock::now();
        stop = true;
    });
    SearchOutcome out = run_beam_search(x, y, 1, cfg, opt);
    const auto returned_at = Clock::now();
    stopper.join();
    EXPECT_EQ(out.stopped, StopReason::Requested);
    ASSERT_FALSE(levels.empty());
    EXPECT_LT(levels.back().level, cfg.max_complexity - 1);
    EXPECT_EQ(out.levels, levels.back().level);
    expect_best(out, levels.back());
    // Generous bound for a loaded machine; the benchmark measures the real latency.
    EXPECT_LT(returned_at - stopped_at, std::chrono::seconds(2));

    Columns small;
    std::vector<double> small_y;
    problem(40, small, small_y);
    SearchConfig quick;
    quick.max_complexity = 5;
    auto a = beam_search(small, small_y, 1, quick);
    auto b = beam_search(small, small_y, 1, quick);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->tokens, b->tokens);
}

TEST(SearchHooks, ProgressExceptionPropagates) {
    Columns x;
    std::vector<double> y;
    problem(60, x, y);
    SearchOptions opt;
    opt.progress = [](std::uint64_t level, const FitResult&) {
        if (level == 2) throw std::runtime_error("enough");
    };
    EXPECT_THROW(run_beam_search(x, y, 1, SearchConfig{}, opt), std::runtime_error);
}

}  // namespace
