"""Sellmeier's dispersion formula for transparent crystals and glasses."""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import real_number, real_vector
from quilmo_lab.materials.base import ComplexArray, Material, RealArray, index_derivative, index_from_permittivity


class Sellmeier(Material):
    """Sellmeier's formula n² = A + Σ Bᵢ λ²/(λ² − Cᵢ) for transparent crystals and glasses, λ in nm.

    Parameters
    ----------
    B : array_like
        The oscillator strengths Bᵢ.
    C : array_like, optional
        Cᵢ in nm², the glass-catalogue form (a catalogue's µm² times 10⁶).
    resonances : array_like, optional
        The resonance wavelengths λᵢ in nm, the crystal-optics form with Cᵢ = λᵢ².
        Exactly one of `C` and `resonances` is given.
    A : float, optional
        The constant term, 1 in both usual forms.
    name, valid_range, extrapolate : optional
        As for `Material`: the name a Stack shows, the (low, high) wavelengths in nm where
        the model holds (default: all), and whether to evaluate outside them.

    Raises
    ------
    TypeError, ValueError
        For coefficients that are not finite real numbers, or both or neither of `C` and
        `resonances`.

    Examples
    --------
    SCHOTT N-BK7 from its catalogue coefficients (nd = 1.51680 at 587.6 nm):

    >>> bk7 = ql.Sellmeier([1.03961212, 0.231792344, 1.01046945], [6000.69867, 20017.9144, 103560653.0])
    >>> print(np.round(bk7(587.6).real, 5))
    1.5168
    """

    def __init__(self, B: npt.ArrayLike, C: npt.ArrayLike | None = None, *, resonances: npt.ArrayLike | None = None,
                 A: float = 1.0, name: str | None = None,
                 valid_range: tuple[float, float] = (0.0, math.inf), extrapolate: bool = False) -> None:
        self.B = real_vector("B", B)
        if (C is None) == (resonances is None):
            raise TypeError("Sellmeier needs exactly one of C (nm²) or resonances (nm); "
                            f"received {'both' if C is not None else 'neither'}")
        if C is not None:
            self.C = real_vector("C", C, length=self.B.size)
        else:
            self.C = real_vector("resonances", resonances if resonances is not None else (),
                                 length=self.B.size) ** 2
        self.A = real_number("A", A)
        super().__init__(name=name, valid_range=valid_range, extrapolate=extrapolate)

    def _default_name(self) -> str:
        return "Sellmeier"

    def _permittivity(self, square: RealArray) -> ComplexArray:
        # B λ²/(λ² − C) = B + B C/(λ² − C): one division per term and no multiplication.
        eps = np.full(square.shape, self.A + float(np.sum(self.B)))
        term = np.empty(square.shape)
        for b, c in zip(self.B, self.C):
            np.subtract(square, c, out=term)
            np.divide(b * c, term, out=term)
            eps += term
        return eps

    def _index(self, wl: RealArray) -> ComplexArray:
        return index_from_permittivity(self._permittivity(wl * wl))

    def _derivative(self, wl: RealArray) -> ComplexArray:
        square = wl * wl
        # d/dλ [λ²/(λ² − C)] = −2λC/(λ² − C)²
        deps = np.zeros(wl.shape)
        for b, c in zip(self.B, self.C):
            deps -= 2.0 * b * c * wl / (square - c) ** 2
        return index_derivative(index_from_permittivity(self._permittivity(square)), deps)
