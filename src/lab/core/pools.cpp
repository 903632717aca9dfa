#include "lab/core/pools.hpp"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "driver/thread_count.hpp"
#include "lab/core/interrupts.hpp"

namespace quilmo::lab {

namespace {

// The first index of piece i of `pieces` near-equal ranges over [0, count).
std::size_t piece_begin(std::size_t i, std::size_t count, std::size_t pieces) noexcept {
    return i * (count / pieces) + std::min(i, count % pieces);
}

// One call's pieces and the lanes working on them. Workers hold it by
// shared_ptr, so a lane offered to a worker that only gets to it after the
// call returned finds it closed instead of freed.
struct Call {
    Call(std::size_t count_, std::size_t pieces_, type_erased::PieceFunction piece_, const void* body_) noexcept
        : count(count_), pieces(pieces_), piece(piece_), body(body_) {}

    const std::size_t count;
    const std::size_t pieces;
    const type_erased::PieceFunction piece;
    const void* const body;  // lives in the caller's frame: touched only by lanes that joined before closing
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};

    std::mutex mutex;
    std::condition_variable idle;
    std::size_t active = 0;    // under mutex: workers inside the call
    bool closed = false;       // under mutex: the caller is done taking pieces; no worker may join
    std::exception_ptr error;  // under mutex, of the lowest failing piece
    std::size_t error_piece = SIZE_MAX;

    // Takes pieces until none is left or the call stops; the calling
    // thread's lane also asks its probe between pieces. True when the probe
    // asked to abandon the call.
    bool take_pieces(InterruptProbe* probe) noexcept {
        while (!stop.load(std::memory_order_acquire)) {
            const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= pieces) {
                return false;
            }
            try {
                piece(body, piece_begin(i, count, pieces), piece_begin(i + 1, count, pieces));
            } catch (...) {
                std::lock_guard<std::mutex> guard(mutex);
                if (i < error_piece) {
                    error = std::current_exception();
                    error_piece = i;
                }
                stop.store(true, std::memory_order_release);
            }
            if (probe != nullptr && probe->due_and_asked()) {
                stop.store(true, std::memory_order_release);
                return true;
            }
        }
        return false;
    }

    // A worker's lane: joins unless the call is closed.
    void work_as_helper() noexcept {
        {
            std::lock_guard<std::mutex> guard(mutex);
            if (closed) {
                return;
            }
            ++active;
        }
        take_pieces(nullptr);
        std::lock_guard<std::mutex> guard(mutex);
        if (--active == 0) {
            idle.notify_all();
        }
    }

    // The caller's wait for the workers still inside, asking the probe
    // meanwhile. True when the probe asked to abandon the call.
    bool close_and_wait(InterruptProbe* probe) noexcept {
        bool interrupted = false;
        std::unique_lock<std::mutex> lock(mutex);
        closed = true;
        while (active > 0) {
            if (probe == nullptr || interrupted) {
                idle.wait(lock);
                continue;
            }
            idle.wait_for(lock, InterruptProbe::period);
            if (active > 0) {
                lock.unlock();
                interrupted = probe->due_and_asked();
                if (interrupted) {
                    stop.store(true, std::memory_order_release);
                }
                lock.lock();
            }
        }
        return interrupted;
    }
};

// The workers and the lanes offered to them; allocated once per process and
// never freed, so that workers and daemon threads never outlive it.
struct Workers {
    std::mutex mutex;
    std::condition_variable offered;
    std::deque<std::shared_ptr<Call>> lanes;  // under mutex
    std::size_t started = 0;                  // under mutex
};

// Constant-initialised: usable whatever the order of static construction.
std::mutex g_workers_mutex;
Workers* g_workers = nullptr;  // under g_workers_mutex
bool g_fork_handler = false;   // under g_workers_mutex

// Reading the affinity mask and the cgroup quota costs hundreds of
// microseconds, as much as a small solve: read once per process (0: not yet).
std::atomic<std::size_t> g_processors{0};

