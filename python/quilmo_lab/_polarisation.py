"""The one polarisation vocabulary of quilmo_lab, the power weights it stands for, and the phase wrap.

Where powers are weighted, `polarisation` is "s", "p", "unpolarized" (the mean of s and p)
or an angle phi in radians, of which a fraction cos^2(phi) of the power is s-polarised and
sin^2(phi) p-polarised. "s" and "p" give the s or p quantity itself; the angles 0 and pi/2
weight both (so a NaN in the other polarisation shows), as quilmo.DataPy does.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import Any, Literal, TypeAlias

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import type_name

FloatArray = npt.NDArray[np.float64]

Named = Literal["s", "p", "unpolarized"]
# What every weighted quantity takes: a name, or polarisation angles in radians.
Polarisation: TypeAlias = Named | float | npt.NDArray[np.floating[Any]] | Sequence[float]
NAMES: tuple[Named, ...] = ("s", "p", "unpolarized")


def power_weights(phi: float | npt.ArrayLike) -> tuple[float, float] | tuple[FloatArray, FloatArray]:
    """cos^2(phi) and sin^2(phi) from the C library's cos and sin, as quilmo.DataPy takes
    them (NumPy's own vectorised sine may round differently in the last bit)."""
    if np.ndim(phi) == 0:
        angle = float(phi)  # type: ignore[arg-type]
        c, s = math.cos(angle), math.sin(angle)
        return c * c, s * s
    angles = np.asarray(phi, dtype=np.float64)
    cosines = np.asarray(np.frompyfunc(math.cos, 1, 1)(angles), dtype=np.float64)
    sines = np.asarray(np.frompyfunc(math.sin, 1, 1)(angles), dtype=np.float64)
    return cosines * cosines, sines * sines


def check_polarisation(polarisation: object, name: str = "polarisation") -> None:
    """Refuses anything that is neither one of NAMES nor real angles."""
    expected = "'s', 'p', 'unpolarized' or an angle in radians"
    if isinstance(polarisation, str):
        if polarisation not in NAMES:
            raise ValueError(f"{name} must be {expected}; received {polarisation!r}")
        return
    if isinstance(polarisation, bool):
        raise TypeError(f"{name} must be {expected}; received bool")
    try:
        kind = np.asarray(polarisation).dtype.kind
    except (TypeError, ValueError):
        kind = "O"
    if kind not in "iuf":
        raise TypeError(f"{name} must be {expected}; received {type_name(polarisation)}")


def polarised(s: FloatArray, p: FloatArray, polarisation: Polarisation, *, layer_axis: bool = False
              ) -> FloatArray:
    """The quantity of `polarisation` from its s and p parts.

    Angle arrays broadcast against the (B, A, W) grid; with `layer_axis` the parts have a
    layer axis before the wavelengths, (B, A, layers, W), and the weights are put onto it.
    """
    check_polarisation(polarisation)
    if isinstance(polarisation, str):
        if polarisation == "unpolarized":
            return np.asarray(0.5 * (s + p), dtype=np.float64)
        return np.array(s if polarisation == "s" else p, dtype=np.float64)
    cc, ss = power_weights(polarisation)
    if layer_axis and np.ndim(cc) >= 1:
        cc, ss = np.expand_dims(cc, -2), np.expand_dims(ss, -2)
    return np.asarray(s * cc + p * ss, dtype=np.float64)


def wrapped_phase(difference: npt.ArrayLike) -> FloatArray:
    """A phase difference the shorter way round, in [-pi, pi)."""
    return np.asarray(np.remainder(np.add(difference, np.pi), 2 * np.pi) - np.pi, dtype=np.float64)
