"""refine: local optimisation of the thicknesses of a design (scipy.optimize.least_squares)."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from quilmo_lab.cone import Cone
from quilmo_lab.slit import Slit
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
    """The outcome of `refine`.

    Attributes
    ----------
    stack : Stack
        The refined design.
    merit, initial_merit : float
        The merit after and before.
    evaluations : int
        Evaluations of the merit.
    message : str
        The optimiser's reason for stopping.

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> refined = design.refine(coating, [target])
    >>> bool(refined.merit < refined.initial_merit)
    True
    """

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


def _fixed_mask(fixed: object, layers: int) -> npt.NDArray[np.bool_]:
    """The layers `fixed` names, by index or by one flag per layer."""
    try:
        array = np.asarray(fixed)
    except (TypeError, ValueError):
        array = np.asarray([], dtype=object)
    if array.ndim == 1 and array.size == 0:
        return np.zeros(layers, dtype=bool)
    if array.dtype == np.bool_ and array.ndim == 1:
        if array.size != layers:
            raise ValueError(f"fixed as flags must have one per layer ({layers}); received {array.size}")
        return array.copy()
    if array.ndim != 1 or array.dtype.kind not in "iu":
        raise TypeError(f"fixed must be layer indices (ints) or one bool per layer; received {fixed!r}")
    if array.min() < -layers or array.max() >= layers:
        raise ValueError(f"fixed must hold indices of the {layers} layers; received {array.tolist()}")
    mask = np.zeros(layers, dtype=bool)
    mask[array] = True
    return mask


def refine(stack: Stack, targets: Sequence[Target], *, bounds: Bounds = (0.0, np.inf),
           fixed: Sequence[int] = (), max_evaluations: int = 500, tolerance: float = 1e-8,
           threads: int | None = None, cone: Cone | None = None, bandwidth: Slit | None = None,
           thickness_spread: npt.ArrayLike = 0.0, roughness_model: str = "nevot-croce") -> Refined:
    """Refine the thicknesses of a design to lower the merit of its targets.

    Parameters
    ----------
    stack : Stack
        The starting design.
    targets : sequence of Target
        What it should do.
    bounds : tuple, optional
        (low, high) thicknesses in nm, numbers or one per layer, 0 <= low < high. The
        thicknesses start clipped into them.
    fixed : sequence of int or of bool, optional
        Indices of layers that keep their thickness, or one flag per layer (True: fixed).
    max_evaluations : int, optional
        The most evaluations of the merit.
    tolerance : float, optional
        The relative change of the merit and of the thicknesses at which the search stops.
    threads : int, optional
        Worker threads of the solves.
    cone, bandwidth, thickness_spread, roughness_model : optional
        What the instrument sees, as for `quilmo_lab.solve` (the stack's layers give the
        roughness): R, T and A are averaged, and so are their thickness derivatives.

    Returns
    -------
    Refined

    Raises
    ------
    ImportError
        Without SciPy (``pip install "quilmo[design]"``).
    TypeError, ValueError
        For bounds that are not a pair of valid thicknesses, or bad targets.

    See Also
    --------
    needle : Grows a design by inserting layers.

    Notes
    -----
    Trust-region least squares (``scipy.optimize.least_squares``, method "trf") with the
    analytic thickness Jacobian of R, T and A, and central differences for phase targets.
    A stack with anisotropic media (R, T and A targets only; no TwistedLayer) is solved
    by `solve_anisotropic`, its Jacobian by central differences in one batched solve of
    2 x layers + 1 designs per target.

    Examples
    --------
    A single layer tuned to a broadband anti-reflection target:

    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> refined = design.refine(coating, [target], bounds=(50.0, 150.0))
    >>> round(float(refined.stack.thicknesses[0]), 1), round(refined.merit, 3)
    (96.3, 1.389)
    """
    evaluator = Evaluator(stack, targets, threads, cone=cone, bandwidth=bandwidth, thickness_spread=thickness_spread,
                          roughness_model=roughness_model)
    layers = evaluator.layers
    lo, hi = _bounds(bounds, layers)
    free = ~_fixed_mask(fixed, layers)
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
