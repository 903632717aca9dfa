#include "lab/core/pools.hpp"

#include <pthread.h>

#include <atomic>
#include <map>
#include <mutex>

#include "driver/thread_count.hpp"

namespace quilmo::lab {

namespace {

// Constant-initialised: usable whatever the order of static construction.
struct Pools {
    std::mutex mutex;
    std::map<std::size_t, driver::ThreadPool*>* by_size = nullptr;  // under mutex; never freed
    bool fork_handler = false;
};
Pools g_pools;

// Reading the affinity mask and the cgroup quota costs hundreds of
// microseconds, as much as a small solve: read once per process (0: not yet).
std::atomic<std::size_t> g_default_threads{0};

// In a forked child the workers of the parent's pools do not exist and their
// locks may be held by threads that are gone: leak them untouched.
void forget_pools_in_child() noexcept {
    ::new (static_cast<void*>(&g_pools.mutex)) std::mutex();
    g_pools.by_size = nullptr;
    g_default_threads.store(0, std::memory_order_relaxed);
}

}  // namespace

driver::ThreadPool& pool_with(std::size_t workers) {
    std::lock_guard<std::mutex> guard(g_pools.mutex);
    if (!g_pools.fork_handler) {
        g_pools.fork_handler = pthread_atfork(nullptr, nullptr, &forget_pools_in_child) == 0;
    }
    if (g_pools.by_size == nullptr) {
        g_pools.by_size = new std::map<std::size_t, driver::ThreadPool*>();
    }
    auto found = g_pools.by_size->find(workers);
    if (found != g_pools.by_size->end()) {
        return *found->second;
    }
    auto* pool = new driver::ThreadPool(workers);
    g_pools.by_size->emplace(workers, pool);
    return *pool;
}

std::size_t default_threads() noexcept {
    std::size_t count = g_default_threads.load(std::memory_order_relaxed);
    if (count == 0) {
        count = driver::default_thread_count();
        g_default_threads.store(count, std::memory_order_relaxed);
    }
    return count;
}

}  // namespace quilmo::lab
