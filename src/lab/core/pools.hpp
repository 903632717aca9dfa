// The grid's worker threads, shared by every call, and the split of an index
// range over them.
//
// The process keeps one set of workers, grown on demand to the largest count
// a call has asked for and never beyond worker_cap(); a call that asks for k
// threads works in at most k lanes (its own thread and up to k - 1 idle
// workers), each taking the next unclaimed piece until none is left. When a
// worker cannot be started, or every worker is busy with other calls, the
// call runs on the threads it has, down to its own: results never depend on
// how many threads took part. The workers are never stopped (a call still
// running in a daemon thread at exit finds them alive); a child forked after
// they started starts its own. These workers are the grid's own: the `quilmo`
// module's global pool keeps its size and its environment variables.
#pragma once

#include <algorithm>
#include <cstddef>

namespace quilmo::lab {

// The most threads a call may ask for.
inline constexpr std::size_t max_threads = 255;

// The threads a call uses when it names none: the processors this process may
// run on (affinity mask, cgroup quota), at most max_threads, as read at the
// first such call of the process (or of a forked child).
std::size_t default_threads() noexcept;

// The most workers the process keeps: 64, or the processors it may run on
// where there are more. Asking for more threads than that is allowed; the
// call then runs in worker_cap() + 1 lanes.
std::size_t worker_cap() noexcept;

// The workers started so far in this process (or forked child).
std::size_t started_workers() noexcept;

namespace type_erased {

using PieceFunction = void (*)(const void* body, std::size_t begin, std::size_t end);

// Runs piece(body, ...) on each of `pieces` consecutive near-equal ranges
// covering [0, count), in up to `lanes` lanes, the calling thread one of them.
// Abandons the rest when a piece throws (rethrows the exception of the lowest
// such piece) or when the calling thread's InterruptProbe asks for it
// (throws Interrupted once every lane has stopped).
void run_pieces(std::size_t count, std::size_t pieces, std::size_t lanes, PieceFunction piece, const void* body);

}  // namespace type_erased

// Calls body(begin, end) on consecutive ranges that cover [0, count), on up to
// `threads` threads: a few pieces per thread so that a slow core does not hold
// the others up, none longer than `longest` so that an interrupt is seen soon,
// none shorter than `grain` (which wins over `longest`). body must only write
// to disjoint places per index.
template <class F>
void parallel_ranges(std::size_t count, std::size_t threads, std::size_t grain, std::size_t longest,
                     const F& body) {
    constexpr std::size_t pieces_per_thread = 4;
    const auto pieces_of = [count](std::size_t size) { return size == 0 ? count : (count + size - 1) / size; };
    const std::size_t wanted = std::max(threads <= 1 ? 1 : threads * pieces_per_thread, pieces_of(longest));
    const std::size_t pieces = std::max<std::size_t>(1, std::min(wanted, pieces_of(grain)));
    const type_erased::PieceFunction piece = [](const void* f, std::size_t begin, std::size_t end) {
        (*static_cast<const F*>(f))(begin, end);
    };
    type_erased::run_pieces(count, pieces, std::max<std::size_t>(threads, 1), piece, &body);
}

}  // namespace quilmo::lab
