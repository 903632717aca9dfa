"""Cauchy's dispersion formula, with an optional Urbach absorption tail."""

from __future__ import annotations

import math

import numpy as np

from quilmo_lab._checks import real_number
from quilmo_lab.materials.base import ComplexArray, HC_EV_NM, Material, RealArray


class Cauchy(Material):
    """n = A + B/λ² + C/λ⁴ (λ in nm, so B in nm², C in nm⁴) for transparent films and glasses.

    An Urbach tail adds k = urbach_amplitude · exp(urbach_exponent · (E − E_edge)), where
    E = hc/λ is the photon energy in eV and E_edge = hc/urbach_edge (urbach_edge in nm): the
    exponential absorption edge of amorphous films below their band gap.
    """

    def __init__(self, A: float, B: float = 0.0, C: float = 0.0, *, urbach_amplitude: float = 0.0,
                 urbach_exponent: float = 0.0, urbach_edge: float = 400.0, name: str | None = None,
                 valid_range: tuple[float, float] = (0.0, math.inf), extrapolate: bool = False) -> None:
        self.A = real_number("A", A)
        self.B = real_number("B", B)
        self.C = real_number("C", C)
        self.urbach_amplitude = real_number("urbach_amplitude", urbach_amplitude, minimum=0.0)
        self.urbach_exponent = real_number("urbach_exponent", urbach_exponent)
        self.urbach_edge = real_number("urbach_edge", urbach_edge, minimum=0.0, strictly=True)
        super().__init__(name=name, valid_range=valid_range, extrapolate=extrapolate)

    def _default_name(self) -> str:
        return f"Cauchy({self.A:g}, {self.B:g}, {self.C:g})"

    def _extinction(self, wl: RealArray) -> RealArray:
        """k = a·exp(b·hc/λ − b·hc/λ_edge)."""
        k: RealArray = np.divide(self.urbach_exponent * HC_EV_NM, wl)
        k -= self.urbach_exponent * HC_EV_NM / self.urbach_edge
        np.exp(k, out=k)
        k *= self.urbach_amplitude
        return k

    def _index(self, wl: RealArray) -> ComplexArray:
        # Contiguous temporaries, then one strided copy into each half of the complex result.
        inverse_square = np.multiply(wl, wl)
        np.divide(1.0, inverse_square, out=inverse_square)
        n = np.multiply(inverse_square, self.C)  # Horner in 1/λ²: A + t(B + tC)
        n += self.B
        n *= inverse_square
        n += self.A
        result = np.empty(wl.shape, np.complex128)
        result.real = n
        result.imag = self._extinction(wl) if self.urbach_amplitude != 0.0 else 0.0
        return result

    def _derivative(self, wl: RealArray) -> ComplexArray:
        result = np.empty(wl.shape, np.complex128)
        inverse_square = 1.0 / (wl * wl)
        # dn/dλ = −(2B t + 4C t²)/λ with t = 1/λ².
        dn = result.real
        np.multiply(inverse_square, 4.0 * self.C, out=dn)
        dn += 2.0 * self.B
        dn *= inverse_square
        dn /= wl
        np.negative(dn, out=dn)
        if self.urbach_amplitude != 0.0:
            # dk/dλ = k · b · (−hc/λ²)
            result.imag = self._extinction(wl) * inverse_square * (-self.urbach_exponent * HC_EV_NM)
        else:
            result.imag = 0.0
        return result
