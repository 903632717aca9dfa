// Simulation: the result object of `DataPy.simulate`, holding the
// transmittance and reflectance spectra.
#pragma once

#include <Python.h>

#include <atomic>

#include "common/owned_array.hpp"
#include "type_cell.hpp"

namespace quilmo {

struct SimulationState {
    OwnedArray1<double> t;
    OwnedArray1<double> r;
};

struct SimulationObject {
    PyObject_HEAD
    SimulationState state;
    std::atomic<Py_ssize_t> borrow_count;
};

extern TypeCell simulation_type_cell;

// A new Simulation taking over both vectors without copying (a new reference).
// Throws PyErr when the allocation fails; the vectors are freed then.
PyObject* make_simulation(Buffer<double> transmittance, Buffer<double> reflectance);

}  // namespace quilmo
