"""Design targets: what a coating should do, where, and how much each point matters."""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import axis, choice, incidence_angles, per_wavelength, real_number
from quilmo_lab._polarisation import Polarisation, check_polarisation, wrapped_phase
from quilmo_lab.dispersion import SIDES, Side

FloatArray = npt.NDArray[np.float64]

# Power fractions of the incident light, and the phase of r or t with its frequency derivatives.
POWER_QUANTITIES = ("R", "T", "A")
PHASE_QUANTITIES = ("phase", "GD", "GDD")
QUANTITIES = POWER_QUANTITIES + PHASE_QUANTITIES


class Target:
    """One requirement on a spectrum: what a coating should do, where, and how much it matters.

    Parameters
    ----------
    quantity : {"R", "T", "A", "phase", "GD", "GDD"}
        R, T or A = 1 - R - T (fractions of the incident power), or the phase (rad),
        group delay (fs) or group delay dispersion (fs²) of the amplitude on `side`.
    wavelengths : array_like
        Vacuum wavelengths in nm, (W,).
    value : float or array_like, optional
        The value to aim at, a number or one per wavelength.
    at_most, at_least : float or array_like, optional
        Bounds, either or both, instead of `value`: only a violation counts.
    angle : float, optional
        The angle of incidence in radians.
    polarisation : {"unpolarized", "s", "p"} or float, optional
        For powers: "s", "p", "unpolarized" (the mean of s and p) or an angle in radians
        weighting s by cos² and p by sin²; for phases "s" or "p".
    side : {"r", "t"}, optional
        The amplitude of a phase target: reflected or transmitted.
    tolerance : float, optional
        The deviation that counts as one unit of merit, positive.
    weight : float, optional
        The factor of this target's squared residuals, positive.

    Raises
    ------
    TypeError, ValueError
        For a quantity, polarisation or side outside the choices, both or neither of a
        value and bounds, or levels that are not one per wavelength.

    See Also
    --------
    merit, refine, needle, tolerance : What targets are for.

    Examples
    --------
    >>> from quilmo_lab.design import Target
    >>> Target("R", np.linspace(420.0, 680.0, 27), value=0.0, tolerance=0.001).size
    27
    >>> band = Target("T", [500.0, 600.0], at_least=0.95, angle=0.3, polarisation="p")
    >>> print(band.at_least, band.value)
    [0.95 0.95] None
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
        self._angle = float(incidence_angles("angle", real_number("angle", angle), "1")[0])
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
        """What the target constrains: "R", "T", "A", "phase", "GD" or "GDD".

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("GDD", [800.0], value=0.0, polarisation="s").quantity
        'GDD'
        """
        return self._quantity

    @property
    def wavelengths(self) -> FloatArray:
        """The target's wavelengths in nm, (W,).

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("R", [500, 600], value=0.0).wavelengths
        array([500., 600.])
        """
        return self._wavelengths

    @property
    def angle(self) -> float:
        """The angle of incidence in radians.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("R", [500.0], value=0.0, angle=0.5).angle
        0.5
        """
        return self._angle

    @property
    def polarisation(self) -> Polarisation:
        """The polarisation the target constrains.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("R", [500.0], value=0.0).polarisation
        'unpolarized'
        """
        return self._polarisation

    @property
    def side(self) -> Side:
        """"r" or "t": the amplitude whose phase a phase target constrains.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("GD", [800.0], value=10.0, side="t", polarisation="p").side
        't'
        """
        return self._side

    @property
    def tolerance(self) -> float:
        """The deviation that counts as one unit of merit.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("R", [500.0], value=0.0, tolerance=0.01).tolerance
        0.01
        """
        return self._tolerance

    @property
    def weight(self) -> float:
        """The factor of this target's squared residuals.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("R", [500.0], value=0.0, weight=4).weight
        4.0
        """
        return self._weight

    @property
    def value(self) -> FloatArray | None:
        """The values aimed at, one per wavelength, or None for a bound.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("R", [500.0, 600.0], value=0.01).value
        array([0.01, 0.01])
        """
        return self._levels["value"]

    @property
    def at_most(self) -> FloatArray | None:
        """The upper bound, one per wavelength, or None.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("R", [500.0, 600.0], at_most=[0.01, 0.02]).at_most
        array([0.01, 0.02])
        """
        return self._levels["at_most"]

    @property
    def at_least(self) -> FloatArray | None:
        """The lower bound, one per wavelength, or None.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> print(Target("T", [500.0], at_least=0.9).at_least)
        [0.9]
        """
        return self._levels["at_least"]

    @property
    def size(self) -> int:
        """The number of wavelengths.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> Target("R", [500.0, 550.0, 600.0], value=0.0).size
        3
        """
        return int(self._wavelengths.size)

    def residuals(self, values: FloatArray) -> FloatArray:
        """The weighted residuals of the target's quantity.

        Parameters
        ----------
        values : ndarray
            The quantity at the target's wavelengths, (..., W).

        Returns
        -------
        ndarray
            sqrt(weight) (values - value) / tolerance, or the violation of the bounds (zero
            where they hold); phase deviations the shorter way round.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> t = Target("R", [500.0, 600.0], at_most=0.1, tolerance=0.1)
        >>> print(t.residuals(np.array([0.05, 0.3])))
        [0. 2.]
        """
        return self._scaled(self._deviation(values))

    def residual_jacobian(self, values: FloatArray, jacobian: FloatArray) -> FloatArray:
        """The derivatives of the residuals by some parameters, from those of the values.

        Parameters
        ----------
        values : ndarray
            The quantity at the target's wavelengths, (W,).
        jacobian : ndarray
            d values / d parameters, (W, P).

        Returns
        -------
        ndarray
            d residuals / d parameters, (W, P): zero where a bound holds.

        Examples
        --------
        >>> from quilmo_lab.design import Target
        >>> t = Target("R", [500.0, 600.0], at_most=0.1, tolerance=0.1)
        >>> print(t.residual_jacobian(np.array([0.05, 0.3]), np.array([[1.0], [1.0]])))
        [[ 0.]
         [10.]]
        """
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
