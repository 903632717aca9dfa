// The worker pool and `parallel_collect`.
//
// A ThreadPool owns K worker threads. Each worker has its own work-stealing
// deque; threads outside the pool hand work in through one shared injector
// queue. Work is expressed as fork-join: `join(a, b)` offers `b` on the
// current worker's deque, runs `a`, then takes `b` back if no other worker
// stole it, or runs other jobs until the thief has finished it. A thread that
// is not a worker of the pool packages the join as one job, injects it and
// blocks on a mutex-and-condition-variable latch.
//
// `parallel_collect<T>(W, f)` computes f(0) … f(W-1) into one buffer of W
// slots, cutting the index range by a split budget of K that halves on every
// cut and is re-armed whenever a piece has migrated to another thread.
//
// `global_pool()` is the process-wide instance, built on first use from
// RAYON_NUM_THREADS / RAYON_RS_NUM_CPUS (see thread_count.hpp) and kept until
// the process ends. A child forked after it was built starts its own.
#pragma once

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/internal_error.hpp"
#include "common/owned_array.hpp"
#include "driver/work_stealing_deque.hpp"

namespace quilmo::driver {

class ThreadPool;
class Worker;

// A worker thread could not be started; `code` is the errno value.
class ThreadPoolBuildError : public std::exception {
public:
    explicit ThreadPoolBuildError(int code);
    const char* what() const noexcept override { return text_.c_str(); }

private:
    int code_;
    std::string text_;  // names the kind, e.g. "ThreadPoolBuildError { kind: IOError(...) }"
};

namespace detail {

// A queued unit of work. It lives in the frame of the thread that waits for it;
// `execute` never throws (failures are stored in the job for that thread).
struct Job {
    void (*execute_fn)(Job*, Worker&) noexcept;
};

template <class R>
struct Outcome {
    std::optional<R> value;
    std::exception_ptr error;
};

template <class R, class F>
Outcome<R> capture(F& f, bool migrated) noexcept {
    Outcome<R> out;
    try {
        out.value.emplace(f(migrated));
    } catch (...) {
        out.error = std::current_exception();
    }
    return out;
}

}  // namespace detail

// One worker thread of a pool: its deque, its sleep state and its thread.
class Worker {
public:
    Worker(ThreadPool& pool, std::size_t index);
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    std::size_t index() const noexcept { return index_; }

    // Offers a job on this worker's deque and tells a sleeping worker.
    void push(detail::Job* job);
    // Takes back the most recently offered job that no one has stolen.
    detail::Job* pop() noexcept { return deque_.pop(); }
    void execute(detail::Job* job) noexcept { job->execute_fn(job, *this); }
    // Runs other jobs (own, stolen, injected) until `done` is set, sleeping
    // when there are none.
    void wait_until(const std::atomic<bool>& done) noexcept;
    // Wakes this worker if it sleeps; true when it did.
    bool wake() noexcept;
    // The thread's main loop: runs jobs until the pool stops.
    void run() noexcept;

private:
    friend class ThreadPool;

    void work_until(const std::atomic<bool>* done) noexcept;
    detail::Job* find_work() noexcept;
    void sleep(std::uint64_t seen_epoch, const std::atomic<bool>* done) noexcept;
    std::size_t next_random() noexcept;

    ThreadPool& pool_;
    std::size_t index_;
    WorkStealingDeque<detail::Job*> deque_;
    std::mutex sleep_mutex_;
    std::condition_variable wake_cv_;
    bool asleep_ = false;  // under sleep_mutex_
    std::uint64_t random_state_;
    pthread_t thread_{};
    bool started_ = false;
};

namespace detail {

// Set by the thread that finished a stolen job; wakes the worker waiting for it.
class SpinLatch {
public:
    explicit SpinLatch(Worker& owner) noexcept : owner_(owner) {}
    bool probe() const noexcept { return done_.load(std::memory_order_acquire); }
    const std::atomic<bool>& flag() const noexcept { return done_; }
    void set() noexcept {
        Worker& owner = owner_;  // the latch may be gone once `done_` is set
        done_.store(true, std::memory_order_release);
        owner.wake();
    }

private:
    Worker& owner_;
    std::atomic<bool> done_{false};
};

// For a thread outside the pool: it blocks until a worker sets the latch.
class LockLatch {
public:
    void set() noexcept {
        std::lock_guard<std::mutex> guard(mutex_);
        done_ = true;
        cv_.notify_all();
    }
    void wait() noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return done_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

// The right half of a fork-join, offered on the owner's deque.
template <class R, class F>
struct StackJob : Job {
    StackJob(F& f, Worker& owner) noexcept
        : Job{&StackJob::execute}, func(f), offered_by(owner.index()), latch(owner) {}

