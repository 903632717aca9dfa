#include "boundary/borrow_registry.hpp"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>
#include <numeric>
#include <unordered_map>

#include "boundary/errors.hpp"
#include "boundary/numpy_abi.hpp"
#include "boundary/numpy_api.hpp"
#include "boundary/ref.hpp"
#include "common/internal_error.hpp"

namespace quilmo::boundary {

namespace {

// The memory span an array may touch, with what decides whether two spans
// that intersect really share an element.
struct BorrowKey {
    std::uintptr_t start;    // lowest byte address
    std::uintptr_t end;      // one past the highest byte address
    std::uintptr_t data;     // the array's data pointer
    std::uintptr_t divisor;  // gcd of the byte-stride magnitudes; 1 for no axes

    bool operator==(const BorrowKey&) const = default;
};

struct BorrowKeyHash {
    std::size_t operator()(const BorrowKey& key) const noexcept {
        std::size_t h = key.start;
        for (std::uintptr_t part : {key.end, key.data, key.divisor}) {
            h ^= part + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        }
        return h;
    }
};

// Count per key: n > 0 shared borrows, or -1 for one exclusive borrow.
using KeyCounts = std::unordered_map<BorrowKey, std::intptr_t, BorrowKeyHash>;

// Private data of a registry installed by this module.
struct RegistryData {
    std::mutex lock;
    PyTypeObject* array_type;  // for the base walk
    unsigned feature_version;  // picks the descriptor layout for the element size
    std::unordered_map<std::uintptr_t, KeyCounts> borrows;  // by base address
};

constexpr std::intptr_t kExclusive = -1;

std::uintptr_t base_address(const RegistryData& data, PyObject* array) noexcept {
    PyObject* current = array;
    for (;;) {
        PyObject* base = npy::fields(current)->base;
        if (base == nullptr) {
            return reinterpret_cast<std::uintptr_t>(current);
        }
        if (!PyObject_TypeCheck(base, data.array_type)) {
            return reinterpret_cast<std::uintptr_t>(base);
        }
        current = base;
    }
}

std::uintptr_t magnitude(npy::intp value) noexcept {
    auto u = static_cast<std::uintptr_t>(value);
    return value < 0 ? std::uintptr_t{0} - u : u;
}

BorrowKey borrow_key(const RegistryData& data, PyObject* array) noexcept {
    const npy::ArrayObject* a = npy::fields(array);
    auto pointer = reinterpret_cast<std::uintptr_t>(a->data);
    bool empty = a->nd == 0;
    for (int axis = 0; axis < a->nd; ++axis) {
        empty = empty || a->dimensions[axis] == 0;
    }
    BorrowKey key{pointer, pointer, pointer, a->nd == 0 ? std::uintptr_t{1} : 0};
    if (!empty) {
        // Unsigned arithmetic: the address sums wrap instead of overflowing.
        key.end += static_cast<std::uintptr_t>(descr_element_size(a->descr, data.feature_version));
        for (int axis = 0; axis < a->nd; ++axis) {
            npy::intp stride = a->strides[axis];
            std::uintptr_t extent = static_cast<std::uintptr_t>(a->dimensions[axis] - 1) *
                                    static_cast<std::uintptr_t>(stride);
            if (stride < 0) {
                key.start += extent;
            } else {
                key.end += extent;
            }
        }
    }
    for (int axis = 0; axis < a->nd; ++axis) {
        key.divisor = std::gcd(key.divisor, magnitude(a->strides[axis]));
    }
    return key;
}

// Two keys of one base conflict when their spans intersect and their data
// pointers lie on a common lattice of the strides.
bool conflicts(const BorrowKey& a, const BorrowKey& b) noexcept {
    if (!(a.start < b.end && b.start < a.end)) {
        return false;
    }
    std::uintptr_t divisor = std::gcd(a.divisor, b.divisor);
    std::uintptr_t distance = a.data >= b.data ? a.data - b.data : b.data - a.data;
    return divisor == 0 ? distance == 0 : distance % divisor == 0;
}

bool any_conflict(const KeyCounts& keys, const BorrowKey& key, bool exclusive_only) noexcept {
    for (const auto& [other, count] : keys) {
        if ((!exclusive_only || count == kExclusive) && conflicts(other, key)) {
            return true;
        }
    }
    return false;
}

// The four functions are called across module boundaries, where nothing can
// unwind: any failure inside them ends the process.
template <class Body>
auto cannot_unwind(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        fatal("panic in a function that cannot unwind");
    }
}

// Locks the registry and lets `decide` answer for the array's key among the
// keys registered under its base (0, or -1 for a conflict), registering the
// borrow on success. A base left without keys is removed again.
template <class Decide>
int register_borrow(void* flags, PyObject* array, Decide&& decide) {
    auto& data = *static_cast<RegistryData*>(flags);
    std::lock_guard guard(data.lock);
    auto [found_base, inserted] = data.borrows.try_emplace(base_address(data, array));
    int answer = decide(found_base->second, borrow_key(data, array));
    if (found_base->second.empty()) {
        data.borrows.erase(found_base);
    }
    return answer;
}

extern "C" int registry_acquire(void* flags, PyObject* array) noexcept {
    return cannot_unwind([&] {
        return register_borrow(flags, array, [](KeyCounts& keys, const BorrowKey& key) {
            if (auto found = keys.find(key); found != keys.end()) {
                std::intptr_t& count = found->second;
                if (count < 0 || count == std::numeric_limits<std::intptr_t>::max()) {
                    return -1;
                }
                ++count;
                return 0;
            }
            if (any_conflict(keys, key, /*exclusive_only=*/true)) {
                return -1;
            }
            keys.emplace(key, 1);
            return 0;
        });
    });
}

extern "C" int registry_acquire_mut(void* flags, PyObject* array) noexcept {
    return cannot_unwind([&] {
        if ((npy::fields(array)->flags & npy::kArrayWriteable) == 0) {
            return -2;
        }
        return register_borrow(flags, array, [](KeyCounts& keys, const BorrowKey& key) {
            if (keys.contains(key) || any_conflict(keys, key, /*exclusive_only=*/false)) {
                return -1;
            }
            keys.emplace(key, kExclusive);
            return 0;
        });
    });
}

// Finds the key of `array`; a key that is not registered is a broken invariant.
void forget(RegistryData& data, PyObject* array, bool exclusive) {
    std::uintptr_t base = base_address(data, array);
    auto found_base = data.borrows.find(base);
    if (found_base == data.borrows.end()) {
        panic("release of an array that has no registered borrow");
    }
    KeyCounts& keys = found_base->second;
    auto found = keys.find(borrow_key(data, array));
    if (found == keys.end() || (exclusive ? found->second != kExclusive : found->second <= 0)) {
        panic(exclusive ? "release of an exclusive borrow that is not registered"
                        : "release of a shared borrow that is not registered");
    }
    if (exclusive || --found->second == 0) {
        keys.erase(found);
    }
    if (keys.empty()) {
        data.borrows.erase(found_base);
    }
}

extern "C" void registry_release(void* flags, PyObject* array) noexcept {
    cannot_unwind([&] {
        auto& data = *static_cast<RegistryData*>(flags);
        std::lock_guard guard(data.lock);
        forget(data, array, /*exclusive=*/false);
    });
}

extern "C" void registry_release_mut(void* flags, PyObject* array) noexcept {
    cannot_unwind([&] {
        auto& data = *static_cast<RegistryData*>(flags);
        std::lock_guard guard(data.lock);
        forget(data, array, /*exclusive=*/true);
    });
}

extern "C" void registry_capsule_destructor(PyObject* capsule) noexcept {
    auto* record = static_cast<BorrowApiRecord*>(PyCapsule_GetPointer(capsule, kBorrowCapsuleName));
    if (record == nullptr) {
        PyErr_Clear();
        return;
    }
    delete static_cast<RegistryData*>(record->flags);
    delete record;
}

std::atomic<const BorrowApiRecord*> registry_cache{nullptr};


// A fresh, empty registry published as the capsule attribute of `module`.
// Returns the capsule (new reference).
Ref install_registry(PyObject* module) {
    NumpyApi api = numpy_api();
    unsigned feature_version = numpy_feature_version();
    auto* data = new (std::nothrow) RegistryData{};
    auto* record = new (std::nothrow) BorrowApiRecord{};
    if (data == nullptr || record == nullptr) {
        delete data;
        delete record;
        PyErr_NoMemory();
        throw PyErr::fetch();
    }
    data->array_type = api.array_type();
    data->feature_version = feature_version;
    *record = BorrowApiRecord{1,
                              data,
                              registry_acquire,
                              registry_acquire_mut,
                              registry_release,
                              registry_release_mut};
    PyObject* capsule = PyCapsule_New(record, kBorrowCapsuleName, registry_capsule_destructor);
    if (capsule == nullptr) {
        delete data;
        delete record;
        throw PyErr::fetch();
    }
    Ref owned = Ref::steal(capsule);
    if (PyObject_SetAttrString(module, kBorrowCapsuleName, capsule) != 0) {
        throw PyErr::fetch();
    }
    return owned;
}

const BorrowApiRecord* obtain_registry() {
    Ref module = checked(PyImport_ImportModule(numpy_array_module_name().c_str()));
    Ref capsule = Ref::steal(PyObject_GetAttrString(module.get(), kBorrowCapsuleName));
    if (!capsule) {
        PyErr_Clear();
        capsule = install_registry(module.get());
    }
    auto* record = static_cast<const BorrowApiRecord*>(capsule_pointer(capsule.get()));
    if (record->version < 1) {
        throw PyErr::lazy(PyExc_TypeError, "Version " + std::to_string(record->version) +
                                               " of borrow checking API is not supported by "
                                               "this version of vusk-numpy");
    }
    const BorrowApiRecord* expected = nullptr;
    if (!registry_cache.compare_exchange_strong(expected, record, std::memory_order_acq_rel)) {
        return expected;  // another thread got there first; ours is dropped
    }
    static_cast<void>(capsule.release());  // kept for the life of the process
    return record;
}

}  // namespace

const char* borrow_error_name(BorrowError error) noexcept {
    return error == BorrowError::AlreadyBorrowed ? "AlreadyBorrowed" : "NotWriteable";
}

const BorrowApiRecord& borrow_registry() {
    if (const BorrowApiRecord* cached = registry_cache.load(std::memory_order_acquire)) {
        return *cached;
    }
    try {
        return *obtain_registry();
    } catch (PyErr& error) {
        panic("Interal borrow checking API error: " + error.debug());
    }
}

bool acquire_shared_borrow(PyObject* array) {
    const BorrowApiRecord& registry = borrow_registry();
    int code = registry.acquire(registry.flags, array);
    if (code == 0) {
        return true;
    }
    if (code == -1) {
        return false;
    }
    panic("Unexpected return code " + std::to_string(code) + " from borrow checking API");
}

void release_shared_borrow(PyObject* array) noexcept {
    // Only called after a successful acquire, so the registry is cached.
    const BorrowApiRecord* registry = registry_cache.load(std::memory_order_acquire);
    if (registry == nullptr) {
        fatal("release of a borrow without a borrow registry");
    }
    registry->release(registry->flags, array);
}

}  // namespace quilmo::boundary
