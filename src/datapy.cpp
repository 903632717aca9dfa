#include "datapy.hpp"

#include <new>

#include "boundary/entry.hpp"
#include "boundary/errors.hpp"

namespace quilmo {

namespace {

using boundary::entry_wrapper;
using boundary::PyErr;

PyObject* not_implemented() {
    throw PyErr::lazy(PyExc_NotImplementedError, "DataPy is not implemented yet");
}

PyObject* DataPy_new(PyTypeObject*, PyObject*, PyObject*) {
    return entry_wrapper<PyObject*>([] { return not_implemented(); }, nullptr);
}

PyObject* DataPy_get(PyObject*, void*) {
    return entry_wrapper<PyObject*>([] { return not_implemented(); }, nullptr);
}

PyObject* DataPy_simulate(PyObject*, PyObject*) {
    return entry_wrapper<PyObject*>([] { return not_implemented(); }, nullptr);
}

// Releases the stored arrays, then the memory; the instance's reference to
// its heap type is given back last.
void DataPy_dealloc(PyObject* self) {
    boundary::entry_wrapper_void([self] {
        PyTypeObject* type = Py_TYPE(self);
        reinterpret_cast<DataPyObject*>(self)->state.~DataPyState();
        if (type->tp_free == nullptr) {
            panic("PyBaseObject_Type should have tp_free");
        }
        type->tp_free(self);
        Py_DECREF(type);
    });
}

PyMethodDef DataPy_methods[] = {
    {"simulate", DataPy_simulate, METH_NOARGS, "simulate($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef DataPy_getset[] = {
    {"d", DataPy_get, nullptr, nullptr, nullptr},
    {"n", DataPy_get, nullptr, nullptr, nullptr},
    {"wl", DataPy_get, nullptr, nullptr, nullptr},
    {"theta", DataPy_get, nullptr, nullptr, nullptr},
    {"phi", DataPy_get, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDefinition DataPy_definition{
    "DataPy",       "(d, n, wl, theta, phi)", DataPy_new, DataPy_dealloc, DataPy_methods,
    DataPy_getset, sizeof(DataPyObject),
};

}  // namespace

TypeCell datapy_type_cell{DataPy_definition};

}  // namespace quilmo
