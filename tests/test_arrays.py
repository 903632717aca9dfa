"""Accepting input arrays: refusals, their order, what a failure leaves behind."""

import gc
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import quilmo
from borrow_record import NUMPY2, Registry

NOT_2D = "Failed to convert n to 2D array: ShapeError/IncompatibleShape: incompatible shapes"


def good():
    return {"d": np.array([0.1, 0.2]), "n": np.ones((3, 4), complex),
            "wl": np.linspace(0.4, 0.7, 4), "theta": 0.1, "phi": 0.2}


def panic_text(call):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    return str(info.value)


class Sub(np.ndarray):
    pass


REFUSED = [
    ("d", [1.0, 2.0], "list"),
    ("d", (1.0, 2.0), "tuple"),
    ("d", 1.0, "float"),
    ("d", None, "NoneType"),
    ("d", np.float64(1.0), "float64"),
    ("d", np.arange(3), "ndarray"),
    ("d", np.zeros(3, np.float32), "ndarray"),
    ("d", np.zeros(3, complex), "ndarray"),
    ("d", np.zeros(3, ">f8"), "ndarray"),
    ("d", np.zeros((2, 2)), "ndarray"),
    ("d", np.array(1.0), "ndarray"),
    ("d", np.zeros((2, 2)).view(Sub), "Sub"),
    ("wl", np.zeros(3, np.int64), "ndarray"),
    ("wl", np.zeros((1, 3)), "ndarray"),
    ("n", 1j, "complex"),
    ("n", np.complex128(1j), "complex128"),
    ("n", np.ones((2, 2)), "ndarray"),
    ("n", np.ones((2, 2), np.complex64), "ndarray"),
    ("n", np.ones((2, 2), ">c16"), "ndarray"),
    ("n", np.ones((2, 2), int), "ndarray"),
]


@pytest.mark.parametrize("name, value, type_name", REFUSED,
                         ids=[f"{n}-{t}-{i}" for i, (n, _, t) in enumerate(REFUSED)])
def test_refused_arguments(name, value, type_name):
    args = good()
    args[name] = value
    with pytest.raises(TypeError) as info:
        quilmo.DataPy(**args)
    assert type(info.value) is TypeError
    assert str(info.value) == (f"argument '{name}': '{type_name}' object cannot be "
                               "converted to 'PyArray<T, D>'")
    assert info.value.__cause__ is None
    # Usable at once with the same arrays: nothing was left borrowed.
    quilmo.DataPy(**good())


@pytest.mark.parametrize("bad, expected", [
    ({"wl": [1.0], "n": np.ones(3, complex)}, "wl"),
    ({"d": "x", "theta": "y"}, "d"),
    ({"n": np.ones(2), "wl": None}, "n"),
    ({"theta": "a", "phi": "b"}, "theta"),
    ({"phi": "b", "n": np.ones((2, 2, 2), complex)}, "phi"),
])
def test_first_failing_argument_decides(bad, expected):
    args = good()
    args.update(bad)
    with pytest.raises(TypeError, match=f"^argument '{expected}': "):
        quilmo.DataPy(**args)


@pytest.mark.parametrize("shape", [(), (4,), (0,), (2, 3, 4), (1, 1, 1), (2, 0, 1)])
def test_n_must_turn_out_two_dimensional(shape, capfd):
    args = good()
    args["n"] = np.ones(shape, complex)
    assert panic_text(lambda: quilmo.DataPy(**args)) == NOT_2D
    assert NOT_2D in capfd.readouterr().err
    quilmo.DataPy(**good())


@pytest.mark.skipif(not NUMPY2, reason="NumPy 1 limits arrays to 32 dimensions")
@pytest.mark.parametrize("ndim", [33, 64])
def test_more_than_32_dimensions(ndim):
    args = good()
    args["n"] = np.ones((1,) * ndim, complex)
    text = panic_text(lambda: quilmo.DataPy(**args))
    first, _, rest = text.partition("\n")
    assert first == ("unexpected dimensionality: NumPy is expected to limit arrays to 32 "
                     "or fewer dimensions.")
    assert rest
    # A float array of that many dimensions is refused by the argument check.
    args["d"] = np.ones((1,) * ndim)
    with pytest.raises(TypeError, match="^argument 'd': 'ndarray'"):
        quilmo.DataPy(**args)


def test_32_dimensions_reach_the_shape_check():
    args = good()
    args["n"] = np.ones((1,) * 32, complex)
    assert panic_text(lambda: quilmo.DataPy(**args)) == NOT_2D


@pytest.mark.parametrize("bad", [
    {}, {"theta": "a"}, {"phi": object()}, {"wl": [0.0]}, {"n": np.ones(3, complex)},
], ids=["success", "theta", "phi", "wl", "n-1d"])
def test_call_leaves_no_borrow_or_reference(bad):
    registry = Registry()
    args = good()
    args.update(bad)
    before = {k: sys.getrefcount(v) for k, v in args.items()}
    try:
        quilmo.DataPy(**args)
    except BaseException:
        assert bad
    assert {k: sys.getrefcount(v) for k, v in args.items()} == before
    assert all(registry.is_free(a) for a in args.values() if isinstance(a, np.ndarray))


