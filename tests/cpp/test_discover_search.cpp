// Beam search: the admitted sequence, stopping rules and edge cases, and agreement with the literal search.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>

#include "discover_test_util.hpp"
#include "kiv/discover/render.hpp"
#include "kiv/discover/search.hpp"
#include "kiv/failure.hpp"
#include "literal_search.hpp"

using namespace kiv::discover;
using namespace kiv::discover::testing;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Outcome {
    std::optional<FitResult> best;
    std::vector<Expr> admitted;
};

Outcome fast(const Columns& x, const std::vector<double>& y, std::size_t n, const SearchConfig& cfg,
             std::size_t cache = SearchOptions{}.row_cache_bytes, std::size_t block = SearchOptions{}.fingerprint_block,
             std::size_t score_block = SearchOptions{}.score_block) {
    Outcome run;
    SearchOptions opt;
    opt.admitted = &run.admitted;
    opt.row_cache_bytes = cache;
    opt.fingerprint_block = block;
    opt.score_block = score_block;
    run.best = beam_search(x, y, n, cfg, opt);
    return run;
}

Outcome slow(const Columns& x, const std::vector<double>& y, std::size_t n, const SearchConfig& cfg) {
    Outcome run;
    run.best = literal::beam_search(x, y, n, cfg, &run.admitted);
    return run;
}

