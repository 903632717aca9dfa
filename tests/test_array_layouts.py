"""Arguments in awkward memory layouts are stored with exactly the values the
caller sees: byte strides that are not whole elements (fields of structured
arrays, views made by hand), negative and zero strides, unaligned buffers."""

import os

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from numpy.lib.stride_tricks import as_strided

import quilmo
from borrow_record import Registry

EXAMPLES = int(os.environ.get("QUILMO_FUZZ_EXAMPLES", "150"))
LAYOUTS = settings(max_examples=EXAMPLES, deadline=None,
                   derandomize="QUILMO_FUZZ_EXAMPLES" not in os.environ,
                   suppress_health_check=[HealthCheck.too_slow])


@pytest.fixture(scope="module")
def registry():
    return Registry()


def same_bits(stored, seen):
    """Element by element, bit for bit (random bytes make NaNs of all kinds)."""
    assert stored.shape == seen.shape
    return np.ascontiguousarray(stored).tobytes() == np.ascontiguousarray(seen).tobytes()


@st.composite
def strided_views(draw, dtype, ndim):
    """A view of random bytes with arbitrary byte strides, built by as_strided
    over a base that starts at an arbitrary (often unaligned) byte."""
    size = np.dtype(dtype).itemsize
    shape = draw(st.tuples(*[st.integers(0, 5)] * ndim))
    strides = draw(st.tuples(*[st.integers(-3 * size, 3 * size)] * ndim))
    below = sum((extent - 1) * -stride for extent, stride in zip(shape, strides) if stride < 0 and extent)
    above = sum((extent - 1) * stride for extent, stride in zip(shape, strides) if stride > 0 and extent)
    misalignment = draw(st.integers(0, size - 1))
    raw = np.frombuffer(draw(st.binary(min_size=misalignment + below + above + size,
                                       max_size=misalignment + below + above + size)), np.uint8).copy()
    # The element with all indices 0 lies `below` bytes into the span.
    base = raw[misalignment + below:][:size * ((above + size) // size)].view(dtype)
    return as_strided(base, shape, strides)


@st.composite
def structured_fields(draw, dtype, ndim):
    """A field of a packed structured array at any offset in a record of any
    size, the records possibly reversed, stepped or transposed."""
    size = np.dtype(dtype).itemsize
    offset = draw(st.integers(0, 12))
    record = np.dtype({"names": ["value"], "formats": [dtype], "offsets": [offset],
                       "itemsize": offset + size + draw(st.integers(0, 12))})
    shape = draw(st.tuples(*[st.integers(0, 5)] * ndim))
    records = np.zeros(shape, record)
    raw = draw(st.binary(min_size=records.nbytes, max_size=records.nbytes))
    records.view(np.uint8).reshape(-1)[:] = np.frombuffer(raw, np.uint8)
    field = records["value"]
    step = draw(st.sampled_from([1, -1, 2, -2]))
    field = field[(slice(None, None, step),) * ndim]
    if ndim == 2 and draw(st.booleans()):
        field = field.T
    return field


def layouts(dtype, ndim):
    return st.one_of(strided_views(dtype, ndim), structured_fields(dtype, ndim))


@LAYOUTS
@given(d=layouts("<f8", 1), n=layouts("<c16", 2), wl=layouts("<f8", 1), wl_is_d=st.booleans())
def test_stored_values_are_the_callers(registry, d, n, wl, wl_is_d):
    wl = d if wl_is_d else wl
    seen = [d.copy(), n.copy(), wl.copy()]  # NumPy's own reading of each view
    obj = quilmo.DataPy(d, n, wl, 0.0, 0.0)
    for stored, expected in zip((obj.d, obj.n, obj.wl), seen):
        assert same_bits(stored, expected)
    # The memory order of n is kept when n is one column-major block.
    fortran = n.flags.f_contiguous and not n.flags.c_contiguous
    assert (obj.n.flags.f_contiguous and not obj.n.flags.c_contiguous) == fortran
    assert obj.n.flags.c_contiguous or fortran
    assert all(registry.is_free(array) for array in (d, n, wl))


def test_packed_records_and_twenty_byte_strides():
    # A packed record (12 bytes) holding a float; a complex field 24 bytes apart;
    # 20-byte strides in one and two dimensions, forwards and backwards.
    records = np.zeros(4, dtype=[("t", "<f8"), ("tag", "<i4")])
    records["t"] = [10, 20, 30, 40]
    rows = np.zeros((3, 2), dtype=[("z", "<c16"), ("pad", "<f8")])
    rows["z"] = np.arange(6).reshape(3, 2) * (1 + 2j)
    raw = np.arange(100, dtype=np.float64).view(np.uint8)
    obj = quilmo.DataPy(records["t"], rows["z"], records["t"][::-1], 0.0, 0.0)
    np.testing.assert_array_equal(obj.d, [10, 20, 30, 40])
    np.testing.assert_array_equal(obj.wl, [40, 30, 20, 10])
    np.testing.assert_array_equal(obj.n, rows["z"])
    forwards = as_strided(raw[4:796].view(np.float64), (5,), (20,))
    backwards = as_strided(raw[404:796].view(np.float64), (5,), (-20,))
    grid = as_strided(raw[:784].view(np.complex128), (3, 4), (100, 20))
    obj = quilmo.DataPy(forwards, grid, backwards, 0.0, 0.0)
    assert same_bits(obj.d, forwards) and same_bits(obj.wl, backwards) and same_bits(obj.n, grid)
