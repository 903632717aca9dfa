#include "simulation.hpp"

#include <new>

#include "boundary/entry.hpp"
#include "boundary/errors.hpp"

namespace quilmo {

namespace {

using boundary::entry_wrapper;
using boundary::PyErr;

PyObject* Simulation_get(PyObject*, void*) {
    return entry_wrapper<PyObject*>(
        []() -> PyObject* { throw PyErr::lazy(PyExc_NotImplementedError, "not implemented yet"); },
        nullptr);
}

void Simulation_dealloc(PyObject* self) {
    boundary::entry_wrapper_void([self] {
        PyTypeObject* type = Py_TYPE(self);
        reinterpret_cast<SimulationObject*>(self)->state.~SimulationState();
        if (type->tp_free == nullptr) {
            panic("PyBaseObject_Type should have tp_free");
        }
        type->tp_free(self);
        Py_DECREF(type);
    });
}

PyGetSetDef Simulation_getset[] = {
    {"t", Simulation_get, nullptr, nullptr, nullptr},
    {"r", Simulation_get, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDefinition Simulation_definition{
    "Simulation", nullptr, nullptr, Simulation_dealloc, nullptr, Simulation_getset,
    sizeof(SimulationObject),
};

}  // namespace

TypeCell simulation_type_cell{Simulation_definition};

}  // namespace quilmo
