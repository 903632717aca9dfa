"""quilmo_lab.design: targets, the merit and its Jacobian, refine, needle, tolerance."""

import sys

import numpy as np
import pytest

import quilmo_lab as ql
from quilmo_lab import design
from quilmo_lab.design import Evaluator, Target
from quilmo_lab.design.editing import insert_layer
from quilmo_lab.materials import Cauchy

pytest.importorskip("scipy")

HIGH = Cauchy(2.2, 2.6e4, name="H")
LOW = Cauchy(1.45, 3.5e3, name="L")
WL = np.linspace(420.0, 680.0, 27)
AR = [Target("R", WL, value=0.0, tolerance=0.001)]


def ar_start():
    return ql.Stack([ql.Layer(LOW, 100.0)], incident=1.0, exit="N-BK7")


def assert_jacobian_matches_differences(evaluator, d, layers, h=1e-3):
    jacobian = evaluator.evaluate(d).jacobian
    for layer in layers:
        up, down = d.copy(), d.copy()
        up[layer] += h
        down[layer] -= h
        numeric = (evaluator.evaluate(up, False).residuals - evaluator.evaluate(down, False).residuals) / (2 * h)
        np.testing.assert_allclose(jacobian[:, layer], numeric, rtol=1e-5, atol=1e-6 * np.abs(numeric).max())


def test_jacobian_of_every_kind_of_target_matches_differences():
    stack = ql.Stack([ql.Layer(HIGH, 60.0), ql.Layer(LOW, 110.0), ql.Layer(Cauchy(1.9, 1e4, urbach_amplitude=0.01), 40.0)],
                     incident=1.0, exit="N-BK7")
    targets = [
        Target("R", WL, value=0.01, tolerance=0.002, polarisation="unpolarized"),
        Target("T", WL[::3], at_least=0.97, tolerance=0.01, angle=0.5, polarisation="p"),
        Target("A", WL[::5], at_most=0.001, tolerance=0.001, angle=0.3, polarisation="s"),
        Target("phase", WL[::4], value=1.0, tolerance=0.1, side="r", polarisation="s"),
        Target("GDD", WL[::4], value=0.0, tolerance=1.0, side="t", polarisation="p", angle=0.2, weight=3.0),
    ]
    evaluator = Evaluator(stack, targets)
    assert evaluator.evaluate(stack.thicknesses).jacobian.shape == (sum(t.size for t in targets), 3)
    assert_jacobian_matches_differences(evaluator, stack.thicknesses, range(3))


def test_bounds_count_only_where_violated():
    t = Target("R", [500.0, 600.0, 700.0], at_most=[0.1, 0.2, 0.3], at_least=0.05, tolerance=0.1, weight=4.0)
    np.testing.assert_allclose(t.residuals(np.array([0.2, 0.1, 0.0])), [2.0, 0.0, -1.0])
    phase = Target("phase", [500.0], value=3.0, polarisation="s")
    np.testing.assert_allclose(phase.residuals(np.array([-3.0])), [2 * np.pi - 6.0])


@pytest.mark.parametrize("kwargs, error, match", [
    (dict(quantity="X"), ValueError, "quantity must be 'R', 'T', 'A', 'phase', 'GD' or 'GDD'; received 'X'"),
    (dict(value=None), ValueError, "either value= or"),
    (dict(quantity="GDD"), ValueError, "polarisation must be 's' or 'p' for a GDD target"),
    (dict(tolerance=0.0), ValueError, "tolerance must be greater than 0; received 0.0"),
    (dict(value=[0.0, 1.0]), ValueError, r"value must be a scalar or of shape \(3,\), one per wavelength"),
    (dict(side="x"), ValueError, "side must be 'r' or 't'"),
])
def test_bad_targets_name_the_argument(kwargs, error, match):
    arguments = dict(quantity="R", wavelengths=[500.0, 600.0, 700.0], value=0.0) | kwargs
    with pytest.raises(error, match=match):
        Target(**arguments)


def test_refine_lowers_the_merit_and_keeps_thicknesses_within_bounds():
    targets = AR
    start = ql.Stack([ql.Layer(HIGH, 30.0), ql.Layer(LOW, 150.0)], incident=1.0, exit="N-BK7")
    free = design.refine(start, targets)
    assert free.merit < free.initial_merit
    # bounds that exclude the free optimum: the result sits inside them, on the edge
    low, high = np.array([40.0, 70.0]), np.array([45.0, 80.0])
    assert not np.all((free.stack.thicknesses >= low) & (free.stack.thicknesses <= high))
    bounded = design.refine(start, targets, bounds=(low, high))
    d = bounded.stack.thicknesses
    assert np.all(d >= low) and np.all(d <= high)
    assert bounded.merit >= free.merit
    kept = design.refine(start, targets, fixed=[0])
    assert kept.stack.thicknesses[0] == 30.0
    with pytest.raises(ValueError, match="0 <= low < high"):
        design.refine(start, targets, bounds=(50.0, 10.0))


