"""An index whose real and imaginary parts come from two sources (a formula for n, a table for k)."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import type_name
from quilmo_lab.materials.base import ComplexArray, Material, RealArray, shared_range


class SeparateNK(Material):
    """An index with n from one material and k from another (a formula for n, a table for k).

    Parameters
    ----------
    n_source : Material
        Gives the real part n.
    k_source : Material
        Gives the imaginary part k.
    name : str, optional
        The name a Stack shows (default: that of `n_source`).
    extrapolate : bool, optional
        Evaluate outside the wavelengths where both parts are valid.

    Raises
    ------
    TypeError, ValueError
        For parts that are not materials or have no wavelengths in common.

    Examples
    --------
    >>> film = ql.SeparateNK(ql.Cauchy(2.0), ql.Tabulated([400.0, 800.0], [1.0, 1.0], [0.1, 0.0]))
    >>> print(np.round(film(600.0), 4))
    (2+0.05j)
    """

    def __init__(self, n_source: Material, k_source: Material, *, name: str | None = None,
                 extrapolate: bool = False) -> None:
        for label, part in (("n_source", n_source), ("k_source", k_source)):
            if not isinstance(part, Material):
                raise TypeError(f"{label} must be a Material; received {type_name(part)}")
        self.n_source = n_source
        self.k_source = k_source
        super().__init__(name=name, valid_range=shared_range(n_source, k_source), extrapolate=extrapolate)

    def _default_name(self) -> str:
        return self.n_source.name

    def _combine(self, real: npt.NDArray[Any], imaginary: npt.NDArray[Any]) -> ComplexArray:
        result = np.empty(real.shape, np.complex128)
        result.real = real.real
        result.imag = imaginary.imag
        return result

    def _index(self, wl: RealArray) -> ComplexArray:
        return self._combine(self.n_source(wl, extrapolate=True), self.k_source(wl, extrapolate=True))

    def _derivative(self, wl: RealArray) -> ComplexArray:
        return self._combine(self.n_source.derivative(wl, extrapolate=True),
                             self.k_source.derivative(wl, extrapolate=True))
