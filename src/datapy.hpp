// DataPy: the set-up object. It owns copies of the stack description and the
// two angles, never changes after construction, and computes its spectra in
// `simulate`.
#pragma once

#include <Python.h>

#include <atomic>

#include "common/owned_array.hpp"
#include "optics/complex.hpp"
#include "type_cell.hpp"

namespace quilmo {

struct DataPyState {
    OwnedArray1<double> d;
    OwnedArray2<optics::Complex> n;
    OwnedArray1<double> wl;
    double theta = 0.0;
    double phi = 0.0;
};

struct DataPyObject {
    PyObject_HEAD
    DataPyState state;
    std::atomic<Py_ssize_t> borrow_count;
};

extern TypeCell datapy_type_cell;

// The `simulate` method (METH_NOARGS).
PyObject* DataPy_simulate(PyObject* self, PyObject* unused);

}  // namespace quilmo
