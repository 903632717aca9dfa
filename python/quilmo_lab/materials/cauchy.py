"""Cauchy's dispersion formula, with an optional Urbach absorption tail."""

from __future__ import annotations

import math

import numpy as np

from quilmo_lab._checks import real_number
from quilmo_lab.materials.base import ComplexArray, HC_EV_NM, Material, RealArray


class Cauchy(Material):
    """Cauchy's formula n = A + B/λ² + C/λ⁴ for transparent films and glasses, λ in nm.

    Parameters
    ----------
    A : float
        The index at long wavelengths.
    B : float, optional
        nm² (a coefficient in µm² times 10⁶).
    C : float, optional
        nm⁴ (in µm⁴ times 10¹²).
    urbach_amplitude : float, optional
        k at the edge of an Urbach absorption tail, non-negative (0: no absorption).
    urbach_exponent : float, optional
        The tail's slope in 1/eV.
    urbach_edge : float, optional
        The wavelength of the tail's edge in nm.
    name, valid_range, extrapolate : optional
        As for `Material`: the name a Stack shows, the (low, high) wavelengths in nm where
        the model holds (default: all), and whether to evaluate outside them.

    Raises
    ------
    TypeError, ValueError
        For a parameter that is not a finite real number in its range.

    See Also
    --------
    Sellmeier : For glasses over wide ranges.

    Notes
    -----
    The Urbach tail adds k = urbach_amplitude·exp(urbach_exponent·(E − E_edge)), with the
    photon energy E = hc/λ in eV and E_edge = hc/urbach_edge: the exponential absorption
    edge of amorphous films below their band gap.

    Examples
    --------
    >>> glass = ql.Cauchy(1.45, 3600.0)
    >>> print(glass(500.0))
    (1.4644+0j)
    >>> film = ql.Cauchy(1.9, 1e4, urbach_amplitude=0.01, urbach_exponent=2.0, urbach_edge=350.0)
    >>> print(np.round(film(400.0).imag, 5))
    0.00412
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
