// Module initialisation: the one exported symbol, PyInit_quilmo.
//
// Single-phase initialisation. The module belongs to the first interpreter
// that imports it (its types and caches are process-wide), and is created once
// per process; later imports in that interpreter get the same module object.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "boundary/entry.hpp"
#include "boundary/errors.hpp"
#include "datapy.hpp"
#include "simulation.hpp"
#include "type_cell.hpp"

namespace quilmo {

namespace {

using boundary::PyErr;
using boundary::Ref;

constexpr std::int64_t INTERPRETER_UNCLAIMED = -1;

struct ModuleCell {
    std::atomic<std::int64_t> owner_interpreter{INTERPRETER_UNCLAIMED};
    PyObject* module = nullptr;  // set once, after a fully successful initialisation
};

ModuleCell module_cell;

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "quilmo",
    "Reflectance and transmittance of planar thin-film stacks by the 2x2 transfer-matrix method.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* initialise() {
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        throw PyErr::fetch();
    }
    std::int64_t expected = INTERPRETER_UNCLAIMED;
    if (!module_cell.owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        throw PyErr::lazy(PyExc_ImportError,
                          "Vennic modules do not yet support subinterpreters; quilmo keeps "
                          "process-wide state and can only be imported in the interpreter that "
                          "imported it first (see the README, section \"Threads and interpreters\")");
    }
    if (module_cell.module != nullptr) {
        return Py_NewRef(module_cell.module);
    }
    Ref module = boundary::checked(PyModule_Create2(&module_definition, 1013));
    add_class(module.get(), datapy_type_cell, "DataPy");
    add_class(module.get(), simulation_type_cell, "Simulation");
    if (module_cell.module == nullptr) {
        module_cell.module = module.release();
    }
    return Py_NewRef(module_cell.module);
}

}  // namespace

}  // namespace quilmo

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_quilmo() {
    return quilmo::boundary::entry_wrapper<PyObject*>(quilmo::initialise, nullptr);
}
