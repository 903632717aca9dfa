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
    """The merit of a design: the root mean square of the weighted residuals of its targets.

    Parameters
    ----------
    stack : Stack
        The design.
    targets : sequence of Target
        What it should do.
    threads : int, optional
        Worker threads of the solves.

    Returns
    -------
    float
        sqrt(mean(weight (deviation / tolerance)²)) over every target wavelength, where a
        bound counts only where it is violated; 0 for a design that meets every target.

    Raises
    ------
    TypeError, ValueError
        For targets that are not Targets, or phase targets on a stack with incoherent layers.

    See Also
    --------
    refine : Lowers the merit by adjusting thicknesses.

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> round(design.merit(ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52), [target]), 4)
    1.6024
    """
    return Evaluator(stack, targets, threads).evaluate(stack.thicknesses, jacobian=False).merit


__all__ = [
    "Evaluator", "NeedleResult", "NeedleStep", "Refined", "Target", "TargetSpread", "ToleranceResult", "merit",
    "needle", "needle_function", "refine", "tolerance", "with_thicknesses",
]
