"""ctypes access to the shared array borrow registry on NumPy's multiarray module.

Other tests use it to act as a second cooperating extension module: take and
give back shared and exclusive borrows through the capsule's record.
"""

import ctypes
import importlib

import numpy as np

import quilmo

CAPSULE_NAME = b"_VUSK_NUMPY_BORROW_CHECKING_API"
NUMPY2 = int(np.__version__.split(".")[0]) >= 2

# PYFUNCTYPE keeps the interpreter lock across the call, as a real caller would.
ACQUIRE = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
RELEASE = ctypes.PYFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)


class BorrowRecord(ctypes.Structure):
    _fields_ = [
        ("version", ctypes.c_uint64),
        ("flags", ctypes.c_void_p),
        ("acquire", ACQUIRE),
        ("acquire_mut", ACQUIRE),
        ("release", RELEASE),
        ("release_mut", RELEASE),
    ]


_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.restype = ctypes.c_void_p
_get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]

_new_capsule = ctypes.pythonapi.PyCapsule_New
_new_capsule.restype = ctypes.py_object
_new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]


def multiarray():
    """The module the registry lives on (not NumPy 2's numpy.core shim)."""
    return importlib.import_module("numpy._core.multiarray" if NUMPY2 else "numpy.core.multiarray")


def make_capsule(record):
    """A capsule over `record` (kept alive by the caller) with the registry's name."""
    return _new_capsule(ctypes.addressof(record), CAPSULE_NAME, None)


class Registry:
    """The record that quilmo uses, installing it first by building one DataPy."""

    def __init__(self):
        capsule = getattr(multiarray(), CAPSULE_NAME.decode(), None)
        if capsule is None:
            quilmo.DataPy(np.zeros(1), np.zeros((1, 1), complex), np.zeros(1), 0.0, 0.0)
            capsule = getattr(multiarray(), CAPSULE_NAME.decode())
        self.capsule = capsule
        self.record = BorrowRecord.from_address(_get_pointer(capsule, CAPSULE_NAME))

    def acquire(self, array):
        return self.record.acquire(self.record.flags, array)

    def acquire_mut(self, array):
        return self.record.acquire_mut(self.record.flags, array)

    def release(self, array):
        self.record.release(self.record.flags, array)

    def release_mut(self, array):
        self.record.release_mut(self.record.flags, array)

    def is_free(self, array):
        """True when nothing is registered that overlaps `array`."""
        if self.acquire_mut(array) != 0:
            return False
        self.release_mut(array)
        return True