std::vector<std::string> texts(const std::vector<Expr>& exprs, std::size_t from = 0) {
    std::vector<std::string> out;
    for (std::size_t i = from; i < exprs.size(); ++i) out.push_back(render_formula(exprs[i]));
    return out;
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

void expect_same(const Outcome& a, const Outcome& b, const std::string& where) {
    ASSERT_EQ(a.best.has_value(), b.best.has_value()) << where;
    if (a.best) {
        EXPECT_EQ(a.best->formula, b.best->formula) << where;
        EXPECT_EQ(bits(a.best->score), bits(b.best->score)) << where;
        EXPECT_EQ(a.best->complexity, b.best->complexity) << where;
        EXPECT_EQ(a.best->tokens, b.best->tokens) << where;
        EXPECT_TRUE(a.best->params.empty());
    }
    ASSERT_EQ(a.admitted.size(), b.admitted.size()) << where;
    for (std::size_t i = 0; i < a.admitted.size(); ++i) {
        ASSERT_EQ(a.admitted[i], b.admitted[i]) << where << " admitted #" << i << ": "
                                                << render_formula(a.admitted[i]) << " vs "
                                                << render_formula(b.admitted[i]);
    }
}

// A target no short formula fits, so the goal never stops the search.
std::vector<double> awkward(const std::vector<double>& x) {
    std::vector<double> y;
    for (double v : x) y.push_back(std::sin(3.7 * v) + 0.3 * v * v * v + 0.01 * std::cos(17.0 * v * v));
    return y;
}

const std::vector<std::string> kLevelOne = {
    "(-0.0000)", "(-1.0000)", "exp(1.0000)", "sin(1.0000)", "cos(1.0000)", "(-x)", "(1/x)", "exp(x)",
    "ln(x)", "sqrt(x)", "sin(x)", "cos(x)", "kiv(0.0000, 0.0000)", "kiv(1.0000, 0.0000)", "(1.0000 + 1.0000)",
    "kiv(x, 0.0000)", "kiv(0.0000, x)", "(x + 1.0000)", "(x - 1.0000)", "(1.0000 - x)", "kiv(1.0000, x)",
    "(x + x)", "(x * x)", "kiv(x, x)"};

TEST(BeamSearch, LevelOneAdmitsTwentyFourCandidatesInOrder) {
    Columns x = {{1.0, 2.0, 3.0, 4.0}};
    SearchConfig cfg;
    cfg.max_complexity = 3;
    for (const Outcome& run : {fast(x, awkward(x[0]), 1, cfg), slow(x, awkward(x[0]), 1, cfg)}) {
        ASSERT_GE(run.admitted.size(), 3u + kLevelOne.size());
        auto seeds = texts(run.admitted);
        seeds.resize(3);
        EXPECT_EQ(seeds, (std::vector<std::string>{"0.0000", "1.0000", "x"}));
        auto level_one = texts(run.admitted, 3);
        level_one.resize(kLevelOne.size());
        EXPECT_EQ(level_one, kLevelOne);
    }
    // The first negation is -0.0, distinct from the seed 0.0 bit for bit.
    Outcome run = fast(x, awkward(x[0]), 1, cfg);
    EXPECT_EQ(run.admitted[3], E({C(0.0), O(OpKind::Neg)}));
    // With nothing joining the beam, level 1 is the whole search: exactly those 24.
    cfg.beam_width = 0;
    EXPECT_EQ(texts(fast(x, awkward(x[0]), 1, cfg).admitted, 3), kLevelOne);
    EXPECT_EQ(texts(slow(x, awkward(x[0]), 1, cfg).admitted, 3), kLevelOne);
}

TEST(BeamSearch, LevelOneListWithoutTrigOrKiv) {
    Columns x = {{1.0, 2.0, 3.0, 4.0}};
    SearchConfig cfg;
    cfg.max_complexity = 3;
    cfg.beam_width = 0;
    cfg.use_trig = false;
    cfg.use_kiv = false;
    std::vector<std::string> want;
    for (const auto& t : kLevelOne) {
        if (t.find("sin") == std::string::npos && t.find("cos") == std::string::npos && t.find("kiv") == std::string::npos) {
            want.push_back(t);
        }
    }
    EXPECT_EQ(texts(fast(x, awkward(x[0]), 1, cfg).admitted, 3), want);
    EXPECT_EQ(texts(slow(x, awkward(x[0]), 1, cfg).admitted, 3), want);
}

TEST(BeamSearch, DoublingIsFoundAtLevelOne) {
    Columns x = {{1.0, 2.0, 3.0}};
    std::vector<double> y = {2.0, 4.0, 6.0};
    Outcome f = fast(x, y, 1, SearchConfig{});
    ASSERT_TRUE(f.best);
    EXPECT_EQ(f.best->formula, "(x + x)");
    EXPECT_EQ(f.best->complexity, 3u);
    EXPECT_EQ(f.best->score, 0.0);
    // The search stopped right after level 1: seeds plus the 24 candidates.
    EXPECT_EQ(f.admitted.size(), 3u + 24u);
    expect_same(f, slow(x, y, 1, SearchConfig{}), "doubling");
}

TEST(BeamSearch, ExactColumnStopsAfterTheSeeds) {
    Columns x = {{1.0, 2.5, -3.0}, {4.0, 5.0, 6.0}};
    for (std::size_t col = 0; col < 2; ++col) {
        Outcome f = fast(x, x[col], 2, SearchConfig{});
        ASSERT_TRUE(f.best);
        EXPECT_EQ(f.best->formula, col == 0 ? "x" : "y");
        EXPECT_EQ(f.best->complexity, 1u);
        EXPECT_EQ(f.best->score, 0.0);
        EXPECT_EQ(f.admitted.size(), 4u);
    }
}

TEST(BeamSearch, GoalIsInclusiveAndNegativeGoalsRunOn) {
    Columns x = {{1.0, 2.0, 3.0}};
    std::vector<double> y = {1.5, 1.5, 1.5};
    SearchConfig cfg;
    cfg.max_complexity = 1;
    Outcome seeds = fast(x, y, 1, cfg);
    ASSERT_TRUE(seeds.best);
    EXPECT_EQ(seeds.best->formula, "1.0000");  // rmse 0.5, the best seed
    cfg.max_complexity = 8;
    cfg.precision_goal = seeds.best->score;    // met exactly by the seed: stop there
    EXPECT_EQ(fast(x, y, 1, cfg).admitted.size(), 3u);
    cfg.precision_goal = std::nextafter(seeds.best->score, 0.0);
    cfg.max_complexity = 4;
    Outcome more = fast(x, y, 1, cfg);
    EXPECT_GT(more.admitted.size(), 3u);
    expect_same(more, slow(x, y, 1, cfg), "goal just below the seed");
}

TEST(BeamSearch, TiesKeepTheEarlierResult) {
    // x is constant 2, so x (a seed) and 1 + 1 (level 1) both fit exactly; without a penalty they tie.
    Columns x = {{2.0, 2.0, 2.0}};
    std::vector<double> y = {2.0, 2.0, 2.0};
    SearchConfig cfg;
    cfg.complexity_penalty = 0.0;
    cfg.precision_goal = -1.0;
    cfg.max_complexity = 3;
    Outcome f = fast(x, y, 1, cfg);
    ASSERT_TRUE(f.best);
    EXPECT_EQ(f.best->formula, "x");
    expect_same(f, slow(x, y, 1, cfg), "ties");
}

TEST(BeamSearch, NaNScoresKeepTheFirstSeed) {
    Columns x = {{1.0, 2.0, 3.0}};
    SearchConfig cfg;
    cfg.max_complexity = 4;
    cfg.beam_width = 40;
    for (const std::vector<double>& y : {std::vector<double>{1.0, kNaN, 2.0}, std::vector<double>{}}) {
        Outcome f = fast(x, y, 1, cfg);
        ASSERT_TRUE(f.best);
        EXPECT_EQ(f.best->formula, "0.0000");
        EXPECT_EQ(f.best->complexity, 1u);
        EXPECT_TRUE(std::isnan(f.best->score));
        // The goal never fires, so the levels run on.
        EXPECT_GT(f.admitted.size(), 27u);
        expect_same(f, slow(x, y, 1, cfg), "NaN scores");
    }
}

TEST(BeamSearch, SmallComplexityLimits) {
    Columns x = {{1.0, 2.0, 3.0}};
    std::vector<double> y = awkward(x[0]);
    for (std::uint64_t mc : {0u, 1u}) {
        SearchConfig cfg;
        cfg.max_complexity = mc;
        Outcome f = fast(x, y, 1, cfg);
        ASSERT_TRUE(f.best);
        EXPECT_EQ(f.best->complexity, 1u);
        EXPECT_EQ(f.admitted.size(), 3u);
        expect_same(f, slow(x, y, 1, cfg), "max_complexity 0/1");
    }
    // Two tokens: only unary extensions, never a pair.
    SearchConfig cfg;
    cfg.max_complexity = 2;
    Outcome f = fast(x, y, 1, cfg);
    EXPECT_EQ(texts(f.admitted, 3), (std::vector<std::string>(kLevelOne.begin(), kLevelOne.begin() + 12)));
    expect_same(f, slow(x, y, 1, cfg), "max_complexity 2");
}

TEST(BeamSearch, NarrowBeamEndsAfterLevelOne) {
    Columns x = {{1.0, 2.0, 3.0}};
    std::vector<double> y = awkward(x[0]);
    for (std::uint64_t bw : {0u, 1u, 3u}) {
        SearchConfig cfg;
        cfg.beam_width = bw;
        Outcome f = fast(x, y, 1, cfg);
        EXPECT_EQ(texts(f.admitted, 3), kLevelOne);
        expect_same(f, slow(x, y, 1, cfg), "narrow beam");
    }
    // One member joins per level from width 4 on, and level 2 then admits more.
    SearchConfig cfg;
    cfg.beam_width = 4;
    cfg.max_complexity = 4;
    Outcome f = fast(x, y, 1, cfg);
    EXPECT_GT(f.admitted.size(), 3u + 24u);
    expect_same(f, slow(x, y, 1, cfg), "beam width 4");
}

TEST(BeamSearch, ColumnsWithoutRows) {
    Columns x = {{}};
    Outcome f = fast(x, {1.0, 2.0}, 1, SearchConfig{});
    ASSERT_TRUE(f.best);
    EXPECT_EQ(f.best->formula, "0.0000");
    EXPECT_EQ(f.best->complexity, 1u);
    EXPECT_EQ(f.best->score, 0.0);
    EXPECT_TRUE(std::signbit(f.best->score));
    // Below a zero goal every candidate "fits" (no rows to fail on) with score -0.0.
    SearchConfig cfg;
    cfg.precision_goal = -1.0;
    cfg.max_complexity = 4;
    cfg.beam_width = 20;
    expect_same(fast(x, {1.0, 2.0}, 1, cfg), slow(x, {1.0, 2.0}, 1, cfg), "zero rows");
}

TEST(BeamSearch, TargetsShorterOrLongerThanTheColumns) {
    Columns x = {{1.0, 2.0, 3.0, 4.0}};
    // Only the common prefix is compared: x + x fits both targets exactly.
    for (const std::vector<double>& y : {std::vector<double>{2.0, 4.0}, std::vector<double>{2.0, 4.0, 6.0, 8.0, 100.0}}) {
        Outcome f = fast(x, y, 1, SearchConfig{});
        ASSERT_TRUE(f.best);
        EXPECT_EQ(f.best->formula, "(x + x)");
        EXPECT_EQ(f.best->score, 0.0);
        expect_same(f, slow(x, y, 1, SearchConfig{}), "prefix targets");
    }
    // The squared differences of the prefix are divided by the target length.
    SearchConfig cfg;
    cfg.max_complexity = 1;
    Outcome shorter = fast(x, {1.5, 2.5}, 1, cfg);
    ASSERT_TRUE(shorter.best);
    EXPECT_EQ(shorter.best->formula, "x");
    EXPECT_EQ(shorter.best->score, std::sqrt(0.5 / 2.0) * (1.0 * 0.001 + 1.0));
    Outcome longer = fast(x, {1.5, 2.5, 3.5, 4.5, 1000.0, 1000.0}, 1, cfg);
    ASSERT_TRUE(longer.best);
    EXPECT_EQ(longer.best->formula, "x");
    EXPECT_EQ(longer.best->score, std::sqrt(1.0 / 6.0) * (1.0 * 0.001 + 1.0));
    cfg.max_complexity = 4;
    cfg.beam_width = 40;
    std::vector<double> y = {1.0, 2.5, 3.0, 4.0, 100.0, -7.0};
    expect_same(fast(x, y, 1, cfg), slow(x, y, 1, cfg), "longer targets");
}

void expect_panic(const Columns& x, std::size_t n, const char* message) {
    for (bool literal_search : {false, true}) {
        try {
            if (literal_search) (void)literal::beam_search(x, std::vector<double>{1.0, 2.0}, n, SearchConfig{});
            else (void)beam_search(x, std::vector<double>{1.0, 2.0}, n, SearchConfig{});
            ADD_FAILURE() << "expected a failure";
        } catch (const kiv::InternalFailure& f) {
            EXPECT_STREQ(f.what(), message);
        }
    }
}

TEST(BeamSearch, DataErrorsRaiseOutOfBounds) {
    expect_panic({}, 0, "index out of bounds: the len is 0 but the index is 0");
    expect_panic({{1.0, 2.0, 3.0}, {1.0}}, 2, "index out of bounds: the len is 1 but the index is 1");
    expect_panic({{1.0, 2.0}, {1.0, 2.0, 3.0}, {}}, 3, "index out of bounds: the len is 0 but the index is 0");
}

TEST(BeamSearch, NoEvaluableCandidateGivesNothing) {
    // With more variables than columns, and rows present, only the constants evaluate; the search still
    // ends normally. Variables beyond the data never evaluate.
    Columns x = {{1.0, 2.0}};
    SearchConfig cfg;
    cfg.max_complexity = 3;
    cfg.beam_width = 40;
    Outcome f = fast(x, {5.0, 5.0}, 2, cfg);
    ASSERT_TRUE(f.best);
    expect_same(f, slow(x, {5.0, 5.0}, 2, cfg), "variables beyond the data");
}

// Random small configurations: the fast search and the literal one return the same result and admit the
// same expressions in the same order, with and without kept row values.
TEST(BeamSearch, AgreesWithTheLiteralSearch) {
    std::mt19937_64 rng(2024);
    auto pick = [&](auto... values) {
        std::vector<std::common_type_t<decltype(values)...>> v{values...};
        return v[rng() % v.size()];
    };
    std::uniform_real_distribution<double> val(-2.0, 3.0);
    const std::vector<double> specials = {0.0, -0.0, 1.0, 2.0, -1.0, 1e-305, 800.0, kNaN};
    std::size_t total_admitted = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::size_t cols = pick(1u, 1u, 2u, 3u);
        std::size_t rows = pick(0u, 1u, 3u, 7u, 20u, 300u);
        Columns x(cols, std::vector<double>(rows));
        for (auto& c : x) {
            for (auto& v : c) v = (rng() % 12 == 0) ? specials[rng() % specials.size()] : std::round(val(rng) * 4.0) / 4.0;
        }
        std::size_t y_len = pick(rows, rows, rows, rows + 2, rows / 2);
        std::vector<double> y(y_len);
        for (auto& v : y) v = (rng() % 50 == 0) ? kNaN : val(rng);
        if (rows > 0 && rng() % 4 == 0) {
            // A target some formula fits exactly.
            for (std::size_t r = 0; r < y_len && r < rows; ++r) y[r] = x[0][r] * x[0][r] + 1.0;
        }
        SearchConfig cfg;
        cfg.max_complexity = pick(0u, 2u, 3u, 4u, 5u, 5u, 6u, 6u);
        cfg.beam_width = pick(0u, 3u, 4u, 9u, 40u, 120u, 400u);
        cfg.precision_goal = pick(1e-10, 1e-10, -1.0, 0.3, kNaN);
        cfg.complexity_penalty = pick(0.001, 0.0, 0.05, -0.01, -0.5);
        cfg.use_trig = rng() % 2;
        cfg.use_kiv = rng() % 3 != 0;
        std::size_t n = (rng() % 8 == 0) ? cols + 1 : (rng() % 8 == 0 ? cols - 1 : cols);
        std::size_t cache = pick(std::size_t{0}, std::size_t{300 * 8 * 5}, SearchOptions{}.row_cache_bytes);
        std::size_t block = pick(std::size_t{1}, std::size_t{7}, std::size_t{1000}, SearchOptions{}.fingerprint_block);
        std::size_t scored = pick(std::size_t{1}, std::size_t{5}, std::size_t{300}, SearchOptions{}.score_block);
        std::ostringstream where;
        where << "trial " << trial << " cols " << cols << " rows " << rows << " n " << n << " mc "
              << cfg.max_complexity << " bw " << cfg.beam_width << " cache " << cache << " block " << block
              << " scored " << scored;
        Outcome s = slow(x, y, n, cfg);
        total_admitted += s.admitted.size();
        expect_same(fast(x, y, n, cfg, cache, block, scored), s, where.str());
        if (::testing::Test::HasFailure()) return;
    }
    // The trials must reach deep levels, not only seeds and early stops.
    EXPECT_GT(total_admitted, 100000u);
}

