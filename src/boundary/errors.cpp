#include "boundary/errors.hpp"

#include <cstdio>

#include "common/internal_error.hpp"

namespace quilmo::boundary {

namespace {

// The exception being raised, normalised, with its traceback attached; null
// when none is set. A new reference.
PyObject* take_raised_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return nullptr;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

// Makes `exception` (stolen) the current exception.
void set_raised_exception(PyObject* exception) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception)));
    PyErr_Restore(type, exception, PyException_GetTraceback(exception));
#endif
}

const char* const panic_exception_doc =
    "\n"
    "Raised when quilmo's compiled code, called from Python, hits an internal error (a panic).\n"
    "\n"
    "Like SystemExit, this exception derives from BaseException, so that it will typically\n"
    "propagate all the way through the stack and cause the Python interpreter to exit.\n";

// Holds the interpreter lock for its scope, taking it if this thread does not
// hold it already.
class InterpreterLock {
public:
    InterpreterLock() noexcept : state_(PyGILState_Ensure()) {}
    ~InterpreterLock() { PyGILState_Release(state_); }
    InterpreterLock(const InterpreterLock&) = delete;
    InterpreterLock& operator=(const InterpreterLock&) = delete;

private:
    PyGILState_STATE state_;
};

// Created once under the interpreter lock; the first stored class stays.
PyObject* panic_exception_class = nullptr;

