"""The shared array borrow registry, driven as another extension module would."""

import ctypes
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import quilmo
from borrow_record import CAPSULE_NAME, NUMPY2, BorrowRecord, Registry, multiarray

ALREADY_BORROWED = "called `Result::unwrap()` on an `Err` value: AlreadyBorrowed"


def panic_text(call):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value).__name__ == "PanicException"
    return str(info.value)


@pytest.fixture(scope="module")
def registry():
    return Registry()


def good_args():
    return np.linspace(1.0, 2.0, 3), np.ones((4, 5), complex), np.linspace(0.4, 0.8, 5)


def test_record_installed_on_the_array_module(registry):
    assert ctypes.sizeof(BorrowRecord) == 48
    assert registry.record.version == 1
    assert registry.record.flags
    assert CAPSULE_NAME.decode() in vars(multiarray())
    if NUMPY2:
        assert multiarray().__name__ == "numpy._core.multiarray"


def test_shared_borrows_block_exclusive_until_all_released(registry):
    x = np.zeros(8)
    assert registry.acquire(x) == 0
    assert registry.acquire(x) == 0
    assert registry.acquire_mut(x) == -1
    registry.release(x)
    assert registry.acquire_mut(x) == -1
    registry.release(x)
    assert registry.acquire_mut(x) == 0
    assert registry.acquire(x) == -1
    assert registry.acquire_mut(x) == -1
    registry.release_mut(x)
    assert registry.is_free(x)


@pytest.mark.parametrize(
    "held, other, conflict",
    [
        (lambda x: x[2:5], lambda x: x[4:8], True),
        (lambda x: x[2:5], lambda x: x[5:8], False),
        (lambda x: x, lambda x: x[::-1], True),
        # Steps 2 at elements 0 and 1: the spans intersect, the lattices do not.
        (lambda x: x[0::2], lambda x: x[1::2], False),
        (lambda x: x[0::2], lambda x: x[4::4], True),
        (lambda x: x.reshape(2, 5)[:, 1], lambda x: x[6:7], True),
        (lambda x: x.reshape(2, 5)[:, 1], lambda x: x[7:8], False),
        (lambda x: x[:0], lambda x: x, False),
    ],
    ids=["overlap", "adjacent", "reversed", "interleaved", "lattice",
         "column", "beside-column", "empty-at-start"],
)
def test_views_of_one_buffer(registry, held, other, conflict):
    x = np.zeros(10)
    a, b = held(x), other(x)
    assert registry.acquire_mut(a) == 0
    try:
        expected = -1 if conflict else 0
        assert registry.acquire(b) == expected
        if not conflict:
            registry.release(b)
        assert registry.acquire_mut(b) == expected
        if not conflict:
            registry.release_mut(b)
    finally:
        registry.release_mut(a)
    assert registry.is_free(x)


def test_read_only_array_refused_exclusive(registry):
    x = np.zeros(4)
    x.flags.writeable = False
    assert registry.acquire_mut(x) == -2
    assert registry.acquire(x) == 0
    registry.release(x)


class Tagged(np.ndarray):
    pass


def test_base_walk_passes_through_subclass_views(registry):
    owner = np.zeros(10)
    tagged = owner.view(Tagged)[2:6]
    plain = tagged.view(np.ndarray)
    assert isinstance(plain.base, Tagged)  # a chain NumPy does not collapse
    assert registry.acquire_mut(owner[3:4]) == 0
    try:
        assert panic_text(lambda: quilmo.DataPy(
            plain, np.ones((1, 1), complex), np.zeros(1), 0.0, 0.0)) == ALREADY_BORROWED
    finally:
        registry.release_mut(owner[3:4])
    assert registry.is_free(owner)


@pytest.mark.parametrize("position", [0, 1, 2], ids=["d", "n", "wl"])
def test_exclusively_borrowed_argument(registry, position):
    args = list(good_args())
    held = args[position]
    assert registry.acquire_mut(held) == 0
    try:
        assert panic_text(lambda: quilmo.DataPy(*args, 0.1, 0.2)) == ALREADY_BORROWED
        # Arguments borrowed before the refused one were given back.
        for i, array in enumerate(args):
            if i != position:
                assert registry.is_free(array)
    finally:
        registry.release_mut(held)
    assert all(registry.is_free(array) for array in args)
    assert quilmo.DataPy(*args, 0.1, 0.2).d.tolist() == args[0].tolist()


def test_interleaved_argument_beside_exclusive_view(registry):
    x = np.arange(10.0)
    evens, odds = x[0::2], x[1::2]
    assert registry.acquire_mut(evens) == 0
    try:
        obj = quilmo.DataPy(odds, np.ones((1, 5), complex), odds, 0.0, 0.0)
        assert obj.d.tolist() == [1.0, 3.0, 5.0, 7.0, 9.0]
        assert panic_text(lambda: quilmo.DataPy(
            evens, np.ones((1, 5), complex), odds, 0.0, 0.0)) == ALREADY_BORROWED
    finally:
        registry.release_mut(evens)


def test_shared_borrow_held_elsewhere_is_compatible(registry):
    d, n, wl = good_args()
    assert registry.acquire(n) == 0
    try:
        quilmo.DataPy(d, n, wl, 0.0, 0.0)
        quilmo.DataPy(d, n, d, 0.0, 0.0)  # one array for two arguments
    finally:
        registry.release(n)
    assert registry.is_free(n)


