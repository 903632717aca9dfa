// Owned arrays and the read-only strided views the kernel reads through.
//
// `Buffer<T>` is one malloc'd block of trivially copyable elements: it never
// aborts on exhaustion (it throws OutOfMemory, which the boundary raises as
// MemoryError) and a byte count beyond the address space is the internal error
// "capacity overflow". `OwnedArray1`/`OwnedArray2` add a shape and signed
// element strides on top of one buffer, so a copy can keep the memory order
// (and the sign of the strides) of the array it came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "common/internal_error.hpp"

namespace quilmo {

// Bytes for `count` elements of `size` bytes; "capacity overflow" past the
// largest signed size (the most any one object may span).
inline std::size_t checked_bytes(std::size_t count, std::size_t size) {
    constexpr auto limit = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
    if (size != 0 && count > limit / size) {
        panic("capacity overflow");
    }
    return count * size;
}

template <class T>
class Buffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    Buffer() noexcept = default;

    // Room for `capacity` elements, none of them initialised; size 0.
    static Buffer with_capacity(std::size_t capacity) {
        Buffer out;
        std::size_t bytes = checked_bytes(capacity, sizeof(T));
        if (bytes != 0) {
            out.data_ = static_cast<T*>(std::malloc(bytes));
            if (out.data_ == nullptr) {
                throw OutOfMemory();
            }
        }
        out.capacity_ = capacity;
        return out;
    }

    Buffer(Buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    Buffer& operator=(Buffer&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { std::free(data_); }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }

    // Declares the first `size` slots written; the caller has filled them.
    void set_size(std::size_t size) noexcept { size_ = size; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Read-only one-dimensional view: element i lies at data + i * stride.
template <class T>
struct View1 {
    const T* data = nullptr;
    std::size_t len = 0;
    std::ptrdiff_t stride = 1;

    const T& operator[](std::size_t i) const noexcept {
        return data[static_cast<std::ptrdiff_t>(i) * stride];
    }
};

// Read-only two-dimensional view: element [i, j] lies at
// data + i * stride0 + j * stride1.
template <class T>
struct View2 {
    const T* data = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::ptrdiff_t stride0 = 0;
    std::ptrdiff_t stride1 = 1;

    const T& at(std::size_t i, std::size_t j) const noexcept {
        return data[static_cast<std::ptrdiff_t>(i) * stride0 +
                    static_cast<std::ptrdiff_t>(j) * stride1];
    }
};

// A one-dimensional array that owns its elements. The buffer holds the
// elements in memory order; `origin` is the offset of logical element 0, so a
// copy of a reversed input keeps stride -1.
template <class T>
class OwnedArray1 {
public:
    OwnedArray1() noexcept = default;
    OwnedArray1(Buffer<T> buffer, std::size_t origin, std::ptrdiff_t stride) noexcept
        : buffer_(std::move(buffer)), origin_(origin), stride_(stride) {}

    // Takes over a filled buffer as a stride +1 array without copying.
    static OwnedArray1 from_buffer(Buffer<T> buffer) noexcept {
        return OwnedArray1(std::move(buffer), 0, 1);
    }

    std::size_t len() const noexcept { return buffer_.size(); }
    std::ptrdiff_t stride() const noexcept { return stride_; }
    View1<T> view() const noexcept {
        return View1<T>{buffer_.data() + origin_, buffer_.size(), stride_};
    }

private:
    Buffer<T> buffer_;
    std::size_t origin_ = 0;
    std::ptrdiff_t stride_ = 1;
};

// A two-dimensional array that owns its elements, row-major or column-major
// (either stride may be negative), with `origin` the offset of element [0, 0].
template <class T>
class OwnedArray2 {
public:
    OwnedArray2() noexcept = default;
    OwnedArray2(Buffer<T> buffer, std::size_t origin, std::size_t rows, std::size_t cols,
                std::ptrdiff_t stride0, std::ptrdiff_t stride1) noexcept
        : buffer_(std::move(buffer)),
          origin_(origin),
          rows_(rows),
          cols_(cols),
          stride0_(stride0),
          stride1_(stride1) {}

    std::size_t rows() const noexcept { return rows_; }
    std::size_t cols() const noexcept { return cols_; }
    std::ptrdiff_t stride0() const noexcept { return stride0_; }
    std::ptrdiff_t stride1() const noexcept { return stride1_; }
    View2<T> view() const noexcept {
        return View2<T>{buffer_.data() + origin_, rows_, cols_, stride0_, stride1_};
    }

private:
    Buffer<T> buffer_;
    std::size_t origin_ = 0;
    std::size_t rows_ = 0;
    std::size_t cols_ = 0;
    std::ptrdiff_t stride0_ = 0;
    std::ptrdiff_t stride1_ = 1;
};

}  // namespace quilmo
