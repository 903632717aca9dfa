#include "boundary/entry.hpp"

#include <new>
#include <string>

#include "boundary/errors.hpp"
#include "common/internal_error.hpp"

namespace quilmo::boundary {

namespace {

thread_local long lock_count = 0;

void raise_panic_exception(const std::string& text) {
    PyObject* type = panic_exception_type();
    Ref message = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                                  "replace"));
    if (!message) {
        throw PyErr::fetch();
    }
    PyErr_SetObject(type, message.get());
}

}  // namespace

long& interpreter_lock_count() noexcept { return lock_count; }

void check_interpreter_access() {
    if (lock_count == -1) {
        panic("Access to the GIL is prohibited while a __traverse__ implmentation is running.");
    }
    if (lock_count < 0) {
        panic("Access to the GIL is currently prohibited.");
    }
}

void raise_caught(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (PyErr& python_error) {
        python_error.restore();
    } catch (const InternalError& internal) {
        raise_panic_exception(internal.message());
    } catch (const OutOfMemory&) {
        PyErr_NoMemory();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& other) {
        // A C++ failure that is not one of ours (a library threw): still a
        // broken invariant from Python's point of view.
        raise_panic_exception(other.what());
    }
}

void trap_uncaught(std::string_view trap) noexcept {
    report_internal_error(trap);
    fatal("panic in a function that cannot unwind");
}

}  // namespace quilmo::boundary
