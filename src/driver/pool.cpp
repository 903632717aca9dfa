#include "driver/pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <cstring>

#include "driver/thread_count.hpp"

namespace quilmo::driver {

namespace {

constexpr std::size_t kWorkerStackBytes = 2 * 1024 * 1024;
// Searches for work before an idle worker goes to sleep: the first half with
// short busy-wait pauses, the rest yielding the processor.
constexpr unsigned kSpinRounds = 32;
constexpr unsigned kYieldFrom = 16;

constexpr const char* kBookkeepingFailure = "Rayon: detected unexpected panic; aborting";
constexpr const char* kNotInitialised = "The global thread pool has not been initialized.";

thread_local Worker* tls_worker = nullptr;

void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

void back_off(unsigned round) noexcept {
    if (round < kYieldFrom) {
        for (unsigned i = 0, n = 1u << std::min(round, 6u); i < n; ++i) {
            cpu_relax();
        }
    } else {
        sched_yield();
    }
}

const char* errno_kind(int code) noexcept {
    switch (code) {
        case EAGAIN: return "WouldBlock";
        case ENOMEM: return "OutOfMemory";
        case EPERM: return "PermissionDenied";
        case EINVAL: return "InvalidInput";
        default: return "Uncategorized";
    }
}

void* worker_entry(void* arg) noexcept {
    auto* worker = static_cast<Worker*>(arg);
    tls_worker = worker;
    worker->run();
    return nullptr;
}

}  // namespace

ThreadPoolBuildError::ThreadPoolBuildError(int code) : code_(code) {
    text_ = "ThreadPoolBuildError { kind: IOError(Os { code: " + std::to_string(code) +
            ", kind: " + errno_kind(code) + ", message: \"" + std::strerror(code) + "\" }) }";
}

// ---- Worker -------------------------------------------------------------------

Worker::Worker(ThreadPool& pool, std::size_t index)
    : pool_(pool), index_(index), random_state_(0x9E3779B97F4A7C15ull * (index + 1)) {}

void Worker::push(detail::Job* job) {
    deque_.push(job);
    pool_.announce_work();
}

std::size_t Worker::next_random() noexcept {
    // xorshift64*
    random_state_ ^= random_state_ >> 12;
    random_state_ ^= random_state_ << 25;
    random_state_ ^= random_state_ >> 27;
    return static_cast<std::size_t>((random_state_ * 0x2545F4914F6CDD1Dull) >> 32);
}

void Worker::wait_until(const std::atomic<bool>& done) noexcept { work_until(&done); }

void Worker::run() noexcept { work_until(nullptr); }

// The idle loop. With `done` it returns once that is set (a join waiting for
// its stolen half); without, once the pool is shutting down. While it finds
// nothing to do the worker counts as searching (`searching_`), so that whoever
// offers work need not wake a sleeper: a searcher sees the new work, or sees
// the epoch move before it goes to sleep.
void Worker::work_until(const std::atomic<bool>* done) noexcept {
    try {
        bool searching = false;
        unsigned idle_rounds = 0;
        while (true) {
            if (done != nullptr ? done->load(std::memory_order_acquire)
                                : pool_.terminating_.load(std::memory_order_acquire)) {
                break;
            }
            std::uint64_t seen = pool_.work_epoch_.load(std::memory_order_seq_cst);
            if (detail::Job* job = find_work()) {
                if (searching) {
                    pool_.searching_.fetch_sub(1, std::memory_order_seq_cst);
                    searching = false;
                }
                execute(job);
                continue;
            }
            if (!searching) {
                pool_.searching_.fetch_add(1, std::memory_order_seq_cst);
                searching = true;
                idle_rounds = 0;
            } else if (idle_rounds < kSpinRounds) {
                back_off(idle_rounds++);
            } else {
                sleep(seen, done);  // returns counted as searching again
                idle_rounds = 0;
            }
        }
        if (searching) {
            pool_.searching_.fetch_sub(1, std::memory_order_seq_cst);
        }
    } catch (...) {
        fatal(kBookkeepingFailure);
    }
}

detail::Job* Worker::find_work() noexcept {
    if (detail::Job* job = deque_.pop()) {
        return job;
    }
    return pool_.steal_for(*this);
}

// Sleeps unless work was offered since `seen_epoch` was read (before the last
// failed search), `done` is set or the pool is stopping. The worker stops
// counting as searching and counts as a sleeper before it reads the epoch;
// whoever offers work moves the epoch before it reads the two counters (all
// sequentially consistent). So either this thread sees the new epoch, or that
// thread sees it searching or asleep, and in the second case wakes a sleeper.
void Worker::sleep(std::uint64_t seen_epoch, const std::atomic<bool>* done) noexcept {
    std::unique_lock<std::mutex> lock(sleep_mutex_);
    asleep_ = true;
    pool_.searching_.fetch_sub(1, std::memory_order_seq_cst);
    pool_.sleepers_.fetch_add(1, std::memory_order_seq_cst);
    bool stay_awake = pool_.work_epoch_.load(std::memory_order_seq_cst) != seen_epoch ||
                      pool_.terminating_.load(std::memory_order_seq_cst) ||
                      (done != nullptr && done->load(std::memory_order_acquire));
    if (stay_awake) {
        asleep_ = false;
        pool_.sleepers_.fetch_sub(1, std::memory_order_seq_cst);
        pool_.searching_.fetch_add(1, std::memory_order_seq_cst);
        return;
    }
    // Whoever wakes us clears asleep_ and moves us back to the searchers.
    wake_cv_.wait(lock, [this] { return !asleep_; });
}

bool Worker::wake() noexcept {
    std::lock_guard<std::mutex> guard(sleep_mutex_);
    if (!asleep_) {
        return false;
    }
    asleep_ = false;
    pool_.searching_.fetch_add(1, std::memory_order_seq_cst);
    pool_.sleepers_.fetch_sub(1, std::memory_order_seq_cst);
    wake_cv_.notify_one();
    return true;
}

// ---- ThreadPool ---------------------------------------------------------------

ThreadPool::ThreadPool(std::size_t workers) {
    const std::size_t count = std::max<std::size_t>(workers, 1);
    workers_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        workers_.push_back(std::make_unique<Worker>(*this, i));
    }
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc == 0) {
        rc = pthread_attr_setstacksize(&attr, kWorkerStackBytes);
        for (std::size_t i = 0; rc == 0 && i < count; ++i) {
            Worker& worker = *workers_[i];
            rc = pthread_create(&worker.thread_, &attr, &worker_entry, &worker);
            worker.started_ = rc == 0;
        }
        pthread_attr_destroy(&attr);
    }
    if (rc != 0) {
        stop_workers();
        throw ThreadPoolBuildError(rc);
    }
}

