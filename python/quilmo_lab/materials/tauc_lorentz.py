"""The Tauc–Lorentz model of amorphous semiconductors and dielectric films."""

from __future__ import annotations

import math
from typing import Any

import numpy as np

from quilmo_lab._checks import real_number
from quilmo_lab.materials.base import ComplexArray, HC_EV_NM, Material, RealArray, index_derivative, index_from_permittivity
from quilmo_lab.materials._dual import ArrayOps, Dual, DualOps


class TaucLorentz(Material):
    """The Tauc–Lorentz model of amorphous semiconductors and dielectric films.

    Parameters
    ----------
    A : float
        The amplitude in eV, non-negative.
    E0 : float
        The peak transition energy in eV, positive.
    C : float
        The broadening in eV, positive and less than 2·E0.
    Eg : float
        The band gap in eV, non-negative.
    eps_inf : float, optional
        ε₁(∞).
    name, valid_range, extrapolate : optional
        As for `Material`: the name a Stack shows, the (low, high) wavelengths in nm where
        the model holds (default: all), and whether to evaluate outside them.

    Raises
    ------
    TypeError, ValueError
        For parameters outside their ranges.

    Notes
    -----
    ε₂(E) = A E₀ C (E − E_g)² / ((E² − E₀²)² + C²E²) / E above the gap and 0 below it,
    with the photon energy E = hc/λ in eV; ε₁ is the closed-form Kramers–Kronig
    transform of ε₂ of Jellison and Modine [1]_ plus ε₁(∞).

    References
    ----------
    .. [1] G. E. Jellison Jr. and F. A. Modine, "Parameterization of the optical functions
       of amorphous materials in the interband region", Appl. Phys. Lett. 69, 371 (1996);
       erratum 69, 2137 (1996).

    Examples
    --------
    >>> film = ql.TaucLorentz(100.0, 3.5, 1.5, 1.2)
    >>> print(np.round(film(500.0), 3))
    (4.543+0.747j)
    """

    def __init__(self, A: float, E0: float, C: float, Eg: float, *, eps_inf: float = 1.0,
                 name: str | None = None, valid_range: tuple[float, float] = (0.0, math.inf),
                 extrapolate: bool = False) -> None:
        self.A = real_number("A", A, minimum=0.0)
        self.E0 = real_number("E0", E0, minimum=0.0, strictly=True)
        self.C = real_number("C", C, minimum=0.0, strictly=True)
        self.Eg = real_number("Eg", Eg, minimum=0.0)
        if not self.C < 2.0 * self.E0:
            raise ValueError(f"C must be less than 2·E0 = {2.0 * self.E0:g} eV; received {self.C:g}")
        self.eps_inf = real_number("eps_inf", eps_inf)
        super().__init__(name=name, valid_range=valid_range, extrapolate=extrapolate)
        try:
            self._constants()
        except (ZeroDivisionError, ValueError, OverflowError):
            # E0 = Eg with a vanishing C, or parameters so far apart that a constant overflows
            raise ValueError(f"A, E0, C and Eg must leave the closed form finite (Eg apart from E0 unless C is "
                             f"broad); received A={self.A:g}, E0={self.E0:g}, C={self.C:g}, Eg={self.Eg:g}") from None

    def _default_name(self) -> str:
        return "TaucLorentz"

    def _constants(self) -> None:
        A, E0, C, Eg = self.A, self.E0, self.C, self.Eg
        self._alpha = math.sqrt(4.0 * E0 * E0 - C * C)
        self._gamma_square = E0 * E0 - C * C / 2.0
        alpha, pi = self._alpha, math.pi
        sum_square = E0 * E0 + Eg * Eg
        # Energy-independent factors of the closed form.
        log_ratio = math.log((sum_square + alpha * Eg) / (sum_square - alpha * Eg))
        arctan_sum = pi - math.atan((2.0 * Eg + alpha) / C) + math.atan((alpha - 2.0 * Eg) / C)
        arctan_gap = pi + 2.0 * math.atan(2.0 * (self._gamma_square - Eg * Eg) / (alpha * C))
        c_log = A * C * log_ratio / (2.0 * pi * alpha * E0)
        c_atan = A * arctan_sum / (pi * E0)
        c_gap = 2.0 * A * E0 * Eg * arctan_gap / (pi * alpha)
        # The paper's a_ln, a_atan and (E² − γ²) terms are all linear in E²: their sum is
        # slope·E² + offset.
        self._slope = c_log * (Eg * Eg - E0 * E0) - c_atan * (E0 * E0 + Eg * Eg) + c_gap
        self._offset = (c_log * (Eg * Eg * C * C - E0 * E0 * (E0 * E0 + 3.0 * Eg * Eg))
                        - c_atan * (Eg * Eg * C * C - E0 * E0 * (E0 * E0 + Eg * Eg))
                        - c_gap * self._gamma_square)
        self._c_tail = A * E0 * C / pi
        self._log_norm = Eg * math.log((E0 * E0 - Eg * Eg) ** 2 + Eg * Eg * C * C)

    # Both parts are written with augmented assignments: in place on arrays (few temporaries at
    # 10^6 wavelengths), new objects on Dual numbers.
    def _real_part(self, E: Any, ops: Any) -> Any:
        square = E * E
        numerator = self._slope * square
        numerator += self._offset
        zeta4 = square - self._gamma_square
        zeta4 *= zeta4
        zeta4 += self._alpha * self._alpha * self.C * self.C / 4.0
        # The two logarithms of |E − Eg| in the paper combine into (E − Eg)² ln|E − Eg| / E,
        # which stays finite at the gap.
        above = E + self.Eg
        tail = ops.log(above)
        tail *= above
        tail *= above
        tail -= ops.square_log_abs(E - self.Eg)
        tail /= E
        tail -= self._log_norm
        tail *= self._c_tail
        numerator += tail
        numerator /= zeta4
        numerator += self.eps_inf
        return numerator

    def _imaginary_part(self, E: Any, gap_mask: Any) -> Any:
        square = E * E
        denominator = square - self.E0 * self.E0
        denominator *= denominator
        denominator += (self.C * self.C) * square
        denominator *= E
        numerator = E - self.Eg
        numerator *= numerator
        numerator *= self.A * self.E0 * self.C
        numerator *= gap_mask
        numerator /= denominator
        return numerator

    def _index(self, wl: RealArray) -> ComplexArray:
        E = HC_EV_NM / wl
        eps = np.empty(wl.shape, np.complex128)
        eps.real = self._real_part(E, ArrayOps)
        eps.imag = self._imaginary_part(E, E > self.Eg)
        return index_from_permittivity(eps)

    def _derivative(self, wl: RealArray) -> ComplexArray:
        E = Dual(HC_EV_NM / wl, -HC_EV_NM / (wl * wl))
        real = self._real_part(E, DualOps)
        imaginary = self._imaginary_part(E, E.value > self.Eg)
        eps = real.value + 1j * imaginary.value
        return index_derivative(index_from_permittivity(eps), real.slope + 1j * imaginary.slope)
