"""needle: the needle optimisation of Tikhonravov, Trubetskov and DeBell.

A. V. Tikhonravov, M. K. Trubetskov and G. W. DeBell, "Application of the needle
optimization technique to the design of optical coatings", Appl. Opt. 35, 5493 (1996).

At each step the needle function P(z, m), the first-order change of the merit when a
vanishingly thin layer of material m is put at depth z, is evaluated at every sample
depth of every layer; a thin layer goes where P is most negative, the design is refined,
layers that shrank to nothing are dropped, and the steps stop when no insertion would
lower the merit or the last one no longer helped.

P comes from one engine call: a zero-thickness layer changes nothing, so every candidate
needle is put into one expanded stack at thickness 0 and the derivative of the merit by
each needle's thickness is read from the analytic Jacobian of that stack.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass, field

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import real_number
from quilmo_lab._media import Medium, MediumLike, medium
from quilmo_lab.design.editing import insert_layer, merge_and_drop
from quilmo_lab.design.evaluation import Evaluator
from quilmo_lab.design.refine import Bounds, refine
from quilmo_lab.design.targets import Target
from quilmo_lab.stack import Layer, Stack

FloatArray = npt.NDArray[np.float64]


@dataclass(frozen=True)
class NeedleStep:
    """The design after one insertion and its refinement.

    Attributes
    ----------
    layers : int
        Its number of layers.
    merit : float
        Its merit.
    total_thickness : float
        The sum of its thicknesses in nm.

    Examples
    --------
    >>> from quilmo_lab.design import NeedleStep
    >>> NeedleStep(3, 0.5, 250.0).layers
    3
    """

    layers: int
    merit: float
    total_thickness: float


@dataclass(frozen=True)
class NeedleResult:
    """The outcome of `needle`.

    Attributes
    ----------
    stack : Stack
        The final design.
    merit : float
        Its merit.
    steps : list of NeedleStep
        The refined start first, then one entry per accepted insertion.
    stopped : str
        Why the insertions ended.

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(420.0, 680.0, 9), value=0.0, tolerance=0.001)
    >>> start = ql.Stack([ql.Layer(1.46, 100.0)], exit=1.52)
    >>> grown = design.needle(start, [target], (ql.Constant(2.3), ql.Constant(1.46)), max_insertions=1)
    >>> grown.stopped, [step.layers for step in grown.steps]
    ('max_insertions reached', [1, 2])
    """

    stack: Stack
    merit: float
    steps: list[NeedleStep] = field(default_factory=list)
    stopped: str = ""


@dataclass(frozen=True)
class Candidate:
    """A needle: a thin layer of `material` `depth` nm into layer `host`.

    Attributes
    ----------
    host : int
        The layer it goes into, from 0 on the incidence side.
    depth : float
        How far into the host, in nm from the host's incidence side.
    material : Material
        What the needle is made of.

    See Also
    --------
    needle_function : The candidates and the merit's derivative by each.

    Examples
    --------
    >>> from quilmo_lab.design.needle import Candidate
    >>> Candidate(0, 20.0, ql.Constant(2.3)).depth
    20.0
    """

    host: int
    depth: float
    material: Medium


# The most needle positions one search weighs: each costs a layer in the gradient's stack.
MAX_POSITIONS = 100_000


def _candidates(stack: Stack, materials: Sequence[Medium], spacing: float) -> list[Candidate]:
    spacing = real_number("spacing", spacing, minimum=0.0, strictly=True)
    positions = sum(math.ceil(layer.thickness / spacing) for layer in stack.layers if layer.coherent)
    if positions > MAX_POSITIONS:
        raise ValueError(f"spacing must leave at most {MAX_POSITIONS} needle positions in the design's "
                         f"{stack.thicknesses.sum():g} nm; received {spacing!r} nm, which gives {positions}")
    out = []
    for host, layer in enumerate(stack.layers):
        if not layer.coherent:  # a substrate or window treated by intensity takes no needles
            continue
        count = max(1, math.ceil(layer.thickness / spacing))
        # the interfaces themselves (depth 0) and points spread through the layer
        depths = [0.0] + [layer.thickness * (k + 0.5) / count for k in range(count)]
        if host == len(stack.layers) - 1:
            depths.append(layer.thickness)
        for material in materials:
            if material is layer.material:
                continue
            out += [Candidate(host, depth, material) for depth in depths]
    return out


def _most_negative(candidates: list[Candidate], gradient: FloatArray, count: int) -> list[Candidate]:
    """Up to `count` candidates at the deepest negative local minima of the needle function
    (one per host layer and material, deepest first)."""
    best: dict[tuple[int, int], int] = {}
    for i, c in enumerate(candidates):
        key = (c.host, id(c.material))
        if gradient[i] < 0.0 and (key not in best or gradient[i] < gradient[best[key]]):
            best[key] = i
    chosen = sorted(best.values(), key=lambda i: gradient[i])[:count]
    return [candidates[i] for i in chosen]


def _expanded(stack: Stack, candidates: list[Candidate]) -> tuple[Stack, list[int]]:
    """The stack with every candidate at thickness 0, and the layer index of each."""
    by_host: dict[int, list[tuple[float, int]]] = {}
    for i, c in enumerate(candidates):
        by_host.setdefault(c.host, []).append((c.depth, i))
    layers: list[Layer] = []
    position = [0] * len(candidates)
    for host, layer in enumerate(stack.layers):
        at = 0.0
        for depth, i in sorted(by_host.get(host, [])):
            layers.append(Layer(layer.material, depth - at, layer.coherent))
            position[i] = len(layers)
            layers.append(Layer(candidates[i].material, 0.0))
            at = depth
        layers.append(Layer(layer.material, layer.thickness - at, layer.coherent))
    return Stack(layers, incident=stack.incident, exit=stack.exit), position


def needle_function(stack: Stack, targets: Sequence[Target], materials: Sequence[MediumLike], *,
                    spacing: float = 2.0, threads: int | None = None) -> tuple[list[Candidate], FloatArray]:
    """The needle function: the first-order change of the squared merit by each candidate needle.

    Parameters
    ----------
    stack : Stack
        The design.
    targets : sequence of Target
        What it should do.
    materials : sequence of Material, str or complex
        The materials needles may be made of.
    spacing : float, optional
        The distance in nm between the depths sampled in each layer.
    threads : int, optional
        Worker threads of the solves.

    Returns
    -------
    candidates : list of Candidate
        Needles at the interfaces and through every coherent layer, of every material
        other than the host's.
    gradient : ndarray
        d(merit²)/d(needle thickness) per nm of each; negative where a needle helps.

    Notes
    -----
    A zero-thickness layer changes nothing, so every candidate is put into one expanded
    stack at thickness 0 and the derivatives come from one analytic Jacobian.

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> candidates, gradient = design.needle_function(coating, [target], [ql.Constant(2.3)], spacing=40.0)
    >>> [c.depth for c in candidates]
    [0.0, 20.0, 60.0, 80.0]
    >>> print(np.round(gradient, 2))
    [-0.38  0.29  0.87  0.59]
    """
    candidates = _candidates(stack, [medium(m, f"materials[{i}]") for i, m in enumerate(materials)], spacing)
    if not candidates:
        return candidates, np.empty(0)
    expanded, position = _expanded(stack, candidates)
    evaluation = Evaluator(expanded, targets, threads).evaluate(expanded.thicknesses)
    residuals, jacobian = evaluation.residuals, evaluation.jacobian
    assert jacobian is not None
    # merit^2 = mean(r^2): its derivative is 2 r.J / N
    gradient = 2.0 * (residuals @ jacobian[:, position]) / residuals.size
    return candidates, np.asarray(gradient, dtype=np.float64)


def needle(stack: Stack, targets: Sequence[Target], materials: Sequence[MediumLike], *,
           needle_thickness: float = 2.0, min_thickness: float = 1.0, spacing: float = 2.0, max_layers: int = 40,
           max_insertions: int = 30, improvement: float = 1e-3, attempts: int = 3, bounds: Bounds = (0.0, np.inf),
           max_evaluations: int = 500,
           threads: int | None = None) -> NeedleResult:
    """Grow a design by needle optimisation: thin layers inserted where they lower the merit most.

    Parameters
    ----------
    stack : Stack
        The starting design.
    targets : sequence of Target
        What it should do.
    materials : sequence of Material, str or complex
        The materials of new layers, for example (high, low).
    needle_thickness : float, optional
        The thickness in nm a new layer starts with.
    min_thickness : float, optional
        Layers refinement leaves thinner (nm) are dropped and their neighbours joined.
    spacing : float, optional
        The distance in nm between the depths sampled by the needle function.
    max_layers, max_insertions : int, optional
        Where the growth stops.
    improvement : float, optional
        The relative lowering of the merit an insertion must bring to be kept.
    attempts : int, optional
        How many of the needle function's deepest minima each step tries.
    bounds, max_evaluations, threads : optional
        As for `refine`.

    Returns
    -------
    NeedleResult

    Raises
    ------
    ImportError
        Without SciPy (``pip install "quilmo[design]"``).
    ValueError
        For no materials, or bad targets.

    See Also
    --------
    needle_function : The needle function of one design.
    refine : The refinement after each insertion.

    Notes
    -----
    The needle method of Tikhonravov, Trubetskov and DeBell [1]_. Each step tries the
    deepest local minima of the needle function in turn and keeps the first insertion
    whose refined merit is lower by at least `improvement`; the growth stops when the
    needle function is nowhere negative, no tried insertion helps, or at `max_layers` or
    `max_insertions`.

    References
    ----------
    .. [1] A. V. Tikhonravov, M. K. Trubetskov and G. W. DeBell, "Application of the needle
       optimization technique to the design of optical coatings", Appl. Opt. 35, 5493 (1996).

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(420.0, 680.0, 9), value=0.0, tolerance=0.001)
    >>> start = ql.Stack([ql.Layer(1.46, 100.0)], exit=1.52)
    >>> grown = design.needle(start, [target], (ql.Constant(2.3), ql.Constant(1.46)), max_insertions=2)
    >>> [step.layers for step in grown.steps], bool(grown.merit < grown.steps[0].merit / 5)
    ([1, 2, 4], True)
    """
    chosen = [medium(m, f"materials[{i}]") for i, m in enumerate(materials)]
    if not chosen:
        raise ValueError("materials must name at least one material to insert; received none")
    refined = refine(merge_and_drop(stack, min_thickness), targets, bounds=bounds,
                     max_evaluations=max_evaluations, threads=threads)
    current, merit = merge_and_drop(refined.stack, min_thickness), refined.merit
    steps = [NeedleStep(len(current.layers), merit, float(current.thicknesses.sum()))]
    stopped = "max_insertions reached"
    for _ in range(max_insertions):
        if len(current.layers) + 2 > max_layers:
            stopped = "max_layers reached"
            break
        candidates, gradient = needle_function(current, targets, chosen, spacing=spacing, threads=threads)
        if gradient.size == 0 or not gradient.min() < 0.0:
            stopped = "no insertion lowers the merit"
            break
        accepted = None
        for best in _most_negative(candidates, gradient, attempts):
            trial = insert_layer(current, best.host, best.depth, best.material, needle_thickness)
            refined = refine(trial, targets, bounds=bounds, max_evaluations=max_evaluations, threads=threads)
            candidate = merge_and_drop(refined.stack, min_thickness)
            if len(candidate.layers) != len(refined.stack.layers):
                refined = refine(candidate, targets, bounds=bounds, max_evaluations=max_evaluations, threads=threads)
                candidate = refined.stack
            if refined.merit < merit * (1.0 - improvement):
                accepted = candidate, refined.merit
                break
        if accepted is None:
            stopped = "no insertion helped"
            break
        candidate, refined_merit = accepted
        current, merit = candidate, refined_merit
        steps.append(NeedleStep(len(current.layers), merit, float(current.thicknesses.sum())))
    return NeedleResult(current, merit, steps, stopped)
