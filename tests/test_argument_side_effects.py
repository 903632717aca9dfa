"""Python code that runs while theta or phi is converted (their __float__ or
__index__, the text of their error) may change, free or refuse the argument
arrays. The call then raises or stores what the arrays hold, the interpreter
lives on, nothing stays borrowed and the next call works. Each scenario runs
in a fresh interpreter, since a fault here used to end the process."""

import pytest

from borrow_record import run_fresh

# Runs in the child after borrow_record's prelude. `attempt` builds fresh
# arrays (views of owners that Python never changes, for the registry check),
# lets theta's __float__ or phi's __index__ `mutate` one of them, and
# prints what the call did.
SCENARIOS = """
import warnings

registry = Registry()


def mutate(kind, array):
    with warnings.catch_warnings():  # NumPy 2 deprecates setting these
        warnings.simplefilter("ignore", DeprecationWarning)
        if kind == "dtype":
            array.dtype = np.float32 if array.dtype == np.float64 else np.float64
        elif kind == "shape":
            array.shape = (array.size, 1) if array.ndim == 1 else (array.size,)
        elif kind in ("strides", "raises"):
            array.strides = (0,) * array.ndim
            if kind == "raises":
                raise ValueError("changed my mind")


def attempt(kind, target, slot):
    owners = {"d": np.arange(4.0) + 0.5, "n": (np.arange(12.0) - 1j).reshape(3, 4),
              "wl": np.arange(4.0) + 1.5}
    arrays = {name: owner[...] for name, owner in owners.items()}

    def hook(self):
        mutate(kind, arrays[target])
        return 1.0 if slot == "__float__" else 1

    angle = "theta" if slot == "__float__" else "phi"
    call = dict(arrays, theta=0.0, phi=0.0)
    call[angle] = type("Angle", (), {slot: hook})()
    try:
        obj = quilmo.DataPy(**call)
    except BaseException as error:
        outcome = type(error).__name__
        if outcome == "TypeError":
            outcome += " " + str(error).split(":")[0]
    else:
        for name, array in arrays.items():
            assert np.array_equal(getattr(obj, name), array), name
        assert getattr(obj, angle) == 1.0
        outcome = "stored"
    assert all(registry.is_free(owner) for owner in owners.values())
    quilmo.DataPy(*args())
    print(kind, target, slot, outcome, sep=",")


for target in ("d", "n", "wl"):
    for slot in ("__float__", "__index__"):
        attempt(KIND, target, slot)
"""

OUTCOMES = {
    "dtype": {"d": "TypeError argument 'd'", "n": "TypeError argument 'n'",
              "wl": "TypeError argument 'wl'"},
    "shape": {"d": "TypeError argument 'd'", "n": "PanicException", "wl": "TypeError argument 'wl'"},
    "strides": {"d": "stored", "n": "stored", "wl": "stored"},
    "raises": {"d": "ValueError", "n": "ValueError", "wl": "ValueError"},
}


@pytest.mark.parametrize("kind", OUTCOMES)
def test_arrays_changed_by_scalar_conversion(kind):
    result = run_fresh(f"KIND = {kind!r}\n" + SCENARIOS)
    lines = [line.split(",") for line in result.stdout.splitlines()]
    assert {(target, slot): outcome for _, target, slot, outcome in lines} == {
        (target, slot): outcome for target, outcome in OUTCOMES[kind].items()
        for slot in ("__float__", "__index__")}


def test_arguments_outlive_their_last_outside_reference():
    # A caller may pass a keyword dictionary that theta's __float__ can reach:
    # emptying it drops the only other references to the arrays and to phi.
    run_fresh("""
        import ctypes, gc
        call = ctypes.pythonapi.PyObject_Call
        call.restype, call.argtypes = ctypes.py_object, [ctypes.py_object] * 3
        seen = {"d": np.arange(5.0) + 0.5, "n": np.arange(6.0).reshape(2, 3) + 2j,
                "wl": np.arange(3.0) + 0.25}

        class Phi:
            def __index__(self):
                return 3

        class Vanishing:
            def __float__(self):
                kwargs.clear()
                gc.collect()
                litter = [np.full(6, -1.0) for _ in range(200)]  # reuses freed memory
                return 0.5

        kwargs = {name: array.copy() for name, array in seen.items()}
        kwargs.update(theta=Vanishing(), phi=Phi())
        obj = call(quilmo.DataPy, (), kwargs)
        assert all(np.array_equal(getattr(obj, name), array) for name, array in seen.items())
        assert (obj.theta, obj.phi) == (0.5, 3.0)
    """)


def test_error_text_of_theta_can_refuse_d():
    # The text of theta's TypeError is read (for the argument prefix) before the
    # arrays are examined, so what reading it does to d decides d's fate, and d
    # comes first among the bad arguments.
    run_fresh("""
        import warnings
        warnings.simplefilter("ignore", DeprecationWarning)  # NumPy 2 deprecates setting dtypes
        d = np.arange(4.0)

        class Text:
            def __str__(self):
                d.dtype = np.float32
                return "no angle"

        class Angle:
            def __float__(self):
                raise TypeError(Text())

        registry = Registry()
        try:
            quilmo.DataPy(d, np.ones((2, 2), complex), np.ones(2), Angle(), 0.0)
        except TypeError as error:
            assert str(error).startswith("argument 'd': "), error
        else:
            raise AssertionError("d was changed to float32")
        assert registry.is_free(d)
        quilmo.DataPy(*args())
    """)
