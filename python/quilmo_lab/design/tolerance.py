"""tolerance: how a design's merit and spectra spread under random thickness errors."""

from __future__ import annotations

from dataclasses import dataclass
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from quilmo_lab.cone import Cone
from quilmo_lab.slit import Slit
from quilmo_lab._checks import number_array, whole_number
from quilmo_lab.design.evaluation import Evaluator
from quilmo_lab.design.targets import Target
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]
# What numpy.random.default_rng accepts as a seed.
Seed = int | Sequence[int] | np.random.SeedSequence | np.random.BitGenerator | np.random.Generator | None


@dataclass(frozen=True)
class TargetSpread:
    """One target's values over the samples of `tolerance`.

    Attributes
    ----------
    values : ndarray
        (samples, W).
    mean, std : ndarray
        Their mean and standard deviation per wavelength, (W,).
    nominal : ndarray
        The values of the design itself, (W,).

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> spread = design.tolerance(coating, [target], 2.0, samples=20, seed=1).targets[0]
    >>> spread.values.shape, spread.std.shape
    ((20, 5), (5,))
    """

    values: FloatArray
    mean: FloatArray
    std: FloatArray
    nominal: FloatArray


@dataclass(frozen=True)
class ToleranceResult:
    """The outcome of `tolerance`.

    Attributes
    ----------
    merit : ndarray
        The merit of each perturbed design, (samples,).
    nominal_merit : float
        The design's own.
    merit_mean, merit_std : float
        Their mean and standard deviation.
    merit_percentiles : ndarray
        Their 5th, 50th and 95th percentiles.
    targets : list of TargetSpread
        One per target.
    thicknesses : ndarray
        The designs drawn, (samples, layers).

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> result = design.tolerance(coating, [target], 2.0, samples=20, seed=1)
    >>> result.merit.shape, result.thicknesses.shape
    ((20,), (20, 1))
    """

    merit: FloatArray
    nominal_merit: float
    merit_mean: float
    merit_std: float
    merit_percentiles: FloatArray
    targets: list[TargetSpread]
    thicknesses: FloatArray


def tolerance(stack: Stack, targets: Sequence[Target], sigma: float | npt.ArrayLike, *, samples: int = 500,
              relative: bool = False, seed: Seed = None, threads: int | None = None, cone: Cone | None = None,
              bandwidth: Slit | None = None, thickness_spread: npt.ArrayLike = 0.0,
              roughness_model: str = "nevot-croce") -> ToleranceResult:
    """How a design's merit and spectra spread under random thickness errors.

    Parameters
    ----------
    stack : Stack
        The design.
    targets : sequence of Target
        What it should do.
    sigma : float or array_like
        The standard deviation of the errors in nm (with `relative`, as a fraction of
        each thickness), a number or one per layer.
    samples : int, optional
        Perturbed designs, at least 2.
    relative : bool, optional
        `sigma` relative to each thickness.
    seed : optional
        Anything ``numpy.random.default_rng`` accepts.
    threads : int, optional
        Worker threads of the solves.
    cone, bandwidth, thickness_spread, roughness_model : optional
        What the instrument sees, as for `quilmo_lab.solve` (the stack's layers give the
        roughness): R, T and A are averaged, and so are their thickness derivatives.

    Returns
    -------
    ToleranceResult

    Raises
    ------
    TypeError, ValueError
        For a sigma that is negative or not one per layer, or too few samples.

    Notes
    -----
    A Monte Carlo of independent normal errors, all samples solved in one batch.
    Perturbed thicknesses below 0 are taken as 0.

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> result = design.tolerance(coating, [target], 2.0, samples=50, seed=1)
    >>> round(result.nominal_merit, 4), bool(result.merit_std > 0)
    (1.6024, True)
    """
    evaluator = Evaluator(stack, targets, threads, cone=cone, bandwidth=bandwidth, thickness_spread=thickness_spread,
                          roughness_model=roughness_model)
    drawn = drawn_designs(stack, sigma, samples=samples, relative=relative, seed=seed)
    merits, values = merits_of(evaluator, with_nominal(stack, drawn))
    return spread_of(merits, values, drawn)