    static void execute(Job* job, Worker& worker) noexcept {
        auto* self = static_cast<StackJob*>(job);
        self->result = capture<R>(self->func, worker.index() != self->offered_by);
        self->latch.set();
    }

    F& func;
    std::size_t offered_by;
    Outcome<R> result;
    SpinLatch latch;
};

// Runs `fa` and `fb` on `worker`, `fb` possibly on a thief. `fa` is told it
// migrated when this join came from the injector. Waits for both; an error of
// `fa` wins over one of `fb`.
template <class R, class FA, class FB>
std::pair<R, R> join_context(Worker& worker, bool injected, FA& fa, FB& fb) {
    StackJob<R, FB> job_b(fb, worker);
    worker.push(&job_b);
    Outcome<R> a = capture<R>(fa, injected);
    Outcome<R> b;
    bool ran_here = false;
    while (!job_b.latch.probe()) {
        Job* job = worker.pop();
        if (job == &job_b) {
            b = capture<R>(fb, false);
            ran_here = true;
            break;
        }
        if (job == nullptr) {
            worker.wait_until(job_b.latch.flag());
            break;
        }
        worker.execute(job);  // older work of this worker, offered before job_b
    }
    if (!ran_here) {
        b = std::move(job_b.result);
    }
    if (a.error) {
        std::rethrow_exception(a.error);
    }
    if (b.error) {
        std::rethrow_exception(b.error);
    }
    return {std::move(*a.value), std::move(*b.value)};
}

// A join handed to the pool by a thread outside it.
template <class R, class FA, class FB>
struct InjectedJob : Job {
    InjectedJob(FA& a, FB& b) noexcept : Job{&InjectedJob::execute}, fa(a), fb(b) {}

    static void execute(Job* job, Worker& worker) noexcept {
        auto* self = static_cast<InjectedJob*>(job);
        try {
            self->value.emplace(join_context<R>(worker, true, self->fa, self->fb));
        } catch (...) {
            self->error = std::current_exception();
        }
        self->latch.set();
    }

    FA& fa;
    FB& fb;
    std::optional<std::pair<R, R>> value;
    std::exception_ptr error;
    LockLatch latch;
};

}  // namespace detail

class ThreadPool {
public:
    // Starts max(workers, 1) threads with 2 MiB stacks. Throws
    // ThreadPoolBuildError (after stopping the ones already started) when a
    // thread cannot be created.
    explicit ThreadPool(std::size_t workers);
    // Stops and joins the workers; no work may be outstanding.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    std::size_t size() const noexcept { return workers_.size(); }

    // The calling thread's worker if it is one of this pool's, else nullptr.
    Worker* current_worker() const noexcept;

    // Runs fa(migrated) and fb(migrated), both returning R, possibly in
    // parallel, and returns both results. If either throws, the other still
    // runs to its end and the exception is rethrown here, fa's first.
    template <class R, class FA, class FB>
    std::pair<R, R> join(FA& fa, FB& fb) {
        if (Worker* worker = current_worker()) {
            return detail::join_context<R>(*worker, false, fa, fb);
        }
        detail::InjectedJob<R, FA, FB> job(fa, fb);
        inject(&job);
        job.latch.wait();
        if (job.error) {
            std::rethrow_exception(job.error);
        }
        return std::move(*job.value);
    }

private:
    friend class Worker;

    void inject(detail::Job* job);
    detail::Job* take_injected() noexcept;
    detail::Job* steal_for(Worker& thief) noexcept;
    void announce_work() noexcept;
    void wake_one_sleeper() noexcept;
    void stop_workers() noexcept;

    std::vector<std::unique_ptr<Worker>> workers_;

    std::mutex injector_mutex_;
    std::deque<detail::Job*> injector_;         // under injector_mutex_
    std::atomic<std::size_t> injected_{0};      // its length, read without the lock

    alignas(64) std::atomic<std::uint64_t> work_epoch_{0};  // bumped when work is offered
    alignas(64) std::atomic<std::size_t> searching_{0};     // awake workers without a job
    std::atomic<std::size_t> sleepers_{0};
    std::atomic<std::size_t> wake_cursor_{0};
    std::atomic<bool> terminating_{false};
};

// The process-wide pool, built on first use. If building it fails, this and
// every later call raise an internal error ("The global thread pool has not
// been initialized.: ..."); it is never retried in this process.
ThreadPool& global_pool();

namespace detail {

// The destination slots [start, start + owned) of a piece, `written` of them filled.
struct CollectPiece {
    std::size_t start;
    std::size_t owned;
    std::size_t written;
};

// Cuts [first, first + len) into pieces by the split budget and hands each
// uncut piece to `fold`, which fills slots [dest, dest + room) from it and
// returns what it wrote.
template <class Fold>
class Splitter {
public:
    Splitter(ThreadPool& pool, const Fold& fold) noexcept : pool_(pool), fold_(fold), workers_(pool.size()) {}

