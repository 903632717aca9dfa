// The worker pool in-process: results, exactly-once computation, where the
// work runs, how failures come back, and the deque underneath. Every pool
// test runs at several worker counts.
#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/internal_error.hpp"
#include "driver/pool.hpp"
#include "driver/thread_count.hpp"
#include "driver/work_stealing_deque.hpp"

namespace {

using quilmo::InternalError;
using quilmo::driver::parallel_collect;
using quilmo::driver::parallel_pieces;
using quilmo::driver::ThreadPool;
using quilmo::driver::WorkStealingDeque;

// ThreadSanitizer slows the pool down many times over, most of all with 255
// workers on a few cores; repetitions are cut there, the cases kept.
#ifdef __SANITIZE_THREAD__
constexpr int kRepeatDivisor = 10;
#else
constexpr int kRepeatDivisor = 1;
#endif
constexpr int repeats(int n) { return std::max(n / kRepeatDivisor, 2); }

// The size of a matrix pair: eight doubles that depend on the index.
struct Block { double v[8]; };

class PoolTest : public ::testing::TestWithParam<std::size_t> {};

INSTANTIATE_TEST_SUITE_P(Workers, PoolTest, ::testing::Values(1, 2, 3, 8, 255),
                         [](const auto& info) { return std::to_string(info.param) + "_workers"; });

// Element for element equal to a sequential loop, each f(i) called once, and
// called on a worker unless W = 1 (the caller waits on its latch meanwhile);
// with one worker, that worker computes everything.
TEST_P(PoolTest, ResultsOncePerIndexAndWhereTheyRun) {
    ThreadPool pool(GetParam());
    ASSERT_EQ(pool.size(), GetParam());
    const auto caller = std::this_thread::get_id();
    auto block_of = [](std::size_t i) {
        Block b{};
        const double x = static_cast<double>(i);
        for (int k = 0; k < 8; ++k) b.v[k] = std::sin(x * (k + 1)) / (1.0 + x) + k;
        return b;
    };
    for (std::size_t count : {0ul, 1ul, 2ul, 3ul, 100ul, 101ul, 4097ul, 1000000ul}) {
        SCOPED_TRACE("W = " + std::to_string(count));
        if (count == 1000000 && GetParam() == 255) continue;  // slow with 255 threads on few cores
        std::vector<std::atomic<std::uint32_t>> calls(count);
        std::vector<std::thread::id> ran_on(count);
        auto out = parallel_collect<Block>(pool, count, [&](std::size_t i) {
            calls[i].fetch_add(1, std::memory_order_relaxed);
            ran_on[i] = std::this_thread::get_id();
            return block_of(i);
        });
        ASSERT_EQ(out.size(), count);
        ASSERT_EQ(out.capacity(), count);
        for (std::size_t i = 0; i < count; ++i) {
            const Block expected = block_of(i);
            ASSERT_EQ(std::memcmp(&out[i], &expected, sizeof expected), 0) << "index " << i;
            ASSERT_EQ(calls[i].load(), 1u) << "index " << i;
            ASSERT_EQ(ran_on[i] == caller, count == 1) << "index " << i;
            ASSERT_TRUE(GetParam() != 1 || ran_on[i] == ran_on[0]) << "index " << i;
        }
    }
}

TEST_P(PoolTest, FailureEndsOnlyItsPieceAndReachesTheCaller) {
    ThreadPool pool(GetParam());
    constexpr std::size_t count = 1000, bad = 300;
    std::vector<std::atomic<std::uint32_t>> calls(count);
    std::thread::id thrown_on;
    try {
        parallel_collect<int>(pool, count, [&](std::size_t i) {
            calls[i].fetch_add(1);
            if (i == bad) quilmo::resume_panic("ndarray: index out of bounds");
            return 1;
        });
        FAIL() << "no error";
    } catch (const InternalError& error) {
        thrown_on = std::this_thread::get_id();
        EXPECT_STREQ(error.what(), "ndarray: index out of bounds");
    }
    EXPECT_EQ(thrown_on, std::this_thread::get_id());
    // Everything up to the failing index ran once; after it, only the rest of
    // its own piece is skipped, and every later piece ran once.
    std::size_t resume = bad + 1;
    while (resume < count && calls[resume].load() == 0) ++resume;
    EXPECT_LT(resume, count) << "nothing after the failing piece was computed";
    for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(calls[i].load(), i <= bad || i >= resume ? 1u : 0u) << i;
}

// Whole pieces: every index in exactly one, run on workers; a failing piece
// leaves the others to run and its error reaches the caller.
TEST_P(PoolTest, PiecesCoverTheRangeOnceAndPassFailuresOn) {
    ThreadPool pool(GetParam());
    for (std::size_t count : {0u, 1u, 2u, 101u, 4097u}) {
        std::vector<std::atomic<std::uint32_t>> seen(count);
        std::atomic<bool> on_caller{false};
        const auto caller = std::this_thread::get_id();
        auto piece = [&](std::size_t first, std::size_t last) {
            on_caller = on_caller || std::this_thread::get_id() == caller;
            for (std::size_t i = first; i < last; ++i) seen[i].fetch_add(1);
            if (count == 4097 && first <= 3000 && 3000 < last) quilmo::resume_panic("ndarray: index out of bounds");
        };
        if (count == 4097) {
            try {
                parallel_pieces(pool, count, piece);
                FAIL() << "no error";
            } catch (const InternalError& error) {
                EXPECT_STREQ(error.what(), "ndarray: index out of bounds");
            }
        } else {
            parallel_pieces(pool, count, piece);
        }
        EXPECT_EQ(on_caller.load(), count < 2);  // one piece without a split stays on the caller
        for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(seen[i].load(), 1u) << "count " << count << " index " << i;
    }
}

TEST_P(PoolTest, LeftErrorWinsWhenBothHalvesFail) {
    ThreadPool pool(GetParam());
    constexpr std::size_t count = 4097;
    // Different exception types on either side show which one came through.
    auto f = [](std::size_t i) -> int {
        if (i == 5) throw std::runtime_error("left");
        if (i == count - 5) quilmo::resume_panic("right");
        return 0;
    };
    for (int round = 0; round < repeats(20); ++round) {
        try {
            parallel_collect<int>(pool, count, f);
            FAIL() << "no error";
        } catch (const InternalError&) {
            FAIL() << "the right half's error came through";
        } catch (const std::runtime_error& error) {
            ASSERT_STREQ(error.what(), "left");
        }
    }
}

// Each piece stops at its first element, so at least one call per piece and
// at most one per element; the pool stays usable, and workers that fall
// asleep between many consecutive calls are woken every time (a lost wake-up
// hangs here).
TEST_P(PoolTest, ThousandThrowingTasksThenManyCalls) {
    ThreadPool pool(GetParam());
    std::atomic<std::size_t> calls{0};
    try {
        parallel_collect<int>(pool, 1000, [&](std::size_t i) -> int {
            calls.fetch_add(1);
            throw static_cast<int>(i);  // not even a std::exception
        });
        FAIL() << "no error";
    } catch (int index) {
        EXPECT_EQ(index, 0);
    }
    EXPECT_GE(calls.load(), 2u);
    EXPECT_LE(calls.load(), 1000u);
    for (int round = 0; round < repeats(300); ++round) {
        const std::size_t count = 101 + static_cast<std::size_t>(round % 7);
        auto out = parallel_collect<std::size_t>(pool, count, [round](std::size_t i) { return i + round; });
        ASSERT_EQ(out.size(), count);
        ASSERT_EQ(out[count - 1], count - 1 + round);
        if (round % repeats(50) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Workers run on 2 MiB stacks and, once past their spinning, use no CPU.
TEST_P(PoolTest, WorkersHaveTwoMebibyteStacksAndSleepWhenIdle) {
    ThreadPool pool(GetParam());
    auto sizes = parallel_collect<std::size_t>(pool, 10000, [](std::size_t) {
        pthread_attr_t attr;
        std::size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstacksize(&attr, &size);
            pthread_attr_destroy(&attr);
        }
        return size;
    });
    for (std::size_t i = 0; i < sizes.size(); ++i) ASSERT_EQ(sizes[i], 2u * 1024 * 1024) << i;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // past the spinning
    const std::clock_t before = std::clock();  // CPU time of the whole process
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Workers that kept spinning would burn a core each for the whole time.
    EXPECT_LT(static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC, 0.05) << "an idle pool used CPU";
}

// With one worker nothing is ever stolen, so the cuts are fixed: the caller
// halves the budget K = 1 to 0 and injects; the injected left half counts as
// migrated and re-arms it to 1; its halves cut once more; the right half taken
// back by the worker keeps budget 0. When every f(i) throws, each piece stops
// at its first index, so the indices called are exactly the piece starts.
TEST(PoolSplitting, PieceStartsWithOneWorker) {
    ThreadPool pool(1);
    const std::pair<std::size_t, std::set<std::size_t>> cases[] = {
        {1000, {0, 125, 250, 375, 500}},  // 5 pieces for K = 1
        {7, {0, 1, 2, 3}},                // [0,1) cannot be cut
        {2, {0, 1}},
        {3, {0, 1}},
    };
    for (const auto& [count, starts] : cases) {
        std::mutex mutex;
        std::set<std::size_t> called;
        auto record = [&](std::size_t i) -> int {
            std::lock_guard<std::mutex> guard(mutex);
            called.insert(i);
            throw std::runtime_error("stop");
        };
        EXPECT_THROW(parallel_collect<int>(pool, count, record), std::runtime_error);
        EXPECT_EQ(called, starts) << "W = " << count;
    }
}

// ---- The deque ------------------------------------------------------------------

TEST(WorkStealingDeque, OwnerIsLastInFirstOutThievesFirstInFirstOut) {
    WorkStealingDeque<int*> deque(4);  // small, so it has to grow
    std::vector<int> items(100);
    for (auto& item : items) deque.push(&item);
    bool contended = false;
    EXPECT_EQ(deque.steal(contended), &items[0]);
    EXPECT_EQ(deque.steal(contended), &items[1]);
    for (int i = 99; i >= 2; --i) ASSERT_EQ(deque.pop(), &items[i]);
    EXPECT_EQ(deque.pop(), nullptr);
    EXPECT_EQ(deque.steal(contended), nullptr);
    EXPECT_FALSE(contended);
    EXPECT_TRUE(deque.empty());
}

// Thieves race the owner, who pushes in bursts and pops some back as fork-join
// does. Each item's payload is written just before its push (plain memory, as
// a job's fields are), so a thief that could see the pointer before the payload
// would read a stale value, and ThreadSanitizer would report the race.
TEST(WorkStealingDeque, EveryItemTakenExactlyOnceUnderContention) {
    constexpr int kItems = 200000;
    WorkStealingDeque<int*> deque(8);
    std::vector<int> payload(kItems, -1);
    std::vector<std::atomic<int>> taken(kItems);
    std::atomic<int> stale{0};
    std::atomic<bool> owner_done{false};
    auto take = [&](int* item) {
        const auto index = item - payload.data();
        if (*item != index) stale.fetch_add(1);
        taken[index].fetch_add(1);
    };
    std::vector<std::thread> thieves;
    for (int t = 0; t < 3; ++t) {
        thieves.emplace_back([&] {
            while (true) {
                const bool finished = owner_done.load();
                bool contended = false;
                if (int* item = deque.steal(contended)) {
                    take(item);
                } else if (finished && !contended) {
                    return;
                }
            }
        });
    }
    for (int i = 0; i < kItems; ++i) {
        payload[i] = i;
        deque.push(&payload[i]);
        if (int* item = i % 3 == 2 ? deque.pop() : nullptr) take(item);
    }
    while (int* item = deque.pop()) take(item);
    owner_done.store(true);
    for (auto& thief : thieves) thief.join();
    EXPECT_EQ(stale.load(), 0);
    for (int i = 0; i < kItems; ++i) ASSERT_EQ(taken[i].load(), 1) << i;
}

// ---- Worker count parsing ---------------------------------------------------------

// The parsing of the environment variables is checked through the global pool
// in test_pool_global; here the quotas and the default.
TEST(ThreadCountDefault, CgroupQuotasAndTheAffinityMask) {
    using namespace quilmo::driver;
    EXPECT_EQ(parse_cgroup2_cpu_max("max 100000"), std::nullopt);
    EXPECT_EQ(parse_cgroup2_cpu_max("200000 100000"), 2u);
    EXPECT_EQ(parse_cgroup2_cpu_max("150000 100000"), 1u);  // rounded down
    EXPECT_EQ(parse_cgroup2_cpu_max("50000 100000"), 1u);   // never below one
    EXPECT_EQ(parse_cgroup2_cpu_max("100000 0"), std::nullopt);
    EXPECT_EQ(parse_cgroup2_cpu_max("garbage"), std::nullopt);
    EXPECT_EQ(parse_cgroup1_quota("-1", "100000"), std::nullopt);
    EXPECT_EQ(parse_cgroup1_quota("400000", "100000"), 4u);
    EXPECT_EQ(parse_cgroup1_quota("1000", "100000"), 1u);
    // the default lies within the affinity mask
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    EXPECT_GE(default_thread_count(), 1u);
    EXPECT_LE(default_thread_count(), static_cast<std::size_t>(CPU_COUNT(&set)));
}

}  // namespace