def drawn_designs(stack: Stack, sigma: float | npt.ArrayLike, *, samples: int, relative: bool = False,
                  seed: Seed = None) -> FloatArray:
    """The perturbed thicknesses of a tolerance run, (samples, layers), checked as `tolerance` checks them.

    Parameters
    ----------
    stack, sigma, samples, relative, seed
        As for `tolerance`.

    Returns
    -------
    ndarray
        The designs drawn, thicknesses below 0 taken as 0.

    Examples
    --------
    >>> from quilmo_lab.design.tolerance import drawn_designs
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0), ql.Layer(2.1, 60.0)], exit=1.52)
    >>> drawn_designs(coating, 2.0, samples=4, seed=1).shape
    (4, 2)
    """
    layers = len(stack.layers)
    s = number_array("sigma", sigma).astype(np.float64)
    if s.ndim > 1 or (s.ndim == 1 and s.shape[0] != layers) or np.any(s < 0) or not np.all(np.isfinite(s)):
        raise ValueError(f"sigma must be a non-negative number or one per layer ({layers}); received {sigma!r}")
    samples = whole_number("samples", samples, minimum=2)
    d = stack.thicknesses
    scale = s * d if relative else np.broadcast_to(s, (layers,))
    rng = np.random.default_rng(seed)
    drawn: FloatArray = np.maximum(d + rng.standard_normal((samples, layers)) * scale, 0.0)
    return drawn


def with_nominal(stack: Stack, drawn: FloatArray) -> FloatArray:
    """The batch a tolerance run evaluates: the design's own thicknesses, then the drawn ones.

    Examples
    --------
    >>> from quilmo_lab.design.tolerance import with_nominal
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> with_nominal(coating, np.array([[81.0], [79.0]]))[:, 0]
    array([80., 81., 79.])
    """
    return np.concatenate([stack.thicknesses[None, :], drawn])


def merits_of(evaluator: Evaluator, batch: FloatArray) -> tuple[FloatArray, list[FloatArray]]:
    """The merit of each design of a batch and every target's values, row by row.

    Each row's merit depends on that row alone, so that a batch split into parts gives
    the same numbers as the whole.

    Parameters
    ----------
    evaluator : Evaluator
        The targets and materials.
    batch : ndarray
        (B, layers) thicknesses.

    Returns
    -------
    merits : ndarray
        (B,).
    values : list of ndarray
        Per target, (B, W).

    Examples
    --------
    >>> from quilmo_lab import design
    >>> from quilmo_lab.design.tolerance import merits_of
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> evaluator = design.Evaluator(ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52), [target])
    >>> merits, values = merits_of(evaluator, np.array([[80.0], [100.0]]))
    >>> print(np.round(merits, 4))
    [1.6024 1.4012]
    """
    residuals, values = evaluator.residuals_batch(batch)
    merits: FloatArray = np.sqrt(np.mean(np.square(residuals), axis=1))
    return merits, values


def spread_of(merits: FloatArray, values: Sequence[FloatArray], drawn: FloatArray) -> ToleranceResult:
    """The statistics of a tolerance run from the merits and values of the nominal design (row 0) and
    the drawn ones (the rows after it).

    Parameters
    ----------
    merits : ndarray
        (samples + 1,), as `merits_of` gives them for `with_nominal`'s batch.
    values : sequence of ndarray
        Per target, (samples + 1, W).
    drawn : ndarray
        The designs drawn, (samples, layers).

    Returns
    -------
    ToleranceResult

    Examples
    --------
    >>> from quilmo_lab import design
    >>> from quilmo_lab.design.tolerance import drawn_designs, merits_of, spread_of, with_nominal
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> drawn = drawn_designs(coating, 2.0, samples=50, seed=1)
    >>> merits, values = merits_of(design.Evaluator(coating, [target]), with_nominal(coating, drawn))
    >>> round(spread_of(merits, values, drawn).nominal_merit, 4)
    1.6024
    """
    spreads = [TargetSpread(v[1:], v[1:].mean(axis=0), v[1:].std(axis=0, ddof=1), v[0]) for v in values]
    sampled = merits[1:]
    return ToleranceResult(sampled, float(merits[0]), float(sampled.mean()), float(sampled.std(ddof=1)),
                           np.percentile(sampled, [5, 50, 95]), spreads, drawn)
