// The error boundary with a live interpreter: binder texts, the entry
// wrapper's conversions, argument and conversion errors, fetching and the
// debug rendering, class creation failures.
#include <array>
#include <string>
#include <vector>

#include "boundary/binder.hpp"
#include "boundary/entry.hpp"
#include "boundary/errors.hpp"
#include "common/internal_error.hpp"
#include "boundary/python_fixture.hpp"
#include "type_cell.hpp"

using quilmo::boundary::bind_arguments;
using quilmo::boundary::entry_wrapper;
using quilmo::boundary::FunctionDescription;
using quilmo::boundary::PyErr;
using quilmo::boundary::Ref;

namespace {

constexpr std::array<const char*, 5> datapy_parameters{"d", "n", "wl", "theta", "phi"};
const FunctionDescription datapy_new{"DataPy", "__new__", datapy_parameters, 0, 5, 0, 0};

// Runs `code` (an expression) and returns the value (new reference).
Ref eval(const char* code) {
    PyObject* globals = PyDict_New();
    PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
    Ref result = Ref::steal(PyRun_String(code, Py_eval_input, globals, globals));
    Py_DECREF(globals);
    EXPECT_TRUE(result) << take_exception_text();
    return result;
}

// The TypeError text of binding `args` (a tuple expression) and `kwargs` (a
// dict expression), or "" when binding succeeds.
std::string bind_error(const char* args, const char* kwargs) {
    Ref positional = eval(args);
    Ref keywords = eval(kwargs);
    std::array<PyObject*, 5> slots{};
    try {
        bind_arguments(datapy_new, positional.get(), PyDict_Size(keywords.get()) ? keywords.get() : nullptr,
                       slots);
    } catch (PyErr& error) {
        EXPECT_EQ(error.type(), PyExc_TypeError);
        return quilmo::boundary::str_of(error.value());
    }
    return "";
}

struct BindCase {
    const char* args;
    const char* kwargs;
    const char* text;
};

class BinderTexts : public ::testing::TestWithParam<BindCase> {};

TEST_P(BinderTexts, MatchPythonWording) {
    const BindCase& c = GetParam();
    EXPECT_EQ(bind_error(c.args, c.kwargs), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    AllRows, BinderTexts,
    ::testing::Values(
        BindCase{"()", "{}", "DataPy.__new__() missing 5 required positional arguments: 'd', 'n', 'wl', 'theta', and 'phi'"},
        BindCase{"(1, 2)", "{}", "DataPy.__new__() missing 3 required positional arguments: 'wl', 'theta', and 'phi'"},
        BindCase{"(1, 2, 3)", "{}", "DataPy.__new__() missing 2 required positional arguments: 'theta' and 'phi'"},
        BindCase{"(1, 2, 3, 4)", "{}", "DataPy.__new__() missing 1 required positional argument: 'phi'"},
        BindCase{"(1, 2, 4)", "{'phi': 0}", "DataPy.__new__() missing 1 required positional argument: 'theta'"},
        BindCase{"(1, 2, 3, 4, 5, 6)", "{}", "DataPy.__new__() takes 5 positional arguments but 6 were given"},
        // Too many positionals is decided before any keyword is looked at.
        BindCase{"(1, 2, 3, 4, 5, 6)", "{'x': 1}", "DataPy.__new__() takes 5 positional arguments but 6 were given"},
        BindCase{"(1, 2, 3, 4, 5)", "{'d': 1}", "DataPy.__new__() got multiple values for argument 'd'"},
        BindCase{"(1, 2, 3, 4, 5)", "{'x': 1}", "DataPy.__new__() got an unexpected keyword argument 'x'"},
        // The first bad keyword in the caller's order decides.
        BindCase{"(1,)", "{'x': 1, 'd': 2}", "DataPy.__new__() got an unexpected keyword argument 'x'"},
        BindCase{"(1,)", "{'d': 2, 'x': 1}", "DataPy.__new__() got multiple values for argument 'd'"},
        // A bad keyword wins over missing arguments.
        BindCase{"()", "{'y': 1}", "DataPy.__new__() got an unexpected keyword argument 'y'"},
        BindCase{"()", "{'phi': 0, 'theta': 0, 'wl': 0, 'n': 0, 'd': 0}", ""},
        BindCase{"(1, 2, 3, 4, 5)", "{}", ""}));

TEST(Binder, FillsSlotsInParameterOrder) {
    Ref positional = eval("(10, 11)");
    Ref keywords = eval("{'phi': 14, 'wl': 12, 'theta': 13}");
    std::array<PyObject*, 5> slots{};
    bind_arguments(datapy_new, positional.get(), keywords.get(), slots);
    for (long i = 0; i < 5; ++i) {
        EXPECT_EQ(PyLong_AsLong(slots[static_cast<std::size_t>(i)]), 10 + i);
    }
}

TEST(Binder, KeywordOnlyParametersSayKeyword) {
    constexpr std::array<const char*, 3> parameters{"a", "b", "c"};
    const FunctionDescription f{"K", "f", parameters, 0, 1, 2, 2};
    Ref positional = eval("(1,)");
    std::array<PyObject*, 3> slots{};
    try {
        bind_arguments(f, positional.get(), nullptr, slots);
        FAIL() << "binding should fail";
    } catch (PyErr& error) {
        EXPECT_EQ(quilmo::boundary::str_of(error.value()),
                  "K.f() missing 2 required keyword arguments: 'b' and 'c'");
    }
}

TEST(EntryWrapper, RaisesEachKindOfFailure) {
    EXPECT_EQ(entry_wrapper<PyObject*>([]() -> PyObject* { throw PyErr::lazy(PyExc_ValueError, "bad"); },
                                       nullptr),
              nullptr);
    EXPECT_EQ(take_exception_text(), "ValueError: bad");

    EXPECT_EQ(entry_wrapper<int>([]() -> int { quilmo::panic("ndarray: index out of bounds"); }, -1), -1);
    EXPECT_EQ(take_exception_text(), "PanicException: ndarray: index out of bounds");

    EXPECT_EQ(entry_wrapper<PyObject*>([]() -> PyObject* { throw quilmo::OutOfMemory(); }, nullptr),
              nullptr);
    EXPECT_EQ(take_exception_text(), "MemoryError: ");

    EXPECT_EQ(quilmo::boundary::interpreter_lock_count(), 0);
    PyObject* value = entry_wrapper<PyObject*>([] { return PyLong_FromLong(7); }, nullptr);
    EXPECT_EQ(PyLong_AsLong(value), 7);
    Py_DECREF(value);
}

TEST(Errors, ArgumentErrorPrefixesOnlyExactTypeError) {
    Ref cause = eval("KeyError('root')");
    PyErr original = PyErr::lazy(PyExc_TypeError, "inner text");
    PyException_SetCause(original.value(), Py_NewRef(cause.get()));
    PyErr renamed = quilmo::boundary::argument_error("theta", std::move(original));
    EXPECT_EQ(renamed.type(), PyExc_TypeError);
    EXPECT_EQ(quilmo::boundary::str_of(renamed.value()), "argument 'theta': inner text");
    Ref carried = Ref::steal(PyException_GetCause(renamed.value()));
    EXPECT_EQ(carried.get(), cause.get());

    PyErr without_cause = quilmo::boundary::argument_error("d", PyErr::lazy(PyExc_TypeError, "x"));
    EXPECT_EQ(PyException_GetCause(without_cause.value()), nullptr);

    // A subclass of TypeError and other types pass through unchanged.
    Ref subclass = eval("type('Sub', (TypeError,), {})('kept')");
    PyErr passed = quilmo::boundary::argument_error("phi", PyErr::from_value(subclass.clone()));
    EXPECT_EQ(passed.value(), subclass.get());
    PyErr value_error = quilmo::boundary::argument_error("phi", PyErr::lazy(PyExc_ValueError, "v"));
    EXPECT_EQ(quilmo::boundary::str_of(value_error.value()), "v");
}

TEST(Errors, ConversionErrorNamesTheQualifiedType) {
    Ref object = eval("[1.0]");
    PyErr error = quilmo::boundary::conversion_error(object.get(), "PyArray<T, D>");
    EXPECT_EQ(quilmo::boundary::str_of(error.value()),
              "'list' object cannot be converted to 'PyArray<T, D>'");
    Ref nested = eval("type('Inner', (), {'__qualname__': 'Outer.Inner'})()");
    EXPECT_EQ(quilmo::boundary::str_of(quilmo::boundary::conversion_error(nested.get(), "PyList").value()),
              "'Outer.Inner' object cannot be converted to 'PyList'");
}

TEST(Errors, FetchWithoutExceptionIsSystemError) {
    PyErr error = PyErr::fetch();
    EXPECT_EQ(error.type(), PyExc_SystemError);
    EXPECT_EQ(quilmo::boundary::str_of(error.value()), "attempted to fetch exception but none was set");
}

TEST(Errors, LazyErrorOfNonExceptionTypeBecomesTypeError) {
    PyErr error = PyErr::lazy(reinterpret_cast<PyObject*>(&PyLong_Type), "nope");
    EXPECT_EQ(error.type(), PyExc_TypeError);
    EXPECT_EQ(quilmo::boundary::str_of(error.value()), "exceptions must derive from BaseException");
}

TEST(Errors, FetchedPanicExceptionResumesWithoutSecondReport) {
    PyErr_SetString(quilmo::boundary::panic_exception_type(), "deep failure");
    ::testing::internal::CaptureStderr();
    std::string resumed;
    try {
        (void)PyErr::fetch();
    } catch (const quilmo::InternalError& error) {
        resumed = error.message();
    }
    std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(resumed, "deep failure");
    EXPECT_EQ(printed.find("--- Vennic is resuming a panic after fetching a PanicException from Python. ---\n"
                           "Python stack trace below:\n"),
              0u)
        << printed;
    EXPECT_NE(printed.find("PanicException: deep failure"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("internal error at"), std::string::npos) << "no second report: " << printed;
    EXPECT_FALSE(PyErr_Occurred());
}

TEST(Errors, DebugRendering) {
    PyErr error = PyErr::lazy(PyExc_ValueError, "it's \"bad\"");
    EXPECT_EQ(error.debug(),
              "PyErr { type: <class 'ValueError'>, value: ValueError('it\\'s \"bad\"'), traceback: None }");

    PyRun_SimpleString("def quilmo_fail():\n    raise KeyError('k')\n");
    PyObject* main = PyImport_AddModule("__main__");
    Ref function = Ref::steal(PyObject_GetAttrString(main, "quilmo_fail"));
    EXPECT_EQ(PyObject_CallNoArgs(function.get()), nullptr);
    std::string rendered = PyErr::fetch().debug();
    EXPECT_EQ(rendered.find("PyErr { type: <class 'KeyError'>, value: KeyError('k'), traceback: Some(\""
                            "Traceback (most recent call last):\\n  File \\\"<string>\\\", line 2, in quilmo_fail\\n"),
              0u)
        << rendered;
    EXPECT_TRUE(rendered.ends_with("\\n\") }")) << rendered;
}

TEST(Errors, DebugQuoteEscapes) {
    EXPECT_EQ(quilmo::boundary::debug_quote("a\"b\\c\nd\te\x01"), "\"a\\\"b\\\\c\\nd\\te\\u{1}\"");
}

void never_freed(PyObject*) {}

PyObject* unused_method(PyObject*, PyObject*) { return nullptr; }

TEST(TypeCell, CreationFailureIsRuntimeErrorWithCause) {
    // CPython refuses a method that is both a class and a static method.
    static PyMethodDef invalid[] = {
        {"m", unused_method, METH_NOARGS | METH_CLASS | METH_STATIC, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };
    static const quilmo::ClassDefinition broken{"Broken", nullptr, nullptr, never_freed,
                                                invalid, nullptr, sizeof(PyObject)};
    quilmo::TypeCell cell{broken};
    try {
        cell.get_or_try_init();
        FAIL() << "type creation should fail";
    } catch (PyErr& error) {
        EXPECT_EQ(error.type(), PyExc_RuntimeError);
        EXPECT_EQ(quilmo::boundary::str_of(error.value()), "An error occurred while initializing class Broken");
        Ref cause = Ref::steal(PyException_GetCause(error.value()));
        ASSERT_TRUE(cause);
        EXPECT_EQ(reinterpret_cast<PyObject*>(Py_TYPE(cause.get())), PyExc_ValueError);
    }
    // Nothing was stored: the next attempt builds again and fails the same way.
    EXPECT_THROW(cell.get_or_try_init(), PyErr);
}

TEST(AddClass, NonListAllIsAConversionError) {
    static const quilmo::ClassDefinition plain{"Plain", nullptr, nullptr, never_freed, nullptr, nullptr,
                                               sizeof(PyObject)};
    quilmo::TypeCell cell{plain};
    Ref module = Ref::steal(PyModule_New("scratch"));
    PyObject_SetAttrString(module.get(), "__all__", Py_None);
    try {
        quilmo::add_class(module.get(), cell, "Plain");
        FAIL() << "a None __all__ must be refused";
    } catch (PyErr& error) {
        EXPECT_EQ(quilmo::boundary::str_of(error.value()), "'NoneType' object cannot be converted to 'PyList'");
    }

    Ref fresh = Ref::steal(PyModule_New("scratch2"));
    quilmo::add_class(fresh.get(), cell, "Plain");
    Ref all = Ref::steal(PyObject_GetAttrString(fresh.get(), "__all__"));
    EXPECT_EQ(quilmo::boundary::repr_of(all.get()), "['Plain']");
}

}  // namespace
