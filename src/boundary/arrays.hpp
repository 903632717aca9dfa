// NumPy arrays in and out of the module.
//
// Inputs: an argument is accepted as an array of one exact element type (no
// casting), borrowed for reading through the shared borrow registry, viewed
// with signed element strides and copied into an owned array. Outputs: every
// array handed to Python is a new NumPy-allocated copy of an owned array.
// Everything here needs the interpreter lock.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

#include "boundary/numpy_abi.hpp"
#include "boundary/ref.hpp"
#include "common/internal_error.hpp"
#include "common/owned_array.hpp"

namespace quilmo::boundary {

// ---------------------------------------------------------------- accepting

// An accepted input array: a strong reference and one shared borrow in the
// registry. Destruction gives back the borrow first, then the reference.
class ReadonlyArray {
public:
    // Takes over `array` (a reference) whose shared borrow the caller took.
    explicit ReadonlyArray(Ref array) noexcept : array_(std::move(array)) {}
    ReadonlyArray(ReadonlyArray&& other) noexcept = default;
    ReadonlyArray& operator=(ReadonlyArray&&) = delete;
    ReadonlyArray(const ReadonlyArray&) = delete;
    ReadonlyArray& operator=(const ReadonlyArray&) = delete;
    ~ReadonlyArray();

