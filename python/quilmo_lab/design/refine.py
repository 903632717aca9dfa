"""refine: local optimisation of the thicknesses of a design (scipy.optimize.least_squares)."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import number_array
from quilmo_lab._optional import scipy_least_squares
from quilmo_lab.design.editing import with_thicknesses
from quilmo_lab.design.evaluation import Evaluation, Evaluator, merit_of
from quilmo_lab.design.targets import Target
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]
# (low, high) thicknesses in nm: numbers, or one per layer.
Bounds = tuple[npt.ArrayLike, npt.ArrayLike]


@dataclass(frozen=True)
class Refined:
    """stack: the refined design; merit and initial_merit: RMS of the weighted residuals
    after and before; evaluations: calls of the merit; message: the optimiser's."""

    stack: Stack
    merit: float
    initial_merit: float
    evaluations: int
    message: str


def _bounds(bounds: Bounds, layers: int) -> tuple[FloatArray, FloatArray]:
    try:
        low, high = bounds
    except (TypeError, ValueError):
        raise TypeError(f"bounds must be a pair (low, high) of numbers or per-layer arrays; received {bounds!r}") from None
    lo = np.broadcast_to(number_array("bounds[0]", low).astype(np.float64), (layers,)).copy()
    hi = np.broadcast_to(number_array("bounds[1]", high).astype(np.float64), (layers,)).copy()
    if np.any(lo < 0.0) or np.any(~(lo < hi)):
        raise ValueError(f"bounds must satisfy 0 <= low < high for every layer; received low {lo}, high {hi}")
    return lo, hi


def refine(stack: Stack, targets: Sequence[Target], *, bounds: Bounds = (0.0, np.inf),
           fixed: Sequence[int] = (), max_evaluations: int = 500, tolerance: float = 1e-8,
           threads: int | None = None) -> Refined:
    """Refines the thicknesses of `stack` to minimise the merit of `targets`.

    Trust-region least squares within `bounds` (low, high in nm; numbers or one per
    layer) with the analytic thickness Jacobian of the engine. Layers whose index is in
    `fixed` keep their thickness. Thicknesses start clipped into the bounds. `tolerance`:
    the relative change of the merit and of the thicknesses at which the search stops.
    """
    evaluator = Evaluator(stack, targets, threads)
    layers = evaluator.layers
    lo, hi = _bounds(bounds, layers)
    free = np.ones(layers, dtype=bool)
    for index in fixed:
        free[index] = False
    d0 = np.clip(stack.thicknesses, lo, hi)
    initial = evaluator.evaluate(stack.thicknesses, jacobian=False).merit
    if not free.any():
        return Refined(stack, initial, initial, 1, "no free layers")

    least_squares = scipy_least_squares("quilmo_lab.design.refine")
    cache: dict[bytes, Evaluation] = {}

    def run(x: FloatArray) -> Evaluation:
        key = x.tobytes()
        if key not in cache:
            cache.clear()
            d = d0.copy()
            d[free] = x
            cache[key] = evaluator.evaluate(d)
        return cache[key]

    def jacobian(x: FloatArray) -> FloatArray:
        matrix = run(x).jacobian
        assert matrix is not None  # run evaluates with the Jacobian
        return matrix[:, free]

    result = least_squares(lambda x: run(x).residuals, d0[free], jac=jacobian,
                           bounds=(lo[free], hi[free]), method="trf", x_scale="jac",
                           ftol=tolerance, xtol=tolerance, max_nfev=max_evaluations)
    d = d0.copy()
    d[free] = np.clip(result.x, lo[free], hi[free])
    return Refined(with_thicknesses(stack, d), merit_of(result.fun), initial, int(result.nfev), str(result.message))
