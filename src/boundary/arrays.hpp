// NumPy arrays in and out of the module.
//
// Inputs: an argument is accepted as an array of one exact element type (no
// casting), borrowed for reading through the shared borrow registry, viewed
// at its byte strides and copied into an owned array. Outputs: every
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

// A typed view of borrowed memory, valid while its ReadonlyArray lives.
// `data` addresses the element with all indices 0, as in NumPy; element i (or
// [i, j]) lies i * byte_stride (+ j * byte_stride1) bytes from it. A stride
// need not be a whole number of elements (a field of a structured array, a
// view made by hand) and an element need not be aligned.
template <class T>
struct StridedVector {
    const char* data = nullptr;
    std::size_t len = 0;
    std::ptrdiff_t byte_stride = 0;
};

template <class T>
struct StridedMatrix {
    const char* data = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::ptrdiff_t byte_stride0 = 0;
    std::ptrdiff_t byte_stride1 = 0;
};

template <class T>
StridedVector<T> view_vector(const ReadonlyArray& array) {
    RawArrayView raw = raw_view(array, 1);
    return StridedVector<T>{raw.data, static_cast<std::size_t>(raw.shape[0]), raw.byte_strides[0]};
}

// The array as a matrix, or nothing (IncompatibleShape) unless it has exactly
// two dimensions.
template <class T>
std::optional<StridedMatrix<T>> view_matrix(const ReadonlyArray& array) {
    RawArrayView raw = raw_view(array, -1);
    if (raw.ndim != 2) {
        return std::nullopt;
    }
    return StridedMatrix<T>{raw.data, static_cast<std::size_t>(raw.shape[0]),
                            static_cast<std::size_t>(raw.shape[1]), raw.byte_strides[0],
                            raw.byte_strides[1]};
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

// ------------------------------------------------------------------ copying

// rows * cols, or the internal error "capacity overflow".
inline std::size_t checked_element_count(std::size_t rows, std::size_t cols) {
    std::size_t count = 0;
    if (__builtin_mul_overflow(rows, cols, &count)) {
        panic("capacity overflow");
    }
    return count;
}

// Copies element [i, j], found i * byte_stride0 + j * byte_stride1 bytes from
// `source`, to `target` in row-major index order. Byte by byte: the source
// need not be aligned.
template <class T>
void gather_row_major(const char* source, std::size_t rows, std::size_t cols,
                      std::ptrdiff_t byte_stride0, std::ptrdiff_t byte_stride1, T* target) noexcept {
    for (std::size_t i = 0; i < rows; ++i) {
        const char* row = source + static_cast<std::ptrdiff_t>(i) * byte_stride0;
        for (std::size_t j = 0; j < cols; ++j) {
            std::memcpy(target++, row + static_cast<std::ptrdiff_t>(j) * byte_stride1, sizeof(T));
        }
    }
}

// The stride of an axis in elements, or nothing when its byte stride is not a
// whole number of elements. An axis with fewer than two elements never steps,
// so its stride is then the byte stride divided with truncation.
template <class T>
std::optional<std::ptrdiff_t> element_stride(std::ptrdiff_t byte_stride, std::size_t extent) noexcept {
    constexpr auto size = static_cast<std::ptrdiff_t>(sizeof(T));
    if (extent >= 2 && byte_stride % size != 0) {
        return std::nullopt;
    }
    return byte_stride / size;
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
    constexpr auto size = static_cast<std::ptrdiff_t>(sizeof(T));
    gather_row_major(reinterpret_cast<const char*>(view.data), 1, view.len, 0, view.stride * size,
                     buffer.data());
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
    constexpr auto size = static_cast<std::ptrdiff_t>(sizeof(T));
    gather_row_major(reinterpret_cast<const char*>(view.data), rows, cols, view.stride0 * size,
                     view.stride1 * size, buffer.data());
    return OwnedArray2<T>(std::move(buffer), 0, rows, cols, static_cast<std::ptrdiff_t>(cols), 1);
}

// Borrowed memory: strides of whole elements keep the copies above (and their
// memory order); any other stride is read element by element at its byte
// offsets into a stride +1 vector or a row-major matrix.
template <class T>
OwnedArray1<T> copy_to_owned(const StridedVector<T>& view) {
    if (std::optional<std::ptrdiff_t> stride = element_stride<T>(view.byte_stride, view.len)) {
        return copy_to_owned(View1<T>{reinterpret_cast<const T*>(view.data), view.len, *stride});
    }
    Buffer<T> buffer = Buffer<T>::with_capacity(view.len);
    gather_row_major(view.data, 1, view.len, 0, view.byte_stride, buffer.data());
    buffer.set_size(view.len);
    return OwnedArray1<T>::from_buffer(std::move(buffer));
}

template <class T>
OwnedArray2<T> copy_to_owned(const StridedMatrix<T>& view) {
    // An empty matrix steps along neither axis.
    const bool empty = view.rows == 0 || view.cols == 0;
    std::optional<std::ptrdiff_t> stride0 = element_stride<T>(view.byte_stride0, empty ? 0 : view.rows);
    std::optional<std::ptrdiff_t> stride1 = element_stride<T>(view.byte_stride1, empty ? 0 : view.cols);
    if (stride0 && stride1) {
        return copy_to_owned(View2<T>{reinterpret_cast<const T*>(view.data), view.rows, view.cols,
                                      *stride0, *stride1});
    }
    const std::size_t count = checked_element_count(view.rows, view.cols);
    Buffer<T> buffer = Buffer<T>::with_capacity(count);
    gather_row_major(view.data, view.rows, view.cols, view.byte_stride0, view.byte_stride1,
                     buffer.data());
    buffer.set_size(count);
    return OwnedArray2<T>(std::move(buffer), 0, view.rows, view.cols,
                          static_cast<std::ptrdiff_t>(view.cols), 1);
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
