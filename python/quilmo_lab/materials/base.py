"""The material interface: a complex index of refraction as a function of vacuum wavelength.

A material is called with vacuum wavelengths in nanometres and returns n + ik (k > 0 absorbing,
the exp(-iωt) convention of the engine), never a permittivity; `permittivity` returns ε = (n + ik)².
`derivative` returns dñ/dλ per nanometre, which group delay and dispersion calculations need.
Every model knows the wavelengths it was fitted or measured over; outside them it refuses unless
the caller asks it to extrapolate.
"""

from __future__ import annotations

import math
import numbers
from collections.abc import Callable, Sequence
from typing import Any, overload

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import real_number, type_name, wavelength_array

RealArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

# h·c in eV·nm (exact since the 2019 SI): photon energy E = HC_EV_NM / λ.
HC_EV_NM = 1239.8419843320026


def _valid_range(value: Any) -> tuple[float, float]:
    try:
        low, high = value
    except (TypeError, ValueError):
        raise TypeError(f"valid_range must be a pair (low, high) in nm; received {value!r}") from None
    low = real_number("valid_range[0]", low, minimum=0.0)
    if isinstance(high, numbers.Real) and not isinstance(high, bool) and high == math.inf:
        high = math.inf
    else:
        high = real_number("valid_range[1]", high)
    if not low < high:
        raise ValueError(f"valid_range must have low < high; received ({low:g}, {high:g})")
    return low, high


