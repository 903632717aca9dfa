// How failures reach Python.
//
// Two kinds of failure travel up to the entry wrapper as C++ exceptions:
// - `PyErr`, a Python error held by the module (lazy: a type and a message
//   built only when raised; or normalised: type, value, traceback). The wrapper
//   raises it as the current Python exception.
// - `quilmo::InternalError` (see common/internal_error.hpp), a broken
//   invariant. The wrapper raises it as `PanicException`.
// `quilmo::OutOfMemory` becomes MemoryError. Nothing ever unwinds into CPython.
#pragma once

#include <Python.h>

#include <exception>
#include <string>
#include <string_view>

#include "boundary/ref.hpp"

namespace quilmo::boundary {

class PyErr : public std::exception {
public:
    // A lazy error: `type` (borrowed, e.g. PyExc_TypeError) built with `message`.
    static PyErr lazy(PyObject* type, std::string message);
    // Takes the interpreter's current exception after a call reported failure.
    // With no exception set: SystemError "attempted to fetch exception but none
    // was set". A PanicException coming back from Python is not returned: it is
    // printed and resumed as an internal error with the same text.
    static PyErr fetch();
    // Wraps a normalised exception instance (stolen).
    static PyErr from_value(Ref value);

    PyErr(PyErr&&) noexcept = default;
    PyErr& operator=(PyErr&&) noexcept = default;

    const char* what() const noexcept override { return "Python error"; }

    // Sets the error as the current exception; the error is consumed.
    void restore();
    // The exception instance, built now if the error is lazy (borrowed).
    PyObject* value();
    // The exception's type (borrowed).
    PyObject* type();
    // The message of a lazy error of exactly `type` not yet built, else null:
    // lets the message be reworded without building the exception, which can
    // start the cyclic collector and with it arbitrary finalizers.
    const std::string* unbuilt_message(PyObject* type) const noexcept;
    // "PyErr { type: <repr>, value: <repr>, traceback: None | Some(\"...\") }"
    std::string debug();

private:
    PyErr() = default;
    void normalize();

    PyObject* lazy_type_ = nullptr;  // borrowed: built-in exception classes are immortal enough
    std::string lazy_message_;
    Ref value_;
};

// Takes over the new reference returned by an interpreter call; when the call
// returned null, throws the pending error (see PyErr::fetch).
Ref checked(PyObject* result);

// Runs `PyErr_Print` and stops the call with the internal error "Python API
// call failed" when a call that must return an object returned none.
PyObject* expect_object(PyObject* result);

// "'<qualified type name>' object cannot be converted to '<target>'"
PyErr conversion_error(PyObject* object, std::string_view target);

// The error to raise for a failed conversion of argument `name`: an exception
// of exactly TypeError becomes TypeError "argument '<name>': <text>" keeping the
// original's __cause__; any other error passes through unchanged.
PyErr argument_error(const char* name, PyErr error);

// The process-wide PanicException class (borrowed); created on first need.
PyObject* panic_exception_type();

// Rust-style debug quoting of a text: "\"" + escaped text + "\"".
std::string debug_quote(std::string_view text);

// `str(object)` as UTF-8; throws PyErr on failure.
std::string str_of(PyObject* object);
// `repr(object)` as UTF-8; throws PyErr on failure.
std::string repr_of(PyObject* object);

}  // namespace quilmo::boundary
