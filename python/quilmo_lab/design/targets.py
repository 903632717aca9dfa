"""Design targets: what a coating should do, where, and how much each point matters."""

from __future__ import annotations

import math
import numbers
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]

# Power fractions of the incident light, and the phase of r or t with its frequency derivatives.
POWER_QUANTITIES = ("R", "T", "A")
PHASE_QUANTITIES = ("phase", "GD", "GDD")
QUANTITIES = POWER_QUANTITIES + PHASE_QUANTITIES
POLARISATIONS = ("s", "p", "mean")


def _real(name: str, value: object, *, positive: bool = False) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number; received {type(value).__name__}")
    number = float(value)
    if not math.isfinite(number) or (positive and number <= 0.0):
        raise ValueError(f"{name} must be {'positive and ' if positive else ''}finite; received {number!r}")
    return number


def _level(name: str, value: object, count: int) -> FloatArray | None:
    if value is None:
        return None
    array = np.asarray(value)
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{name} must be a real number or one per wavelength; received dtype {array.dtype}")
    array = np.broadcast_to(array.astype(np.float64), (count,)) if array.ndim == 0 else array.astype(np.float64)
    if array.shape != (count,):
        raise ValueError(f"{name} has shape {array.shape}; expected a scalar or ({count},), one per wavelength")
    return np.array(array)


@dataclass(frozen=True, eq=False)
class Target:
    """One requirement on a spectrum.

    quantity: "R", "T" or "A" (fractions of the incident power; A = 1 - R - T), or
        "phase" (rad), "GD" (fs) or "GDD" (fs²) of the amplitude on `side` ("r" or "t").
    wavelengths: vacuum wavelengths in nm. angle: angle of incidence, radians.
    polarisation: "s", "p" or "mean" (unpolarised light: the mean of s and p; powers only).
    Exactly one of `value` (aim at it) or the bounds `at_most` / `at_least` (either or
    both: only a violation counts), each a number or one per wavelength.
    tolerance: the deviation that counts as one unit of merit; weight multiplies the
    squared residuals of this target.
    """

    quantity: str
    wavelengths: Any
    value: Any = None
    at_most: Any = None
    at_least: Any = None
    angle: float = 0.0
    polarisation: str = "mean"
    side: str = "r"
    tolerance: float = 1.0
    weight: float = 1.0
    # filled in by __post_init__
    levels: dict[str, FloatArray | None] = field(init=False, repr=False, compare=False)

    def __post_init__(self) -> None:
        if self.quantity not in QUANTITIES:
            raise ValueError(f"quantity must be one of {', '.join(QUANTITIES)}; received {self.quantity!r}")
        wl = np.asarray(self.wavelengths)
        if wl.dtype.kind not in "iuf":
            raise TypeError(f"wavelengths must be real numbers in nm; received dtype {wl.dtype}")
        wl = np.ascontiguousarray(np.atleast_1d(wl), dtype=np.float64)
        if wl.ndim != 1 or wl.size == 0:
            raise ValueError(f"wavelengths must have shape (W,) with W >= 1; received shape {wl.shape}")
        object.__setattr__(self, "wavelengths", wl)
        object.__setattr__(self, "angle", _real("angle", self.angle))
        object.__setattr__(self, "tolerance", _real("tolerance", self.tolerance, positive=True))
        object.__setattr__(self, "weight", _real("weight", self.weight, positive=True))
        if self.polarisation not in POLARISATIONS:
            raise ValueError(f"polarisation must be 's', 'p' or 'mean'; received {self.polarisation!r}")
        if self.quantity in PHASE_QUANTITIES and self.polarisation == "mean":
            raise ValueError(f"a {self.quantity} target needs polarisation 's' or 'p' "
                             "(the phase of unpolarised light is not defined)")
        if self.side not in ("r", "t"):
            raise ValueError(f"side must be 'r' or 't'; received {self.side!r}")
        levels = {name: _level(name, getattr(self, name), wl.size) for name in ("value", "at_most", "at_least")}
        has_value = levels["value"] is not None
        has_bound = levels["at_most"] is not None or levels["at_least"] is not None
        if has_value == has_bound:
            raise ValueError("a target needs either value= or at least one of at_most= / at_least=; "
                             f"received value={self.value!r}, at_most={self.at_most!r}, at_least={self.at_least!r}")
        object.__setattr__(self, "levels", levels)

    @property
    def size(self) -> int:
        return int(self.wavelengths.size)

    def residuals(self, values: FloatArray) -> FloatArray:
        """Weighted residuals of `values` (..., W): zero where a bound holds."""
        return self._scaled(self._deviation(values))

    def residual_jacobian(self, values: FloatArray, jacobian: FloatArray) -> FloatArray:
        """d residuals / d parameters from d values / d parameters of shape (W, P)."""
        active = self._deviation(values) != 0.0
        return self._scaled(np.where(active[:, None], jacobian, 0.0))

    def _deviation(self, values: FloatArray) -> FloatArray:
        value, upper, lower = self.levels["value"], self.levels["at_most"], self.levels["at_least"]
        if value is not None:
            deviation = values - value
            if self.quantity == "phase":  # the shorter way round
                deviation = np.remainder(deviation + np.pi, 2 * np.pi) - np.pi
            return np.asarray(deviation, dtype=np.float64)
        deviation = np.zeros(np.shape(values))
        if upper is not None:
            deviation = np.maximum(values - upper, 0.0)
        if lower is not None:
            deviation = deviation + np.minimum(values - lower, 0.0)
        return np.asarray(deviation, dtype=np.float64)

    def _scaled(self, array: FloatArray) -> FloatArray:
        return np.asarray(array * (math.sqrt(self.weight) / self.tolerance), dtype=np.float64)
