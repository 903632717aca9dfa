"""The Gauss rules the averages use, with the types NumPy's own functions do not declare on
every supported NumPy."""

from __future__ import annotations

import functools
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]
IntArray = npt.NDArray[np.int64]

# Nodes of the nested rules are keyed by their index on the finest grid, this many halvings
# below level 0: level L's nodes are the multiples of key_stride(L), its new ones the odd ones.
KEY_BITS = 20


def key_stride(level: int) -> int:
    """The spacing of the keys of a nested rule's nodes at `level`."""
    return 1 << (KEY_BITS - level)


def unique_keys(keys: IntArray, stride: int) -> tuple[IntArray, IntArray]:
    """The distinct `keys` (multiples of `stride`), ascending, and where each occurs in the
    flattened array. Keys of nested rules fill a short range of multiples, which a mask
    sorts in one pass; a long range falls back to a sort."""
    flat = keys.ravel()
    if flat.size == 0:
        return flat, np.zeros(0, dtype=np.int64)
    scaled = flat // stride
    low = int(scaled.min())
    span = int(scaled.max()) - low + 1
    if span > 8 * flat.size + 1024:
        found, first = np.unique(flat, return_index=True)
        return found, np.asarray(first, dtype=np.int64)
    where = np.full(span, -1, dtype=np.int64)
    where[scaled - low] = np.arange(flat.size)
    present = np.flatnonzero(where >= 0)
    return (present + low) * stride, where[present]

_legendre: Callable[[int], tuple[Any, Any]] = np.polynomial.legendre.leggauss
_hermite: Callable[[int], tuple[Any, Any]] = np.polynomial.hermite_e.hermegauss


@functools.lru_cache(maxsize=16)
def gauss_legendre(count: int) -> tuple[FloatArray, FloatArray]:
    """Nodes in (-1, 1) and weights of the `count`-point Gauss-Legendre rule (read-only:
    every level of a cone takes the same rule, which NumPy computes anew each time)."""
    x, w = (np.array(part, dtype=np.float64) for part in _legendre(count))
    x.flags.writeable = w.flags.writeable = False
    return x, w


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
