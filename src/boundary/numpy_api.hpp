// NumPy's C API, obtained at run time from the "_ARRAY_API" capsule of NumPy's
// multiarray module, so that one build serves NumPy 1 and NumPy 2.
//
// Every piece (core module name, array module name, table, feature version)
// is computed on first use and kept for the life of the process. Filling a
// piece runs Python code, during which another thread may fill it too: the
// first value stored wins and the later one is discarded. A failed attempt
// stores nothing, so the next use retries from the first missing piece.
// Everything here needs the interpreter lock except `feature_version()` once
// cached.
#pragma once

#include <Python.h>

#include <string>

#include "boundary/numpy_abi.hpp"

namespace quilmo::boundary {

class NumpyApi {
public:
    explicit NumpyApi(void** table) noexcept : table_(table) {}

    // numpy.ndarray (borrowed).
    PyTypeObject* array_type() const noexcept {
        return static_cast<PyTypeObject*>(table_[npy::kSlotArrayType]);
    }
    // PyArray_DescrFromType: new reference, or null with an exception set.
    PyObject* descr_from_type(int type_num) const {
        return reinterpret_cast<npy::DescrFromTypeFn>(table_[npy::kSlotDescrFromType])(type_num);
    }
    // PyArray_NewFromDescr: steals `descr`; new reference or null with an
    // exception set.
    PyObject* new_from_descr(PyTypeObject* subtype, PyObject* descr, int nd,
                             const npy::intp* dims, const npy::intp* strides, void* data,
                             int flags, PyObject* obj) const {
        return reinterpret_cast<npy::NewFromDescrFn>(table_[npy::kSlotNewFromDescr])(
            subtype, descr, nd, dims, strides, data, flags, obj);
    }
    // PyArray_EquivTypes (both borrowed).
    bool equiv_types(PyObject* a, PyObject* b) const {
        return reinterpret_cast<npy::EquivTypesFn>(table_[npy::kSlotEquivTypes])(a, b) != 0;
    }
    // PyArray_GetNDArrayCFeatureVersion: a constant of the loaded NumPy; no
    // Python code runs.
    unsigned raw_feature_version() const noexcept {
        return reinterpret_cast<npy::GetFeatureVersionFn>(table_[npy::kSlotGetFeatureVersion])();
    }

    // `object` is a numpy.ndarray or an instance of a subtype.
    bool is_array(PyObject* object) const noexcept {
        return PyObject_TypeCheck(object, array_type()) != 0;
    }

private:
    void** table_;
};

// The API table. Stops the call with the internal error "Failed to access
// NumPy array API capsule: <PyErr debug>" when it cannot be obtained.
NumpyApi numpy_api();

// "numpy._core.multiarray" on NumPy 2, "numpy.core.multiarray" before. Throws
// PyErr when NumPy's version cannot be determined.
const std::string& numpy_array_module_name();

// The pointer of a capsule attribute (borrowed `capsule`), read under the
// capsule's own name. Throws PyErr: the conversion TypeError naming
// 'PyCapsule' when `capsule` is not exactly a capsule, or the capsule's error.
void* capsule_pointer(PyObject* capsule);

// The feature version of the loaded NumPy (cached); needs the table.
unsigned numpy_feature_version();

// Element size of an array's descriptor (borrowed `descr`), read at the place
// the descriptor layout of `feature_version` keeps it.
inline npy::intp descr_element_size(PyObject* descr, unsigned feature_version) noexcept {
    if (feature_version >= npy::kFeatureVersionNumpy2) {
        return reinterpret_cast<const npy::DescrV2*>(descr)->elsize;
    }
    return reinterpret_cast<const npy::DescrV1*>(descr)->elsize;
}

}  // namespace quilmo::boundary
