// Handles for Python object references.
//
// `Ref` owns one strong reference and gives it back when it dies. Ownership is
// stated at construction: `Ref::steal` takes over a new reference (the result
// of most C API calls), `Ref::borrow` adds one to a borrowed reference.
// `release()` hands the reference back to the caller (for returning to
// CPython). Every use needs the interpreter lock.
#pragma once

#include <Python.h>

#include <utility>

namespace quilmo::boundary {

class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* object) noexcept { return Ref(object); }
    static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(object_, std::exchange(other.object_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Returns the reference to the caller, who now owns it.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    Ref clone() const noexcept { return borrow(object_); }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace quilmo::boundary