class Material:
    """A complex refractive index n + ik as a function of the vacuum wavelength in nm.

    The base of every dispersion model. A material is called with wavelengths and
    returns the index (k > 0 absorbing, the exp(-iωt) convention of the engine);
    `derivative` returns dñ/dλ per nm, which `dispersion` needs.

    Parameters
    ----------
    name : str or None
        The name a Stack shows (None: the model's own).
    valid_range : tuple of float
        (low, high) in nm: the wavelengths the model was fitted or measured over.
    extrapolate : bool
        Evaluate the formula outside `valid_range` instead of refusing.

    See Also
    --------
    quilmo_lab.materials.library : Published materials, ready to use.

    Notes
    -----
    A new model subclasses Material and implements ``_index(λ)`` and ``_derivative(λ)``
    on float64 arrays already checked against the valid range, validating its
    parameters once in ``__init__``.

    Examples
    --------
    >>> glass = ql.Cauchy(1.45, 3600.0, valid_range=(400.0, 900.0))
    >>> print(glass(500.0))
    (1.4644+0j)
    >>> glass(300.0)
    Traceback (most recent call last):
    ...
    ValueError: wavelengths must lie where Cauchy(1.45, 3600, 0) is valid from 400 to 900 nm ...
    >>> print(np.round(glass(300.0, extrapolate=True).real, 4))
    1.49
    """

    def __init__(self, *, name: str | None, valid_range: tuple[float, float], extrapolate: bool) -> None:
        if name is not None and not isinstance(name, str):
            raise TypeError(f"name must be a string; received {type_name(name)}")
        if not isinstance(extrapolate, bool):
            raise TypeError(f"extrapolate must be True or False; received {extrapolate!r}")
        self._name = name
        self.valid_range = _valid_range(valid_range)
        self.extrapolate = extrapolate

    @property
    def name(self) -> str:
        """The name a Stack shows for this material.

        Examples
        --------
        >>> ql.library["N-BK7"].name
        'N-BK7'
        >>> ql.Cauchy(1.5, 4000.0).name
        'Cauchy(1.5, 4000, 0)'
        """
        return self._name if self._name is not None else self._default_name()

    def _default_name(self) -> str:
        return type(self).__name__

    @overload
    def __call__(self, wavelengths: float, *, extrapolate: bool | None = None) -> complex: ...

    @overload
    def __call__(self, wavelengths: npt.NDArray[Any] | Sequence[float], *, extrapolate: bool | None = None
                 ) -> ComplexArray: ...

    def __call__(self, wavelengths: npt.ArrayLike, *, extrapolate: bool | None = None) -> complex | ComplexArray:
        """The complex index n + ik at the given wavelengths.

        Parameters
        ----------
        wavelengths : float or array_like
            Vacuum wavelengths in nm, positive.
        extrapolate : bool, optional
            Evaluate outside the valid range (default: the material's own setting).

        Returns
        -------
        complex or ndarray
            n + ik with the shape of `wavelengths`.

        Raises
        ------
        ValueError
            For wavelengths that are not positive or lie outside the valid range.

        Examples
        --------
        >>> print(ql.Cauchy(1.45, 3600.0)([400.0, 800.0]))
        [1.4725  +0.j 1.455625+0.j]
        """
        return self._evaluated(self._index, wavelengths, extrapolate)

    @overload
    def derivative(self, wavelengths: float, *, extrapolate: bool | None = None) -> complex: ...

    @overload
    def derivative(self, wavelengths: npt.NDArray[Any] | Sequence[float], *, extrapolate: bool | None = None
                   ) -> ComplexArray: ...

    def derivative(self, wavelengths: npt.ArrayLike, *, extrapolate: bool | None = None) -> complex | ComplexArray:
        """The derivative dñ/dλ = dn/dλ + i dk/dλ per nm at the given wavelengths.

        Parameters
        ----------
        wavelengths : float or array_like
            Vacuum wavelengths in nm, positive.
        extrapolate : bool, optional
            Evaluate outside the valid range (default: the material's own setting).

        Returns
        -------
        complex or ndarray
            dñ/dλ with the shape of `wavelengths`.

        Raises
        ------
        ValueError
            For wavelengths that are not positive or lie outside the valid range.

        Examples
        --------
        For Cauchy's n = A + B/λ², dn/dλ = -2B/λ³:

        >>> print(ql.Cauchy(1.45, 3600.0).derivative(500.0))
        (-5.76e-05+0j)
        """
        return self._evaluated(self._derivative, wavelengths, extrapolate)

    @overload
    def permittivity(self, wavelengths: float, *, extrapolate: bool | None = None) -> complex: ...

    @overload
    def permittivity(self, wavelengths: npt.NDArray[Any] | Sequence[float], *, extrapolate: bool | None = None
                     ) -> ComplexArray: ...

    def permittivity(self, wavelengths: npt.ArrayLike, *, extrapolate: bool | None = None) -> complex | ComplexArray:
        """The relative permittivity ε = (n + ik)² at the given wavelengths.

        Parameters
        ----------
        wavelengths : float or array_like
            Vacuum wavelengths in nm, positive.
        extrapolate : bool, optional
            Evaluate outside the valid range (default: the material's own setting).

        Returns
        -------
        complex or ndarray
            ε with the shape of `wavelengths`; Im ε ≥ 0 for an absorbing material
            (the exp(-iωt) convention, as PyMoosh's).

        Raises
        ------
        ValueError
            For wavelengths that are not positive or lie outside the valid range.

        See Also
        --------
        quilmo_lab.materials.from_permittivity : The inverse: a material from ε.

        Examples
        --------
        >>> print(ql.Constant(2.0 + 0.1j).permittivity(500.0))
        (3.99+0.4j)
        """
        index = self._evaluated(self._index, wavelengths, extrapolate)
        return index * index

    def _evaluated(self, formula: Callable[[RealArray], ComplexArray], wavelengths: npt.ArrayLike,
                   extrapolate: bool | None) -> complex | ComplexArray:
        """`formula` at the checked wavelengths, a number for a scalar wavelength."""
        wl = self._checked(wavelengths, extrapolate)
        if wl.ndim == 0:
            value: complex = formula(wl.reshape(1))[0]
            return value
        return formula(wl)

    def _checked(self, wavelengths: npt.ArrayLike, extrapolate: bool | None) -> RealArray:
        wl = wavelength_array(wavelengths)
        if wl.size == 0:
            return wl
        if extrapolate is None:
            extrapolate = self.extrapolate
        low, high = self.valid_range
        # NaN passes through as NaN; the checks apply to the other values (fmin/fmax skip NaN).
        low_seen = float(np.fmin.reduce(wl, axis=None))
        if low_seen <= 0.0:
            raise ValueError(f"wavelengths must be positive (vacuum wavelengths in nm); received {low_seen:g}")
        if extrapolate or (low_seen >= low and high == math.inf):
            return wl  # one pass over the wavelengths where the range has no upper end
        if low_seen < low or float(np.fmax.reduce(wl, axis=None)) > high:
            outside = wl[(wl < low) | (wl > high)]
            shown = ", ".join(f"{value:g}" for value in outside[:5]) + (", ..." if outside.size > 5 else "")
            raise ValueError(
                f"wavelengths must lie where {self.name} is valid from {low:g} to {high:g} nm (pass "
                f"extrapolate=True to evaluate the model there anyway); received {outside.size} wavelength(s) "
                f"outside that range ({shown} nm)")
        return wl

    def _index(self, wl: RealArray) -> ComplexArray:
        raise NotImplementedError

    def _derivative(self, wl: RealArray) -> ComplexArray:
        raise NotImplementedError

    def __repr__(self) -> str:
        low, high = self.valid_range
        return f"<{type(self).__name__} {self.name!r}, valid {low:g}-{high:g} nm>"


