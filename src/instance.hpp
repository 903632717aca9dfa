// Creation and destruction of instances of the module's classes. Each
// instance is the object header, a `state` member owning its arrays, and a
// `borrow_count` member.
#pragma once

#include <Python.h>

#include <atomic>
#include <new>
#include <utility>

#include "boundary/entry.hpp"
#include "boundary/errors.hpp"
#include "common/internal_error.hpp"

namespace quilmo {

// Allocates an instance of `type` with the type's tp_alloc and moves `state`
// into it. Returns a new reference; throws PyErr when allocation fails, in
// which case `state` is freed by its owner.
template <class Object, class State>
PyObject* new_instance(PyTypeObject* type, State&& state) {
    allocfunc allocate = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
    PyObject* self = allocate(type, 0);
    if (self == nullptr) {
        throw boundary::PyErr::fetch();
    }
    auto* object = reinterpret_cast<Object*>(self);
    new (&object->state) std::remove_cvref_t<State>(std::forward<State>(state));
    new (&object->borrow_count) std::atomic<Py_ssize_t>(0);
    return self;
}

// tp_dealloc: releases the stored arrays, then the memory. A heap type's
// instances each hold a reference to their type, given back last.
template <class Object>
void destroy_instance(PyObject* self) {
    boundary::entry_wrapper_void([self] {
        PyTypeObject* type = Py_TYPE(self);
        std::destroy_at(&reinterpret_cast<Object*>(self)->state);
        if (type->tp_free == nullptr) {
            panic("PyBaseObject_Type should have tp_free");
        }
        type->tp_free(self);
        Py_DECREF(type);
    });
}

}  // namespace quilmo
