#include "simulation.hpp"

#include <new>

#include "boundary/arrays.hpp"
#include "boundary/entry.hpp"
#include "boundary/errors.hpp"
#include "boundary/object_borrow.hpp"

namespace quilmo {

namespace {

using boundary::entry_wrapper;
using boundary::PyErr;

enum class Spectrum { transmittance, reflectance };

// Getter of `t` or `r`: a new NumPy array with a copy of the stored values.
PyObject* Simulation_get(PyObject* self, void* closure) {
    return entry_wrapper<PyObject*>(
        [self, closure]() -> PyObject* {
            if (!PyObject_TypeCheck(self, simulation_type_cell.get_or_init())) {
                throw boundary::conversion_error(self, "Simulation");
            }
            auto* object = reinterpret_cast<SimulationObject*>(self);
            boundary::SharedObjectBorrow borrow(self, object->borrow_count);
            const bool wants_t = static_cast<Spectrum>(reinterpret_cast<std::intptr_t>(closure)) ==
                                 Spectrum::transmittance;
            return boundary::float64_vector_to_numpy(wants_t ? object->state.t : object->state.r).release();
        },
        nullptr);
}

// Releases the stored arrays, then the memory; the instance's reference to
// its heap type is given back last.
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

void* closure_of(Spectrum spectrum) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(spectrum));
}

PyGetSetDef Simulation_getset[] = {
    {"t", Simulation_get, nullptr, nullptr, closure_of(Spectrum::transmittance)},
    {"r", Simulation_get, nullptr, nullptr, closure_of(Spectrum::reflectance)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDefinition Simulation_definition{
    "Simulation", nullptr, nullptr, Simulation_dealloc, nullptr, Simulation_getset,
    sizeof(SimulationObject),
};

}  // namespace

TypeCell simulation_type_cell{Simulation_definition};

PyObject* make_simulation(Buffer<double> transmittance, Buffer<double> reflectance) {
    SimulationState state{OwnedArray1<double>::from_buffer(std::move(transmittance)),
                          OwnedArray1<double>::from_buffer(std::move(reflectance))};
    PyTypeObject* type = simulation_type_cell.get_or_init();
    allocfunc allocate = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
    PyObject* self = allocate(type, 0);
    if (self == nullptr) {
        throw PyErr::fetch();
    }
    auto* object = reinterpret_cast<SimulationObject*>(self);
    new (&object->state) SimulationState(std::move(state));
    new (&object->borrow_count) std::atomic<Py_ssize_t>(0);
    return self;
}

}  // namespace quilmo