// In a forked child the parent's workers do not exist and their locks may be
// held by threads that are gone: leak them untouched.
void forget_workers_in_child() noexcept {
    ::new (static_cast<void*>(&g_workers_mutex)) std::mutex();
    g_workers = nullptr;
    g_processors.store(0, std::memory_order_relaxed);
}

Workers& workers() {
    std::lock_guard<std::mutex> guard(g_workers_mutex);
    if (!g_fork_handler) {
        g_fork_handler = pthread_atfork(nullptr, nullptr, &forget_workers_in_child) == 0;
    }
    if (g_workers == nullptr) {
        g_workers = new Workers();
    }
    return *g_workers;
}

void* worker_main(void* shared) noexcept {
    Workers& w = *static_cast<Workers*>(shared);
    for (;;) {
        std::shared_ptr<Call> call;
        {
            std::unique_lock<std::mutex> lock(w.mutex);
            w.offered.wait(lock, [&w] { return !w.lanes.empty(); });
            call = std::move(w.lanes.front());
            w.lanes.pop_front();
        }
        call->work_as_helper();
    }
}

// Starts a worker (2 MiB stack, every signal blocked so that they reach the
// interpreter's threads); false when the system refuses another thread.
bool start_worker(Workers& w) noexcept {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        return false;
    }
    pthread_attr_setstacksize(&attributes, std::size_t{2} << 20);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, &worker_main, &w) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
    return started;
}

// Offers `helpers` lanes of `call` to the workers, starting workers up to
// that count (within the cap) where they can be started.
void offer(const std::shared_ptr<Call>& call, std::size_t helpers) {
    Workers& w = workers();
    std::lock_guard<std::mutex> guard(w.mutex);
    const std::size_t wanted = std::min(helpers, worker_cap());
    while (w.started < wanted && start_worker(w)) {
        ++w.started;
    }
    const std::size_t offered = std::min(helpers, w.started);
    for (std::size_t i = 0; i < offered; ++i) {
        w.lanes.push_back(call);
    }
    if (offered == 1) {
        w.offered.notify_one();
    } else if (offered > 1) {
        w.offered.notify_all();
    }
}

}  // namespace

namespace type_erased {

void run_pieces(std::size_t count, std::size_t pieces, std::size_t lanes, PieceFunction piece, const void* body) {
    if (count == 0) {
        return;
    }
    InterruptProbe* probe = InterruptProbe::current();
    const std::size_t helpers = std::min(lanes, pieces) - 1;
    if (helpers == 0 && (probe == nullptr || pieces == 1)) {
        // The common small call: no worker, no shared state.
        for (std::size_t i = 0; i < pieces; ++i) {
            piece(body, piece_begin(i, count, pieces), piece_begin(i + 1, count, pieces));
        }
        return;
    }
    auto call = std::make_shared<Call>(count, pieces, piece, body);
    if (helpers > 0) {
        offer(call, helpers);
    }
    bool interrupted = call->take_pieces(probe);
    interrupted = call->close_and_wait(interrupted ? nullptr : probe) || interrupted;
    if (interrupted) {
        throw Interrupted();
    }
    if (call->error) {
        // Taken out of the call, so that the exception is freed on this
        // thread: a worker may drop the last reference to the call later.
        const std::exception_ptr error = std::move(call->error);
        std::rethrow_exception(error);
    }
}

}  // namespace type_erased

std::size_t default_threads() noexcept {
    std::size_t count = g_processors.load(std::memory_order_relaxed);
    if (count == 0) {
        count = driver::default_thread_count();
        g_processors.store(count, std::memory_order_relaxed);
    }
    return std::min(count, max_threads);
}

std::size_t worker_cap() noexcept {
    return std::max<std::size_t>(64, default_threads());
}

std::size_t started_workers() noexcept {
    Workers& w = workers();
    std::lock_guard<std::mutex> guard(w.mutex);
    return w.started;
}

}  // namespace quilmo::lab