// Larger searches, whose levels span many fingerprint and scoring blocks and whose seen set grows many
// times, agree with the literal search too.
TEST(BeamSearch, AgreesWithTheLiteralSearchOnLargerSearches) {
    std::vector<double> col(200);
    for (std::size_t i = 0; i < col.size(); ++i) col[i] = 0.1 + 3.9 * static_cast<double>(i) / 199.0;
    std::vector<double> col2(col.rbegin(), col.rend()), col3 = awkward(col2);
    struct Case {
        Columns x;
        std::uint64_t mc, bw;
        std::size_t score_block;
    };
    for (const Case& c : {Case{{col}, 8, 2000, 4096}, Case{{col}, 9, 2400, 100000},
                          Case{{col, col2, col3}, 7, 1200, 777}}) {
        SearchConfig cfg;
        cfg.max_complexity = c.mc;
        cfg.beam_width = c.bw;
        const std::vector<double> y = awkward(c.x.back());
        const Outcome s = slow(c.x, y, c.x.size(), cfg);
        EXPECT_GT(s.admitted.size(), 20000u);
        expect_same(fast(c.x, y, c.x.size(), cfg, SearchOptions{}.row_cache_bytes, 5000, c.score_block), s,
                    "columns " + std::to_string(c.x.size()) + " mc " + std::to_string(c.mc));
    }
}

