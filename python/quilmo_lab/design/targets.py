"""Design targets: what a coating should do, where, and how much each point matters."""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import axis, choice, per_wavelength, real_number
from quilmo_lab._polarisation import Polarisation, check_polarisation, wrapped_phase
from quilmo_lab.dispersion import SIDES, Side

FloatArray = npt.NDArray[np.float64]

# Power fractions of the incident light, and the phase of r or t with its frequency derivatives.
POWER_QUANTITIES = ("R", "T", "A")
PHASE_QUANTITIES = ("phase", "GD", "GDD")
QUANTITIES = POWER_QUANTITIES + PHASE_QUANTITIES


class Target:
    """One requirement on a spectrum.

    quantity: "R", "T" or "A" (fractions of the incident power; A = 1 - R - T), or
        "phase" (rad), "GD" (fs) or "GDD" (fs²) of the amplitude on `side` ("r" or "t").
    wavelengths: vacuum wavelengths in nm. angle: angle of incidence, radians.
    polarisation: "s", "p", "unpolarized" (the mean of s and p) or an angle in radians
        for powers; "s" or "p" for phases.
    Exactly one of `value` (aim at it) or the bounds `at_most` / `at_least` (either or
    both: only a violation counts), each a number or one per wavelength.
    tolerance: the deviation that counts as one unit of merit; weight multiplies the
    squared residuals of this target.
    """

    def __init__(self, quantity: str, wavelengths: npt.ArrayLike, value: npt.ArrayLike | None = None, *,
                 at_most: npt.ArrayLike | None = None, at_least: npt.ArrayLike | None = None, angle: float = 0.0,
                 polarisation: Polarisation = "unpolarized", side: Side = "r", tolerance: float = 1.0,
                 weight: float = 1.0) -> None:
        self._quantity = choice("quantity", quantity, QUANTITIES)
        wl = axis("wavelengths", wavelengths, "W")
        if wl.size == 0:
            raise ValueError("wavelengths must hold at least one wavelength; received none")
        self._wavelengths = wl
        self._angle = real_number("angle", angle)
        self._tolerance = real_number("tolerance", tolerance, minimum=0.0, strictly=True)
        self._weight = real_number("weight", weight, minimum=0.0, strictly=True)
        check_polarisation(polarisation)
        if self._quantity in PHASE_QUANTITIES and not (isinstance(polarisation, str) and polarisation in ("s", "p")):
            raise ValueError(f"polarisation must be 's' or 'p' for a {self._quantity} target (the phase of "
                             f"unpolarised light is not defined); received {polarisation!r}")
        self._polarisation = polarisation
        self._side = choice("side", side, SIDES)
        given = {"value": value, "at_most": at_most, "at_least": at_least}
        self._levels = {name: None if level is None else per_wavelength(name, level, wl.size)
                        for name, level in given.items()}
        if (value is not None) == (at_most is not None or at_least is not None):
            raise ValueError("a target must have either value= or at least one of at_most= / at_least=; "
                             f"received value={value!r}, at_most={at_most!r}, at_least={at_least!r}")

    @property
    def quantity(self) -> str:
        """What the target constrains: "R", "T", "A", "phase", "GD" or "GDD"."""
        return self._quantity

    @property
    def wavelengths(self) -> FloatArray:
        """The target's wavelengths in nm, (W,)."""
        return self._wavelengths

    @property
    def angle(self) -> float:
        """The angle of incidence in radians."""
        return self._angle

    @property
    def polarisation(self) -> Polarisation:
        """The polarisation the target constrains."""
        return self._polarisation

    @property
    def side(self) -> Side:
        """"r" or "t": the amplitude whose phase a phase target constrains."""
        return self._side

    @property
    def tolerance(self) -> float:
        """The deviation that counts as one unit of merit."""
        return self._tolerance

    @property
    def weight(self) -> float:
        """The factor of this target's squared residuals."""
        return self._weight

    @property
    def value(self) -> FloatArray | None:
        """The values aimed at, one per wavelength, or None for a bound."""
        return self._levels["value"]

    @property
    def at_most(self) -> FloatArray | None:
        """The upper bound, one per wavelength, or None."""
        return self._levels["at_most"]

    @property
    def at_least(self) -> FloatArray | None:
        """The lower bound, one per wavelength, or None."""
        return self._levels["at_least"]

    @property
    def size(self) -> int:
        """The number of wavelengths."""
        return int(self._wavelengths.size)

    def residuals(self, values: FloatArray) -> FloatArray:
        """Weighted residuals of `values` (..., W): zero where a bound holds."""
        return self._scaled(self._deviation(values))

    def residual_jacobian(self, values: FloatArray, jacobian: FloatArray) -> FloatArray:
        """d residuals / d parameters from d values / d parameters of shape (W, P)."""
        active = self._deviation(values) != 0.0
        return self._scaled(np.where(active[:, None], jacobian, 0.0))

    def _deviation(self, values: FloatArray) -> FloatArray:
        value, upper, lower = self.value, self.at_most, self.at_least
        if value is not None:
            deviation = values - value
            if self._quantity == "phase":  # the shorter way round
                deviation = wrapped_phase(deviation)
            return np.asarray(deviation, dtype=np.float64)
        deviation = np.zeros(np.shape(values))
        if upper is not None:
            deviation = np.maximum(values - upper, 0.0)
        if lower is not None:
            deviation = deviation + np.minimum(values - lower, 0.0)
        return np.asarray(deviation, dtype=np.float64)

    def _scaled(self, array: FloatArray) -> FloatArray:
        return np.asarray(array * (math.sqrt(self._weight) / self._tolerance), dtype=np.float64)

    def __repr__(self) -> str:
        aim = ", ".join(f"{name}=..." for name in ("value", "at_most", "at_least") if self._levels[name] is not None)
        return (f"Target({self._quantity!r}, {self.size} wavelengths {self._wavelengths.min():g}-"
                f"{self._wavelengths.max():g} nm, {aim}, angle={self._angle:g}, "
                f"polarisation={self._polarisation!r}, side={self._side!r})")
