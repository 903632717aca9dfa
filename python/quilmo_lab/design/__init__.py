"""Coating design: targets, merit, refinement, needle optimisation and tolerancing.

Targets say what a coating should do (Target); merit(stack, targets) is the root mean
square of their weighted residuals; refine adjusts thicknesses with the analytic
Jacobian; needle grows a design by inserting thin layers where they help most;
tolerance spreads random thickness errors over a batch of designs. Needs SciPy for
refine and needle.
"""

from __future__ import annotations

from collections.abc import Sequence

from quilmo_lab.design.editing import with_thicknesses
from quilmo_lab.design.evaluation import Evaluator
from quilmo_lab.design.needle import NeedleResult, NeedleStep, needle, needle_function
from quilmo_lab.design.refine import Refined, refine
from quilmo_lab.design.targets import Target
from quilmo_lab.design.tolerance import TargetSpread, ToleranceResult, tolerance
from quilmo_lab.stack import Stack


def merit(stack: Stack, targets: Sequence[Target], *, threads: int | None = None) -> float:
    """Root mean square of the weighted residuals of `targets` for `stack`:
    sqrt(mean(weight * (deviation / tolerance)^2)) over every target wavelength, where a
    bound contributes only where it is violated."""
    return Evaluator(stack, targets, threads).evaluate(stack.thicknesses, jacobian=False).merit


__all__ = [
    "Evaluator", "NeedleResult", "NeedleStep", "Refined", "Target", "TargetSpread", "ToleranceResult", "merit",
    "needle", "needle_function", "refine", "tolerance", "with_thicknesses",
]
