"""Property-based fuzzing of the Python surface.

Every call either returns a well-formed result or raises exactly the exception
that the arguments call for, and a correct call afterwards still works. The
number of examples is small in CI; set QUILMO_FUZZ_EXAMPLES for a long run.
"""

import math
import os

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import quilmo
from conftest import PanicException

EXAMPLES = int(os.environ.get("QUILMO_FUZZ_EXAMPLES", "150"))
FUZZ = settings(max_examples=EXAMPLES, deadline=None, derandomize="QUILMO_FUZZ_EXAMPLES" not in os.environ,
                suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

DTYPES = [np.float64, np.complex128, np.int64, np.float32, np.complex64, np.bool_,
          np.dtype(">f8"), np.dtype(">c16"), np.uint8]


class Subclass(np.ndarray):
    pass


@st.composite
def arrays(draw, dtypes=st.sampled_from(DTYPES), min_dims=0, max_dims=3):
    dtype = np.dtype(draw(dtypes))
    shape = draw(hnp.array_shapes(min_dims=min_dims, max_dims=max_dims, min_side=0, max_side=6))
    array = draw(hnp.arrays(dtype, shape))
    layout = draw(st.sampled_from(["plain", "reversed", "strided", "fortran", "broadcast",
                                   "readonly", "subclass"]))
    if layout == "reversed" and array.ndim:
        array = array[::-1]
    elif layout == "strided" and array.ndim:
        array = np.concatenate([array, array], axis=-1)[..., ::2]
    elif layout == "fortran":
        array = np.asfortranarray(array)
    elif layout == "broadcast" and array.ndim:
        array = np.broadcast_to(array[..., :1], array.shape)
    elif layout == "readonly":
        array.flags.writeable = False
    elif layout == "subclass":
        array = array.view(Subclass)
    return array


ANGLES = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True),
    st.integers(min_value=-(2 ** 1100), max_value=2 ** 1100),
    st.sampled_from([None, "0.5", b"1", [0.1], 1j, np.float64(0.3), np.int32(2), np.array(0.25)]),
)

FINITE_OR_NOT = st.one_of(st.floats(allow_nan=True, allow_infinity=True), st.integers(-10 ** 6, 10 ** 6))

ANY_ARGUMENT = st.one_of(arrays(), ANGLES, st.lists(st.floats(), max_size=3))


def is_vector(value):
    return isinstance(value, np.ndarray) and value.ndim == 1 and value.dtype == np.float64


def expected_float_error(value):
    """The exception type converting `value` to a float raises, or None."""
    if isinstance(value, (str, bytes, bytearray)):
        return TypeError
    try:
        float(value)
    except Exception as error:  # noqa: BLE001 - we want its type
        return type(error)
    return None


def expected_construction(d, n, wl, theta, phi):
    """(exception type, message or prefix) for DataPy(...), or None for success."""
    if not is_vector(d):
        return TypeError, "argument 'd': "
    if not (isinstance(n, np.ndarray) and n.dtype == np.complex128):
        return TypeError, "argument 'n': "
    if not is_vector(wl):
        return TypeError, "argument 'wl': "
    for name, value in (("theta", theta), ("phi", phi)):
        error = expected_float_error(value)
        if error is not None:
            return error, f"argument '{name}': " if error is TypeError else ""
    if n.ndim != 2:
        return PanicException, "Failed to convert n to 2D array: ShapeError/IncompatibleShape: incompatible shapes"
    return None


def check_simulation(setup, d, n, wl):
    count = wl.shape[0]
    media, columns = n.shape
    fails = count > 0 and (media < 2 or columns < count or d.shape[0] < media - 2)
    try:
        result = setup.simulate()
    except PanicException as error:
        assert fails and str(error) == "ndarray: index out of bounds"
        event("simulate panicked")
        return
    assert not fails
    for spectrum in (result.r, result.t):
        assert spectrum.shape == (count,) and spectrum.dtype == np.float64 and spectrum.base is None


def still_works():
    n = np.array([[1.0], [1.5]], dtype=complex)
    result = quilmo.DataPy(np.zeros(0), n, np.array([500.0]), 0.0, 0.0).simulate()
    assert math.isclose(result.r[0], 0.04)


def call_and_check(d, n, wl, theta, phi):
    expected = expected_construction(d, n, wl, theta, phi)
    event("constructed" if expected is None else f"refused with {expected[0].__name__}")
    try:
        setup = quilmo.DataPy(d, n, wl, theta, phi)
    except PanicException as error:  # a BaseException: hypothesis would not shrink it
        assert expected is not None and expected[0] is PanicException, repr(error)
        assert str(error) == expected[1]
    except Exception as error:  # noqa: BLE001
        assert expected is not None and type(error) is expected[0], repr(error)
        assert str(error).startswith(expected[1]), str(error)
    else:
        assert expected is None
        np.testing.assert_array_equal(setup.d, d)
        np.testing.assert_array_equal(setup.n, n)
        np.testing.assert_array_equal(setup.wl, wl)
        check_simulation(setup, d, n, wl)
    still_works()


@FUZZ
@given(d=ANY_ARGUMENT, n=ANY_ARGUMENT, wl=ANY_ARGUMENT, theta=ANGLES, phi=ANGLES)
def test_arbitrary_arguments(d, n, wl, theta, phi):
    call_and_check(d, n, wl, theta, phi)


@FUZZ
@given(d=arrays(st.just(np.float64), min_dims=1, max_dims=1),
       n=arrays(st.just(np.complex128), min_dims=1, max_dims=3),
       wl=arrays(st.just(np.float64), min_dims=1, max_dims=1), theta=FINITE_OR_NOT, phi=FINITE_OR_NOT)
def test_mostly_valid_arguments_with_mismatched_shapes(d, n, wl, theta, phi):
    call_and_check(d, n, wl, theta, phi)


@FUZZ
@given(media=st.integers(0, 6), columns=st.integers(0, 130), count=st.integers(0, 130),
       layers=st.integers(0, 6), values=st.sampled_from([1.5, np.nan, np.inf, -np.inf, 0.0, 1e308]),
       theta=st.floats(allow_nan=True, allow_infinity=True))
def test_shapes_on_both_roads(media, columns, count, layers, values, theta):
    n = np.full((media, columns), complex(values, 0.1))
    call_and_check(np.full(layers, values), n, np.full(count, 500.0), theta, 0.3)


@pytest.mark.parametrize("dims", [33, 40])
def test_too_many_dimensions(dims):
    if np.lib.NumpyVersion(np.__version__) < "2.0.0":
        pytest.skip("NumPy 1 limits arrays to 32 dimensions")
    n = np.zeros((1,) * dims, dtype=complex)
    with pytest.raises(PanicException) as info:
        quilmo.DataPy(np.zeros(1), n, np.zeros(1), 0.0, 0.0)
    assert str(info.value).startswith(
        "unexpected dimensionality: NumPy is expected to limit arrays to 32 or fewer dimensions.\n")
    still_works()


def test_atheris_target_runs_clean(tmp_path):
    """A short coverage-guided run of the atheris target (where atheris installs)."""
    pytest.importorskip("atheris")
    import pathlib
    import subprocess
    import sys

    target = pathlib.Path(__file__).parent / "fuzz" / "fuzz_surface.py"
    runs = os.environ.get("QUILMO_ATHERIS_RUNS", "3000")
    run = subprocess.run([sys.executable, str(target), f"-runs={runs}", "-seed=1"], cwd=tmp_path,
                         capture_output=True, text=True, timeout=600)
    assert run.returncode == 0, run.stderr[-3000:]
    assert "Done" in run.stderr
