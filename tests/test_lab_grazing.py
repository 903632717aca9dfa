"""Every front (the 4x4 one with isotropic media too) at exactly grazing incidence gives the limit theta -> pi/2 (no light enters:
R = 1, T = 0, nothing absorbed, no field, no delay) instead of 0/0, and agrees with the
plain formulas just short of it; a NaN input still gives NaN."""

import numpy as np
import pytest

import quilmo_lab as ql

WAVELENGTHS = [500.0, 700.0]
# sin theta rounds to 1 for each of these; the incidence medium is lossless.
GRAZING = [np.pi / 2, -np.pi / 2, np.pi / 2 - 1e-8]
STACKS = {
    "dielectric": ([1.0, 1.45, 1.52], [90.0]),
    "absorbing": ([1.33, 2.0 + 0.5j, 1.5, 3.0 + 4.0j], [60.0, 2000.0]),
}


def _angle_grid(front, indices, thicknesses, angle):
    """The outputs of one front at `angle`, as a dict of arrays."""
    layers = len(thicknesses)
    if front == "incoherent":
        res = ql.solve(indices, thicknesses, WAVELENGTHS, angle, coherent=[i % 2 == 0 for i in range(1, layers + 1)])
        return {"R": res.R("s"), "R_p": res.R("p"), "T": res.T("s"), "T_p": res.T("p")}
    if front == "absorbed":
        res = ql.solve(indices, thicknesses, WAVELENGTHS, angle)
        return {"R": res.R(), "T": res.T(), "A_s": res.absorbed_s, "A_p": res.absorbed_p, "A": res.A()}
    if front == "absorbed incoherent":
        res = ql.solve(indices, thicknesses, WAVELENGTHS, angle, coherent=[False] * layers)
        return {"R": res.R(), "T": res.T(), "A_s": res.absorbed_s, "A_p": res.absorbed_p}
    if front == "profile":
        prof = ql.profile(indices, thicknesses, WAVELENGTHS, angle, [-30.0, 0.0, 20.0, 80.0, 500.0])
        return {"density_s": prof.density_s, "density_p": prof.density_p, "E2_s": prof.E2_s, "E2_p": prof.E2_p}
    if front == "derivatives":
        res = ql.solve(indices, thicknesses, WAVELENGTHS, angle, derivatives=True)
        return {"dR_s": res.dR_s, "dR_p": res.dR_p, "dT_s": res.dT_s, "dT_p": res.dT_p,
                "dr_s": res.dr_s, "dr_p": res.dr_p, "dt_s": res.dt_s, "dt_p": res.dt_p}
    if front == "roughness derivatives":
        res = ql.solve(indices, thicknesses, WAVELENGTHS, angle, derivatives=True,
                       roughness=np.linspace(1.0, 3.0, len(indices) - 1))
        return {"R": res.R(), "T": res.T(), "dR_s": res.dR_droughness("s"), "dR_p": res.dR_droughness("p"),
                "dT_s": res.dT_droughness("s"), "dT_p": res.dT_droughness("p")}
    if front == "derivatives incoherent":
        res = ql.solve(indices, thicknesses, WAVELENGTHS, angle, derivatives=True, coherent=[False] * layers)
        return {"dR_s": res.dR_s, "dR_p": res.dR_p, "dT_s": res.dT_s, "dT_p": res.dT_p}
    if front == "anisotropic":
        eps = np.array([np.eye(3) * np.complex128(n) ** 2 for n in indices])
        res = ql.solve_anisotropic(eps, thicknesses, WAVELENGTHS, angle)
        return {"R": res.R(), "T": res.T(), "A": res.A(), "T_matrix": res.T_matrix,
                "jones_t": res.jones_t, "mueller_t": res.mueller_t}
    assert front.startswith("dispersion")
    disp = ql.dispersion(indices, thicknesses, WAVELENGTHS, angle, "r", front[-1])
    return {"phase": disp.phase, "gd": disp.gd, "gdd": disp.gdd, "tod": disp.tod}


LIMITS = {"R": 1.0, "R_p": 1.0, "phase": np.pi}
FRONTS = ["incoherent", "absorbed", "absorbed incoherent", "profile", "derivatives", "derivatives incoherent",
          "roughness derivatives",
          "dispersion s", "dispersion p", "anisotropic"]


@pytest.mark.parametrize("stack", STACKS)
@pytest.mark.parametrize("front", FRONTS)
def test_grazing_incidence_is_the_limit_on_every_front(front, stack):
    indices, thicknesses = STACKS[stack]
    for angle in GRAZING:
        for name, got in _angle_grid(front, indices, thicknesses, angle).items():
            np.testing.assert_array_equal(got, LIMITS.get(name, 0.0), err_msg=f"{name} at {angle!r}")
    # Just short of grazing the plain formulas run and approach the limit (about
    # linearly in the distance to pi/2, with a slope set by the stack).
    for name, got in _angle_grid(front, indices, thicknesses, np.pi / 2 - 1e-7).items():
        if name == "phase":  # pi and -pi are the same phase
            got = np.abs(np.angle(-np.exp(1j * got))) + np.pi
        if name not in ("gd", "gdd", "tod"):  # their slope grows with the stack's optical depth
            np.testing.assert_allclose(got, LIMITS.get(name, 0.0), atol=1e-4, err_msg=name)


@pytest.mark.parametrize("front", FRONTS)
def test_a_nan_input_stays_nan_at_grazing_incidence(front):
    indices, thicknesses = STACKS["absorbing"]
    with_nan = [indices[0], np.nan, *indices[2:]]
    # The limit is not put in its place: the NaN reaches the results (some outputs, such
    # as T behind the NaN layer's run, may still come out 0 from the plain formulas).
    outputs = _angle_grid(front, with_nan, thicknesses, np.pi / 2)
    assert any(np.isnan(got).any() for got in outputs.values())
