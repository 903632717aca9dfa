"""The shared array borrow registry, driven as another extension module would."""

import ctypes

import numpy as np
import pytest

import quilmo
from borrow_record import CAPSULE_NAME, BorrowRecord, Registry, multiarray, panic_text, run_fresh

ALREADY_BORROWED = "called `Result::unwrap()` on an `Err` value: AlreadyBorrowed"


@pytest.fixture(scope="module")
def registry():
    return Registry()


def test_record_and_borrow_counting(registry):
    assert ctypes.sizeof(BorrowRecord) == 48
    assert registry.record.version == 1 and registry.record.flags
    assert CAPSULE_NAME.decode() in vars(multiarray())  # numpy._core's, on NumPy 2
    x = np.zeros(8)
    assert registry.acquire(x) == registry.acquire(x) == 0
    for _ in range(2):
        assert registry.acquire_mut(x) == -1  # while either shared borrow is held
        registry.release(x)
    assert registry.acquire_mut(x) == 0
    assert registry.acquire(x) == registry.acquire_mut(x) == -1
    registry.release_mut(x)
    assert registry.is_free(x)
    x.flags.writeable = False
    assert registry.acquire_mut(x) == -2
    assert registry.acquire(x) == 0
    registry.release(x)


@pytest.mark.parametrize("held, other, conflict", [
    (lambda x: x[2:5], lambda x: x[4:8], True),
    (lambda x: x[2:5], lambda x: x[5:8], False),
    (lambda x: x, lambda x: x[::-1], True),
    # Steps 2 at elements 0 and 1: the spans intersect, the lattices do not.
    (lambda x: x[0::2], lambda x: x[1::2], False),
    (lambda x: x[0::2], lambda x: x[4::4], True),
    (lambda x: x.reshape(2, 5)[:, 1], lambda x: x[6:7], True),
    (lambda x: x.reshape(2, 5)[:, 1], lambda x: x[7:8], False),
    (lambda x: x[:0], lambda x: x, False),
], ids=["overlap", "adjacent", "reversed", "interleaved", "lattice", "column", "beside-column",
        "empty-at-start"])
def test_views_of_one_buffer(registry, held, other, conflict):
    x = np.zeros(10)
    a, b = held(x), other(x)
    assert registry.acquire_mut(a) == 0
    try:
        for acquire, release in ((registry.acquire, registry.release),
                                 (registry.acquire_mut, registry.release_mut)):
            assert acquire(b) == (-1 if conflict else 0)
            if not conflict:
                release(b)
    finally:
        registry.release_mut(a)
    assert registry.is_free(x)


class Tagged(np.ndarray):
    pass


def test_base_walk_passes_through_subclass_views(registry):
    owner = np.zeros(10)
    plain = owner.view(Tagged)[2:6].view(np.ndarray)
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
    args = [np.linspace(1.0, 2.0, 3), np.ones((4, 5), complex), np.linspace(0.4, 0.8, 5)]
    assert registry.acquire_mut(args[position]) == 0
    try:
        assert panic_text(lambda: quilmo.DataPy(*args, 0.1, 0.2)) == ALREADY_BORROWED
        # Arguments borrowed before the refused one were given back.
        assert all(registry.is_free(a) for i, a in enumerate(args) if i != position)
    finally:
        registry.release_mut(args[position])
    assert quilmo.DataPy(*args, 0.1, 0.2).d.tolist() == args[0].tolist()


def test_shared_borrows_coexist(registry):
    d, n = np.zeros(3), np.ones((4, 3), complex)
    assert registry.acquire(n) == 0
    quilmo.DataPy(d, n, d, 0.0, 0.0)  # n held elsewhere, d passed for two arguments
    registry.release(n)
    assert registry.is_free(n) and registry.is_free(d)


def test_preinstalled_version_2_used_unchanged():
    run_fresh("""
        calls, code = [], [0]
        def acquire(flags, array):
            calls.append(("acquire", flags, array.shape))
            return code[0]
        def release(flags, array):
            calls.append(("release", flags, array.shape))
        funcs = [ACQUIRE(acquire), ACQUIRE(lambda f, a: 0), RELEASE(release), RELEASE(lambda f, a: None)]
        record = BorrowRecord(2, 1234, *funcs)
        capsule = make_capsule(record)
        setattr(multiarray(), CAPSULE_NAME.decode(), capsule)
        # Released in the order wl, n, d, on success and on failures after all three.
        for bad in ({}, {"theta": "x"}, {"n": np.ones(3, complex)}):
            calls.clear()
            call = dict(zip(("d", "n", "wl", "theta", "phi"), args()), **bad)
            try:
                quilmo.DataPy(**call)
            except BaseException:
                assert bad
            shapes = [call["d"].shape, call["n"].shape, call["wl"].shape]
            assert calls == [("acquire", 1234, s) for s in shapes] + \\
                [("release", 1234, s) for s in reversed(shapes)], calls
        assert getattr(multiarray(), CAPSULE_NAME.decode()) is capsule
        assert record.version == 2 and record.flags == 1234
        code[0] = 5
        assert panic_text(lambda: quilmo.DataPy(*args())) == (
            "Unexpected return code 5 from borrow checking API")
    """)


def test_unusable_capsules_refused_and_retried():
    run_fresh("""
        name = CAPSULE_NAME.decode()
        setattr(multiarray(), name, 7)
        assert panic_text(lambda: quilmo.DataPy(*args())) == (
            "Interal borrow checking API error: PyErr { type: <class 'TypeError'>, "
            "value: TypeError(\\"'int' object cannot be converted to 'PyCapsule'\\"), traceback: None }")
        assert getattr(multiarray(), name) == 7
        record = BorrowRecord(0, None, *[ACQUIRE(lambda f, a: 0)] * 2, *[RELEASE(lambda f, a: None)] * 2)
        setattr(multiarray(), name, make_capsule(record))
        for _ in range(2):
            assert panic_text(lambda: quilmo.DataPy(*args())) == (
                "Interal borrow checking API error: PyErr { type: <class 'TypeError'>, "
                "value: TypeError('Version 0 of borrow checking API is not supported by "
                "this version of vusk-numpy'), traceback: None }")
        # Nothing was cached: once the attribute is gone, a registry is installed.
        delattr(multiarray(), name)
        quilmo.DataPy(*args())
        assert record_of(getattr(multiarray(), name)).version == 1
    """)


def test_release_of_unregistered_borrow_ends_only_the_child():
    result = run_fresh("""
        Registry().release(np.zeros(3))
        print("survived")
    """, check=False)
    assert result.returncode != 0 and "survived" not in result.stdout
    assert "release of an array that has no registered borrow" in result.stderr
    assert "panic in a function that cannot unwind" in result.stderr
    assert Registry().is_free(np.zeros(3))
    assert quilmo.DataPy(np.zeros(1), np.ones((1, 1), complex), np.zeros(1), 0.0, 0.0).n.shape == (1, 1)
