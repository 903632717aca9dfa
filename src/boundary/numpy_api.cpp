#include "boundary/numpy_api.hpp"

#include <atomic>
#include <cstdint>
#include <limits>

#include "boundary/errors.hpp"
#include "boundary/ref.hpp"
#include "common/internal_error.hpp"

namespace quilmo::boundary {

namespace {

// Process-wide, never freed. Written only with the interpreter lock held;
// atomics so that a reader never sees a half-published value.
std::atomic<const std::string*> core_module_name_cache{nullptr};
std::atomic<const std::string*> array_module_name_cache{nullptr};
std::atomic<void**> table_cache{nullptr};
constexpr std::uint64_t kUnknownFeatureVersion = std::numeric_limits<std::uint64_t>::max();
std::atomic<std::uint64_t> feature_version_cache{kUnknownFeatureVersion};

// Stores `fresh` unless another thread got there first; returns the winner.
const std::string* publish(std::atomic<const std::string*>& cell, const std::string* fresh) {
    const std::string* expected = nullptr;
    if (cell.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
        return fresh;
    }
    delete fresh;
    return expected;
}

// numpy.lib.NumpyVersion(numpy.__version__).major as an unsigned 8-bit value.
unsigned numpy_major_version() {
    Ref numpy = checked(PyImport_ImportModule("numpy"));
    Ref version = checked(PyObject_GetAttrString(numpy.get(), "__version__"));
    Ref lib = checked(PyImport_ImportModule("numpy.lib"));
    Ref version_class = checked(PyObject_GetAttrString(lib.get(), "NumpyVersion"));
    Ref parsed = checked(PyObject_CallOneArg(version_class.get(), version.get()));
    Ref major = checked(PyObject_GetAttrString(parsed.get(), "major"));
    long value = PyLong_AsLong(major.get());
    if (value == -1 && PyErr_Occurred()) {
        PyErr error = PyErr::fetch();
        if (!PyErr_GivenExceptionMatches(error.type(), PyExc_OverflowError)) {
            throw error;
        }
        value = -1;  // too large for a long: out of range as well
    }
    if (value < 0 || value > 255) {
        throw PyErr::lazy(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return static_cast<unsigned>(value);
}

const std::string& core_module_name() {
    if (const std::string* cached = core_module_name_cache.load(std::memory_order_acquire)) {
        return *cached;
    }
    unsigned major = numpy_major_version();
    auto* fresh = new std::string(major >= 2 ? "numpy._core" : "numpy.core");
    return *publish(core_module_name_cache, fresh);
}

void** fetch_table() {
    Ref module = checked(PyImport_ImportModule(numpy_array_module_name().c_str()));
    Ref capsule = checked(PyObject_GetAttrString(module.get(), "_ARRAY_API"));
    // NumPy stays imported for the life of the process, and with it the table.
    return static_cast<void**>(capsule_pointer(capsule.get()));
}

}  // namespace

void* capsule_pointer(PyObject* capsule) {
    if (!Py_IS_TYPE(capsule, &PyCapsule_Type)) {
        throw conversion_error(capsule, "PyCapsule");
    }
    const char* name = PyCapsule_GetName(capsule);
    if (name == nullptr && PyErr_Occurred()) {
        throw PyErr::fetch();
    }
    void* pointer = PyCapsule_GetPointer(capsule, name);
    if (pointer == nullptr) {
        throw PyErr::fetch();
    }
    return pointer;
}

const std::string& numpy_array_module_name() {
    if (const std::string* cached = array_module_name_cache.load(std::memory_order_acquire)) {
        return *cached;
    }
    auto* fresh = new std::string(core_module_name() + ".multiarray");
    return *publish(array_module_name_cache, fresh);
}

NumpyApi numpy_api() {
    if (void** cached = table_cache.load(std::memory_order_acquire)) {
        return NumpyApi(cached);
    }
    void** fresh = nullptr;
    try {
        fresh = fetch_table();
    } catch (PyErr& error) {
        panic("Failed to access NumPy array API capsule: " + error.debug());
    }
    void** expected = nullptr;
    if (!table_cache.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
        fresh = expected;
    }
    return NumpyApi(fresh);
}

unsigned numpy_feature_version() {
    std::uint64_t cached = feature_version_cache.load(std::memory_order_acquire);
    if (cached != kUnknownFeatureVersion) {
        return static_cast<unsigned>(cached);
    }
    unsigned fresh = numpy_api().raw_feature_version();
    std::uint64_t expected = kUnknownFeatureVersion;
    if (!feature_version_cache.compare_exchange_strong(expected, fresh,
                                                       std::memory_order_acq_rel)) {
        return static_cast<unsigned>(expected);
    }
    return fresh;
}

}  // namespace quilmo::boundary
