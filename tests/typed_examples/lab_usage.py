"""Correct, fully annotated use of quilmo_lab: mypy --strict must accept it as it is.

It also runs: the assertions below hold at run time.
"""

from typing import assert_type

import numpy as np
from numpy.typing import NDArray

import quilmo_lab as ql
from quilmo_lab import Profile, Result

wl = np.linspace(400.0, 800.0, 5)
# Lists, scalars and arrays are all accepted.
result = ql.solve([1.0, 1.38, 1.52 + 0.0j], [99.6], wl, np.radians([0.0, 45.0]), threads=2)
assert_type(result, Result)
assert_type(result.r_p, NDArray[np.complex128])
assert_type(result.R(0.5), NDArray[np.float64])
assert_type(result.R(), NDArray[np.float64])  # unpolarised
assert_type(result.T("p"), NDArray[np.float64])
assert_type(result.shape, tuple[int, int, int])
unpolarised: NDArray[np.float64] = result.A(np.pi / 4)
delta: NDArray[np.float64] = ql.ellipsometry_convention(result.delta, "pyelli")
assert result.shape == (1, 2, 5) and unpolarised.shape == (1, 2, 5) and delta.shape == (1, 2, 5)

# A window treated by intensity between two coatings; absorption per layer and in depth.
window = ql.solve([1.0, 1.38, 1.52 + 1e-6j, 1.38, 1.0], [99.6, 1e6, 99.6], wl, 0.2,
                  coherent=[True, False, True])
assert_type(window.absorbed_p, NDArray[np.float64])
per_layer: NDArray[np.float64] = window.absorbed(0.0)
assert per_layer.shape == (1, 1, 3, 5) and not window.coherent
depth = ql.profile([1.0, 2.0 + 0.1j, 1.5], [120.0], wl, 0.0, np.linspace(0.0, 120.0, 7))
assert_type(depth, Profile)
assert_type(depth.density_s, NDArray[np.float64])
assert depth.E2(np.pi / 4).shape == (5, 7)

# Thickness derivatives, dispersion and design.
from quilmo_lab import design  # noqa: E402

derived = ql.solve([1.0, 1.38, 1.52], [99.6], wl, derivatives=True)
assert derived.dR_s.shape == (1, 1, 1, 5)
slope: NDArray[np.float64] = derived.dR("s")
coating = ql.Stack([ql.Layer(1.38, 99.6)], incident=1.0, exit=1.52)
# Every front takes a Stack in place of the arrays, and the Stack has the same fronts.
assert_type(ql.solve(coating, wl, [0.0, 0.3], thicknesses=[[99.6], [101.0]]), Result)
assert_type(coating.solve(wl, derivatives=True), Result)
assert_type(coating.profile(wl, 0.0, [10.0, 50.0]), Profile)
phase = ql.dispersion(coating, wl, 0.0, "r", "s")
assert_type(phase, ql.Dispersion)
assert_type(coating.dispersion(wl, polarisation="p"), ql.Dispersion)
flat = ql.dispersion([1.0, 1.38, 1.52], [99.6], wl, index_derivatives=np.zeros((3, 3, 1)))
assert flat.gd.shape == (5,)
gdd: NDArray[np.float64] = phase.gdd
target = design.Target("R", wl, value=0.0, tolerance=0.01)
merit: float = design.merit(coating, [target])
refined = design.refine(coating, [target], bounds=(50.0, 150.0))
assert_type(refined, design.Refined)
assert 50.0 <= refined.stack.thicknesses[0] <= 150.0 and merit >= refined.merit and gdd.shape == (5,)