ThreadPool::~ThreadPool() { stop_workers(); }

void ThreadPool::stop_workers() noexcept {
    terminating_.store(true, std::memory_order_seq_cst);
    for (auto& worker : workers_) {
        worker->wake();
    }
    for (auto& worker : workers_) {
        if (worker->started_) {
            pthread_join(worker->thread_, nullptr);
            worker->started_ = false;
        }
    }
}

Worker* ThreadPool::current_worker() const noexcept {
    Worker* worker = tls_worker;
    return worker != nullptr && &worker->pool_ == this ? worker : nullptr;
}

void ThreadPool::inject(detail::Job* job) {
    {
        std::lock_guard<std::mutex> guard(injector_mutex_);
        injector_.push_back(job);
        injected_.fetch_add(1, std::memory_order_release);
    }
    announce_work();
    // A job from outside the pool splits as soon as a worker takes it: wake a
    // second sleeper now, so that its wake-up overlaps the first one's instead
    // of following it.
    wake_one_sleeper();
}

detail::Job* ThreadPool::take_injected() noexcept {
    if (injected_.load(std::memory_order_acquire) == 0) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(injector_mutex_);
    if (injector_.empty()) {
        return nullptr;
    }
    detail::Job* job = injector_.front();
    injector_.pop_front();
    injected_.fetch_sub(1, std::memory_order_relaxed);
    return job;
}

