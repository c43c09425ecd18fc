// The search refuses, with OutOfMemory, a level the process cannot hold, and the process carries on; the
// row cache takes no more than the budget was asked for.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "kiv/discover/budget.hpp"
#include "kiv/discover/search.hpp"
#include "kiv/memory.hpp"

using namespace kiv::discover;

namespace {

std::size_t mapped_bytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long long pages = 0;
    if (f == nullptr) return 0;
    if (std::fscanf(f, "%llu", &pages) != 1) pages = 0;
    std::fclose(f);
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

void problem(std::size_t n, Columns& x, std::vector<double>& y) {
    x.assign(1, std::vector<double>(n));
    y.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double v = 0.1 + 3.9 * static_cast<double>(i) / static_cast<double>(n);
        x[0][i] = v;
        y[i] = std::sin(3.7 * v) + 0.3 * v * v * v;
    }
}

// In a child under an address-space limit a little above what it maps: the room reported shrinks to
// fit, a wide deep search is refused with a message naming the sizes and the settings to lower, and a
// normal search afterwards gives the same result as before.
TEST(SearchMemory, RefusedUnderAnAddressSpaceLimitThenSearchesNormally) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit under an address-space limit";
#endif
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        std::string report;
        Columns x;
        std::vector<double> y;
        problem(30, x, y);
        SearchConfig normal;
        normal.max_complexity = 6;
        const auto before = beam_search(x, y, 1, normal);
        constexpr std::size_t kHeadroom = std::size_t{128} << 20;
        rlimit lim{};
        getrlimit(RLIMIT_AS, &lim);
        lim.rlim_cur = mapped_bytes() + kHeadroom;
        if (setrlimit(RLIMIT_AS, &lim) != 0) report += "setrlimit failed;";
        if (!(kiv::address_space_room() <= kHeadroom && kiv::available_memory() <= kHeadroom)) report += "room;";
        SearchConfig huge;
        huge.max_complexity = 15;
        huge.beam_width = 64000;
        try {
            (void)beam_search(x, y, 1, huge);
            report += "no refusal;";
        } catch (const kiv::OutOfMemory& e) {
            report += std::string("refused: ") + e.what() + ";";
        }
        const auto after = beam_search(x, y, 1, normal);
        if (!before || !after || before->tokens != after->tokens || before->score != after->score) report += "changed;";
        ssize_t w = write(fds[1], report.data(), report.size());
        _exit(w == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string got;
    char buf[512];
    for (ssize_t k; (k = read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(k));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << got;
    EXPECT_NE(got.find("refused: formula search: level "), std::string::npos) << got;
    EXPECT_NE(got.find("MiB more memory, but only "), std::string::npos) << got;
    EXPECT_NE(got.find("try a smaller beam_width or max_complexity"), std::string::npos) << got;
    EXPECT_EQ(got.find("changed"), std::string::npos) << got;
    EXPECT_EQ(got.find("room"), std::string::npos) << got;
}

// An allocation that fails anyway, unforeseen by the checks, ends the search with the same kind of failure.
TEST(SearchMemory, FailedAllocationBecomesOutOfMemory) {
    Columns x;
    std::vector<double> y;
    problem(40, x, y);
    SearchOptions opt;
    opt.progress = [](std::uint64_t level, const FitResult&) {
        if (level == 2) throw std::bad_alloc();
    };
    try {
        (void)run_beam_search(x, y, 1, SearchConfig{}, opt);
        FAIL() << "expected a failure";
    } catch (const kiv::OutOfMemory& e) {
        EXPECT_STREQ(e.what(), "formula search: memory ran out at level 2; try a smaller beam_width or max_complexity");
    }
}

}  // namespace

namespace {

// What the search asks the budget for before a level joins the beam is what keeping those members' rows
// and parts then takes from the row cache, at every allowance: too little would let a level grow past
// what was checked.
TEST(RowCacheBudget, TheEstimateIsWhatTakingTakes) {
    constexpr std::size_t kRows = 100, kRowBytes = kRows * sizeof(double);
    for (const bool parts : {false, true}) {
        for (const std::size_t allowance : {std::size_t{0}, kRowBytes - 1, kRowBytes, 3 * kRowBytes,
                                            10 * kRowBytes + 7, 40 * kRowBytes}) {
            for (const std::size_t members : {std::size_t{1}, std::size_t{4}, std::size_t{30}}) {
                SCOPED_TRACE(std::to_string(allowance) + " bytes, " + std::to_string(members) + " members" +
                             (parts ? ", with parts" : ""));
                RowCache cache(allowance, kRows);
                cache.take_rows();  // a member taken earlier
                const std::size_t before = cache.used();
                const std::size_t estimate = cache.bytes_for(members, parts);
                for (std::size_t k = 0; k < members; ++k) {
                    if (cache.take_rows() && parts) cache.take_parts();
                }
                EXPECT_EQ(cache.used() - before, estimate);
                EXPECT_LE(cache.used(), allowance);
            }
        }
    }
    // No rows, nothing kept.
    RowCache empty(1 << 20, 0);
    EXPECT_EQ(empty.take_rows(), nullptr);
    EXPECT_EQ(empty.bytes_for(5, true), 0u);
}

}  // namespace
