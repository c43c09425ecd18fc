// Worker pool: every index visited once, failures carried back after all chunks end, nesting runs inline.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kiv/failure.hpp"
#include "kiv/pool.hpp"

namespace {

TEST(Pool, VisitsEveryIndexExactlyOnce) {
    for (std::size_t n : {0u, 1u, 7u, 4096u, 100003u}) {
        std::vector<std::atomic<int>> hits(n);
        kiv::pool::parallel_for(n, 16, [&](std::size_t b, std::size_t e) {
            ASSERT_LE(b, e);
            for (std::size_t i = b; i < e; ++i) hits[i].fetch_add(1);
        });
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(hits[i].load(), 1) << "n=" << n << " i=" << i;
    }
}

TEST(Pool, RethrowsTheLowestFailingChunkAfterAllChunksEnd) {
    std::atomic<std::size_t> visited{0};
    std::atomic<std::size_t> lowest_failing{SIZE_MAX};
    const std::size_t n = 1 << 16;
    try {
        // Every chunk but the first fails, each with its own start in the message.
        kiv::pool::parallel_for(n, 64, [&](std::size_t b, std::size_t e) {
            visited.fetch_add(e - b);
            if (b == 0) return;
            std::size_t low = lowest_failing.load();
            while (b < low && !lowest_failing.compare_exchange_weak(low, b)) {
            }
            kiv::index_out_of_bounds(b, e);
        });
        FAIL() << "no failure reached the caller";
    } catch (const kiv::InternalFailure& f) {
        EXPECT_EQ(visited.load(), n);  // every chunk ran to its end first
        const std::string prefix = "index out of bounds: the len is " + std::to_string(lowest_failing.load()) + " ";
        EXPECT_EQ(std::string(f.what()).rfind(prefix, 0), 0u) << f.what();
    }
    // The pool is usable again afterwards.
    std::atomic<std::size_t> sum{0};
    kiv::pool::parallel_for(1000, 1, [&](std::size_t b, std::size_t e) { sum.fetch_add(e - b); });
    EXPECT_EQ(sum.load(), 1000u);
}

TEST(Pool, NestedCallsRunInline) {
    std::atomic<std::size_t> total{0};
    kiv::pool::parallel_for(64, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            kiv::pool::parallel_for(10, 1, [&](std::size_t ib, std::size_t ie) { total.fetch_add(ie - ib); });
        }
    });
    EXPECT_EQ(total.load(), 640u);
}

TEST(Pool, EveryPoolThreadTakesPartFromTheFirstJob) {
    // Each chunk waits until every thread of the pool has taken a chunk, so the job finishes promptly
    // only when all of them join it (a worker that sat the job out would leave the chunks waiting).
    // Run first in a fresh process, this also covers workers that start after the job was posted.
    const std::size_t threads = kiv::pool::thread_count();
    std::mutex m;
    std::condition_variable cv;
    std::set<std::thread::id> seen;
    kiv::pool::parallel_for(threads * 4, 1, [&](std::size_t, std::size_t) {
        std::unique_lock<std::mutex> lk(m);
        seen.insert(std::this_thread::get_id());
        cv.notify_all();
        cv.wait_for(lk, std::chrono::seconds(5), [&] { return seen.size() >= threads; });
    });
    EXPECT_EQ(seen.size(), threads);
}

TEST(Pool, ForkedChildrenBuildTheirOwnPoolWhileOtherThreadsUseIt) {
    // Threads that post small jobs back to back keep the pool's locks busy; every child forked meanwhile
    // must compute on a pool of its own and exit. A child that inherits a lock held by a parent thread
    // waits for ever, and is killed at the deadline.
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    for (int t = 0; t < 4; ++t) {
        load.emplace_back([&] {
            std::atomic<std::size_t> sum{0};
            while (!stop.load()) {
                kiv::pool::parallel_for(64, 1, [&](std::size_t b, std::size_t e) { sum.fetch_add(e - b); });
            }
        });
    }
    int hung = 0, failed = 0;
    for (int i = 0; i < 300 && hung == 0; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::atomic<std::size_t> sum{0};
            kiv::pool::parallel_for(10000, 16, [&](std::size_t b, std::size_t e) { sum.fetch_add(e - b); });
            _exit(sum.load() == 10000 && kiv::pool::thread_count() >= 1 ? 0 : 1);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ++hung;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (hung == 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) ++failed;
    }
    stop.store(true);
    for (auto& t : load) t.join();
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(failed, 0);
}

}  // namespace
