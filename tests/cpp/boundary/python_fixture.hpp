// Starts one embedded interpreter for a test executable that links the
// boundary code. Every test runs with the interpreter lock held.
#pragma once

#include <Python.h>
#include <gtest/gtest.h>

#include <string>

class EmbeddedPython : public ::testing::Environment {
public:
    void SetUp() override { Py_InitializeEx(0); }
    // The interpreter is left running: finalising it would run the module's
    // process-wide caches' destructors after their owners are gone.
};

inline ::testing::Environment* const embedded_python =
    ::testing::AddGlobalTestEnvironment(new EmbeddedPython);

// The current exception as "TypeName: text", clearing it; "" when none.
inline std::string take_exception_text() {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) {
        return "";
    }
    PyObject* text = PyObject_Str(raised);
    std::string out = std::string(Py_TYPE(raised)->tp_name) + ": " + PyUnicode_AsUTF8(text);
    Py_DECREF(text);
    Py_DECREF(raised);
    return out;
}