def shared_range(first: Material, second: Material) -> tuple[float, float]:
    """The wavelengths where both of two materials are valid, for models built of two.

    Parameters
    ----------
    first, second : Material
        The two parts.

    Returns
    -------
    tuple of float
        (low, high) in nm.

    Raises
    ------
    ValueError
        Where the two have no wavelength in common.

    Examples
    --------
    >>> from quilmo_lab.materials.base import shared_range
    >>> shared_range(ql.library["N-BK7"], ql.library["MgF2"])
    (300.0, 2500.0)
    """
    low = max(first.valid_range[0], second.valid_range[0])
    high = min(first.valid_range[1], second.valid_range[1])
    if not low < high:
        raise ValueError(f"the parts of a material must be valid at some wavelengths in common; received "
                         f"{first.name} ({first.valid_range[0]:g}-{first.valid_range[1]:g} nm) and "
                         f"{second.name} ({second.valid_range[0]:g}-{second.valid_range[1]:g} nm)")
    return low, high


def index_from_permittivity(eps: npt.NDArray[Any]) -> ComplexArray:
    """The index n + ik whose square is the permittivity ε, with k ≥ 0.

    Parameters
    ----------
    eps : ndarray
        Permittivities, real or complex.

    Returns
    -------
    ndarray
        The root on the physical branch for a passive medium (k ≥ 0 for Im ε ≥ 0).

    Examples
    --------
    >>> from quilmo_lab.materials.base import index_from_permittivity
    >>> print(index_from_permittivity(np.array([2.25, -1.0 + 0.0j])))
    [1.5+0.j 0. +1.j]
    """
    if eps.dtype.kind == "f":
        out = np.empty(eps.shape, np.complex128)
        if eps.size == 0 or eps.min() >= 0.0:
            np.sqrt(eps, out=out.real)
            out.imag = 0.0
            return out
        root: ComplexArray = np.sqrt(eps.astype(np.complex128))
        return root
    # The principal root has Re n ≥ 0 and the sign of Im ε, so k ≥ 0 for every Im ε ≥ 0.
    principal: ComplexArray = np.sqrt(eps)
    return principal


def index_derivative(n: ComplexArray, deps: npt.NDArray[Any]) -> ComplexArray:
    """The derivative of the index from that of the permittivity: n² = ε gives dn = dε / 2n.

    Parameters
    ----------
    n : ndarray
        The index.
    deps : ndarray
        dε/dλ (or by any other variable).

    Returns
    -------
    ndarray
        dn/dλ (or by the same variable).

    Examples
    --------
    >>> from quilmo_lab.materials.base import index_derivative
    >>> print(index_derivative(np.array([1.5 + 0j]), np.array([0.3])))
    [0.1+0.j]
    """
    slope: ComplexArray = deps / (2.0 * n)
    return slope
