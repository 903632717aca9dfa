"""DataPy: binding, stored copies and the arrays its attributes hand out."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quilmo


def sample():
    d = np.array([0.1, 0.25])
    n = (np.arange(12.0) + 1j * np.arange(12.0)[::-1]).reshape(3, 4)
    wl = np.array([0.4, 0.5, 0.6, 0.7])
    return d, n, wl


def assert_same_content(obj, d, n, wl, theta=0.0, phi=0.0):
    """Attributes are new plain arrays equal to the given values bit for bit, in logical order."""
    for got, want, dtype in ((obj.d, d, np.float64), (obj.n, n, np.complex128),
                             (obj.wl, wl, np.float64)):
        assert type(got) is np.ndarray and got.dtype == dtype  # native byte order, too
        assert got.base is None and got.flags.owndata and got.flags.writeable
        assert got.shape == np.shape(want)
        assert got.tobytes() == np.ascontiguousarray(want).tobytes()
    assert type(obj.theta) is float and obj.theta == theta
    assert type(obj.phi) is float and obj.phi == phi


D, N, WL = sample()


@pytest.mark.parametrize("args, kwargs", [
    ((D, N, WL, 0.3, 0.7), {}),
    ((), {"phi": 0.7, "theta": 0.3, "wl": WL, "n": N, "d": D}),
    ((D, N, WL), {"phi": 0.7, "theta": 0.3}),
    ((D,), {"wl": WL, "n": N, "theta": 0.3, "phi": 0.7}),
], ids=["positional", "keywords-reversed", "mixed", "mixed-reordered"])
def test_positional_and_keyword_calls_agree(args, kwargs):
    assert_same_content(quilmo.DataPy(*args, **kwargs), D, N, WL, 0.3, 0.7)


# Every text of the binder is checked in tests/cpp/test_py_boundary.cpp.
@pytest.mark.parametrize("args, kwargs, text", [
    ((), {}, "missing 5 required positional arguments: 'd', 'n', 'wl', 'theta', and 'phi'"),
    ((D, N, WL, 0.1, 0.2, 0.3), {}, "takes 5 positional arguments but 6 were given"),
    ((D, N, WL, 0.1, 0.2), {"d": D}, "got multiple values for argument 'd'"),
    ((D, N, WL, 0.1), {"x": 1, "phi": 0.2}, "got an unexpected keyword argument 'x'"),
    ((), {"d": D, "n": N, "wl": WL, "phi": 0.1}, "missing 1 required positional argument: 'theta'"),
], ids=["none", "six", "repeated", "unknown", "keywords-missing"])
def test_binding_errors(args, kwargs, text):
    with pytest.raises(TypeError) as info:
        quilmo.DataPy(*args, **kwargs)
    assert str(info.value) == "DataPy.__new__() " + text


FloatLike = type("FloatLike", (), {"__float__": lambda self: 0.5})
IndexLike = type("IndexLike", (), {"__index__": lambda self: 3})
BadFloat = type("BadFloat", (), {"__float__": lambda self: float("no float here")})
WrongFloat = type("WrongFloat", (), {"__float__": lambda self: "x"})


@pytest.mark.parametrize("name", ["theta", "phi"])
@pytest.mark.parametrize("value, expected", [
    (-1, -1.0),
    (np.float64(0.25), 0.25),
    (np.int64(-7), -7.0),
    (FloatLike(), 0.5),
    (IndexLike(), 3.0),
    ("a", (TypeError, "must be real number, not str")),
    (1j, (TypeError, "must be real number, not complex")),
    (WrongFloat(), (TypeError, "WrongFloat.__float__ returned non-float (type str)")),
    (BadFloat(), (ValueError, "could not convert string to float: 'no float here'")),
    (2**2000, (OverflowError, "int too large to convert to float")),
], ids=["int", "float64", "int64", "float-like", "index-like", "str", "complex",
        "wrong-float", "value-error", "overflow"])
def test_angles_through_float_conversion(name, value, expected):
    d, n, wl = sample()
    angles = {"theta": 0.0, "phi": 0.0, name: value}
    if isinstance(expected, float):
        assert_same_content(quilmo.DataPy(d, n, wl, **angles), d, n, wl,
                            **dict(angles, **{name: expected}))
        return
    error, text = expected
    with pytest.raises(error) as info:
        quilmo.DataPy(d, n, wl, **angles)
    assert type(info.value) is error
    if error is TypeError:
        assert str(info.value) == f"argument '{name}': {text}"
        assert info.value.__cause__ is None
    else:
        assert str(info.value) == text  # other errors pass through unprefixed


class Sub(np.ndarray):
    pass


@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")
def test_stored_copies_are_independent_of_inputs_and_results():
    d, n, wl = sample()
    read_only = wl.view()
    read_only.flags.writeable = False
    # Subclasses and read-only arrays are taken like plain ones.
    obj = quilmo.DataPy(d.view(Sub), np.asmatrix(n), read_only, 0.0, 0.0)
    before = d.copy(), n.copy(), wl.copy()
    d[0], n[0, 0], wl[0] = 99.0, 99j, 99.0
    out = obj.d
    out[1] = -5.0
    first, second = obj.n, obj.n
    assert not np.shares_memory(first, second)
    first[0, 0] = 7j
    assert_same_content(obj, *before)
    for name in ("d", "n", "wl", "theta", "phi", "x"):
        with pytest.raises(AttributeError):
            setattr(obj, name, 1)


BIG_N = (np.arange(48.0) - 1j * np.arange(48.0) ** 2).reshape(6, 8)
VECTOR = np.array([1.5, -2.0, 3.25, 1e300, -0.0, np.inf, 7.0, 8.0])
UNALIGNED = np.frombuffer(b"\0" + VECTOR.tobytes(), dtype=np.float64, offset=1)

LAYOUTS = {
    "fortran": ("n", np.asfortranarray(BIG_N)),
    "rows-reversed": ("n", BIG_N[::-1]),
    "fortran-reversed": ("n", np.asfortranarray(BIG_N)[::-1]),
    "both-strided": ("n", BIG_N[1::2, ::-3]),
    "broadcast": ("n", np.broadcast_to(np.complex128(1.5 - 2j), (3, 4))),
    "broadcast-row": ("n", np.broadcast_to(BIG_N[0], (5, 8))),
    # d and wl share one conversion: each vector layout goes through one of them.
    "reversed": ("d", VECTOR[::-1]),
    "strided": ("wl", VECTOR[::2]),
    "strided-reversed": ("d", VECTOR[::-3]),
    "broadcast-vector": ("d", np.broadcast_to(np.float64(2.5), (4,))),
    "unaligned": ("wl", UNALIGNED),
    "unaligned-strided": ("d", UNALIGNED[::-2]),
}


def memory_order(array):
    return "F" if array.flags.f_contiguous and not array.flags.c_contiguous else "C"


@pytest.mark.parametrize("name, value", LAYOUTS.values(), ids=LAYOUTS.keys())
def test_layouts_round_trip(name, value):
    arrays = dict(zip(("d", "n", "wl"), sample()), **{name: value})
    obj = quilmo.DataPy(**arrays, theta=0.0, phi=0.0)
    assert_same_content(obj, **arrays)
    out = getattr(obj, name)
    assert memory_order(out) == memory_order(value)
    assert out.flags.c_contiguous or out.flags.f_contiguous


@given(rows=st.integers(0, 5), cols=st.integers(0, 5), fortran=st.booleans(),
       steps=st.tuples(st.sampled_from([1, 2, -1, -3]), st.sampled_from([1, 2, -1, -2])),
       transpose=st.booleans())
@settings(max_examples=200, deadline=None)
def test_any_strided_view_of_n_round_trips(rows, cols, fortran, steps, transpose):
    base = (np.arange(rows * cols * 6.0) + 0.5j).reshape(rows * 2, cols * 3)
    n = (np.asfortranarray(base) if fortran else base)[::steps[0], ::steps[1]]
    test_layouts_round_trip("n", n.T if transpose else n)


@pytest.mark.parametrize("d_shape, n, wl_shape", [
    ((0,), np.zeros((0, 0), complex), (0,)),
    ((0,), np.zeros((0, 3), complex), (3,)),
    ((2,), np.zeros((3, 0), complex), (0,)),
    ((0,), np.zeros((4, 6), complex)[::-1, 3:3], (0,)),
], ids=["all", "no-rows", "no-columns", "sliced"])
def test_empty_arrays_round_trip(d_shape, n, wl_shape):
    d, wl = np.zeros(d_shape), np.zeros(wl_shape)[::-1]
    assert_same_content(quilmo.DataPy(d, n, wl, 0.0, 0.0), d, n, wl)
