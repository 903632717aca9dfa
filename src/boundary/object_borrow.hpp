// Shared borrows of the module's own objects.
//
// Every instance ends with an atomic counter: readers (getters, simulate) add
// one for the duration of their work. -1 would mark an exclusive borrow; no
// operation of the module takes one, but readers still refuse it.
#pragma once

#include <Python.h>

#include <atomic>

#include "boundary/errors.hpp"
#include "boundary/ref.hpp"

namespace quilmo::boundary {

inline constexpr Py_ssize_t BORROWED_EXCLUSIVE = -1;

// Holds a reference to the object and one shared borrow; gives both back on
// destruction. Neither copyable nor movable: bind it to a named variable.
class SharedObjectBorrow {
public:
    SharedObjectBorrow(PyObject* object, std::atomic<Py_ssize_t>& counter) : counter_(counter) {
        Py_ssize_t current = counter_.load(std::memory_order_relaxed);
        do {
            if (current == BORROWED_EXCLUSIVE) {
                throw PyErr::lazy(PyExc_RuntimeError, "Already mutably borrowed");
            }
        } while (!counter_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                                 std::memory_order_relaxed));
        object_ = Ref::borrow(object);
    }
    ~SharedObjectBorrow() { counter_.fetch_sub(1, std::memory_order_release); }
    SharedObjectBorrow(const SharedObjectBorrow&) = delete;
    SharedObjectBorrow& operator=(const SharedObjectBorrow&) = delete;

private:
    std::atomic<Py_ssize_t>& counter_;
    Ref object_;
};

}  // namespace quilmo::boundary
