// The entry wrapper: every function CPython calls in this module runs inside
// it. It turns a thrown `PyErr` into the current Python exception, an
// `InternalError` into `PanicException`, `OutOfMemory` into MemoryError, and
// returns the slot's failure value. No C++ exception ever escapes into CPython:
// a failure while the wrapper itself raises ends the process.
#pragma once

#include <Python.h>

#include <exception>
#include <string_view>

namespace quilmo::boundary {

// Per-thread count of wrapper frames holding the interpreter lock. Negative
// means that access to the interpreter is forbidden on this thread.
long& interpreter_lock_count() noexcept;

// Stops the call with the internal error for a forbidden interpreter access
// when the thread's count is negative.
void check_interpreter_access();

// Raises the exception in flight (`error`, from a catch block) as the current
// Python exception. Returns normally; throws only when raising itself fails.
void raise_caught(std::exception_ptr error);

// Reports "uncaught panic at ffi boundary" (or `trap`) and ends the process.
[[noreturn]] void trap_uncaught(std::string_view trap) noexcept;

template <class Result, class Body>
Result entry_wrapper(Body&& body, Result failure_value,
                     std::string_view trap = "uncaught panic at ffi boundary") noexcept {
    long& count = interpreter_lock_count();
    try {
        check_interpreter_access();
    } catch (...) {
        trap_uncaught(trap);
    }
    ++count;
    Result result = failure_value;
    try {
        try {
            result = body();
        } catch (...) {
            raise_caught(std::current_exception());
        }
    } catch (...) {
        trap_uncaught(trap);
    }
    --count;
    return result;
}

// The same for slots that return nothing (tp_dealloc): any failure ends the process.
template <class Body>
void entry_wrapper_void(Body&& body,
                        std::string_view trap = "uncaught panic at ffi boundary") noexcept {
    long& count = interpreter_lock_count();
    ++count;
    try {
        body();
    } catch (...) {
        trap_uncaught(trap);
    }
    --count;
}

}  // namespace quilmo::boundary
