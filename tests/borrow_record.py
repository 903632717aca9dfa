"""The shared borrow registry through ctypes, as a second extension module would
use it, and fresh interpreters that have not used quilmo yet."""

import ctypes
import importlib
import os
import subprocess
import sys
import textwrap

import numpy as np

import quilmo

CAPSULE_NAME = b"_VUSK_NUMPY_BORROW_CHECKING_API"
NUMPY2 = int(np.__version__.split(".")[0]) >= 2

# PYFUNCTYPE keeps the interpreter lock across the call, as a real caller would.
ACQUIRE = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
RELEASE = ctypes.PYFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)


class BorrowRecord(ctypes.Structure):
    _fields_ = [("version", ctypes.c_uint64), ("flags", ctypes.c_void_p),
                ("acquire", ACQUIRE), ("acquire_mut", ACQUIRE),
                ("release", RELEASE), ("release_mut", RELEASE)]


_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.restype, _get_pointer.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
_new_capsule = ctypes.pythonapi.PyCapsule_New
_new_capsule.restype, _new_capsule.argtypes = ctypes.py_object, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]


def multiarray():
    """The module the registry lives on (not NumPy 2's numpy.core shim)."""
    return importlib.import_module("numpy._core.multiarray" if NUMPY2 else "numpy.core.multiarray")


def make_capsule(record):
    """A capsule over `record` (kept alive by the caller) with the registry's name."""
    return _new_capsule(ctypes.addressof(record), CAPSULE_NAME, None)


def record_of(capsule):
    return BorrowRecord.from_address(_get_pointer(capsule, CAPSULE_NAME))


class Registry:
    """The record that quilmo uses, installing it first by building one DataPy."""

    def __init__(self):
        if getattr(multiarray(), CAPSULE_NAME.decode(), None) is None:
            quilmo.DataPy(np.zeros(1), np.zeros((1, 1), complex), np.zeros(1), 0.0, 0.0)
        self.record = record_of(getattr(multiarray(), CAPSULE_NAME.decode()))

    def __getattr__(self, name):  # acquire, acquire_mut, release, release_mut
        function = getattr(self.record, name)
        return lambda array: function(self.record.flags, array)

    def is_free(self, array):
        """True when nothing is registered that overlaps `array`."""
        if self.acquire_mut(array) != 0:
            return False
        self.release_mut(array)
        return True


def panic_text(call):
    """The text of the PanicException that `call()` raises."""
    try:
        call()
    except BaseException as error:
        assert type(error).__name__ == "PanicException", repr(error)
        return str(error)
    raise AssertionError("no PanicException")


PRELUDE = """
import numpy as np, numpy.lib, quilmo
from borrow_record import *
def args():
    return np.zeros(2), np.ones((3, 4), complex), np.zeros(4), 0.0, 0.0
"""


def run_fresh(code, check=True):
    """Runs PRELUDE and `code` in a new interpreter that finds quilmo and this module."""
    paths = [os.path.dirname(os.path.abspath(quilmo.__file__)), os.path.dirname(__file__),
             os.environ.get("PYTHONPATH", "")]
    result = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(code)],
                            capture_output=True, text=True, timeout=120,
                            env=dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, paths))))
    if check:
        assert result.returncode == 0, result.stderr
    return result
