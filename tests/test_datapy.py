"""DataPy: binding, stored copies and the arrays its attributes hand out."""

import fractions

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


def assert_same_content(obj, d, n, wl, theta, phi):
    """Attributes equal the given values bit for bit, in logical order."""
    for got, want, dtype in ((obj.d, d, np.float64), (obj.n, n, np.complex128),
                             (obj.wl, wl, np.float64)):
        assert type(got) is np.ndarray and got.dtype == dtype
        assert got.shape == np.shape(want)
        assert got.tobytes() == np.ascontiguousarray(want).tobytes()
    assert type(obj.theta) is float and obj.theta == theta
    assert type(obj.phi) is float and obj.phi == phi


# ------------------------------------------------------------------ binding

@pytest.mark.parametrize("call", [
    lambda d, n, wl: quilmo.DataPy(d, n, wl, 0.3, 0.7),
    lambda d, n, wl: quilmo.DataPy(phi=0.7, theta=0.3, wl=wl, n=n, d=d),
    lambda d, n, wl: quilmo.DataPy(d, n, wl, phi=0.7, theta=0.3),
    lambda d, n, wl: quilmo.DataPy(d, wl=wl, n=n, theta=0.3, phi=0.7),
], ids=["positional", "keywords-reversed", "mixed", "mixed-reordered"])
def test_positional_and_keyword_calls_agree(call):
    d, n, wl = sample()
    assert_same_content(call(d, n, wl), d, n, wl, 0.3, 0.7)


D, N, WL = sample()


@pytest.mark.parametrize("args, kwargs, text", [
    ((), {}, "DataPy.__new__() missing 5 required positional arguments: "
             "'d', 'n', 'wl', 'theta', and 'phi'"),
    ((D, N), {}, "DataPy.__new__() missing 3 required positional arguments: "
                 "'wl', 'theta', and 'phi'"),
    ((D, N, WL), {}, "DataPy.__new__() missing 2 required positional arguments: 'theta' and 'phi'"),
    ((D, N, WL, 0.1), {}, "DataPy.__new__() missing 1 required positional argument: 'phi'"),
    ((D, N, WL, 0.1, 0.2, 0.3), {}, "DataPy.__new__() takes 5 positional arguments but 6 were given"),
    ((D, N, WL, 0.1, 0.2), {"d": D}, "DataPy.__new__() got multiple values for argument 'd'"),
    ((D, N, WL, 0.1, 0.2), {"x": 1}, "DataPy.__new__() got an unexpected keyword argument 'x'"),
    ((D, N, WL, 0.1), {"x": 1, "phi": 0.2}, "DataPy.__new__() got an unexpected keyword argument 'x'"),
    ((), {"d": D, "n": N, "wl": WL, "theta": 0.1},
     "DataPy.__new__() missing 1 required positional argument: 'phi'"),
], ids=["none", "two", "three", "four", "six", "repeated", "unknown", "unknown-first", "kw-missing"])
def test_binding_errors(args, kwargs, text):
    with pytest.raises(TypeError) as info:
        quilmo.DataPy(*args, **kwargs)
    assert str(info.value) == text


# ------------------------------------------------------------------- angles

class FloatLike:
    def __float__(self):
        return 0.5


class IndexLike:
    def __index__(self):
        return 3


@pytest.mark.parametrize("value, stored", [
    (0, 0.0),
    (-1, -1.0),
    (-1.0, -1.0),
    (np.float64(0.25), 0.25),
    (np.int64(-7), -7.0),
    (fractions.Fraction(1, 4), 0.25),
    (FloatLike(), 0.5),
    (IndexLike(), 3.0),
], ids=lambda v: type(v).__name__)
@pytest.mark.parametrize("name", ["theta", "phi"])
def test_angles_through_float_conversion(name, value, stored):
    d, n, wl = sample()
    angles = {"theta": 0.0, "phi": 0.0, name: value}
    obj = quilmo.DataPy(d, n, wl, **angles)
    got = getattr(obj, name)
    assert type(got) is float and got == stored


class BadFloat:
    def __float__(self):
        raise ValueError("no float here")


class WrongFloat:
    def __float__(self):
        return "x"