// Steals from the other workers' deques, starting at a random one, then takes
// from the injector.
detail::Job* ThreadPool::steal_for(Worker& thief) noexcept {
    const std::size_t n = workers_.size();
    if (n > 1) {
        const std::size_t start = thief.next_random() % n;
        bool contended = true;
        while (contended) {
            contended = false;
            for (std::size_t k = 0; k < n; ++k) {
                std::size_t victim = (start + k) % n;
                if (victim == thief.index_) {
                    continue;
                }
                if (detail::Job* job = workers_[victim]->deque_.steal(contended)) {
                    return job;
                }
            }
        }
    }
    return take_injected();
}

// Called after work was offered: wakes one sleeper unless some worker is
// searching already (it will find the work; see Worker::sleep).
void ThreadPool::announce_work() noexcept {
    work_epoch_.fetch_add(1, std::memory_order_seq_cst);
    if (searching_.load(std::memory_order_seq_cst) != 0 ||
        sleepers_.load(std::memory_order_seq_cst) == 0) {
        return;
    }
    wake_one_sleeper();
}

void ThreadPool::wake_one_sleeper() noexcept {
    if (sleepers_.load(std::memory_order_seq_cst) == 0) {
        return;
    }
    const std::size_t n = workers_.size();
    const std::size_t start = wake_cursor_.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t k = 0; k < n; ++k) {
        if (workers_[(start + k) % n]->wake()) {
            return;
        }
    }
}

// ---- The global pool ------------------------------------------------------------

namespace {

// Constant-initialised, so usable from any static constructor.
struct GlobalPool {
    std::atomic<ThreadPool*> pool{nullptr};
    std::mutex build_mutex;   // held while the pool is built
    bool attempted = false;   // under build_mutex: a failed build is not retried
    bool fork_handler = false;
};
GlobalPool g_global;

// In a child forked from a process whose pool had started: the workers were
// not copied, and any lock of the old pool may be held by a thread that no
// longer exists. The old pool is leaked untouched; the first parallel call of
// the child builds a new one.
void reset_global_pool_in_child() noexcept {
    g_global.pool.store(nullptr, std::memory_order_relaxed);
    ::new (static_cast<void*>(&g_global.build_mutex)) std::mutex();
    g_global.attempted = false;
    tls_worker = nullptr;
}

ThreadPool& build_global_pool() {
    std::string failure;
    {
        std::lock_guard<std::mutex> guard(g_global.build_mutex);
        if (ThreadPool* pool = g_global.pool.load(std::memory_order_relaxed)) {
            return *pool;
        }
        if (!g_global.attempted) {
            g_global.attempted = true;
            if (!g_global.fork_handler) {
                g_global.fork_handler =
                    pthread_atfork(nullptr, nullptr, &reset_global_pool_in_child) == 0;
            }
            try {
                auto* pool = new ThreadPool(configured_thread_count());
                g_global.pool.store(pool, std::memory_order_release);
                return *pool;
            } catch (const ThreadPoolBuildError& error) {
                failure = error.what();
            } catch (const std::bad_alloc&) {
                failure = ThreadPoolBuildError(ENOMEM).what();
            }
        } else {
            failure = "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }";
        }
    }
    panic(std::string(kNotInitialised) + ": " + failure);
}

}  // namespace

ThreadPool& global_pool() {
    if (ThreadPool* pool = g_global.pool.load(std::memory_order_acquire)) {
        return *pool;
    }
    return build_global_pool();
}

}  // namespace quilmo::driver
