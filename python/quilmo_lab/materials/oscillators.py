"""Free-electron (Drude) and bound-electron (Lorentz) oscillator models of the permittivity."""

from __future__ import annotations

import math
from collections.abc import Iterator

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import real_number, shape_text
from quilmo_lab.materials.base import ComplexArray, HC_EV_NM, Material, RealArray, index_derivative, index_from_permittivity


class DrudeLorentz(Material):
    """The Lorentz–Drude model ε(E) = ε∞ + Σⱼ fⱼ Eₚ² / (Eⱼ² − E² − iEΓⱼ) of metals.

    Parameters
    ----------
    plasma_energy : float
        Eₚ in eV, non-negative.
    oscillators : array_like
        Rows (fⱼ, Eⱼ, Γⱼ): strength, resonance energy (eV) and damping (eV). A row with
        Eⱼ = 0 is a free-electron (Drude) term −fⱼEₚ²/(E(E + iΓⱼ)).
    eps_inf : float, optional
        ε∞.
    name, valid_range, extrapolate : optional
        As for `Material`: the name a Stack shows, the (low, high) wavelengths in nm where
        the model holds (default: all), and whether to evaluate outside them.

    Raises
    ------
    TypeError, ValueError
        For parameters that are not finite real numbers, or rows not of shape (M, 3).

    See Also
    --------
    Drude : A single free-electron term.

    Notes
    -----
    E = hc/λ is the photon energy in eV. This is the Lorentz–Drude form of Rakić et al.
    [1]_, eq. (3), whose parameters the library's metals use.

    References
    ----------
    .. [1] A. D. Rakić, A. B. Djurišić, J. M. Elazar and M. L. Majewski, "Optical
       properties of metallic films for vertical-cavity optoelectronic devices",
       Appl. Opt. 37, 5271 (1998).

    Examples
    --------
    >>> gold = ql.DrudeLorentz(9.03, [(0.76, 0.0, 0.053), (0.024, 0.415, 0.241)])
    >>> print(np.round(gold(500.0), 3))
    (0.04+3.066j)
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
    """The Drude model ε(E) = ε∞ − Eₚ² / (E(E + iΓ)) of free electrons.

    Parameters
    ----------
    plasma_energy : float
        Eₚ in eV.
    damping : float
        Γ in eV, non-negative.
    eps_inf : float, optional
        ε∞.
    name, valid_range, extrapolate : optional
        As for `Material`: the name a Stack shows, the (low, high) wavelengths in nm where
        the model holds (default: all), and whether to evaluate outside them.

    See Also
    --------
    DrudeLorentz : With bound-electron terms.

    Examples
    --------
    >>> metal = ql.Drude(9.0, 0.07)
    >>> print(np.round(metal(500.0), 3))
    (0.053+3.488j)
    """

    def __init__(self, plasma_energy: float, damping: float, *, eps_inf: float = 1.0, name: str | None = None,
                 valid_range: tuple[float, float] = (0.0, math.inf), extrapolate: bool = False) -> None:
        damping = real_number("damping", damping, minimum=0.0)
        super().__init__(plasma_energy, [(1.0, 0.0, damping)], eps_inf=eps_inf, name=name,
                         valid_range=valid_range, extrapolate=extrapolate)

    def _default_name(self) -> str:
        return "Drude"
