// NumPy's binary interface, as far as this module reads it.
//
// The layouts are declared here rather than taken from NumPy's headers so that
// the build does not need NumPy; they are fixed by NumPy's ABI guarantee and
// identical to `PyArrayObject_fields` (NumPy 1 and 2), the NumPy 1
// `PyArray_Descr` and NumPy 2's `_PyArray_DescrNumPy2`. Function-table slot
// numbers are those of NumPy's published C API table (`__multiarray_api.h`).
#pragma once

#include <Python.h>

#include <cstdint>

namespace quilmo::boundary::npy {

using intp = Py_ssize_t;

// PyArrayObject_fields: unchanged from NumPy 1.7 to 2.x.
struct ArrayObject {
    PyObject_HEAD
    char* data;
    int nd;
    intp* dimensions;
    intp* strides;
    PyObject* base;
    PyObject* descr;
    int flags;
    PyObject* weakreflist;
};

// The common head of a descriptor in both majors.
struct DescrHead {
    PyObject_HEAD
    PyTypeObject* typeobj;
    char kind;
    char type;
    char byteorder;
    char flags_or_former_flags;
    int type_num;
};

// NumPy 1.x PyArray_Descr: the element size is an `int` after the type number.
struct DescrV1 {
    DescrHead head;
    int elsize;
    int alignment;
};

// NumPy 2.x PyArray_Descr (feature version 18 and later): 64-bit flags, then
// the element size as `npy_intp`.
struct DescrV2 {
    DescrHead head;
    std::uint64_t flags;
    intp elsize;
    intp alignment;
};

// Feature version from which descriptors have the NumPy 2 layout.
inline constexpr unsigned kFeatureVersionNumpy2 = 18;

// Array flags.
inline constexpr int kArrayCContiguous = 0x0001;
inline constexpr int kArrayFContiguous = 0x0002;
inline constexpr int kArrayWriteable = 0x0400;

// Type numbers.
inline constexpr int kTypeDouble = 12;   // NPY_DOUBLE, float64
inline constexpr int kTypeCDouble = 15;  // NPY_CDOUBLE, complex128

// NumPy allows at most this many dimensions in NumPy 1 (64 in NumPy 2).
inline constexpr int kMaxDims = 32;

// Slots of the API table.
inline constexpr int kSlotArrayType = 2;
inline constexpr int kSlotDescrFromType = 45;
inline constexpr int kSlotNewFromDescr = 94;
inline constexpr int kSlotEquivTypes = 182;
inline constexpr int kSlotGetFeatureVersion = 211;

using DescrFromTypeFn = PyObject* (*)(int type_num);
using NewFromDescrFn = PyObject* (*)(PyTypeObject* subtype, PyObject* descr, int nd,
                                     const intp* dims, const intp* strides, void* data,
                                     int flags, PyObject* obj);
using EquivTypesFn = unsigned char (*)(PyObject* a, PyObject* b);
using GetFeatureVersionFn = unsigned int (*)();

inline ArrayObject* fields(PyObject* array) noexcept {
    return reinterpret_cast<ArrayObject*>(array);
}

}  // namespace quilmo::boundary::npy
