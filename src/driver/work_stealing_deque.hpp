// A Chase–Lev work-stealing deque of pointers.
//
// D. Chase and Y. Lev, "Dynamic Circular Work-Stealing Deque" (SPAA 2005), in
// the C11 form of N. M. Lê, A. Pop, A. Cohen and F. Zappa Nardelli, "Correct
// and Efficient Work-Stealing for Weak Memory Models" (PPoPP 2013). The owner
// pushes and pops at the bottom; any other thread steals from the top.
//
// The paper's stand-alone fences are replaced by sequentially consistent
// operations on `top_` and `bottom_`, so ThreadSanitizer sees every
// synchronisation: a push publishes the slot (and what the pointer points to)
// with a release store of `bottom_` that a thief reads with an acquire load.
// The two indices live on separate cache lines. A ring that has been outgrown
// stays allocated until the deque dies, since a slow thief may still read it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

namespace quilmo::driver {

template <class T>
class WorkStealingDeque {
    static_assert(std::is_pointer_v<T>, "the deque holds pointers; nullptr means none");

public:
    explicit WorkStealingDeque(std::int64_t capacity = 64) {
        rings_.push_back(std::make_unique<Ring>(capacity));
        ring_.store(rings_.back().get(), std::memory_order_relaxed);
    }
    WorkStealingDeque(const WorkStealingDeque&) = delete;
    WorkStealingDeque& operator=(const WorkStealingDeque&) = delete;

    // Owner only. May grow the ring (and throw std::bad_alloc doing so).
    void push(T item) {
        std::int64_t b = bottom_.load(std::memory_order_relaxed);
        std::int64_t t = top_.load(std::memory_order_acquire);
        Ring* ring = ring_.load(std::memory_order_relaxed);
        if (b - t > ring->capacity - 1) {
            ring = grow(ring, b, t);
        }
        ring->put(b, item);
        bottom_.store(b + 1, std::memory_order_seq_cst);
    }

    // Owner only: the most recently pushed item, or nullptr.
    T pop() noexcept {
        std::int64_t b = bottom_.load(std::memory_order_relaxed) - 1;
        Ring* ring = ring_.load(std::memory_order_relaxed);
        bottom_.store(b, std::memory_order_seq_cst);
        std::int64_t t = top_.load(std::memory_order_seq_cst);
        if (t > b) {
            bottom_.store(b + 1, std::memory_order_release);
            return nullptr;
        }
        T item = ring->get(b);
        if (t == b) {
            // The last item: a thief may be taking it at the same time.
            if (!top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst,
                                              std::memory_order_relaxed)) {
                item = nullptr;
            }
            bottom_.store(b + 1, std::memory_order_release);
        }
        return item;
    }

    // Any thread: the oldest item, or nullptr. `contended` is set when another
    // thread won the race for it, so the caller may try again.
    T steal(bool& contended) noexcept {
        std::int64_t t = top_.load(std::memory_order_seq_cst);
        std::int64_t b = bottom_.load(std::memory_order_seq_cst);
        if (t >= b) {
            return nullptr;
        }
        Ring* ring = ring_.load(std::memory_order_acquire);
        T item = ring->get(t);
        if (!top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst,
                                          std::memory_order_relaxed)) {
            contended = true;
            return nullptr;
        }
        return item;
    }

    // A snapshot; exact only when no other thread touches the deque.
    bool empty() const noexcept {
        return bottom_.load(std::memory_order_seq_cst) <= top_.load(std::memory_order_seq_cst);
    }

private:
    struct Ring {
        explicit Ring(std::int64_t cap)
            : capacity(cap), mask(cap - 1), slots(new std::atomic<T>[static_cast<std::size_t>(cap)]) {}
        T get(std::int64_t i) const noexcept { return slots[i & mask].load(std::memory_order_relaxed); }
        void put(std::int64_t i, T item) noexcept { slots[i & mask].store(item, std::memory_order_relaxed); }

        std::int64_t capacity;  // a power of two
        std::int64_t mask;
        std::unique_ptr<std::atomic<T>[]> slots;
    };

    Ring* grow(Ring* old, std::int64_t b, std::int64_t t) {
        auto bigger = std::make_unique<Ring>(old->capacity * 2);
        for (std::int64_t i = t; i != b; ++i) {
            bigger->put(i, old->get(i));
        }
        rings_.push_back(std::move(bigger));
        Ring* ring = rings_.back().get();
        ring_.store(ring, std::memory_order_release);
        return ring;
    }

    alignas(64) std::atomic<std::int64_t> top_{0};
    alignas(64) std::atomic<std::int64_t> bottom_{0};
    alignas(64) std::atomic<Ring*> ring_{nullptr};
    std::vector<std::unique_ptr<Ring>> rings_;  // owner only; every ring ever used
};

}  // namespace quilmo::driver