    PyObject* object() const noexcept { return array_.get(); }  // borrowed

private:
    Ref array_;
};

// Accepts a one-dimensional float64 array (ndarray or subtype). Throws PyErr
// TypeError "'<qualname>' object cannot be converted to 'PyArray<T, D>'" when
// `object` (borrowed) is not one; stops the call with an internal error when
// the array is exclusively borrowed elsewhere.
ReadonlyArray accept_float64_vector(PyObject* object);

// The same for a complex128 array of any dimensionality.
ReadonlyArray accept_complex_array(PyObject* object);

// A float from any object the interpreter converts (float, int, __float__,
// __index__). Throws PyErr with the interpreter's error.
double accept_float(PyObject* object);

// ------------------------------------------------------------------ viewing

// Byte-level description of a borrowed array, at most 32 dimensions.
struct RawArrayView {
    const char* data = nullptr;
    int ndim = 0;
    std::array<npy::intp, npy::kMaxDims> shape{};
    std::array<npy::intp, npy::kMaxDims> byte_strides{};
};

// Reads the array's layout; more than 32 dimensions, or another number than
// `expected_ndim` (when not negative), is an internal error.
RawArrayView raw_view(const ReadonlyArray& array, int expected_ndim);

// A typed view of any dimensionality; valid while its ReadonlyArray lives.
template <class T>
struct ArrayView {
    const T* data = nullptr;
    int ndim = 0;
    std::array<std::size_t, npy::kMaxDims> shape{};
    std::array<std::ptrdiff_t, npy::kMaxDims> strides{};  // in elements, signed
};

// Byte strides become element strides by division truncated toward zero;
// `data` addresses the element with all indices 0, as in NumPy.
template <class T>
ArrayView<T> view_array(const ReadonlyArray& array, int expected_ndim = -1) {
    RawArrayView raw = raw_view(array, expected_ndim);
    ArrayView<T> view;
    view.data = reinterpret_cast<const T*>(raw.data);
    view.ndim = raw.ndim;
    for (int axis = 0; axis < raw.ndim; ++axis) {
        view.shape[axis] = static_cast<std::size_t>(raw.shape[axis]);
        view.strides[axis] = raw.byte_strides[axis] / static_cast<std::ptrdiff_t>(sizeof(T));
    }
    return view;
}

template <class T>
View1<T> view_vector(const ReadonlyArray& array) {
    ArrayView<T> view = view_array<T>(array, 1);
    return View1<T>{view.data, view.shape[0], view.strides[0]};
}

enum class ShapeErrorKind : unsigned char {
    IncompatibleShape = 1,
    IncompatibleLayout = 2,
    RangeLimited = 3,
    OutOfBounds = 4,
    Unsupported = 5,
    Overflow = 6,
};

struct ShapeError {
    ShapeErrorKind kind;
    // "ShapeError/IncompatibleShape: incompatible shapes"
    std::string render() const;
};

// The view as two-dimensional, or IncompatibleShape unless it has exactly two
// dimensions.
template <class T>
std::optional<View2<T>> make_2d(const ArrayView<T>& view) {
    if (view.ndim != 2) {
        return std::nullopt;
    }
    return View2<T>{view.data, view.shape[0], view.shape[1], view.strides[0], view.strides[1]};
}

// ------------------------------------------------------------------ copying

// rows * cols, or the internal error "capacity overflow".
inline std::size_t checked_element_count(std::size_t rows, std::size_t cols) {
    std::size_t count = 0;
    if (__builtin_mul_overflow(rows, cols, &count)) {
        panic("capacity overflow");
    }
    return count;
}

// Byte offset of index `i` along an axis of element stride `stride`.
template <class T>
std::ptrdiff_t element_offset(std::size_t i, std::ptrdiff_t stride) noexcept {
    return static_cast<std::ptrdiff_t>(i) * stride * static_cast<std::ptrdiff_t>(sizeof(T));
}

// One block copy when the elements are contiguous in either direction (the
// copy keeps the view's stride); otherwise element by element into stride +1.
template <class T>
OwnedArray1<T> copy_to_owned(const View1<T>& view) {
    static_assert(std::is_trivially_copyable_v<T>);
    Buffer<T> buffer = Buffer<T>::with_capacity(view.len);
    if (view.len < 2 || view.stride == 1 || view.stride == -1) {
        std::size_t origin = view.len >= 2 && view.stride < 0 ? view.len - 1 : 0;
        if (view.len != 0) {
            std::memcpy(buffer.data(), view.data - origin, view.len * sizeof(T));
        }
        buffer.set_size(view.len);
        return OwnedArray1<T>(std::move(buffer), origin, view.stride);
    }
    // Element by element through byte addresses: the source need not be aligned.
    const auto* source = reinterpret_cast<const unsigned char*>(view.data);
    for (std::size_t i = 0; i < view.len; ++i) {
        std::memcpy(buffer.data() + i, source + element_offset<T>(i, view.stride), sizeof(T));
    }
    buffer.set_size(view.len);
    return OwnedArray1<T>::from_buffer(std::move(buffer));
}

// One block copy when the elements fill one gap-free block in row-major or
// column-major order, either stride possibly negative (the copy keeps the
// view's strides); otherwise element by element into a row-major array.
template <class T>
OwnedArray2<T> copy_to_owned(const View2<T>& view) {
    static_assert(std::is_trivially_copyable_v<T>);
    const std::size_t rows = view.rows;
    const std::size_t cols = view.cols;
    const std::size_t count = checked_element_count(rows, cols);
    Buffer<T> buffer = Buffer<T>::with_capacity(count);
    buffer.set_size(count);
    if (count == 0) {
        return OwnedArray2<T>(std::move(buffer), 0, rows, cols, view.stride0, view.stride1);
    }
    auto magnitude = [](std::ptrdiff_t s) { return static_cast<std::size_t>(s < 0 ? -s : s); };
    const bool row_block = (cols == 1 || magnitude(view.stride1) == 1) &&
                           (rows == 1 || magnitude(view.stride0) == cols);
    const bool column_block = (rows == 1 || magnitude(view.stride0) == 1) &&
                              (cols == 1 || magnitude(view.stride1) == rows);
    if (row_block || column_block) {
        // Offset of element [0, 0] above the lowest-addressed element.
        std::size_t origin = 0;
        if (view.stride0 < 0) {
            origin += (rows - 1) * magnitude(view.stride0);
        }
        if (view.stride1 < 0) {
            origin += (cols - 1) * magnitude(view.stride1);
        }
        std::memcpy(buffer.data(), view.data - origin, count * sizeof(T));
        return OwnedArray2<T>(std::move(buffer), origin, rows, cols, view.stride0, view.stride1);
    }
    const auto* source = reinterpret_cast<const unsigned char*>(view.data);
    std::size_t k = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t j = 0; j < cols; ++j) {
            std::ptrdiff_t offset =
                element_offset<T>(i, view.stride0) + element_offset<T>(j, view.stride1);
            std::memcpy(buffer.data() + k++, source + offset, sizeof(T));
        }
    }
    return OwnedArray2<T>(std::move(buffer), 0, rows, cols, static_cast<std::ptrdiff_t>(cols), 1);
}

// ------------------------------------------------------------------ output

// A new float64 NumPy array (new reference) with a copy of `array`. Stops the
// call with "Python API call failed" when NumPy cannot make it.
Ref float64_vector_to_numpy(const OwnedArray1<double>& array);

// A new complex128 NumPy array (new reference) from a two-dimensional array of
// 16-byte elements (real part, imaginary part) whose element [0, 0] lies at
// `first` and whose element strides are `stride0`, `stride1`: row-major or
// column-major like the source when the source is one such block with positive
// strides, row-major otherwise. Stops the call with "Python API call failed"
// when NumPy cannot make it.
Ref complex_matrix_to_numpy(const void* first, std::size_t rows, std::size_t cols,
                            std::ptrdiff_t stride0, std::ptrdiff_t stride1);

template <class T>
Ref complex_matrix_to_numpy(const OwnedArray2<T>& array) {
    static_assert(sizeof(T) == 16 && std::is_trivially_copyable_v<T>);
    View2<T> view = array.view();
    return complex_matrix_to_numpy(view.data, view.rows, view.cols, view.stride0, view.stride1);
}

}  // namespace quilmo::boundary
