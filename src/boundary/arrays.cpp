#include "boundary/arrays.hpp"

#include "boundary/borrow_registry.hpp"
#include "boundary/errors.hpp"
#include "boundary/numpy_api.hpp"

namespace quilmo::boundary {

namespace {

constexpr std::string_view kArrayTarget = "PyArray<T, D>";

// Type, dimensionality (when `required_ndim` is not negative) and element
// type; then a reference and a shared borrow.
ReadonlyArray accept_array(PyObject* object, int type_num, int required_ndim) {
    NumpyApi api = numpy_api();
    if (!api.is_array(object)) {
        throw conversion_error(object, kArrayTarget);
    }
    const npy::ArrayObject* fields = npy::fields(object);
    if (required_ndim >= 0 && fields->nd != required_ndim) {
        throw conversion_error(object, kArrayTarget);
    }
    PyObject* descr = fields->descr;
    if (descr == nullptr) {
        panic("NumPy array without a descriptor");
    }
    Ref required = Ref::steal(expect_object(api.descr_from_type(type_num)));
    if (descr != required.get() && !api.equiv_types(descr, required.get())) {
        throw conversion_error(object, kArrayTarget);
    }
    Ref array = Ref::borrow(object);
    if (!acquire_shared_borrow(object)) {
        panic(std::string("called `Result::unwrap()` on an `Err` value: ") +
              borrow_error_name(BorrowError::AlreadyBorrowed));
    }
    return ReadonlyArray(std::move(array));
}

}  // namespace

ReadonlyArray::~ReadonlyArray() {
    if (array_) {
        release_shared_borrow(array_.get());
    }
}

ReadonlyArray accept_float64_vector(PyObject* object) {
    return accept_array(object, npy::kTypeDouble, 1);
}

ReadonlyArray accept_complex_array(PyObject* object) {
    return accept_array(object, npy::kTypeCDouble, -1);
}

double accept_float(PyObject* object) {
    if (PyFloat_CheckExact(object)) {
        return PyFloat_AS_DOUBLE(object);
    }
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        throw PyErr::fetch();
    }
    return value;
}

RawArrayView raw_view(const ReadonlyArray& array, int expected_ndim) {
    const npy::ArrayObject* fields = npy::fields(array.object());
    if (fields->nd > npy::kMaxDims || fields->nd < 0) {
        panic("unexpected dimensionality: NumPy is expected to limit arrays to 32 or fewer "
              "dimensions.\nPlease report this as a bug to the quilmo developers.");
    }
    if (expected_ndim >= 0 && fields->nd != expected_ndim) {
        panic("inconsistent dimensionalities: the array has " + std::to_string(fields->nd) +
              " dimensions where " + std::to_string(expected_ndim) + " were accepted");
    }
    RawArrayView view;
    view.data = fields->data;
    view.ndim = fields->nd;
    for (int axis = 0; axis < fields->nd; ++axis) {
        view.shape[axis] = fields->dimensions[axis];
        view.byte_strides[axis] = fields->strides[axis];
    }
    return view;
}

std::string ShapeError::render() const {
    static constexpr const char* names[] = {"",           "IncompatibleShape", "IncompatibleLayout",
                                            "RangeLimited", "OutOfBounds",      "Unsupported",
                                            "Overflow"};
    static constexpr const char* descriptions[] = {"",
                                                   "incompatible shapes",
                                                   "incompatible memory layout",
                                                   "the shape does not fit in type limits",
                                                   "out of bounds indexing",
                                                   "unsupported operation",
                                                   "arithmetic overflow"};
    auto index = static_cast<unsigned>(kind);
    if (index == 0 || index > 6) {
        panic("unknown ShapeError kind " + std::to_string(index));
    }
    return std::string("ShapeError/") + names[index] + ": " + descriptions[index];
}

Ref float64_vector_to_numpy(const OwnedArray1<double>& array) {
    NumpyApi api = numpy_api();
    View1<double> view = array.view();
    PyObject* descr = expect_object(api.descr_from_type(npy::kTypeDouble));
    const npy::intp dims[1] = {static_cast<npy::intp>(view.len)};
    const bool block = view.stride == 1 || view.len < 2;
    const npy::intp strides[1] = {static_cast<npy::intp>(sizeof(double)) * view.stride};
    // NewFromDescr takes over the descriptor, also when it fails.
    Ref result = Ref::steal(expect_object(api.new_from_descr(
        api.array_type(), descr, 1, dims, block ? strides : nullptr, nullptr, 0, nullptr)));
    char* target = npy::fields(result.get())->data;
    if (block) {
        if (view.len != 0) {
            std::memcpy(target, view.data, view.len * sizeof(double));
        }
    } else {
        for (std::size_t i = 0; i < view.len; ++i) {
            std::memcpy(target + i * sizeof(double), &view[i], sizeof(double));
        }
    }
    return result;
}

Ref complex_matrix_to_numpy(const void* first, std::size_t rows, std::size_t cols,
                            std::ptrdiff_t stride0, std::ptrdiff_t stride1) {
    constexpr std::size_t element = 16;
    NumpyApi api = numpy_api();
    const auto r = static_cast<std::ptrdiff_t>(rows);
    const auto k = static_cast<std::ptrdiff_t>(cols);
    const bool row_major =
        rows == 0 || cols == 0 || ((k == 1 || stride1 == 1) && (r == 1 || stride0 == k));
    const bool column_major = !row_major && (r == 1 || stride0 == 1) && (k == 1 || stride1 == r);
    PyObject* descr = expect_object(api.descr_from_type(npy::kTypeCDouble));
    const npy::intp dims[2] = {r, k};
    const npy::intp strides[2] = {static_cast<npy::intp>(element) * stride0,
                                  static_cast<npy::intp>(element) * stride1};
    const bool block = row_major || column_major;
    Ref result = Ref::steal(expect_object(api.new_from_descr(api.array_type(), descr, 2, dims,
                                                             block ? strides : nullptr, nullptr,
                                                             column_major ? 1 : 0, nullptr)));
    char* target = npy::fields(result.get())->data;
    const auto* source = static_cast<const char*>(first);
    if (block) {
        if (rows != 0 && cols != 0) {
            std::memcpy(target, source, rows * cols * element);
        }
    } else {
        std::size_t out = 0;
        for (std::ptrdiff_t i = 0; i < r; ++i) {
            for (std::ptrdiff_t j = 0; j < k; ++j) {
                std::memcpy(target + out, source + (i * stride0 + j * stride1) * static_cast<std::ptrdiff_t>(element),
                            element);
                out += element;
            }
        }
    }
    return result;
}

}  // namespace quilmo::boundary
