"""Coverage-guided fuzz target (atheris) over quilmo's Python surface.

    python tests/fuzz/fuzz_surface.py -runs=100000       # or without -runs: until stopped

Builds arbitrary arguments from the fuzzer's bytes (arrays of several dtypes,
dimensionalities and layouts, odd angles), constructs DataPy, reads every
attribute and simulates. Only the exceptions the module documents may come
out, PanicException only with its known texts; anything else is a finding.
"""

import sys

import atheris

with atheris.instrument_imports():
    import numpy as np

    import quilmo

DTYPES = [np.float64, np.complex128, np.int64, np.float32, np.complex64, np.dtype(">f8"), np.bool_]
PANIC_TEXTS = ("ndarray: index out of bounds",
               "Failed to convert n to 2D array: ShapeError/IncompatibleShape: incompatible shapes")
ANGLES = [0.0, -0.0, 1.0, float("nan"), float("inf"), 1e308, 2 ** 2000, "x", None, np.float32(0.5), [1.0]]


def draw_array(data):
    dtype = DTYPES[data.ConsumeIntInRange(0, len(DTYPES) - 1)]
    shape = tuple(data.ConsumeIntInRange(0, 5) for _ in range(data.ConsumeIntInRange(0, 3)))
    size = int(np.prod(shape))
    values = np.array(data.ConsumeFloatListInRange(size, -1e3, 1e3) if size else [], dtype=float)
    array = np.resize(values, shape).astype(dtype) if size else np.zeros(shape, dtype)
    layout = data.ConsumeIntInRange(0, 4)
    if layout == 1 and array.ndim:
        array = array[::-1]
    elif layout == 2 and array.ndim:
        array = array[..., ::2]
    elif layout == 3:
        array = np.asfortranarray(array)
    elif layout == 4 and array.ndim and size:
        array = np.broadcast_to(array[..., :1], array.shape)
    return array


def draw_angle(data):
    if data.ConsumeBool():
        return data.ConsumeRegularFloat()
    return ANGLES[data.ConsumeIntInRange(0, len(ANGLES) - 1)]


def one_input(raw):
    data = atheris.FuzzedDataProvider(raw)
    arguments = [draw_array(data), draw_array(data), draw_array(data), draw_angle(data), draw_angle(data)]
    try:
        setup = quilmo.DataPy(*arguments)
        setup.d, setup.n, setup.wl, setup.theta, setup.phi
        result = setup.simulate()
        assert result.r.shape == result.t.shape == (setup.wl.shape[0],)
    except (TypeError, OverflowError, MemoryError):
        pass
    except BaseException as error:
        if type(error).__name__ != "PanicException" or str(error) not in PANIC_TEXTS:
            raise


if __name__ == "__main__":
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()