// A penalty that makes the factor negative turns a growing sum into a falling score: no candidate may be
// cut short then.
TEST(BeamSearch, NegativeFactorsCutNothingShort) {
    std::vector<double> col(300);
    for (std::size_t i = 0; i < col.size(); ++i) col[i] = 0.1 + 0.01 * static_cast<double>(i);
    const std::vector<double> y = awkward(col);
    SearchConfig cfg;
    cfg.max_complexity = 6;
    cfg.beam_width = 80;
    cfg.complexity_penalty = -0.6;
    cfg.precision_goal = -1e300;  // negative scores would meet the default goal
    expect_same(fast({col}, y, 1, cfg, SearchOptions{}.row_cache_bytes, 100, 20), slow({col}, y, 1, cfg), "penalty -0.6");
}

// The same searches in child processes whose pools run 1 and 3 threads give identical results.
TEST(BeamSearch, IndependentOfThreadCount) {
    std::vector<double> col(400);
    for (std::size_t i = 0; i < col.size(); ++i) col[i] = 0.05 * static_cast<double>(i) - 7.0;
    Columns x = {col, awkward(col)};
    std::vector<double> y = awkward(x[1]);
    SearchConfig cfg;
    cfg.max_complexity = 5;
    cfg.beam_width = 400;
    auto digest = [&](std::size_t cache) {
        Outcome r = fast(x, y, 2, cfg, cache);
        std::ostringstream out;
        out << r.best->formula << ' ' << bits(r.best->score) << ' ' << r.admitted.size() << ' ';
        std::uint64_t h = 0;
        for (const auto& e : r.admitted) h = h * 31 + std::hash<std::string>{}(render_formula(e));
        out << h;
        return out.str();
    };
    const std::string here = digest(SearchOptions{}.row_cache_bytes);
    for (const char* threads : {"1", "3"}) {
        for (std::size_t cache : {SearchOptions{}.row_cache_bytes, std::size_t{0}}) {
            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(fds[0]);
                setenv("RAYON_NUM_THREADS", threads, 1);
                std::string d = digest(cache);
                ssize_t w = write(fds[1], d.data(), d.size());
                _exit(w == static_cast<ssize_t>(d.size()) ? 0 : 1);
            }
            close(fds[1]);
            std::string got;
            char buf[256];
            for (ssize_t k; (k = read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(k));
            close(fds[0]);
            int status = 0;
            waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            EXPECT_EQ(got, here) << threads << " threads, cache " << cache;
        }
    }
}

}  // namespace
