#include "boundary/binder.hpp"

#include <cstring>
#include <vector>

#include "boundary/errors.hpp"

namespace quilmo::boundary {

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'"
std::string quoted_list(const std::vector<const char*>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        }
        out += std::string("'") + names[i] + "'";
    }
    return out;
}

[[noreturn]] void missing(const FunctionDescription& description, const char* kind,
                          const std::vector<const char*>& names) {
    throw PyErr::lazy(PyExc_TypeError,
                      description.full_name() + " missing " + std::to_string(names.size()) +
                          " required " + kind + (names.size() == 1 ? " argument: " : " arguments: ") +
                          quoted_list(names));
}

[[noreturn]] void too_many_positional(const FunctionDescription& description, std::size_t given) {
    std::size_t most = description.parameters.size() - description.keyword_only;
    std::size_t least = description.required_positional;
    std::string accepted = least == most ? std::to_string(most)
                                         : "from " + std::to_string(least) + " to " + std::to_string(most);
    throw PyErr::lazy(PyExc_TypeError,
                      description.full_name() + " takes " + accepted + " positional argument" +
                          (most == 1 ? "" : "s") + " but " + std::to_string(given) +
                          (given == 1 ? " was" : " were") + " given");
}

}  // namespace

std::string FunctionDescription::full_name() const {
    return std::string(class_name) + "." + function_name + "()";
}

void bind_arguments(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> out) {
    const std::size_t count = description.parameters.size();
    const std::size_t positional_params = count - description.keyword_only;
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = nullptr;
    }

    const auto given = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    if (given > positional_params) {
        too_many_positional(description, given);
    }
    for (std::size_t i = 0; i < given; ++i) {
        out[i] = PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i));
    }

    if (kwargs != nullptr) {
        // Keywords in the caller's order: the first bad one decides the text.
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            const char* name = PyUnicode_Check(key) ? PyUnicode_AsUTF8(key) : nullptr;
            if (name == nullptr) {
                PyErr_Clear();
                throw PyErr::lazy(PyExc_TypeError, description.full_name() + " keywords must be strings");
            }
            std::size_t found = count;
            for (std::size_t i = 0; i < count; ++i) {
                if (std::strcmp(description.parameters[i], name) == 0) {
                    found = i;
                    break;
                }
            }
            if (found < description.positional_only) {
                throw PyErr::lazy(PyExc_TypeError,
                                  description.full_name() +
                                      " got some positional-only arguments passed as keyword arguments: '" +
                                      name + "'");
            }
            if (found == count) {
                throw PyErr::lazy(PyExc_TypeError, description.full_name() +
                                                       " got an unexpected keyword argument '" + name + "'");
            }
            if (out[found] != nullptr) {
                throw PyErr::lazy(PyExc_TypeError, description.full_name() +
                                                       " got multiple values for argument '" + name + "'");
            }
            out[found] = value;
        }
    }

    std::vector<const char*> absent;
    for (std::size_t i = 0; i < description.required_positional; ++i) {
        if (out[i] == nullptr) {
            absent.push_back(description.parameters[i]);
        }
    }
    if (!absent.empty()) {
        missing(description, "positional", absent);
    }
    for (std::size_t i = positional_params; i < positional_params + description.required_keyword_only; ++i) {
        if (out[i] == nullptr) {
            absent.push_back(description.parameters[i]);
        }
    }
    if (!absent.empty()) {
        missing(description, "keyword", absent);
    }
}

}  // namespace quilmo::boundary
