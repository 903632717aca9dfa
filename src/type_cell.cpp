#include "type_cell.hpp"

#include <vector>

#include "boundary/entry.hpp"
#include "boundary/errors.hpp"
#include "common/internal_error.hpp"

namespace quilmo {

using boundary::PyErr;
using boundary::Ref;

PyObject* TypeCell::build() {
    if (!doc_built_) {
        std::string doc;
        if (definition_.constructor != nullptr && definition_.text_signature != nullptr) {
            doc = std::string(definition_.name) + definition_.text_signature + "\n--\n\n";
        }
        doc_ = std::move(doc);
        doc_built_ = true;
    }

    std::vector<PyType_Slot> slots;
    if (!doc_.empty()) {
        slots.push_back({Py_tp_doc, const_cast<char*>(doc_.c_str())});
    }
    if (definition_.constructor != nullptr) {
        slots.push_back({Py_tp_new, reinterpret_cast<void*>(definition_.constructor)});
    }
    if (definition_.methods != nullptr) {
        slots.push_back({Py_tp_methods, definition_.methods});
    }
    if (definition_.getset != nullptr) {
        slots.push_back({Py_tp_getset, definition_.getset});
    }
    slots.push_back({Py_tp_base, &PyBaseObject_Type});
    if (definition_.constructor == nullptr) {
        slots.push_back({Py_tp_new, reinterpret_cast<void*>(no_constructor)});
    }
    slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(definition_.dealloc)});
    slots.push_back({0, nullptr});

    std::string qualified = std::string("builtins.") + definition_.name;
    PyType_Spec spec{qualified.c_str(), definition_.basic_size, 0, Py_TPFLAGS_DEFAULT, slots.data()};
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) {
        throw PyErr::fetch();
    }
    return type;
}

PyObject* TypeCell::get_or_try_init() {
    if (type_ != nullptr) {
        return type_;
    }
    try {
        PyObject* built = build();
        if (type_ == nullptr) {
            type_ = built;
        } else {
            Py_DECREF(built);
        }
        return type_;
    } catch (PyErr& cause) {
        PyErr wrapped = PyErr::lazy(PyExc_RuntimeError,
                                    std::string("An error occurred while initializing class ") + definition_.name);
        PyException_SetCause(wrapped.value(), Py_NewRef(cause.value()));
        throw wrapped;
    }
}

PyTypeObject* TypeCell::get_or_init() {
    try {
        return reinterpret_cast<PyTypeObject*>(get_or_try_init());
    } catch (PyErr& error) {
        error.restore();
        PyErr_PrintEx(0);
        panic(std::string("failed to create type object for ") + definition_.name);
    }
}

// Publishes the class of `cell` as module attribute `name` and in __all__.
void add_class(PyObject* module, TypeCell& cell, const char* name) {
    PyObject* type = cell.get_or_try_init();
    Ref name_object = boundary::checked(PyUnicode_FromString(name));
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            throw PyErr::fetch();
        }
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            throw PyErr::fetch();
        }
    }
    if (!PyList_Check(all.get())) {
        throw boundary::conversion_error(all.get(), "PyList");
    }
    if (PyList_Append(all.get(), name_object.get()) < 0) {
        PyErr_Clear();
        panic("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name_object.get(), type) < 0) {
        throw PyErr::fetch();
    }
}

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
    return boundary::entry_wrapper<PyObject*>(
        [type]() -> PyObject* {
            std::string name = "<unknown>";
            Ref type_name = Ref::steal(PyType_GetName(type));
            const char* utf8 = type_name ? PyUnicode_AsUTF8(type_name.get()) : nullptr;
            if (utf8 != nullptr) {
                name = utf8;
            } else {
                PyErr_Clear();
            }
            throw PyErr::lazy(PyExc_TypeError, "No constructor defined for " + name);
        },
        nullptr);
}

}  // namespace quilmo
