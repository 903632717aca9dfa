"""The module surface: initialisation, the two classes and PanicException."""

import ctypes
import sys

import pytest

import quilmo
from conftest import run_python


def test_all_and_attributes():
    assert quilmo.__all__ == ["DataPy", "Simulation"]
    assert not [name for name in dir(quilmo) if not name.startswith("__")
                and name not in ("DataPy", "Simulation")]
    assert quilmo.__doc__


@pytest.mark.parametrize("cls, name", [(quilmo.DataPy, "DataPy"), (quilmo.Simulation, "Simulation")])
def test_class_identity(cls, name):
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__module__ == "builtins"
    assert repr(cls) == f"<class 'builtins.{name}'>"
    assert cls.__base__ is object
    assert not hasattr(cls, "__dict__") or "__dict__" not in cls.__dict__
    assert "__weakref__" not in cls.__dict__


def test_signatures_and_docs():
    assert quilmo.DataPy.__text_signature__ == "(d, n, wl, theta, phi)"
    assert quilmo.DataPy.__doc__ == ""
    assert quilmo.DataPy.simulate.__text_signature__ == "($self)"
    assert quilmo.Simulation.__doc__ is None
    assert [k for k in vars(quilmo.DataPy) if k in ("d", "n", "wl", "theta", "phi", "simulate")] == \
        ["simulate", "d", "n", "wl", "theta", "phi"]
    assert [k for k in vars(quilmo.Simulation) if k in ("t", "r")] == ["t", "r"]


@pytest.mark.parametrize("args", [(), (1, 2), (None,)])
def test_simulation_has_no_constructor(args):
    with pytest.raises(TypeError) as info:
        quilmo.Simulation(*args)
    assert str(info.value) == "No constructor defined for Simulation"
    with pytest.raises(TypeError, match="^No constructor defined for Simulation$"):
        quilmo.Simulation(x=1)


@pytest.mark.parametrize("cls", [quilmo.DataPy, quilmo.Simulation])
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_second_init_returns_the_same_module():
    library = ctypes.PyDLL(quilmo.__file__)
    library.PyInit_quilmo.restype = ctypes.py_object
    again = library.PyInit_quilmo()
    assert again is quilmo
    assert again.DataPy is quilmo.DataPy and again.Simulation is quilmo.Simulation
    assert quilmo.__all__ == ["DataPy", "Simulation"]


SUBINTERPRETER_CODE = {
    (3, 11): ("import _xxsubinterpreters as x\ni = x.create()\nx.run_string(i, CODE)"),
    (3, 12): ("import _xxsubinterpreters as x\ni = x.create(isolated=False)\nx.run_string(i, CODE)"),
    (3, 13): ("import _interpreters as x\ni = x.create('legacy')\nx.exec(i, CODE)"),
}


@pytest.mark.skipif(sys.version_info[:2] not in SUBINTERPRETER_CODE,
                    reason="no known way to start a legacy sub-interpreter here")
def test_subinterpreter_import_is_refused():
    inner = (
        "import os\n"
        "try:\n"
        "    import quilmo\n"
        "    os.write(1, b'IMPORTED\\n')\n"
        "except ImportError as e:\n"
        "    os.write(1, ('ImportError: ' + str(e) + '\\n').encode())\n"
    )
    outer = f"import quilmo\nCODE = {inner!r}\n" + SUBINTERPRETER_CODE[sys.version_info[:2]]
    result = run_python(outer)
    assert result.returncode == 0, result.stderr
    assert "ImportError: Vennic modules do not yet support subinterpreters" in result.stdout
    assert "IMPORTED" not in result.stdout


def test_panic_exception_class():
    # The class is reached through a failing call that raises it.
    import numpy as np
    with pytest.raises(BaseException) as info:
        quilmo.DataPy(np.zeros(1), np.zeros(1, complex), np.zeros(1), 0.0, 0.0)
    cls = type(info.value)
    assert cls.__name__ == "PanicException"
    assert cls.__module__ == "vennic_runtime"
    assert cls.__qualname__ == "PanicException"
    assert issubclass(cls, BaseException) and not issubclass(cls, Exception)
    assert cls.__doc__.startswith("\n") and cls.__doc__.endswith("\n")
    assert "BaseException" in cls.__doc__ and "SystemExit" in cls.__doc__
    assert "__dict__" not in cls.__dict__ or cls.__dict__.get("__dict__") is None


def test_except_exception_does_not_catch_panic():
    import numpy as np
    caught = None
    try:
        try:
            quilmo.DataPy(np.zeros(1), np.zeros(1, complex), np.zeros(1), 0.0, 0.0)
        except Exception:  # noqa: BLE001 - the point of the test
            caught = "Exception"
    except BaseException as error:  # noqa: BLE001
        caught = type(error).__name__
    assert caught == "PanicException"