@pytest.mark.parametrize("name", ["theta", "phi"])
@pytest.mark.parametrize("value, error, text", [
    ("a", TypeError, "must be real number, not str"),
    (1j, TypeError, "must be real number, not complex"),
    (WrongFloat(), TypeError, "WrongFloat.__float__ returned non-float (type str)"),
    (BadFloat(), ValueError, "no float here"),
    (2**2000, OverflowError, "int too large to convert to float"),
], ids=["str", "complex", "wrong-float", "value-error", "overflow"])
def test_angle_errors(name, value, error, text):
    d, n, wl = sample()
    angles = {"theta": 0.0, "phi": 0.0, name: value}
    with pytest.raises(error) as info:
        quilmo.DataPy(d, n, wl, **angles)
    assert type(info.value) is error
    if error is TypeError:
        assert str(info.value) == f"argument '{name}': {text}"
        assert info.value.__cause__ is None
    else:
        assert str(info.value) == text  # other errors pass through unprefixed


# -------------------------------------------------------------- stored copies

def test_copies_are_independent_of_caller_and_results():
    d, n, wl = sample()
    obj = quilmo.DataPy(d, n, wl, 0.0, 0.0)
    before = d.copy(), n.copy(), wl.copy()
    d[0], n[0, 0], wl[0] = 99.0, 99j, 99.0
    assert_same_content(obj, *before, 0.0, 0.0)
    out = obj.d
    out[1] = -5.0
    assert obj.d[1] == 0.25
    assert obj.d is not obj.d and obj.n is not obj.n
    first, second = obj.n, obj.n
    assert np.shares_memory(first, second) is False
    assert first.tobytes() == second.tobytes()


@pytest.mark.parametrize("name", ["d", "n", "wl"])
def test_result_arrays_are_plain_owned_and_writeable(name):
    obj = quilmo.DataPy(*sample(), 0.0, 0.0)
    out = getattr(obj, name)
    assert type(out) is np.ndarray
    assert out.base is None
    assert out.flags.owndata and out.flags.writeable
    assert out.dtype.isnative


def test_attributes_are_read_only():
    obj = quilmo.DataPy(*sample(), 0.0, 0.0)
    for name in ("d", "n", "wl", "theta", "phi"):
        with pytest.raises(AttributeError):
            setattr(obj, name, 1)
    with pytest.raises(AttributeError):
        obj.x = 1


def test_sizes_are_not_compared():
    obj = quilmo.DataPy(np.zeros(5), np.ones((2, 3), complex), np.zeros(7), 0.0, 0.0)
    assert obj.d.shape == (5,) and obj.n.shape == (2, 3) and obj.wl.shape == (7,)


def test_same_array_for_several_arguments():
    x = np.array([1.0, 2.0, 3.0])
    obj = quilmo.DataPy(x, np.ones((1, 3), complex), x, x[0], x[1])
    assert obj.d.tolist() == obj.wl.tolist() == [1.0, 2.0, 3.0]


class Sub(np.ndarray):
    pass


@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")
def test_ndarray_subclasses_accepted():
    d, n, wl = sample()
    obj = quilmo.DataPy(d.view(Sub), np.asmatrix(n), wl.view(Sub), 0.0, 0.0)
    assert type(obj.d) is np.ndarray and type(obj.n) is np.ndarray
    assert_same_content(obj, d, n, wl, 0.0, 0.0)


def test_read_only_inputs_accepted():
    d, n, wl = sample()
    for a in (d, n, wl):
        a.flags.writeable = False
    obj = quilmo.DataPy(d, n, wl, 0.0, 0.0)
    assert obj.d.flags.writeable


# ------------------------------------------------------------------ layouts

BIG_N = (np.arange(48.0) - 1j * np.arange(48.0) ** 2).reshape(6, 8)

