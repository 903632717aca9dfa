"""tolerance: how a design's merit and spectra spread under random thickness errors."""

from __future__ import annotations

from dataclasses import dataclass
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import number_array, whole_number
from quilmo_lab.design.evaluation import Evaluator
from quilmo_lab.design.targets import Target
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]
# What numpy.random.default_rng accepts as a seed.
Seed = int | Sequence[int] | np.random.SeedSequence | np.random.BitGenerator | np.random.Generator | None


@dataclass(frozen=True)
class TargetSpread:
    """One target's values over the samples: values (samples, W), their mean and
    standard deviation per wavelength, and the nominal design's values."""

    values: FloatArray
    mean: FloatArray
    std: FloatArray
    nominal: FloatArray


@dataclass(frozen=True)
class ToleranceResult:
    """merit: (samples,) merit of each perturbed design; nominal_merit: the design's own;
    merit_mean, merit_std and merit_percentiles (5, 50, 95); targets: one TargetSpread
    per target; thicknesses: (samples, layers) the designs drawn."""

    merit: FloatArray
    nominal_merit: float
    merit_mean: float
    merit_std: float
    merit_percentiles: FloatArray
    targets: list[TargetSpread]
    thicknesses: FloatArray


def tolerance(stack: Stack, targets: Sequence[Target], sigma: float | npt.ArrayLike, *, samples: int = 500,
              relative: bool = False, seed: Seed = None, threads: int | None = None) -> ToleranceResult:
    """Monte-Carlo of independent normal thickness errors, all samples in one engine batch.

    sigma: standard deviation in nm (or, with relative=True, as a fraction of each
    thickness); a number or one per layer. Perturbed thicknesses below 0 are taken as 0.
    seed: anything numpy.random.default_rng accepts.
    """
    evaluator = Evaluator(stack, targets, threads)
    layers = evaluator.layers
    s = number_array("sigma", sigma).astype(np.float64)
    if s.ndim > 1 or (s.ndim == 1 and s.shape[0] != layers) or np.any(s < 0) or not np.all(np.isfinite(s)):
        raise ValueError(f"sigma must be a non-negative number or one per layer ({layers}); received {sigma!r}")
    samples = whole_number("samples", samples, minimum=2)
    d = stack.thicknesses
    scale = s * d if relative else np.broadcast_to(s, (layers,))
    rng = np.random.default_rng(seed)
    drawn = np.maximum(d + rng.standard_normal((samples, layers)) * scale, 0.0)
    batch = np.concatenate([d[None, :], drawn])
    residuals, values = evaluator.residuals_batch(batch)
    merits = np.sqrt(np.mean(np.square(residuals), axis=1))
    spreads = [TargetSpread(v[1:], v[1:].mean(axis=0), v[1:].std(axis=0, ddof=1), v[0]) for v in values]
    sampled = merits[1:]
    return ToleranceResult(sampled, float(merits[0]), float(sampled.mean()), float(sampled.std(ddof=1)),
                           np.percentile(sampled, [5, 50, 95]), spreads, drawn)
