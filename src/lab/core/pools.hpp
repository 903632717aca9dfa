// Worker pools for the grid, one per worker count, and the split of an index
// range over one of them.
//
// A call that asks for k threads runs on a pool of exactly k workers, built on
// first use and kept until the process ends (never destroyed, so a call still
// running in a daemon thread at exit finds its pool alive); a child forked
// after that builds its own. These pools are the grid's own: the `quilmo`
// module's global pool keeps its size and its environment variables.
#pragma once

#include <algorithm>
#include <cstddef>

#include "driver/pool.hpp"

namespace quilmo::lab {

// The pool with `workers` (>= 1) threads. Throws driver::ThreadPoolBuildError
// when a thread cannot be started.
driver::ThreadPool& pool_with(std::size_t workers);

// The threads a call uses when it names none: the processors this process may
// run on (affinity mask, cgroup quota), as read at the first such call of the
// process (or of a forked child).
std::size_t default_threads() noexcept;

// Splits [begin, end) into `pieces` consecutive ranges of near-equal length,
// in halves joined on the pool.
template <class F>
void run_pieces(driver::ThreadPool& pool, std::size_t begin, std::size_t end, std::size_t pieces,
                const F& body) {
    if (pieces <= 1) {
        body(begin, end);
        return;
    }
    const std::size_t left_pieces = pieces / 2;
    const std::size_t len = end - begin;
    const std::size_t mid =
        begin + len / pieces * left_pieces + std::min(left_pieces, len % pieces);
    auto left = [&](bool) {
        run_pieces(pool, begin, mid, left_pieces, body);
        return true;
    };
    auto right = [&](bool) {
        run_pieces(pool, mid, end, pieces - left_pieces, body);
        return true;
    };
    pool.join<bool>(left, right);
}

// Calls body(begin, end) on consecutive ranges that cover [0, count), on up to
// `threads` threads: a few pieces per thread so that a slow core does not hold
// the others up, none shorter than `grain`; on the calling thread alone when
// that leaves one piece. body must only write to disjoint places per index.
template <class F>
void parallel_ranges(std::size_t count, std::size_t threads, std::size_t grain, const F& body) {
    constexpr std::size_t pieces_per_thread = 4;
    const std::size_t by_grain = grain == 0 ? count : (count + grain - 1) / grain;
    const std::size_t pieces = threads <= 1 ? 1 : std::min(threads * pieces_per_thread, by_grain);
    if (pieces <= 1) {
        body(std::size_t{0}, count);
        return;
    }
    run_pieces(pool_with(threads), 0, count, pieces, body);
}

}  // namespace quilmo::lab