    CollectPiece run(std::size_t first, std::size_t len, std::size_t dest, std::size_t room,
                     std::size_t splits, bool migrated) const {
        std::size_t mid = len / 2;
        bool split = false;
        if (mid >= 1) {
            if (migrated) {
                splits = std::max(workers_, splits / 2);
                split = true;
            } else if (splits > 0) {
                splits /= 2;
                split = true;
            }
        }
        if (!split) {
            return fold_(first, len, dest, room);
        }
        if (mid > len) {
            panic("assertion failed: index <= self.range.len()");
        }
        if (mid > room) {
            panic("assertion failed: index <= len");
        }
        auto left = [&](bool m) { return run(first, mid, dest, mid, splits, m); };
        auto right = [&](bool m) {
            return run(first + mid, len - mid, dest + mid, room - mid, splits, m);
        };
        auto [l, r] = pool_.join<CollectPiece>(left, right);
        if (l.start + l.written == r.start) {
            return CollectPiece{l.start, l.owned + r.owned, l.written + r.written};
        }
        return l;
    }

private:
    ThreadPool& pool_;
    const Fold& fold_;
    std::size_t workers_;
};

// Splits [0, count) on `pool` and checks that every slot was written once.
template <class Fold>
void split_and_fold(ThreadPool& pool, std::size_t count, std::size_t start, const Fold& fold) {
    Splitter<Fold> splitter(pool, fold);
    CollectPiece piece = splitter.run(0, count, start, count, pool.size(), false);
    if (piece.written != count) {
        panic("expected " + std::to_string(count) + " total writes, but got " +
              std::to_string(piece.written));
    }
}

template <class T, class F>
void collect_into(Buffer<T>& out, ThreadPool& pool, std::size_t count, const F& f) {
    const std::size_t start = out.size();
    if (out.capacity() - start < count) {
        panic("assertion failed: vec.capacity() - start >= len");
    }
    T* slots = out.data();
    auto fold = [slots, &f](std::size_t first, std::size_t len, std::size_t dest, std::size_t room) {
        CollectPiece piece{dest, room, 0};
        for (std::size_t i = first; i < first + len; ++i) {
            if (piece.written >= piece.owned) {
                panic("too many values pushed to consumer");
            }
            ::new (static_cast<void*>(slots + dest + piece.written)) T(f(i));
            ++piece.written;
        }
        return piece;
    };
    split_and_fold(pool, count, start, fold);
    out.set_size(start + count);
}

}  // namespace detail

// f(0), …, f(count - 1) in index order, computed on `pool`. f is called
// concurrently and must only read shared data. An exception from f ends the
// piece it was in; the rest of the range is still computed, then the
// exception of the lowest failing piece is rethrown here.
template <class T, class F>
Buffer<T> parallel_collect(ThreadPool& pool, std::size_t count, F f) {
    static_assert(std::is_trivially_copyable_v<T>);
    Buffer<T> out = Buffer<T>::with_capacity(count);
    detail::collect_into(out, pool, count, f);
    return out;
}

// The same on the global pool (built here if it does not exist yet, even for
// count 0 or 1).
template <class T, class F>
Buffer<T> parallel_collect(std::size_t count, F f) {
    static_assert(std::is_trivially_copyable_v<T>);
    Buffer<T> out = Buffer<T>::with_capacity(count);
    detail::collect_into(out, global_pool(), count, f);
    return out;
}

// Cuts [0, count) into pieces as parallel_collect does and calls
// piece(first, last) once for each, on `pool`; the pieces cover the range
// exactly once (a single empty piece for count 0). For work that writes its
// own results. Failures travel as in parallel_collect.
template <class Piece>
void parallel_pieces(ThreadPool& pool, std::size_t count, const Piece& piece) {
    auto fold = [&piece](std::size_t first, std::size_t len, std::size_t dest, std::size_t room) {
        if (len > room) {
            panic("too many values pushed to consumer");
        }
        piece(first, first + len);
        return detail::CollectPiece{dest, room, len};
    };
    detail::split_and_fold(pool, count, 0, fold);
}

}  // namespace quilmo::driver
