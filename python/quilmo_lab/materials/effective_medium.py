"""Effective-medium mixtures of two materials (rough layers, porous films, cermets)."""

from __future__ import annotations

from typing import Any

import numpy as np

from quilmo_lab._checks import real_number, type_name
from quilmo_lab.materials.base import ComplexArray, Material, RealArray, index_derivative, index_from_permittivity, shared_range


class _TwoPhase(Material):
    """A mixture of `inclusion` at volume `fraction` in `host`."""

    def __init__(self, inclusion: Material, host: Material, fraction: float, *, name: str | None = None,
                 extrapolate: bool = False) -> None:
        for label, part in (("inclusion", inclusion), ("host", host)):
            if not isinstance(part, Material):
                raise TypeError(f"{label} must be a Material; received {type_name(part)}")
        self.fraction = real_number("fraction", fraction, minimum=0.0)
        if self.fraction > 1.0:
            raise ValueError(f"fraction must be between 0 and 1; received {self.fraction!r}")
        self.inclusion = inclusion
        self.host = host
        super().__init__(name=name, valid_range=shared_range(inclusion, host), extrapolate=extrapolate)

    def _default_name(self) -> str:
        return f"{type(self).__name__}({self.inclusion.name} {self.fraction:g} in {self.host.name})"

    def _parts(self, wl: RealArray) -> tuple[Any, Any, Any, Any]:
        # Both parts were range-checked together by this mixture.
        n_a = self.inclusion(wl, extrapolate=True)
        n_b = self.host(wl, extrapolate=True)
        return n_a * n_a, n_b * n_b, n_a, n_b

    def _mix(self, eps_a: Any, eps_b: Any) -> Any:
        raise NotImplementedError

    def _mix_derivative(self, eps: Any, eps_a: Any, eps_b: Any, deps_a: Any, deps_b: Any) -> Any:
        raise NotImplementedError

    def _index(self, wl: RealArray) -> ComplexArray:
        eps_a, eps_b, _, _ = self._parts(wl)
        return index_from_permittivity(self._mix(eps_a, eps_b))

    def _derivative(self, wl: RealArray) -> ComplexArray:
        eps_a, eps_b, n_a, n_b = self._parts(wl)
        deps_a = 2.0 * n_a * self.inclusion.derivative(wl, extrapolate=True)
        deps_b = 2.0 * n_b * self.host.derivative(wl, extrapolate=True)
        eps = self._mix(eps_a, eps_b)
        return index_derivative(index_from_permittivity(eps), self._mix_derivative(eps, eps_a, eps_b, deps_a, deps_b))


class MaxwellGarnett(_TwoPhase):
    """Maxwell Garnett's mixture: dilute spheres of an inclusion in a host.

    ε = ε_h (ε_i + 2ε_h + 2f(ε_i − ε_h)) / (ε_i + 2ε_h − f(ε_i − ε_h)).

    Parameters
    ----------
    inclusion : Material
        The material of the spheres.
    host : Material
        The material around them.
    fraction : float
        The volume fraction f of the inclusion, 0 to 1.
    name : str, optional
        The name a Stack shows.
    extrapolate : bool, optional
        Evaluate outside the wavelengths where both parts are valid.

    Raises
    ------
    TypeError, ValueError
        For parts that are not materials, a fraction outside 0 to 1, or parts with no
        wavelengths in common.

    See Also
    --------
    Bruggeman : Both phases on an equal footing.

    Examples
    --------
    Silver particles in glass:

    >>> cermet = ql.MaxwellGarnett(ql.library["Ag"], ql.Constant(1.5), 0.1)
    >>> print(np.round(cermet(500.0), 4))
    (2.2758+0.1454j)
    """

    def _mix(self, eps_a: Any, eps_b: Any) -> Any:
        f = self.fraction
        difference = eps_a - eps_b
        return eps_b * (eps_a + 2.0 * eps_b + 2.0 * f * difference) / (eps_a + 2.0 * eps_b - f * difference)

    def _mix_derivative(self, eps: Any, eps_a: Any, eps_b: Any, deps_a: Any, deps_b: Any) -> Any:
        f = self.fraction
        top = eps_a + 2.0 * eps_b + 2.0 * f * (eps_a - eps_b)
        bottom = eps_a + 2.0 * eps_b - f * (eps_a - eps_b)
        dtop = (1.0 + 2.0 * f) * deps_a + (2.0 - 2.0 * f) * deps_b
        dbottom = (1.0 - f) * deps_a + (2.0 + f) * deps_b
        return deps_b * top / bottom + eps_b * (dtop * bottom - top * dbottom) / (bottom * bottom)


class Bruggeman(_TwoPhase):
    """Bruggeman's mixture of two phases on an equal footing: rough layers, porous films.

    f(ε_i − ε)/(ε_i + 2ε) + (1 − f)(ε_h − ε)/(ε_h + 2ε) = 0.

    Parameters
    ----------
    inclusion : Material
        One phase, at volume fraction `fraction`.
    host : Material
        The other phase.
    fraction : float
        The volume fraction f of `inclusion`, 0 to 1.
    name : str, optional
        The name a Stack shows.
    extrapolate : bool, optional
        Evaluate outside the wavelengths where both parts are valid.

    Raises
    ------
    TypeError, ValueError
        As for `MaxwellGarnett`.

    See Also
    --------
    MaxwellGarnett : Dilute inclusions in a host.

    Notes
    -----
    The quadratic 2ε² − bε − ε_iε_h = 0, b = (3f − 1)ε_i + (2 − 3f)ε_h, has two roots; the
    physical one has the larger imaginary part (a passive medium), and where both are real
    the larger real part.

    Examples
    --------
    A glass film with 30 % voids:

    >>> porous = ql.Bruggeman(ql.Constant(1.0), ql.Constant(1.5), 0.3)
    >>> print(np.round(porous(500.0).real, 4))
    1.3451
    """

    def _mix(self, eps_a: Any, eps_b: Any) -> Any:
        f = self.fraction
        b = (3.0 * f - 1.0) * eps_a + (2.0 - 3.0 * f) * eps_b
        root = np.sqrt(b * b + 8.0 * eps_a * eps_b)
        # The principal root has Re ≥ 0, so (b + root)/4 is the root with the larger real part; where
        # root has a negative imaginary part, (b − root)/4 has the larger imaginary part.
        np.negative(root, out=root, where=root.imag < 0.0)
        root += b
        root *= 0.25
        return root

    def _mix_derivative(self, eps: Any, eps_a: Any, eps_b: Any, deps_a: Any, deps_b: Any) -> Any:
        # Implicit differentiation of F = ε_iε_h + bε − 2ε² = 0.
        f = self.fraction
        b = (3.0 * f - 1.0) * eps_a + (2.0 - 3.0 * f) * eps_b
        d_eps = b - 4.0 * eps
        d_a = eps_b + (3.0 * f - 1.0) * eps
        d_b = eps_a + (2.0 - 3.0 * f) * eps
        return -(d_a * deps_a + d_b * deps_b) / d_eps
