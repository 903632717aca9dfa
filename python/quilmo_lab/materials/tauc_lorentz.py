"""The Tauc–Lorentz model of amorphous semiconductors and dielectric films."""

from __future__ import annotations

import math

import numpy as np

from .base import HC_EV_NM, Material, index_derivative, index_from_permittivity, real_parameter
from .dual import ArrayOps, Dual, DualOps


class TaucLorentz(Material):
    """Jellison & Modine, Appl. Phys. Lett. 69, 371 (1996); erratum 69, 2137 (1996).

    ε₂(E) = A E₀ C (E − E_g)² / ((E² − E₀²)² + C²E²) / E above the gap E_g and 0 below it, with
    photon energy E = hc/λ in eV, amplitude A (eV), peak E₀ (eV), broadening C < 2E₀ (eV).  ε₁ is
    the paper's closed-form Kramers–Kronig transform of ε₂ plus ε₁(∞) = `eps_inf`.
    """

    def __init__(self, A: float, E0: float, C: float, Eg: float, *, eps_inf: float = 1.0,
                 name: str | None = None, valid_range=(0.0, math.inf), extrapolate: bool = False) -> None:
        self.A = real_parameter("A", A, minimum=0.0)
        self.E0 = real_parameter("E0", E0, minimum=0.0, strictly=True)
        self.C = real_parameter("C", C, minimum=0.0, strictly=True)
        self.Eg = real_parameter("Eg", Eg, minimum=0.0)
        if not self.C < 2.0 * self.E0:
            raise ValueError(f"C must be less than 2·E0 = {2.0 * self.E0:g} eV; got {self.C:g}")
        self.eps_inf = real_parameter("eps_inf", eps_inf)
        super().__init__(name=name, valid_range=valid_range, extrapolate=extrapolate)
        self._constants()

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
        self._c_log = A * C * log_ratio / (2.0 * pi * alpha * E0)
        self._c_atan = A * arctan_sum / (pi * E0)
        self._c_gap = 2.0 * A * E0 * Eg * arctan_gap / (pi * alpha)
        self._c_tail = A * E0 * C / pi
        self._log_norm = Eg * math.log((E0 * E0 - Eg * Eg) ** 2 + Eg * Eg * C * C)

    def _real_part(self, E, ops):
        E0, C, Eg = self.E0, self.C, self.Eg
        square = E * E
        shifted = square - self._gamma_square
        zeta4 = shifted * shifted + (self._alpha * self._alpha * C * C / 4.0)
        a_ln = (Eg * Eg - E0 * E0) * square + (Eg * Eg * C * C - E0 * E0 * (E0 * E0 + 3.0 * Eg * Eg))
        a_atan = (square - E0 * E0) * (E0 * E0 + Eg * Eg) + Eg * Eg * C * C
        above = E + Eg
        # The two logarithms of |E − Eg| in the paper combine into (E − Eg)² ln|E − Eg| / E,
        # which stays finite at the gap.
        tail = (above * above * ops.log(above) - ops.square_log_abs(E - Eg)) / E - self._log_norm
        numerator = self._c_log * a_ln - self._c_atan * a_atan + self._c_gap * shifted + self._c_tail * tail
        return self.eps_inf + numerator / zeta4

    def _imaginary_part(self, E, gap_mask):
        square = E * E
        detuning = square - self.E0 * self.E0
        below = E - self.Eg
        return gap_mask * (self.A * self.E0 * self.C) * below * below / (
            (detuning * detuning + self.C * self.C * square) * E)

    def _index(self, wl: np.ndarray) -> np.ndarray:
        E = HC_EV_NM / wl
        eps = np.empty(wl.shape, np.complex128)
        eps.real = self._real_part(E, ArrayOps)
        eps.imag = self._imaginary_part(E, E > self.Eg)
        return index_from_permittivity(eps)

    def _derivative(self, wl: np.ndarray) -> np.ndarray:
        E = Dual(HC_EV_NM / wl, -HC_EV_NM / (wl * wl))
        real = self._real_part(E, DualOps)
        imaginary = self._imaginary_part(E, E.value > self.Eg)
        eps = real.value + 1j * imaginary.value
        return index_derivative(index_from_permittivity(eps), real.slope + 1j * imaginary.slope)