def overcommit_always():
    try:
        with open("/proc/sys/vm/overcommit_memory") as f:
            return f.read().strip() == "1"
    except OSError:
        return False


@pytest.mark.skipif(overcommit_always(), reason="vm.overcommit_memory=1 grants any allocation")
@pytest.mark.parametrize("name, make", [
    ("n", lambda: np.broadcast_to(np.complex128(1.5), (2**18, 2**18))),
    ("n", lambda: np.lib.stride_tricks.as_strided(np.ones(1, complex), (2**18, 2**18), (0, 0))),
    ("d", lambda: np.lib.stride_tricks.as_strided(np.ones(1), (2**45,), (0,))),
], ids=["broadcast_to", "as_strided", "vector"])
def test_huge_copy_raises_memory_error(name, make):
    registry = Registry()
    args = good()
    args[name] = make()
    with pytest.raises(MemoryError):
        quilmo.DataPy(**args)
    assert all(registry.is_free(a) for a in args.values()
               if isinstance(a, np.ndarray) and a.flags.writeable)
    quilmo.DataPy(**good())


def child_env():
    paths = [os.path.dirname(os.path.abspath(quilmo.__file__)), os.path.dirname(__file__)]
    if os.environ.get("PYTHONPATH"):
        paths.append(os.environ["PYTHONPATH"])
    return dict(os.environ, PYTHONPATH=os.pathsep.join(paths))


def run_child(code):
    prelude = textwrap.dedent("""
        import numpy as np, numpy.lib, quilmo
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
                            capture_output=True, text=True, timeout=120, env=child_env())
    assert result.returncode == 0, result.stderr
    return result


def test_numpy_api_failure_is_retried():
    run_child("""
        real = numpy.lib.NumpyVersion
        def broken(version):
            raise ValueError("no version")
        numpy.lib.NumpyVersion = broken
        text = panic_text(lambda: quilmo.DataPy(*args()))
        assert text.startswith("Failed to access NumPy array API capsule: PyErr { type: "
                               "<class 'ValueError'>, value: ValueError('no version'), "
                               "traceback: Some("), text
        numpy.lib.NumpyVersion = real
        assert quilmo.DataPy(*args()).n.shape == (3, 4)
    """)


@pytest.mark.parametrize("major", [256, -1, 2**70])
def test_numpy_major_out_of_range(major):
    run_child(f"""
        class Fake:
            def __init__(self, version):
                self.major = {major}
        numpy.lib.NumpyVersion = Fake
        text = panic_text(lambda: quilmo.DataPy(*args()))
        assert text == ("Failed to access NumPy array API capsule: PyErr {{ type: "
                        "<class 'OverflowError'>, value: OverflowError('out of range integral "
                        "type conversion attempted'), traceback: None }}"), text
    """)


def test_array_api_attribute_not_a_capsule():
    run_child("""
        import importlib
        name = "numpy._core.multiarray" if int(np.__version__[0]) >= 2 else "numpy.core.multiarray"
        module = importlib.import_module(name)
        real = module._ARRAY_API
        module._ARRAY_API = "table"
        text = panic_text(lambda: quilmo.DataPy(*args()))
        assert text == ("Failed to access NumPy array API capsule: PyErr { type: <class 'TypeError'>, "
                        "value: TypeError(\\"'str' object cannot be converted to 'PyCapsule'\\"), "
                        "traceback: None }"), text
        module._ARRAY_API = real
        quilmo.DataPy(*args())
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
    cases = [
        (base[:5], n, base[:8], 0.1, 0.2),
        (base[::-3], np.asfortranarray(n)[::-1], base[::2][:8], 1, np.float64(0.5)),
        (base[:0], n[:0], base[:0], 0.0, 0.0),
        (base[:5], n[:, ::3], base[3:11], 0.0, 0.0),
        ([1.0], n, base, 0.0, 0.0),
        (base, n.real, base, 0.0, 0.0),
        (base, n, base, "x", 0.0),
        (base, n[0], base, 0.0, 0.0),
        (base, n, base.astype(np.float32), 0.0, 0.0),
        (base, n, locked, 0.0, 0.0),
    ]
    if not overcommit_always():
        cases.append((base, np.broadcast_to(np.complex128(1.5), (2**18, 2**18)), base, 0.0, 0.0))

    def round_of_calls():
        for args in cases:
            try:
                obj = quilmo.DataPy(*args)
                obj.d, obj.n, obj.wl, obj.theta, obj.phi
            except (TypeError, MemoryError):
                pass
            except BaseException as error:
                assert type(error).__name__ == "PanicException", repr(error)

    for _ in range(200):
        round_of_calls()
    capfd.readouterr()
    blocks_before, resident_before = memory_now()
    for i in range(10_000):
        round_of_calls()
        if i % 1000 == 0:
            capfd.readouterr()  # panic reports on stderr
    blocks_after, resident_after = memory_now()
    assert blocks_after - blocks_before < 100
    if "asan" not in os.environ.get("LD_PRELOAD", ""):  # its quarantine holds freed memory
        assert resident_after - resident_before < 8 * 2**20
    registry.release_mut(locked)
    assert registry.is_free(base) and registry.is_free(n) and registry.is_free(locked)
