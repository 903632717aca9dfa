#include "simulation.hpp"

#include <cstdint>

#include "boundary/arrays.hpp"
#include "boundary/entry.hpp"
#include "boundary/errors.hpp"
#include "boundary/object_borrow.hpp"
#include "instance.hpp"

namespace quilmo {

namespace {

using boundary::entry_wrapper;

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

void* closure_of(Spectrum spectrum) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(spectrum));
}

PyGetSetDef Simulation_getset[] = {
    {"t", Simulation_get, nullptr, nullptr, closure_of(Spectrum::transmittance)},
    {"r", Simulation_get, nullptr, nullptr, closure_of(Spectrum::reflectance)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDefinition Simulation_definition{
    "Simulation", nullptr, nullptr, destroy_instance<SimulationObject>, nullptr, Simulation_getset,
    sizeof(SimulationObject),
};

}  // namespace

TypeCell simulation_type_cell{Simulation_definition};

PyObject* make_simulation(Buffer<double> transmittance, Buffer<double> reflectance) {
    SimulationState state{OwnedArray1<double>::from_buffer(std::move(transmittance)),
                          OwnedArray1<double>::from_buffer(std::move(reflectance))};
    return new_instance<SimulationObject>(simulation_type_cell.get_or_init(), std::move(state));
}

}  // namespace quilmo
