"""Results are values: nothing the caller does to its arrays after a call changes a result,
the arrays a result hands out are read-only, and a quantity a result does not have is an
AttributeError that says why and how to get it."""

import numpy as np
import pytest

import quilmo_lab as ql

WL = [400.0, 550.0, 700.0]


def caller_arrays():
    """Contiguous float64 and complex128 arrays, the kind a front could use without a copy."""
    return dict(n=np.array([1.0, 2.2 + 0.2j, 3.3 + 0.3j, 1.0]), d=np.array([100.0, 300.0]), wl=np.array(WL),
                angles=np.array([0.0, 0.7]), mask=np.array([True, False]), depths=np.array([-10.0, 50.0, 250.0]),
                batch=np.array([[100.0, 300.0], [90.0, 320.0]]), derivatives=np.full((3, 4, 1), 1e-4 + 0j))


def clobber(arrays):
    for array in arrays.values():
        array[...] = np.nan if array.dtype.kind in "fc" else True


STACK = ql.Stack([ql.Layer(2.2 + 0.2j, 100.0), ql.Layer(3.3 + 0.3j, 300.0)])

# (name, the call, the lazily read quantity)
LAZY = [
    ("absorbed_s", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"]), lambda r: r.absorbed_s),
    ("absorbed_p", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"]), lambda r: r.absorbed_p),
    ("absorbed()", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"]), lambda r: r.absorbed(0.3)),
    ("mixed absorbed_p", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"], coherent=a["mask"]),
     lambda r: r.absorbed_p),
    ("stack batch absorbed_s", lambda a: STACK.solve(a["wl"], a["angles"], thicknesses=a["batch"]),
     lambda r: r.absorbed_s),
    ("psi", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"]), lambda r: r.psi),
    ("delta", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"]), lambda r: r.delta),
    ("dpsi", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"], derivatives=True), lambda r: r.dpsi),
    ("ddelta", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"], derivatives=True), lambda r: r.ddelta),
    ("wavelengths", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"]), lambda r: r.wavelengths),
    ("angles", lambda a: ql.solve(a["n"], a["d"], a["wl"], a["angles"]), lambda r: r.angles),
    ("profile density", lambda a: ql.profile(a["n"], a["d"], a["wl"], 0.3, a["depths"]), lambda p: p.density()),
    ("profile wavelengths", lambda a: ql.profile(a["n"], a["d"], a["wl"], 0.3, a["depths"]), lambda p: p.wavelengths),
    ("profile depths", lambda a: ql.profile(a["n"], a["d"], a["wl"], 0.3, a["depths"]), lambda p: p.depths),
    ("dispersion wavelengths",
     lambda a: ql.dispersion(a["n"], a["d"], a["wl"], index_derivatives=a["derivatives"]), lambda d: d.wavelengths),
]


@pytest.mark.parametrize("call, read", [case[1:] for case in LAZY], ids=[case[0] for case in LAZY])
def test_a_result_does_not_depend_on_the_callers_arrays(call, read):
    untouched = read(call(caller_arrays()))
    arrays = caller_arrays()
    result = call(arrays)
    clobber(arrays)
    assert read(result).tobytes() == untouched.tobytes()


def test_energy_balance_after_the_caller_reuses_its_buffers():
    n, d = np.array([1, 2.2 + 0.2j, 3.3 + 0.3j, 1]), np.array([100.0, 300.0])
    res = ql.solve(n, d, [400.0], 0.7)
    d[:] = 0
    np.testing.assert_allclose(res.R_s + res.T_s + res.absorbed_s.sum(axis=2), 1.0, rtol=0, atol=1e-12)


RESULTS = {
    "solve": lambda: ql.solve([1.0, 2.0 + 0.1j, 1.5], [100.0], WL, [0.0, 0.4], derivatives=True),
    "mixed": lambda: ql.solve([1.0, 2.0 + 0.1j, 1.5, 1.0], [100.0, 1e5], WL, 0.4, coherent=[True, False],
                              derivatives=True),
    "profile": lambda: ql.profile([1.0, 2.0 + 0.1j, 1.5], [100.0], WL, 0.4, [0.0, 50.0]),
    "dispersion": lambda: STACK.dispersion(WL, thicknesses=[[100.0, 300.0], [90.0, 310.0]]),
}
HANDED_OUT = [
    ("solve", name) for name in ("r_s", "r_p", "t_s", "t_p", "R_s", "R_p", "T_s", "T_p", "psi", "delta",
                                 "absorbed_s", "absorbed_p", "dr_s", "dt_p", "dR_s", "dT_p", "dpsi", "ddelta",
                                 "wavelengths", "angles", "mueller_r", "depolarisation_index_t")
] + [("mixed", name) for name in ("R_s", "T_p", "absorbed_p", "dR_p", "wavelengths", "mueller_t", "psi")] + [
    ("profile", name) for name in ("density_s", "density_p", "E2_s", "E2_p", "wavelengths", "depths")
] + [("dispersion", name) for name in ("phase", "gd", "gdd", "tod", "wavelengths")]


@pytest.mark.parametrize("kind, name", HANDED_OUT, ids=[f"{k}.{n}" for k, n in HANDED_OUT])
def test_handed_out_arrays_are_read_only(kind, name):
    array = getattr(RESULTS[kind](), name)
    with pytest.raises(ValueError, match="read-only"):
        array[...] = 0


def test_weighted_quantities_are_the_callers_own():
    result = RESULTS["solve"]()
    for weighted in (result.R("s"), result.T(), result.A(0.2), result.absorbed("p"), result.dR(), result.dA("s")):
        weighted[...] = 0  # new arrays: writing them changes nothing of the result's
    assert result.R_s.any() and result.dR_s.any()


MISSING = [
    ("plain", "dR_s", "was not computed; solve with derivatives=True"),
    ("plain", "dr_p", "was not computed; solve with derivatives=True"),
    ("plain", "dpsi", "was not computed; solve with derivatives=True"),
    ("mixed", "r_s", "is not defined for a stack with incoherent layers"),
    ("mixed", "r_p", "is not defined for a stack with incoherent layers"),
    ("mixed", "dt_s", "is not defined for a stack with incoherent layers"),
    ("mixed", "ddelta", "is not defined for a stack with incoherent layers"),
]


@pytest.mark.parametrize("kind, name, why", MISSING, ids=[f"{k}.{n}" for k, n, _ in MISSING])
def test_a_missing_quantity_says_why_and_how_to_get_it(kind, name, why):
    result = ql.solve([1.0, 2.0, 1.5], [100.0], WL) if kind == "plain" else RESULTS["mixed"]()
    with pytest.raises(AttributeError, match=why) as caught:
        getattr(result, name)
    assert caught.value.name == name and not hasattr(result, name)


def test_results_have_no_setters():
    result = RESULTS["solve"]()
    for name in ("R_s", "r_p", "wavelengths", "dR_s", "coherent"):
        with pytest.raises(AttributeError):
            setattr(result, name, None)
    assert not hasattr(result, "set_thickness_derivatives")