std::string text_of(PyObject* object, PyObject* (*render)(PyObject*)) {
    Ref text = checked(render(object));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (utf8 == nullptr) {
        throw PyErr::fetch();
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

// The quoted traceback text for the debug rendering, or the unformattable form.
std::string traceback_text(PyObject* traceback) {
    Ref module = Ref::steal(PyImport_ImportModule("traceback"));
    Ref lines = module ? Ref::steal(PyObject_CallMethod(module.get(), "format_tb", "O", traceback))
                       : Ref();
    Ref empty = Ref::steal(PyUnicode_FromString(""));
    Ref joined = (lines && empty) ? Ref::steal(PyUnicode_Join(empty.get(), lines.get())) : Ref();
    const char* utf8 = joined ? PyUnicode_AsUTF8(joined.get()) : nullptr;
    if (utf8 == nullptr) {
        PyErr_WriteUnraisable(traceback);
        std::string rendering = "<traceback>";
        try {
            rendering = repr_of(traceback);
        } catch (const PyErr&) {
            PyErr_Clear();
        }
        return "<unformattable " + rendering + ">";
    }
    return "Some(" + debug_quote(std::string("Traceback (most recent call last):\n") + utf8) + ")";
}

}  // namespace

PyErr PyErr::lazy(PyObject* type, std::string message) {
    PyErr error;
    error.lazy_type_ = type;
    error.lazy_message_ = std::move(message);
    return error;
}

PyErr PyErr::from_value(Ref value) {
    PyErr error;
    error.value_ = std::move(value);
    return error;
}

PyErr PyErr::fetch() {
    PyObject* raised = take_raised_exception();
    if (raised == nullptr) {
        return lazy(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    Ref value = Ref::steal(raised);
    if (reinterpret_cast<PyObject*>(Py_TYPE(value.get())) == panic_exception_type()) {
        // An internal error that travelled through Python: carry it on with the
        // same text. It was reported when it was first raised.
        std::string text = "<PanicException text could not be read>";
        Ref rendered = Ref::steal(PyObject_Str(value.get()));
        const char* utf8 = rendered ? PyUnicode_AsUTF8(rendered.get()) : nullptr;
        if (utf8 != nullptr) {
            text = utf8;
        } else {
            PyErr_Clear();
        }
        std::fputs("--- Vennic is resuming a panic after fetching a PanicException from Python. ---\n"
                   "Python stack trace below:\n",
                   stderr);
        std::fflush(stderr);
        set_raised_exception(value.release());
        PyErr_PrintEx(0);
        resume_panic(std::move(text));
    }
    return from_value(std::move(value));
}

void PyErr::normalize() {
    if (value_) {
        return;
    }
    if (!PyExceptionClass_Check(lazy_type_)) {
        lazy_type_ = PyExc_TypeError;
        lazy_message_ = "exceptions must derive from BaseException";
    }
    Ref message = Ref::steal(PyUnicode_FromStringAndSize(
        lazy_message_.data(), static_cast<Py_ssize_t>(lazy_message_.size())));
    PyObject* built = message ? PyObject_CallOneArg(lazy_type_, message.get()) : nullptr;
    value_ = Ref::steal(built != nullptr ? built : take_raised_exception());
    if (!value_) {
        panic("Python API call failed");
    }
}

void PyErr::restore() {
    normalize();
    set_raised_exception(value_.release());
}

PyObject* PyErr::value() {
    normalize();
    return value_.get();
}

PyObject* PyErr::type() { return reinterpret_cast<PyObject*>(Py_TYPE(value())); }

const std::string* PyErr::unbuilt_message(PyObject* type) const noexcept {
    return !value_ && lazy_type_ == type ? &lazy_message_ : nullptr;
}

std::string PyErr::debug() {
    InterpreterLock lock;
    PyObject* exception = value();
    std::string out = "PyErr { type: " + repr_of(type()) + ", value: " + repr_of(exception) + ", traceback: ";
    Ref traceback = Ref::steal(PyException_GetTraceback(exception));
    out += traceback ? traceback_text(traceback.get()) : "None";
    return out + " }";
}

Ref checked(PyObject* result) {
    if (result == nullptr) {
        throw PyErr::fetch();
    }
    return Ref::steal(result);
}

PyObject* expect_object(PyObject* result) {
    if (result == nullptr) {
        PyErr_Print();
        panic("Python API call failed");
    }
    return result;
}

PyErr conversion_error(PyObject* object, std::string_view target) {
    std::string name = "<failed to extract type name>";
    Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(object)));
    const char* utf8 = qualname ? PyUnicode_AsUTF8(qualname.get()) : nullptr;
    if (utf8 != nullptr) {
        name = utf8;
    } else {
        PyErr_Clear();
    }
    return PyErr::lazy(PyExc_TypeError,
                       "'" + name + "' object cannot be converted to '" + std::string(target) + "'");
}

PyErr argument_error(const char* name, PyErr error) {
    std::string prefix = std::string("argument '") + name + "': ";
    // Our own TypeErrors are reworded as text: str() of one is its message and
    // it has no cause. Runs no Python code while argument arrays are borrowed.
    if (const std::string* message = error.unbuilt_message(PyExc_TypeError)) {
        return PyErr::lazy(PyExc_TypeError, prefix + *message);
    }
    if (error.type() != PyExc_TypeError) {
        return error;
    }
    PyErr renamed = PyErr::lazy(PyExc_TypeError, prefix + str_of(error.value()));
    // The new exception takes over the original's cause, not the original.
    PyObject* cause = PyException_GetCause(error.value());
    if (cause != nullptr) {
        PyException_SetCause(renamed.value(), cause);
    }
    return renamed;
}

PyObject* panic_exception_type() {
    if (panic_exception_class != nullptr) {
        return panic_exception_class;
    }
    PyObject* created = PyErr_NewExceptionWithDoc("vennic_runtime.PanicException",
                                                  panic_exception_doc, PyExc_BaseException,
                                                  nullptr);
    if (created == nullptr) {
        // Without the class no internal error could be raised at all.
        std::string text = "Failed to initialize new exception type.: " + PyErr::fetch().debug();
        report_internal_error(text);
        fatal("thread caused non-unwinding panic. aborting.");
    }
    if (panic_exception_class == nullptr) {
        panic_exception_class = created;
    } else {
        Py_DECREF(created);
    }
    return panic_exception_class;
}

std::string debug_quote(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char escaped[12];
                    std::snprintf(escaped, sizeof escaped, "\\u{%x}", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string str_of(PyObject* object) { return text_of(object, PyObject_Str); }

std::string repr_of(PyObject* object) { return text_of(object, PyObject_Repr); }

}  // namespace quilmo::boundary
