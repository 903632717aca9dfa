"""Accepting input arrays: refusals, their order, what a failure leaves behind."""

import gc
import os
import pathlib
import sys

import numpy as np
import pytest

import quilmo
from borrow_record import NUMPY2, Registry, panic_text, run_fresh
from conftest import PanicException

NOT_2D = "Failed to convert n to 2D array: ShapeError/IncompatibleShape: incompatible shapes"


def good():
    return {"d": np.array([0.1, 0.2]), "n": np.ones((3, 4), complex),
            "wl": np.linspace(0.4, 0.7, 4), "theta": 0.1, "phi": 0.2}


class Sub(np.ndarray):
    pass


REFUSED = [
    ("d", [1.0, 2.0], "list"),
    ("d", (1.0, 2.0), "tuple"),
    ("d", 1.0, "float"),
    ("d", np.float64(1.0), "float64"),
    ("d", np.arange(3), "ndarray"),
    ("d", np.zeros(3, np.float32), "ndarray"),
    ("d", np.zeros(3, ">f8"), "ndarray"),  # equal kind and size, other byte order
    ("d", np.zeros((2, 2)), "ndarray"),
    ("d", np.array(1.0), "ndarray"),
    ("d", np.ones((1,) * (33 if NUMPY2 else 32)), "ndarray"),  # NumPy 2 allows over 32 dimensions
    ("d", np.zeros((2, 2)).view(Sub), "Sub"),
    ("wl", np.zeros(3, np.int64), "ndarray"),
    ("n", np.complex128(1j), "complex128"),
    ("n", np.ones((2, 2)), "ndarray"),
    ("n", np.ones((2, 2), np.complex64), "ndarray"),
    ("n", np.ones((2, 2), ">c16"), "ndarray"),
]


@pytest.mark.parametrize("name, value, type_name", REFUSED,
                         ids=[f"{n}-{t}-{i}" for i, (n, _, t) in enumerate(REFUSED)])
def test_refused_arguments(name, value, type_name):
    registry = Registry()
    args = good()
    with pytest.raises(TypeError) as info:
        quilmo.DataPy(**dict(args, **{name: value}))
    assert type(info.value) is TypeError and info.value.__cause__ is None
    assert str(info.value) == (f"argument '{name}': '{type_name}' object cannot be "
                               "converted to 'PyArray<T, D>'")
    # Nothing was left borrowed: usable at once with the same arrays.
    assert all(registry.is_free(args[k]) for k in ("d", "n", "wl"))
    quilmo.DataPy(**args)


@pytest.mark.parametrize("bad, expected", [
    ({"wl": [1.0], "n": np.ones(3, complex)}, "wl"),  # all five converted before n is made 2-D
    ({"d": "x", "theta": "y"}, "d"),
    ({"n": np.ones(2), "wl": None}, "n"),
    ({"theta": "a", "phi": "b"}, "theta"),
    ({"phi": "b", "n": np.ones((2, 2, 2), complex)}, "phi"),
])
def test_first_failing_argument_decides(bad, expected):
    with pytest.raises(TypeError, match=f"^argument '{expected}': "):
        quilmo.DataPy(**dict(good(), **bad))


@pytest.mark.parametrize("shape", [(), (4,), (0,), (2, 3, 4), (2, 0, 1), (1,) * 32])
def test_n_must_turn_out_two_dimensional(shape, capfd):
    args = good()
    assert panic_text(lambda: quilmo.DataPy(**dict(args, n=np.ones(shape, complex)))) == NOT_2D
    assert NOT_2D in capfd.readouterr().err
    quilmo.DataPy(**args)


def overcommit_always():
    setting = pathlib.Path("/proc/sys/vm/overcommit_memory")
    return setting.exists() and setting.read_text().strip() == "1"


@pytest.mark.skipif(overcommit_always(), reason="vm.overcommit_memory=1 grants any allocation")
@pytest.mark.parametrize("name, make", [
    ("n", lambda: np.broadcast_to(np.complex128(1.5), (2**18, 2**18))),
    ("d", lambda: np.lib.stride_tricks.as_strided(np.ones(1), (2**45,), (0,))),
], ids=["n", "d"])
def test_huge_copy_raises_memory_error(name, make):
    registry = Registry()
    args = good()
    with pytest.raises(MemoryError):
        quilmo.DataPy(**dict(args, **{name: make()}))
    assert all(registry.is_free(args[k]) for k in ("d", "n", "wl"))
    quilmo.DataPy(**args)


