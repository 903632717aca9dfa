"""quilmo_lab.fit: recovery of a film's thickness and Cauchy coefficients from noisy
psi/delta, the coverage of its standard errors, its Jacobian, and bad arguments.

The coverage test runs 20 noisy trials; QUILMO_LAB_FULL=1 runs the full 100."""

import os

import numpy as np
import pytest

import quilmo_lab as ql
from quilmo_lab import fit
from quilmo_lab.materials import Cauchy, Constant

pytest.importorskip("scipy")

SUBSTRATE = Constant(3.88 + 0.02j)
WL = np.linspace(400.0, 900.0, 41)
ANGLES = np.radians([55.0, 65.0, 75.0])
TRUE = {"d": 250.0, "A": 1.46, "B": 4500.0}
START = {"d": 240.0, "A": 1.5, "B": 3000.0}
NOISE = np.radians(0.05)


def film(d, A, B):
    return ql.Stack([ql.Layer(Cauchy(A, B), d)], incident=1.0, exit=SUBSTRATE)


def test_standard_errors_cover_the_truth():
    trials = 100 if os.environ.get("QUILMO_LAB_FULL") == "1" else 20
    clean = film(**TRUE).solve(WL, ANGLES)
    rng = np.random.default_rng(2024)
    covered = 0
    for _ in range(trials):
        data = {q: getattr(clean, q)[0] + rng.normal(0.0, NOISE, clean.psi[0].shape) for q in ("psi", "delta")}
        result = fit.fit(film, START, WL, data, angles=ANGLES, sigma={"psi": NOISE, "delta": NOISE},
                         thickness={"d": 0})
        covered += all(abs(result.values[k] - TRUE[k]) <= 3 * result.stderr[k] for k in TRUE)
    assert covered >= 0.95 * trials
    assert result.success and 0.7 < result.reduced_chi2 < 1.3
    assert result.correlation.shape == (3, 3)
    np.testing.assert_allclose(np.diag(result.correlation), 1.0)


def test_reflectance_without_sigma_scales_errors_by_the_residuals():
    wl = np.linspace(450.0, 850.0, 60)
    clean = film(**TRUE).solve(wl, 0.0).R(0.0)[0]
    rng = np.random.default_rng(3)
    noisy = clean + rng.normal(0.0, 1e-4, clean.shape)
    result = fit.fit(film, {"d": 245.0, "A": 1.46, "B": 4500.0}, wl, {"R": noisy}, thickness={"d": 0},
                     bounds={"d": (200.0, 300.0)})
    assert abs(result.values["d"] - TRUE["d"]) < 4 * result.stderr["d"]
    # without sigma, chi2 is in the data's units and the errors are scaled to match the scatter
    assert result.reduced_chi2 == pytest.approx(1e-8, rel=0.5)


def test_analytic_thickness_column_matches_differences():
    problem = fit._Problem(film, ["d", "A", "B"], WL, ANGLES,
                           {"psi": np.zeros((3, WL.size)), "delta": np.zeros((3, WL.size))},
                           {"psi": np.full((3, WL.size), NOISE), "delta": np.full((3, WL.size), NOISE)},
                           {"d": 0}, None, np.array([250.0, 1.46, 4500.0]))
    p = np.array([250.0, 1.46, 4500.0])
    analytic = problem.jacobian(p)
    problem.thickness = {}
    numeric = problem.jacobian(p)
    np.testing.assert_allclose(analytic[:, 0], numeric[:, 0], rtol=1e-6, atol=1e-6 * np.abs(numeric[:, 0]).max())


@pytest.mark.parametrize("kwargs, error, match", [
    (dict(measured={"X": np.zeros(41)}), ValueError, "each quantity in measured must be 'R', 'T', .*; received 'X'"),
    (dict(measured={"R": np.zeros(7)}), ValueError, r"measured\['R'\] must have shape .*; received shape \(7,\)"),
    (dict(thickness={"e": 0}), ValueError, "each parameter in thickness must be 'd', 'A' or 'B'; received 'e'"),
    (dict(thickness={"d": 1.5}), TypeError, r"thickness\['d'\] must be an integer; received float"),
    (dict(parameters={"d": "250"}), TypeError, r"parameters\['d'\] must be a real number; received str"),
    (dict(thickness={"A": 0}), ValueError, "which the model makes"),
])
def test_bad_arguments_name_themselves(kwargs, error, match):
    arguments = dict(parameters=dict(TRUE), measured={"R": np.zeros(WL.size)}) | kwargs
    with pytest.raises(error, match=match):
        fit.fit(film, arguments["parameters"], WL, arguments["measured"],
                **{k: v for k, v in arguments.items() if k not in ("parameters", "measured")})


def test_a_film_on_a_thick_incoherent_substrate():
    # transmission through a film on 1 mm of glass treated by intensity: differences only
    def window(d, A):
        return ql.Stack([ql.Layer(Cauchy(A, 4000.0), d), ql.Layer("N-BK7", 1e6, coherent=False)], incident=1.0,
                        exit=1.0)

    wl = np.linspace(450.0, 850.0, 50)
    measured = window(180.0, 2.05).solve(wl).T(0.0)[0, 0]
    result = fit.fit(window, {"d": 170.0, "A": 2.0}, wl, {"T": measured}, thickness={"d": 0})
    assert result.values["d"] == pytest.approx(180.0, rel=1e-6)
    assert result.values["A"] == pytest.approx(2.05, rel=1e-6)
