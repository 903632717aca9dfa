"""tmm's arguments read and checked: the stack's lists and the angle of incidence."""

from __future__ import annotations

import cmath
import math
from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab.tmm._interface import ArrayLike, EPSILON


def _stack_lists(n_list: ArrayLike, d_list: ArrayLike) -> tuple[npt.NDArray[np.complex128], npt.NDArray[np.float64]]:
    n = np.ascontiguousarray(n_list, dtype=np.complex128)
    d = np.ascontiguousarray(d_list, dtype=np.float64)
    if n.ndim != 1 or n.shape != d.shape or n.size < 2:
        raise ValueError("n_list and d_list must be one-dimensional lists of the same length, at least 2 "
                         f"(incidence and exit medium); received {n.size} indices and {d.size} thicknesses")
    if d[0] != math.inf or d[-1] != math.inf:
        raise ValueError(f"d_list must start and end with inf (the outer media); received {d[0]!r} and {d[-1]!r}")
    return n, d


def _incidence(n0: complex, th_0: Any) -> Any:
    """th_0 checked: n_0 sin(th_0) real and the angle forward in the incidence medium."""
    th: Any
    if isinstance(th_0, float):  # the commonest call, valid where the checks below would pass
        real, imag = n0.real, n0.imag  # numpy's scalar attributes once: Python's arithmetic after
        if imag == 0 and math.isfinite(th_0) and math.isfinite(real) and real * math.cos(th_0) > 0:
            return complex(th_0)
    if isinstance(th_0, (int, float, complex, np.number)) and not isinstance(th_0, bool):
        th = complex(th_0)
        tangential, cosine = complex(n0) * cmath.sin(th), complex(n0) * cmath.cos(th)
        real_tangential = abs(tangential.imag) < 100 * EPSILON
        forward = cosine.imag > 0 if abs(cosine.imag) > 100 * EPSILON else cosine.real > 0
    else:
        th = np.asarray(th_0)
        if th.dtype.kind not in "iufc":
            raise TypeError(f"th_0 must be angles in radians; received dtype {th.dtype}")
        tangential, cosine = n0 * np.sin(th), n0 * np.cos(th)
        real_tangential = not np.any(np.abs(tangential.imag) >= 100 * EPSILON)
        forward = bool(np.all(np.where(np.abs(cosine.imag) > 100 * EPSILON, cosine.imag > 0, cosine.real > 0)))
    if not real_tangential:
        raise ValueError("n_list[0] * sin(th_0) must be real: an absorbing incidence medium takes the complex "
                         f"angle whose n_0 sin(th_0) is real; received {np.ravel(tangential)[0]!r}")
    if not forward:
        raise ValueError(f"th_0 must be a forward angle in the incidence medium; received {np.ravel(th_0)[0]!r}")
    return th


def _engine_angles(th: npt.NDArray[Any]) -> npt.NDArray[Any]:
    """The engine's angles: float64, or complex128 where any has an imaginary part."""
    if th.dtype.kind == "c" and th.imag.any():
        return np.ascontiguousarray(th, dtype=np.complex128)
    return np.ascontiguousarray(th.real, dtype=np.float64)
