"""Free-electron (Drude) and bound-electron (Lorentz) oscillator models of the permittivity."""

from __future__ import annotations

import math
from collections.abc import Iterator

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import real_number, shape_text
from quilmo_lab.materials.base import ComplexArray, HC_EV_NM, Material, RealArray, index_derivative, index_from_permittivity


class DrudeLorentz(Material):
    """ε(E) = ε∞ + Σⱼ fⱼ Eₚ² / (Eⱼ² − E² − iEΓⱼ), photon energy E = hc/λ in eV.

    `oscillators` rows are (fⱼ, Eⱼ, Γⱼ): strength, resonance energy (eV) and damping (eV).  A row
    with Eⱼ = 0 is a free-electron (Drude) term −fⱼEₚ²/(E(E + iΓⱼ)); the others are Lorentz terms.
    This is the Lorentz–Drude form of Rakić et al., Appl. Opt. 37, 5271 (1998), eq. (3).
    """

    def __init__(self, plasma_energy: float, oscillators: npt.ArrayLike, *, eps_inf: float = 1.0,
                 name: str | None = None,
                 valid_range: tuple[float, float] = (0.0, math.inf), extrapolate: bool = False) -> None:
        self.plasma_energy = real_number("plasma_energy", plasma_energy, minimum=0.0)
        table = np.asarray(oscillators)
        if table.dtype.kind not in "iuf":
            raise TypeError(f"oscillators must hold real numbers (strength, energy, damping); received dtype {table.dtype}")
        table = np.atleast_2d(table.astype(np.float64))
        if table.ndim != 2 or table.shape[1] != 3 or table.shape[0] == 0:
            raise ValueError("oscillators must be rows of (strength, energy eV, damping eV), shape (M, 3); "
                             f"received shape {shape_text(np.shape(oscillators))}")
        if not np.all(np.isfinite(table)):
            raise ValueError(f"oscillators must be finite; received {table.tolist()}")
        if np.any(table[:, 1:] < 0.0):
            raise ValueError(f"oscillator energies and dampings must be non-negative; received {table[:, 1:].tolist()}")
        self.oscillators = table
        self.eps_inf = real_number("eps_inf", eps_inf)
        super().__init__(name=name, valid_range=valid_range, extrapolate=extrapolate)

    def _default_name(self) -> str:
        return "DrudeLorentz"

    def _terms(self) -> Iterator[tuple[float, float, float]]:
        weight = self.plasma_energy ** 2
        for strength, energy, damping in self.oscillators:
            yield float(strength) * weight, float(energy) ** 2, float(damping)

    def _permittivity(self, energy: RealArray) -> ComplexArray:
        square = energy * energy
        eps: npt.NDArray[np.complex128] | None = None
        term: npt.NDArray[np.complex128] | None = None
        for amplitude, resonance_square, damping in self._terms():
            if term is None:
                term = np.empty(energy.shape, np.complex128)
            np.subtract(resonance_square, square, out=term.real)
            np.multiply(energy, -damping, out=term.imag)
            np.divide(amplitude, term, out=term)
            if eps is None:  # the first term becomes the sum; later ones share one buffer
                eps, term = term, None
            else:
                eps += term
        assert eps is not None  # there is at least one oscillator
        eps.real += self.eps_inf
        return eps

    def _index(self, wl: RealArray) -> ComplexArray:
        return index_from_permittivity(self._permittivity(HC_EV_NM / wl))

    def _derivative(self, wl: RealArray) -> ComplexArray:
        energy = HC_EV_NM / wl
        square = energy * energy
        # dε/dE = Σ a (2E + iΓ)/(Eⱼ² − E² − iEΓ)², and dE/dλ = −E/λ.
        deps = np.zeros(wl.shape, np.complex128)
        for amplitude, resonance_square, damping in self._terms():
            denominator = (resonance_square - square) - 1j * damping * energy
            deps += amplitude * (2.0 * energy + 1j * damping) / (denominator * denominator)
        deps *= -energy / wl
        return index_derivative(index_from_permittivity(self._permittivity(energy)), deps)


class Drude(DrudeLorentz):
    """ε(E) = ε∞ − Eₚ² / (E(E + iΓ)): free electrons with plasma energy Eₚ and damping Γ (eV)."""

    def __init__(self, plasma_energy: float, damping: float, *, eps_inf: float = 1.0, name: str | None = None,
                 valid_range: tuple[float, float] = (0.0, math.inf), extrapolate: bool = False) -> None:
        damping = real_number("damping", damping, minimum=0.0)
        super().__init__(plasma_energy, [(1.0, 0.0, damping)], eps_inf=eps_inf, name=name,
                         valid_range=valid_range, extrapolate=extrapolate)

    def _default_name(self) -> str:
        return "Drude"
