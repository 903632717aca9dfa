"""SciPy, an optional dependency of design and fit, imported on first use."""

from __future__ import annotations

from typing import Any


def least_squares(what: str) -> Any:
    """scipy.optimize.least_squares, or an ImportError that says who needs it."""
    try:
        from scipy.optimize import least_squares as solver  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        raise ImportError(f"{what} needs SciPy: pip install scipy (or the quilmo[design] extra)") from None
    return solver