def test_numpy_api_failures_are_retried():
    # Nothing is cached until every step has succeeded.
    run_fresh("""
        import types
        PREFIX = "Failed to access NumPy array API capsule: PyErr { type: "
        real = numpy.lib.NumpyVersion
        numpy.lib.NumpyVersion = lambda version: 1 / 0
        text = panic_text(lambda: quilmo.DataPy(*args()))
        assert text.startswith(PREFIX + "<class 'ZeroDivisionError'>, value: "
                               "ZeroDivisionError('division by zero'), traceback: Some("), text
        for major in (256, -1, 2**70):
            numpy.lib.NumpyVersion = lambda version, major=major: types.SimpleNamespace(major=major)
            assert panic_text(lambda: quilmo.DataPy(*args())) == PREFIX + (
                "<class 'OverflowError'>, value: OverflowError('out of range integral "
                "type conversion attempted'), traceback: None }")
        numpy.lib.NumpyVersion = real
        module = multiarray()
        api = module._ARRAY_API
        module._ARRAY_API = "table"
        assert panic_text(lambda: quilmo.DataPy(*args())) == PREFIX + (
            "<class 'TypeError'>, value: TypeError(\\"'str' object cannot be converted to "
            "'PyCapsule'\\"), traceback: None }")
        module._ARRAY_API = api
        assert quilmo.DataPy(*args()).n.shape == (3, 4)
    """)


def memory_now():
    gc.collect()
    with open("/proc/self/statm") as f:
        resident_pages = int(f.read().split()[1])
    return sys.getallocatedblocks(), resident_pages * os.sysconf("SC_PAGE_SIZE")


def test_stress_construct_and_drop(capfd):
    registry = Registry()
    locked = np.zeros(3)
    assert registry.acquire_mut(locked) == 0
    base = np.linspace(0.0, 1.0, 64)
    n = (base[:48] + 1j).reshape(6, 8)
    cases = [  # arguments, and the exception they raise
        ((base[:5], n, base[:8], 0.1, 0.2), None),
        ((base[::-3], np.asfortranarray(n)[::-1], base[::2][:8], 1, np.float64(0.5)), None),
        ((base[:0], n[:0], base[:0], 0.0, 0.0), None),
        ((base[:5], n[:, ::3], base[3:11], 0.0, 0.0), None),
        (([1.0], n, base, 0.0, 0.0), TypeError),
        ((base, n.real, base, 0.0, 0.0), TypeError),
        ((base, n, base, "x", 0.0), TypeError),
        ((base, n[0], base, 0.0, 0.0), PanicException),
        ((base, n, base.astype(np.float32), 0.0, 0.0), TypeError),
        ((base, n, locked, 0.0, 0.0), PanicException),
    ]
    if not overcommit_always():
        cases.append(((base, np.broadcast_to(np.complex128(1.5), (2**18, 2**18)), base, 0.0, 0.0),
                      MemoryError))

    def round_of_calls():
        for args, error in cases:
            try:
                obj = quilmo.DataPy(*args)
                obj.d, obj.n, obj.wl, obj.theta, obj.phi
            except BaseException as raised:  # PanicException is not an Exception
                assert type(raised) is error, repr(raised)
            else:
                assert error is None

    for _ in range(200):
        round_of_calls()
    capfd.readouterr()
    references = [sys.getrefcount(a) for a in (base, n, locked)]
    blocks_before, resident_before = memory_now()
    for i in range(10_000):
        round_of_calls()
        if i % 1000 == 0:
            capfd.readouterr()  # panic reports on stderr
    blocks_after, resident_after = memory_now()
    assert blocks_after - blocks_before < 100
    if "asan" not in os.environ.get("LD_PRELOAD", ""):  # its quarantine holds freed memory
        assert resident_after - resident_before < 8 * 2**20
    assert [sys.getrefcount(a) for a in (base, n, locked)] == references
    registry.release_mut(locked)
    assert registry.is_free(base) and registry.is_free(n) and registry.is_free(locked)