def test_needle_improves_the_merit_step_by_step():
    targets = AR
    result = design.needle(ar_start(), targets, materials=(HIGH, LOW))
    merits = [step.merit for step in result.steps]
    assert len(merits) >= 3
    assert all(later < earlier for earlier, later in zip(merits, merits[1:]))
    assert result.merit == merits[-1] == pytest.approx(design.merit(result.stack, targets))
    assert result.stopped in ("no insertion lowers the merit", "no insertion helped", "max_layers reached")
    R = result.stack.solve(WL).R(0.0)[0, 0]
    assert R.mean() < 0.003 and R.max() < 0.006
    # every layer is thicker than the drop threshold and neighbours differ in material
    assert all(layer.thickness >= 1.0 for layer in result.stack.layers)
    materials = [layer.material for layer in result.stack.layers]
    assert all(a is not b for a, b in zip(materials, materials[1:]))


def test_needle_function_is_the_derivative_of_the_merit():
    targets = AR
    stack = ql.Stack([ql.Layer(HIGH, 40.0), ql.Layer(LOW, 90.0)], incident=1.0, exit="N-BK7")
    candidates, gradient = design.needle_function(stack, targets, (HIGH, LOW), spacing=20.0)
    base = design.merit(stack, targets) ** 2
    for i in (0, len(candidates) // 2, len(candidates) - 1):
        c = candidates[i]
        grown = insert_layer(stack, c.host, c.depth, c.material, 1e-4)
        assert (design.merit(grown, targets) ** 2 - base) / 1e-4 == pytest.approx(gradient[i], rel=1e-3, abs=1e-6)


def test_tolerance_spread_shrinks_with_sigma():
    targets = AR
    stack = ql.Stack([ql.Layer(HIGH, 25.0), ql.Layer(LOW, 30.0), ql.Layer(HIGH, 120.0), ql.Layer(LOW, 90.0)],
                     incident=1.0, exit="N-BK7")
    spreads = [design.tolerance(stack, targets, sigma, samples=300, seed=5) for sigma in (4.0, 2.0, 0.5)]
    stds = [s.merit_std for s in spreads]
    assert stds[0] > stds[1] > stds[2] > 0
    target_std = [s.targets[0].std.mean() for s in spreads]
    assert target_std[0] > target_std[1] > target_std[2]
    first = spreads[0]
    assert first.merit.shape == (300,) and first.targets[0].values.shape == (300, WL.size)
    assert first.nominal_merit == pytest.approx(design.merit(stack, targets))
    np.testing.assert_allclose(first.targets[0].nominal, stack.solve(WL).R(np.pi / 4)[0, 0], rtol=1e-14)
    relative = design.tolerance(stack, targets, 0.01, relative=True, samples=50, seed=1)
    assert relative.thicknesses.shape == (50, 4)
    with pytest.raises(ValueError, match="sigma must be"):
        design.tolerance(stack, targets, [1.0, 2.0])


def test_a_coating_on_a_window_treated_by_intensity():
    # AR on both faces of 1 mm of glass: R and T targets work through the mixed derivatives
    window = ql.Stack([ql.Layer(HIGH, 30.0), ql.Layer(LOW, 120.0), ql.Layer("N-BK7", 1e6, coherent=False),
                       ql.Layer(LOW, 100.0)], incident=1.0, exit=1.0)
    targets = [Target("T", WL, value=1.0, tolerance=0.001), Target("R", WL[::4], at_most=0.01, tolerance=0.001)]
    assert_jacobian_matches_differences(Evaluator(window, targets), window.thicknesses, (0, 3))
    refined = design.refine(window, targets, fixed=[2])
    assert refined.merit < 0.5 * refined.initial_merit
    assert refined.stack.layers[2].thickness == 1e6 and not refined.stack.layers[2].coherent
    with pytest.raises(ValueError, match="need a coherent stack"):
        design.merit(window, [Target("GDD", [500.0], value=0.0, polarisation="s")])


def test_empty_targets_and_a_missing_scipy_are_explained(monkeypatch):
    with pytest.raises(ValueError, match="at least one Target"):
        design.merit(ar_start(), [])
    monkeypatch.setitem(sys.modules, "scipy.optimize", None)
    with pytest.raises(ImportError, match="quilmo_lab.design.refine needs SciPy"):
        design.refine(ar_start(), AR)
