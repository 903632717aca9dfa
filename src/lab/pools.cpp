#include "lab/pools.hpp"

#include <pthread.h>

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

// In a forked child the workers of the parent's pools do not exist and their
// locks may be held by threads that are gone: leak them untouched.
void forget_pools_in_child() noexcept {
    ::new (static_cast<void*>(&g_pools.mutex)) std::mutex();
    g_pools.by_size = nullptr;
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

std::size_t default_threads() noexcept { return driver::default_thread_count(); }

}  // namespace quilmo::lab
