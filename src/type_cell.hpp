// Lazily created heap types of the module's classes.
#pragma once

#include <Python.h>

#include <string>

namespace quilmo {

// What a class contributes to its heap type.
struct ClassDefinition {
    const char* name;                // "DataPy"
    const char* text_signature;      // "(d, n, wl, theta, phi)", or null without a constructor
    newfunc constructor;             // null: calling the class raises TypeError
    destructor dealloc;              // plain (non-GC) destructor
    PyMethodDef* methods;            // null-terminated, or null
    PyGetSetDef* getset;             // null-terminated, or null
    int basic_size;                  // object header, state and borrow counter
};

// Holds a class's type object once created; it is never released.
class TypeCell {
public:
    explicit constexpr TypeCell(const ClassDefinition& definition) : definition_(definition) {}

    // The type object (borrowed), creating it if needed; throws PyErr
    // (RuntimeError "An error occurred while initializing class <name>" with
    // the underlying error as __cause__) when it cannot be made.
    PyObject* get_or_try_init();

    // For callers without an error path: prints the error and stops the call
    // with the internal error "failed to create type object for <name>".
    PyTypeObject* get_or_init();

    const ClassDefinition& definition() const { return definition_; }

private:
    PyObject* build();

    const ClassDefinition& definition_;
    PyObject* type_ = nullptr;
    std::string doc_;  // built once, kept with the type
    bool doc_built_ = false;
};

// Publishes the class of `cell` as module attribute `name` and appends `name`
// to the module's __all__ (created when missing). Throws PyErr.
void add_class(PyObject* module, TypeCell& cell, const char* name);

// tp_new of a class without a constructor.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace quilmo
