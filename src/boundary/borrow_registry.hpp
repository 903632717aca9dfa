// The array borrow registry shared by cooperating extension modules.
//
// Modules that read or write NumPy array memory directly register a shared
// (read) or exclusive (write) borrow first; a borrow that would overlap a
// conflicting one is refused. The registry is a capsule attribute
// "_VUSK_NUMPY_BORROW_CHECKING_API" of NumPy's multiarray module holding a
// `BorrowApiRecord`: whichever module comes first installs it, every later one
// uses that one unchanged. This module only takes shared borrows.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>

namespace quilmo::boundary {

// Binary record behind the capsule; its layout is shared with other modules.
struct BorrowApiRecord {
    std::uint64_t version;
    void* flags;
    int (*acquire)(void* flags, PyObject* array);      // 0, or -1: conflicting borrow
    int (*acquire_mut)(void* flags, PyObject* array);  // 0, -1, or -2: not writeable
    void (*release)(void* flags, PyObject* array);
    void (*release_mut)(void* flags, PyObject* array);
};
static_assert(sizeof(void*) != 8 || sizeof(BorrowApiRecord) == 48);

inline constexpr const char* kBorrowCapsuleName = "_VUSK_NUMPY_BORROW_CHECKING_API";

enum class BorrowError { AlreadyBorrowed = 0, NotWriteable = 1 };
const char* borrow_error_name(BorrowError error) noexcept;

// The record in use, found or installed on first use and cached for the life of
// the process. Stops the call with the internal error "Interal borrow checking
// API error: <PyErr debug>" when there is none to be had; nothing is cached
// then and the next call tries again.
const BorrowApiRecord& borrow_registry();

// Takes a shared borrow of `array` (borrowed). Returns false for
// AlreadyBorrowed; any answer other than 0 or -1 is an internal error.
bool acquire_shared_borrow(PyObject* array);

// Gives back a shared borrow taken by `acquire_shared_borrow`. Never throws.
void release_shared_borrow(PyObject* array) noexcept;

}  // namespace quilmo::boundary
