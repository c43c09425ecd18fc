// Worker pool: every index visited once, failures carried back after all chunks end, nesting runs inline.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
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
    const std::size_t n = 1 << 16;
    try {
        kiv::pool::parallel_for(n, 64, [&](std::size_t b, std::size_t e) {
            visited.fetch_add(e - b);
            if (b > 0) kiv::index_out_of_bounds(b, e);
        });
        FAIL() << "no failure reached the caller";
    } catch (const kiv::InternalFailure& f) {
        EXPECT_EQ(visited.load(), n);  // every chunk ran to its end first
        EXPECT_NE(std::string(f.what()).find("index out of bounds"), std::string::npos);
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

TEST(Pool, HasAtLeastOneThread) { EXPECT_GE(kiv::pool::thread_count(), 1u); }

}  // namespace
