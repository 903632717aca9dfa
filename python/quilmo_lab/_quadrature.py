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


def clenshaw_curtis(count: int) -> tuple[FloatArray, FloatArray]:
    """Nodes cos(j pi / count), j = 0 ... count (even), and weights of the Clenshaw-Curtis rule
    over (-1, 1): doubling `count` keeps every node, so each level reuses the last one's."""
    j = np.arange(count + 1)
    k = np.arange(1, count // 2 + 1)
    halving = np.where(2 * k == count, 1.0, 2.0) / (4.0 * k**2 - 1.0)
    ends = np.where((j == 0) | (j == count), 1.0, 2.0)
    weights = ends / count * (1.0 - halving @ np.cos(np.outer(2 * k, j) * (np.pi / count)))
    return np.cos(j * (np.pi / count)), np.asarray(weights, dtype=np.float64)
