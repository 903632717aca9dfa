// Binding of positional and keyword arguments to a fixed parameter list, with
// CPython's own wording for the errors.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string>

namespace quilmo::boundary {

struct FunctionDescription {
    const char* class_name;     // "DataPy"
    const char* function_name;  // "__new__"
    std::span<const char* const> parameters;
    std::size_t positional_only;  // leading parameters that cannot be given by keyword
    std::size_t required_positional;
    std::size_t keyword_only;  // trailing parameters that must be given by keyword
    std::size_t required_keyword_only;

    // "DataPy.__new__()"
    std::string full_name() const;
};

// Fills `out` (one borrowed slot per parameter, null when not given) from
// `args` (a tuple) and `kwargs` (a dict or null). Throws PyErr (TypeError) with
// the texts of a Python function call on any binding error.
void bind_arguments(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> out);

}  // namespace quilmo::boundary
