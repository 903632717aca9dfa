#include "datapy.hpp"

#include <array>
#include <exception>
#include <new>
#include <optional>
#include <span>

#include "boundary/arrays.hpp"
#include "boundary/binder.hpp"
#include "boundary/entry.hpp"
#include "boundary/errors.hpp"
#include "boundary/object_borrow.hpp"
#include "boundary/ref.hpp"
#include "instance.hpp"

namespace quilmo {

namespace {

using boundary::entry_wrapper;
using boundary::PyErr;

constexpr const char* DataPy_parameters[] = {"d", "n", "wl", "theta", "phi"};
const boundary::FunctionDescription DataPy_new_description{
    "DataPy", "__new__", DataPy_parameters, 0, 5, 0, 0,
};

// Runs one argument conversion; a failure is renamed after the parameter.
template <class Convert>
auto convert_argument(const char* name, Convert&& convert) {
    try {
        return convert();
    } catch (PyErr& error) {
        throw boundary::argument_error(name, std::move(error));
    }
}

// Accepts and copies the five arguments, reporting the first bad one in the
// order d, n, wl, theta, phi.
//
// theta and phi are converted first because their conversion can run Python
// code (__float__, __index__, __str__ of their error), and that code could
// change or free an argument array. From the first array borrow to the last
// release nothing runs Python code, so each array is copied, and its borrow
// given back, exactly as it was when accepted. A failed scalar is held back
// until the arrays have been examined. The borrows are released in the order
// wl, n, d (reverse declaration order), on success and on every failure.
DataPyState build_state(std::span<PyObject* const, 5> arguments) {
    using boundary::ReadonlyArray;
    // The arguments outlive that Python code even when a caller hands over a
    // keyword dictionary that the code can reach and empty.
    std::array<boundary::Ref, 5> kept_arguments;
    for (std::size_t i = 0; i < kept_arguments.size(); ++i) {
        kept_arguments[i] = boundary::Ref::borrow(arguments[i]);
    }
    double theta = 0.0;
    double phi = 0.0;
    std::exception_ptr scalar_failure;
    try {
        theta = convert_argument("theta", [&] { return boundary::accept_float(arguments[3]); });
        phi = convert_argument("phi", [&] { return boundary::accept_float(arguments[4]); });
    } catch (...) {
        scalar_failure = std::current_exception();
    }
    ReadonlyArray d =
        convert_argument("d", [&] { return boundary::accept_float64_vector(arguments[0]); });
    ReadonlyArray n =
        convert_argument("n", [&] { return boundary::accept_complex_array(arguments[1]); });
    ReadonlyArray wl =
        convert_argument("wl", [&] { return boundary::accept_float64_vector(arguments[2]); });
    if (scalar_failure) {
        std::rethrow_exception(scalar_failure);
    }

    // n is made two-dimensional before anything is copied.
    std::optional<boundary::StridedMatrix<optics::Complex>> n_2d =
        boundary::view_matrix<optics::Complex>(n);
    if (!n_2d) {
        panic("Failed to convert n to 2D array: " +
              boundary::ShapeError{boundary::ShapeErrorKind::IncompatibleShape}.render());
    }
    OwnedArray1<double> d_copy = boundary::copy_to_owned(boundary::view_vector<double>(d));
    OwnedArray2<optics::Complex> n_copy = boundary::copy_to_owned(*n_2d);
    OwnedArray1<double> wl_copy = boundary::copy_to_owned(boundary::view_vector<double>(wl));
    return DataPyState{std::move(d_copy), std::move(n_copy), std::move(wl_copy), theta, phi};
}

// tp_new: returns a new reference to a fully built object, or null with an
// exception set and nothing left behind.
PyObject* DataPy_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry_wrapper<PyObject*>(
        [&]() -> PyObject* {
            std::array<PyObject*, 5> arguments{};
            boundary::bind_arguments(DataPy_new_description, args, kwargs, arguments);
            DataPyState state = build_state(arguments);
            return new_instance<DataPyObject>(type, std::move(state));
        },
        nullptr);
}

// Getter body: checks the type of `self` (borrowed), holds a shared borrow of
// it while `read` builds the result, and returns a new reference.
template <class Read>
PyObject* DataPy_read(PyObject* self, Read&& read) {
    return entry_wrapper<PyObject*>(
        [&]() -> PyObject* {
            if (!PyObject_TypeCheck(self, datapy_type_cell.get_or_init())) {
                throw boundary::conversion_error(self, "DataPy");
            }
            auto* object = reinterpret_cast<DataPyObject*>(self);
            boundary::SharedObjectBorrow borrow(self, object->borrow_count);
            return read(static_cast<const DataPyState&>(object->state));
        },
        nullptr);
}

PyObject* DataPy_get_d(PyObject* self, void*) {
    return DataPy_read(self, [](const DataPyState& state) {
        return boundary::float64_vector_to_numpy(state.d).release();
    });
}

PyObject* DataPy_get_n(PyObject* self, void*) {
    return DataPy_read(self, [](const DataPyState& state) {
        return boundary::complex_matrix_to_numpy(state.n).release();
    });
}

PyObject* DataPy_get_wl(PyObject* self, void*) {
    return DataPy_read(self, [](const DataPyState& state) {
        return boundary::float64_vector_to_numpy(state.wl).release();
    });
}

PyObject* DataPy_get_theta(PyObject* self, void*) {
    return DataPy_read(self, [](const DataPyState& state) {
        return boundary::expect_object(PyFloat_FromDouble(state.theta));
    });
}

PyObject* DataPy_get_phi(PyObject* self, void*) {
    return DataPy_read(self, [](const DataPyState& state) {
        return boundary::expect_object(PyFloat_FromDouble(state.phi));
    });
}

PyMethodDef DataPy_methods[] = {
    {"simulate", DataPy_simulate, METH_NOARGS, "simulate($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef DataPy_getset[] = {
    {"d", DataPy_get_d, nullptr, nullptr, nullptr},
    {"n", DataPy_get_n, nullptr, nullptr, nullptr},
    {"wl", DataPy_get_wl, nullptr, nullptr, nullptr},
    {"theta", DataPy_get_theta, nullptr, nullptr, nullptr},
    {"phi", DataPy_get_phi, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDefinition DataPy_definition{
    "DataPy",       "(d, n, wl, theta, phi)", DataPy_new, destroy_instance<DataPyObject>, DataPy_methods,
    DataPy_getset, sizeof(DataPyObject),
};

}  // namespace

TypeCell datapy_type_cell{DataPy_definition};

}  // namespace quilmo