N_LAYOUTS = {
    "c-order": BIG_N,
    "fortran": np.asfortranarray(BIG_N),
    "transposed": BIG_N.T,
    "rows-reversed": BIG_N[::-1],
    "cols-reversed": BIG_N[:, ::-1],
    "fortran-reversed": np.asfortranarray(BIG_N)[::-1],
    "col-strided": BIG_N[:, ::2],
    "row-strided": BIG_N[::2],
    "both-strided": BIG_N[1::2, ::-3],
    "one-row": BIG_N[2:3],
    "one-column": BIG_N[:, 5:6],
    "single": BIG_N[4:5, 1:2],
    "broadcast": np.broadcast_to(np.complex128(1.5 - 2j), (3, 4)),
    "broadcast-row": np.broadcast_to(BIG_N[0], (5, 8)),
    "from-3d": BIG_N.reshape(2, 3, 8)[:, 1, :],
}


def memory_order(n):
    if n.flags.f_contiguous and not n.flags.c_contiguous:
        return "F"
    return "C"


@pytest.mark.parametrize("n", N_LAYOUTS.values(), ids=N_LAYOUTS.keys())
def test_n_layouts_round_trip(n):
    d, _, wl = sample()
    out = quilmo.DataPy(d, n, wl, 0.0, 0.0).n
    assert out.shape == n.shape
    assert out.tobytes(order="C") == n.tobytes(order="C")
    assert memory_order(out) == memory_order(n)
    assert out.flags.c_contiguous or out.flags.f_contiguous


VECTOR = np.array([1.5, -2.0, 3.25, 1e300, -0.0, np.inf, 7.0, 8.0])

VECTOR_LAYOUTS = {
    "contiguous": VECTOR,
    "reversed": VECTOR[::-1],
    "strided": VECTOR[::2],
    "strided-reversed": VECTOR[::-3],
    "one": VECTOR[3:4],
    "one-reversed": VECTOR[3:2:-1],
    "broadcast": np.broadcast_to(np.float64(2.5), (4,)),
    "unaligned": np.frombuffer(b"\0" + VECTOR.tobytes(), dtype=np.float64, offset=1, count=8),
    "unaligned-strided": np.frombuffer(b"\0" + VECTOR.tobytes(), dtype=np.float64, offset=1)[::-2],
}


@pytest.mark.parametrize("v", VECTOR_LAYOUTS.values(), ids=VECTOR_LAYOUTS.keys())
@pytest.mark.parametrize("name", ["d", "wl"])
def test_vector_layouts_round_trip(name, v):
    d, n, wl = sample()
    args = {"d": d, "n": n, "wl": wl, name: v}
    out = getattr(quilmo.DataPy(**args, theta=0.0, phi=0.0), name)
    assert out.tobytes() == np.ascontiguousarray(v).tobytes()
    if len(v) >= 2:
        assert out.strides == (8,)


@pytest.mark.parametrize("d_shape, n_shape, wl_shape", [
    ((0,), (0, 0), (0,)),
    ((0,), (0, 3), (3,)),
    ((2,), (3, 0), (0,)),
    ((0,), (1, 0), (0,)),
    ((0,), (4, 6), (0,)),  # sliced empty below, with reversed strides
])
def test_empty_arrays_round_trip(d_shape, n_shape, wl_shape):
    n = np.zeros(n_shape, complex)
    if n.size:
        n, n_shape = n[::-1, 3:3], (n_shape[0], 0)
    obj = quilmo.DataPy(np.zeros(d_shape), n, np.zeros(wl_shape)[::-1], 0.0, 0.0)
    assert obj.d.shape == d_shape and obj.n.shape == n_shape and obj.wl.shape == wl_shape
    assert obj.d.dtype == np.float64 and obj.n.dtype == np.complex128



@given(rows=st.integers(0, 5), cols=st.integers(0, 5), fortran=st.booleans(),
       steps=st.tuples(st.sampled_from([1, 2, -1, -3]), st.sampled_from([1, 2, -1, -2])),
       transpose=st.booleans())
@settings(max_examples=200, deadline=None)
def test_any_strided_view_of_n_round_trips(rows, cols, fortran, steps, transpose):
    base = (np.arange(rows * cols * 6.0) + 0.5j).reshape(rows * 2, cols * 3)
    if fortran:
        base = np.asfortranarray(base)
    n = base[::steps[0], ::steps[1]]
    if transpose:
        n = n.T
    out = quilmo.DataPy(np.zeros(1), n, np.zeros(1), 0.0, 0.0).n
    assert out.shape == n.shape and out.tobytes() == n.tobytes()
    assert memory_order(out) == memory_order(n)
