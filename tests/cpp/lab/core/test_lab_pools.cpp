// The grid's workers: every index covered once at any thread count, the
// lowest failing piece's exception rethrown, an interrupt asked for by the
// calling thread's probe abandoning the rest, and a bounded set of workers
// whatever counts are asked for. The tools/tsan_pool.sh leg runs this file
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "lab/core/interrupts.hpp"
#include "lab/core/pools.hpp"

namespace quilmo::lab {
namespace {

std::vector<int> visits(std::size_t count, std::size_t threads, std::size_t grain, std::size_t longest) {
    std::vector<std::atomic<int>> seen(count);
    parallel_ranges(count, threads, grain, longest, [&](std::size_t begin, std::size_t end) {
        ASSERT_LE(begin, end);
        for (std::size_t i = begin; i < end; ++i) {
            seen[i].fetch_add(1);
        }
    });
    return {seen.begin(), seen.end()};
}

TEST(LabPools, EveryIndexOnceAtEveryThreadCount) {
    for (std::size_t threads : {1, 2, 3, 8, 300}) {
        for (std::size_t count : {0, 1, 7, 1000, 4097}) {
            const std::vector<int> seen = visits(count, threads, 16, 100);
            EXPECT_EQ(seen, std::vector<int>(count, 1)) << threads << " threads, " << count << " indices";
        }
    }
}

TEST(LabPools, LowestFailingPieceIsRethrown) {
    for (std::size_t threads : {1, 2, 4}) {
        try {
            parallel_ranges(1000, threads, 1, 10, [](std::size_t begin, std::size_t) {
                if (begin >= 500) {
                    throw std::runtime_error(std::to_string(begin));
                }
            });
            FAIL() << "no exception";
        } catch (const std::runtime_error& error) {
            // Pieces stop being taken after the first failure; the lowest of those that failed wins.
            EXPECT_GE(std::stoul(error.what()), 500u);
        }
        EXPECT_EQ(visits(100, threads, 1, 10), std::vector<int>(100, 1)) << "the next call works";
    }
}

TEST(LabPools, ProbeAbandonsTheRest) {
    for (std::size_t threads : {1, 2, 4}) {
        std::atomic<std::size_t> done{0};
        bool asked = false;
        InterruptProbe probe([](void* flag) { return *static_cast<bool*>(flag) = true; }, &asked);
        EXPECT_THROW(parallel_ranges(100000, threads, 1, 1,
                                     [&](std::size_t begin, std::size_t end) {
                                         done += end - begin;
                                         std::this_thread::sleep_for(std::chrono::microseconds(200));
                                     }),
                     Interrupted);
        EXPECT_TRUE(asked);
        EXPECT_LT(done.load(), 100000u);
    }
}

TEST(LabPools, WorkersStayBounded) {
    for (std::size_t threads = 1; threads <= 255; threads += 7) {
        visits(2000, threads, 1, 1);
    }
    EXPECT_LE(started_workers(), worker_cap());
    EXPECT_LE(default_threads(), max_threads);
}

}  // namespace
}  // namespace quilmo::lab