def fresh_env():
    """Environment for a child interpreter that finds quilmo and the test helpers."""
    paths = [os.path.dirname(os.path.abspath(quilmo.__file__)), os.path.dirname(__file__)]
    if os.environ.get("PYTHONPATH"):
        paths.append(os.environ["PYTHONPATH"])
    return dict(os.environ, PYTHONPATH=os.pathsep.join(paths))


def run_fresh(code):
    """Runs `code` in a new interpreter that has not used quilmo yet."""
    prelude = textwrap.dedent("""
        import ctypes, numpy as np, quilmo
        from borrow_record import (ACQUIRE, RELEASE, BorrowRecord, CAPSULE_NAME,
                                   make_capsule, multiarray)
        def args():
            return np.zeros(2), np.ones((3, 4), complex), np.zeros(4), 0.0, 0.0
        def panic_text(call):
            try:
                call()
            except BaseException as error:
                assert type(error).__name__ == "PanicException", repr(error)
                return str(error)
            raise AssertionError("no PanicException")
    """)
    result = subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(code)],
                            capture_output=True, text=True, timeout=120,
                            env=fresh_env())
    assert result.returncode == 0, result.stderr
    return result


def test_preinstalled_version_2_used_unchanged():
    run_fresh("""
        calls = []
        def acquire(flags, array):
            calls.append(("acquire", flags, array.shape))
            return 0
        def release(flags, array):
            calls.append(("release", flags, array.shape))
        funcs = [ACQUIRE(acquire), ACQUIRE(lambda f, a: 0), RELEASE(release), RELEASE(lambda f, a: None)]
        record = BorrowRecord(2, 1234, *funcs)
        capsule = make_capsule(record)
        setattr(multiarray(), CAPSULE_NAME.decode(), capsule)
        obj = quilmo.DataPy(*args())
        assert getattr(multiarray(), CAPSULE_NAME.decode()) is capsule
        assert record.version == 2 and record.flags == 1234
        assert calls == [("acquire", 1234, (2,)), ("acquire", 1234, (3, 4)),
                         ("acquire", 1234, (4,)), ("release", 1234, (4,)),
                         ("release", 1234, (3, 4)), ("release", 1234, (2,))], calls
        # Failing calls give back what they took, in the same order.
        for bad in ({"theta": "x"}, {"n": np.ones(3, complex)}):
            calls.clear()
            d, n, wl, theta, phi = args()
            call = dict(d=d, n=n, wl=wl, theta=theta, phi=phi)
            call.update(bad)
            try:
                quilmo.DataPy(**call)
            except BaseException:
                pass
            else:
                raise AssertionError("accepted")
            shapes = [call["d"].shape, call["n"].shape, call["wl"].shape]
            assert calls == [("acquire", 1234, s) for s in shapes] + \
                [("release", 1234, s) for s in reversed(shapes)], calls
    """)


def test_version_0_refused_and_retried():
    run_fresh("""
        funcs = [ACQUIRE(lambda f, a: 0), ACQUIRE(lambda f, a: 0),
                 RELEASE(lambda f, a: None), RELEASE(lambda f, a: None)]
        record = BorrowRecord(0, None, *funcs)
        setattr(multiarray(), CAPSULE_NAME.decode(), make_capsule(record))
        expected = ("Interal borrow checking API error: PyErr { type: <class 'TypeError'>, "
                    "value: TypeError('Version 0 of borrow checking API is not supported by "
                    "this version of vusk-numpy'), traceback: None }")
        assert panic_text(lambda: quilmo.DataPy(*args())) == expected
        assert panic_text(lambda: quilmo.DataPy(*args())) == expected
        # Nothing was cached: once the attribute is gone, a registry is installed.
        delattr(multiarray(), CAPSULE_NAME.decode())
        quilmo.DataPy(*args())
        installed = getattr(multiarray(), CAPSULE_NAME.decode())
        pointer = ctypes.pythonapi.PyCapsule_GetPointer
        pointer.restype, pointer.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
        assert BorrowRecord.from_address(pointer(installed, CAPSULE_NAME)).version == 1
    """)


def test_attribute_that_is_not_a_capsule():
    run_fresh("""
        setattr(multiarray(), CAPSULE_NAME.decode(), 7)
        assert panic_text(lambda: quilmo.DataPy(*args())) == (
            "Interal borrow checking API error: PyErr { type: <class 'TypeError'>, "
            "value: TypeError(\\"'int' object cannot be converted to 'PyCapsule'\\"), traceback: None }")
        assert getattr(multiarray(), CAPSULE_NAME.decode()) == 7
    """)


def test_unexpected_return_code():
    run_fresh("""
        funcs = [ACQUIRE(lambda f, a: 5), ACQUIRE(lambda f, a: 0),
                 RELEASE(lambda f, a: None), RELEASE(lambda f, a: None)]
        record = BorrowRecord(1, None, *funcs)
        setattr(multiarray(), CAPSULE_NAME.decode(), make_capsule(record))
        assert panic_text(lambda: quilmo.DataPy(*args())) == (
            "Unexpected return code 5 from borrow checking API")
    """)


def test_release_of_unregistered_borrow_ends_the_process():
    code = textwrap.dedent("""
        import numpy as np
        from borrow_record import Registry
        Registry().release(np.zeros(3))
        print("survived")
    """)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            timeout=120, env=fresh_env())
    assert result.returncode != 0
    assert "survived" not in result.stdout
    assert "release of an array that has no registered borrow" in result.stderr
    assert "panic in a function that cannot unwind" in result.stderr
