// DataPy.simulate: borrows the set-up, runs the computation and wraps the two
// spectra in a new Simulation.
#include "datapy.hpp"
#include "boundary/entry.hpp"
#include "boundary/errors.hpp"
#include "boundary/object_borrow.hpp"
#include "driver/simulate.hpp"
#include "simulation.hpp"

namespace quilmo {

PyObject* DataPy_simulate(PyObject* self, PyObject*) {
    return boundary::entry_wrapper<PyObject*>(
        [self]() -> PyObject* {
            if (!PyObject_TypeCheck(self, datapy_type_cell.get_or_init())) {
                throw boundary::conversion_error(self, "DataPy");
            }
            auto* object = reinterpret_cast<DataPyObject*>(self);
            boundary::SharedObjectBorrow borrow(self, object->borrow_count);
            const DataPyState& state = object->state;
            // The interpreter lock stays held: the stored arrays are immutable
            // and outlive the call, so the workers read them in place.
            driver::Spectra spectra = driver::run_simulation(
                driver::RunContext{state.d.view(), state.n.view(), state.wl.view(), state.theta, state.phi});
            return make_simulation(std::move(spectra.transmittance), std::move(spectra.reflectance));
        },
        nullptr);
}

}  // namespace quilmo
