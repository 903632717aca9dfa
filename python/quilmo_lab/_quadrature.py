"""The Gauss rules the averages use, with the types NumPy's own functions do not declare on
every supported NumPy."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]

_legendre: Callable[[int], tuple[Any, Any]] = np.polynomial.legendre.leggauss
_hermite: Callable[[int], tuple[Any, Any]] = np.polynomial.hermite_e.hermegauss


def gauss_legendre(count: int) -> tuple[FloatArray, FloatArray]:
    """Nodes in (-1, 1) and weights of the `count`-point Gauss-Legendre rule."""
    x, w = _legendre(count)
    return np.asarray(x, dtype=np.float64), np.asarray(w, dtype=np.float64)


def gauss_hermite(count: int) -> tuple[FloatArray, FloatArray]:
    """Nodes and weights of the `count`-point Gauss-Hermite rule for exp(-x^2 / 2)."""
    x, w = _hermite(count)
    return np.asarray(x, dtype=np.float64), np.asarray(w, dtype=np.float64)
