"""Layers and stacks of materials: designs the fronts solve.

Thicknesses are in nanometres, like the wavelengths materials take. A medium may be a
`Material`, a library name ("N-BK7"), a number (a constant index), an array of indices over the
wavelengths of the solve or a callable n(λ) of the wavelength in nm. Every one of them is a
refractive index n + ik, never a permittivity (`quilmo_lab.materials.from_permittivity` converts).
"""

from __future__ import annotations

import math
import numbers
from collections.abc import Sequence
from typing import TYPE_CHECKING, Literal, Never, overload

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import flag, no_permittivity_keyword, real_number, shape_text, type_name, wavelength_array
from quilmo_lab._media import Medium, MediumLike, TensorMaterial, medium

if TYPE_CHECKING:
    from quilmo_lab.anisotropic import AnisotropicResult
    from quilmo_lab.cone import Cone
    from quilmo_lab.slit import Slit
    from quilmo_lab.dispersion import Dispersion, Side
    from quilmo_lab.profile import Profile
    from quilmo_lab.result import Result


class Layer:
    """A film of one material and thickness in a `Stack`.

    Parameters
    ----------
    material : Material, str, complex, array_like or callable
        A `quilmo_lab.materials` model, a name of the built-in `library` ("MgF2"), a
        constant index (1.38, 2.0 + 0.1j), indices over the wavelengths of the solve
        (an array, which has no dispersion for `dispersion`) or a callable n(λ) of the
        wavelength in nm, such as a ``scipy.interpolate.interp1d`` object (wrapped in a
        `quilmo_lab.materials.Function`). Always the index n + ik, never the permittivity:
        for ε use ``ql.materials.from_permittivity(eps)``.
    thickness : float
        The thickness in nm, finite and non-negative.
    coherent : bool, optional
        False treats the layer by intensity, without phase: a substrate or window whose
        fringes no measurement resolves.
    roughness : float, optional
        RMS roughness in nm of the layer's front face (the interface the light meets
        first), 0 for a smooth one; see `quilmo_lab.solve`'s ``roughness``.

    Raises
    ------
    TypeError, ValueError
        For a material, thickness or flag that is not one; a TypeError that points to
        `from_permittivity` for a keyword ``eps``, ``epsilon`` or ``permittivity``.

    See Also
    --------
    Stack : Layers between an incidence and an exit medium.

    Examples
    --------
    >>> ql.Layer("MgF2", 99.6)
    MgF2 99.6 nm
    >>> ql.Layer(1.52, 1e6, coherent=False)
    1.52 1e+06 nm (incoherent)
    >>> ql.Layer("TiO2", 60.0, roughness=1.5)
    TiO2 60 nm (front roughness 1.5 nm)
    """

    def __init__(self, material: MediumLike, thickness: float, coherent: bool = True, *,
                 roughness: float = 0.0, **mistaken: Never) -> None:
        no_permittivity_keyword("Layer", mistaken)
        self._material = medium(material, "material")
        if isinstance(thickness, bool) or not isinstance(thickness, numbers.Real):
            raise TypeError(f"thickness must be a real number of nm; received {type_name(thickness)}")
        value = float(thickness)
        if not (math.isfinite(value) and value >= 0.0):
            raise ValueError(f"thickness must be finite and non-negative (nm); received {value!r}")
        self._thickness: float = value
        self._coherent: bool = flag("coherent", coherent)
        self._roughness: float = real_number("roughness", roughness, minimum=0.0)

    @property
    def material(self) -> Medium:
        """The layer's material: a Material (a library name or a number given becomes one).

        Examples
        --------
        >>> ql.Layer(1.38, 100.0).material
        <Constant '1.38', valid 0-inf nm>
        """
        return self._material

    @property
    def thickness(self) -> float:
        """The thickness in nm.

        Examples
        --------
        >>> ql.Layer("MgF2", 99.6).thickness
        99.6
        """
        return self._thickness

    @property
    def coherent(self) -> bool:
        """False for a layer treated by intensity, without phase.

        Examples
        --------
        >>> ql.Layer("N-BK7", 1e6, coherent=False).coherent
        False
        """
        return self._coherent

    @property
    def roughness(self) -> float:
        """The RMS roughness in nm of the layer's front face.

        Examples
        --------
        >>> ql.Layer("MgF2", 99.6, roughness=2.0).roughness
        2.0
        """
        return self._roughness

    def __repr__(self) -> str:
        return (f"{self.material.name} {self.thickness:g} nm" + ("" if self.coherent else " (incoherent)")
                + (f" (front roughness {self.roughness:g} nm)" if self.roughness else ""))


class Stack:
    """A coating design: an incidence medium, layers of materials and an exit medium.

    Parameters
    ----------
    layers : sequence of Layer, optional
        The layers in the order the light meets them.
    incident : Material, str, complex, array_like or callable, optional
        The incidence medium (default: 1.0, vacuum), as a `Layer`'s material.
    exit : Material, str, complex, array_like or callable, optional
        The exit medium or substrate (default: 1.0).
    exit_roughness : float, optional
        RMS roughness in nm of the exit medium's face (the last interface); the layers'
        own `roughness` gives the others.

    Raises
    ------
    TypeError
        For layers that are not a sequence of Layer, or a medium that is not one.

    See Also
    --------
    solve, profile, dispersion : The fronts, which take a Stack in place of arrays.

    Notes
    -----
    Thicknesses are in nanometres, like the wavelengths materials take. A Stack holds
    no results: every solve evaluates its materials at the wavelengths asked for.

    Examples
    --------
    >>> coating = ql.Stack([ql.Layer("MgF2", 99.6)], exit="N-BK7")
    >>> coating
    1 | MgF2 99.6 nm | N-BK7
    >>> print(np.round(coating.solve([550.0]).R()[0, 0], 4))
    [0.0125]
    """

    def __init__(self, layers: Sequence[Layer] = (), incident: MediumLike = 1.0, exit: MediumLike = 1.0, *,
                 exit_roughness: float = 0.0) -> None:
        if isinstance(layers, Layer) or not isinstance(layers, Sequence):
            raise TypeError(f"layers must be a sequence of Layer; received {type_name(layers)}")
        for position, layer in enumerate(layers):
            if not isinstance(layer, Layer):
                raise TypeError(f"layers[{position}] must be a Layer; received {type_name(layer)}")
        self._layers = tuple(layers)
        self._incident = medium(incident, "incident")
        self._exit = medium(exit, "exit")
        self._exit_roughness: float = real_number("exit_roughness", exit_roughness, minimum=0.0)

    @property
    def layers(self) -> tuple[Layer, ...]:
        """The layers, from the incidence side.

        Examples
        --------
        >>> ql.Stack([ql.Layer("TiO2", 60.0), ql.Layer("MgF2", 99.6)]).layers
        (TiO2 60 nm, MgF2 99.6 nm)
        """
        return self._layers

    @property
    def incident(self) -> Medium:
        """The incidence medium.

        Examples
        --------
        >>> ql.Stack([], incident="water").incident.name
        'water'
        """
        return self._incident

    @property
    def exit(self) -> Medium:
        """The exit medium (the substrate).

        Examples
        --------
        >>> ql.Stack([], exit="N-BK7").exit.name
        'N-BK7'
        """
        return self._exit

    @property
    def thicknesses(self) -> npt.NDArray[np.float64]:
        """The layer thicknesses in nm, from the incidence side, as a new array.

        Examples
        --------
        >>> ql.Stack([ql.Layer("TiO2", 60.0), ql.Layer("MgF2", 99.6)]).thicknesses
        array([60. , 99.6])
        """
        return np.array([layer.thickness for layer in self.layers], dtype=np.float64)

    @property
    def coherent(self) -> npt.NDArray[np.bool_]:
        """Per layer, whether it is treated coherently (the fronts' `coherent`), as a new array.

        Examples
        --------
        >>> ql.Stack([ql.Layer("MgF2", 99.6), ql.Layer("N-BK7", 1e6, coherent=False)]).coherent
        array([ True, False])
        """
        return np.array([layer.coherent for layer in self.layers], dtype=bool)

    @property
    def roughness(self) -> npt.NDArray[np.float64]:
        """RMS roughness in nm of every interface, from the incidence side, as a new array:
        each layer's front face, then the exit medium's.

        Examples
        --------
        >>> ql.Stack([ql.Layer("TiO2", 60.0, roughness=1.0)], exit_roughness=2.0).roughness
        array([1., 2.])
        """
        return np.array([*(layer.roughness for layer in self.layers), self._exit_roughness], dtype=np.float64)

    @property
    def rough(self) -> bool:
        """Some interface of the stack is rough.

        Examples
        --------
        >>> ql.Stack([ql.Layer("TiO2", 60.0)]).rough
        False
        """
        return bool(self.roughness.any())

    def indices(self, wavelengths: npt.ArrayLike) -> npt.NDArray[np.complex128]:
        """The complex index of every medium at the given wavelengths.

        Parameters
        ----------
        wavelengths : array_like
            Vacuum wavelengths in nm, (W,).

        Returns
        -------
        ndarray
            (media, W): the incidence medium, the layers' materials, the exit medium.

        Raises
        ------
        ValueError
            For wavelengths outside a material's valid range, or not one-dimensional.

        Examples
        --------
        >>> print(np.round(ql.Stack([ql.Layer(2.0 + 0.1j, 50.0)], exit=1.5).indices([500.0]), 2))
        [[1. +0.j ]
         [2. +0.1j]
         [1.5+0.j ]]
        """
        wl = wavelength_array(wavelengths)
        if wl.ndim != 1:
            raise ValueError(f"wavelengths must be one-dimensional; received shape {shape_text(wl.shape)}")
        media = (self.incident, *(layer.material for layer in self.layers), self.exit)
        result = np.empty((len(media), wl.size), np.complex128)
        for row, part in enumerate(media):
            if isinstance(part, TensorMaterial):
                raise ValueError(f"indices are not defined for the anisotropic medium {part!r} (medium {row}); "
                                 "received a stack with anisotropic media: solve it with Stack.solve")
            result[row] = part(wl)
        return result

    @property
    def anisotropic(self) -> bool:
        """Whether a medium of this stack is anisotropic (a `Uniaxial`, `Biaxial` or
        `TwistedLayer`): its solve is then the 4x4 one.

        Examples
        --------
        >>> ql.Stack([ql.Layer(ql.Uniaxial(1.5, 1.6), 100.0)]).anisotropic
        True
        """
        from quilmo_lab.tensors import TwistedLayer

        media = (self.incident, *(layer.material for layer in self.layers), self.exit)
        return (any(isinstance(part, TensorMaterial) for part in media)
                or any(isinstance(layer, TwistedLayer) for layer in self.layers))

    @overload
    def solve(self, wavelengths: npt.ArrayLike, angles: npt.ArrayLike = 0.0, *,
              thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
              threads: int | None = None, derivatives: Literal[True], roughness: npt.ArrayLike | None = None,
              roughness_model: str = "nevot-croce", cone: Cone | None = None, bandwidth: Slit | None = None,
              thickness_spread: npt.ArrayLike = 0.0, azimuths: None = None) -> Result: ...

    @overload
    def solve(self, wavelengths: npt.ArrayLike, angles: npt.ArrayLike = 0.0, *,
              thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
              threads: int | None = None, derivatives: bool = False, roughness: npt.ArrayLike | None = None,
              roughness_model: str = "nevot-croce", cone: Cone | None = None, bandwidth: Slit | None = None,
              thickness_spread: npt.ArrayLike = 0.0,
              azimuths: npt.ArrayLike | None = None) -> Result | AnisotropicResult: ...

    def solve(self, wavelengths: npt.ArrayLike, angles: npt.ArrayLike = 0.0, *,
              thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
              threads: int | None = None, derivatives: bool = False, roughness: npt.ArrayLike | None = None,
              roughness_model: str = "nevot-croce", cone: Cone | None = None, bandwidth: Slit | None = None,
              thickness_spread: npt.ArrayLike = 0.0,
              azimuths: npt.ArrayLike | None = None) -> Result | AnisotropicResult:
        """Amplitudes and powers of this stack: ``quilmo_lab.solve(self, ...)``, or the 4x4 solve
        (`solve_anisotropic`) where a medium is anisotropic or `azimuths` are given.

        Parameters
        ----------
        wavelengths : array_like
            Vacuum wavelengths in nm, (W,).
        angles : float or array_like, optional
            Angles of incidence in radians, a scalar or (A,).
        thicknesses : array_like, optional
            A (B, layers) batch of variants of this design's thicknesses, solved at once
            (isotropic stacks only).
        coherent : array_like of bool, optional
            Flags replacing the layers' own (isotropic stacks only).
        threads : int, optional
            Worker threads.
        derivatives : bool, optional
            Also compute the derivatives by every layer thickness (isotropic stacks only).
        roughness : array_like, optional
            RMS roughness per interface replacing the layers' own, (media - 1,) or
            (B, media - 1) (isotropic stacks only).
        roughness_model : {"nevot-croce", "debye-waller"}, optional
            The rough interfaces' factors.
        cone, bandwidth, thickness_spread : optional
            Averages over what an instrument sees, as for `quilmo_lab.solve` (isotropic
            stacks only).
        azimuths : float or array_like, optional
            The sample turned about its normal by these angles, radians (from x towards
            y), (B,): the batch axis of the `AnisotropicResult`.

        Returns
        -------
        Result or AnisotropicResult
            As `quilmo_lab.solve` or `quilmo_lab.solve_anisotropic` returns it.

        Raises
        ------
        ValueError
            For `thicknesses`, `coherent` or `derivatives` with an anisotropic solve.

        See Also
        --------
        quilmo_lab.solve, quilmo_lab.solve_anisotropic

        Examples
        --------
        >>> res = ql.Stack([ql.Layer(1.38, 99.6)], exit=1.52).solve([550.0], [0.0, 0.5], derivatives=True)
        >>> res.shape, res.dR_s.shape
        ((1, 2, 1), (1, 2, 1, 1))
        >>> film = ql.Stack([ql.Layer(ql.Uniaxial(1.5, 1.6, axis=(1.0, 0.0)), 300.0)], exit=1.46)
        >>> film.solve([633.0], 1.0, azimuths=[0.0, 0.5]).shape
        (2, 1, 1)
        """
        if self.anisotropic or azimuths is not None:
            for name, value in (("thicknesses", thicknesses), ("coherent", coherent)):
                if value is not None:
                    raise ValueError(f"{name} is not taken by the anisotropic solve (the batch axis is the "
                                     f"azimuths); received {name} with an anisotropic stack or azimuths")
            if derivatives:
                raise ValueError("derivatives are not computed by the anisotropic solve; received "
                                 "derivatives=True with an anisotropic stack or azimuths")
            measured = {"roughness": roughness is not None or self.rough,
                        "cone": cone is not None, "bandwidth": bandwidth is not None,
                        "thickness_spread": np.any(np.asarray(thickness_spread) != 0)}
            for name, given in measured.items():
                if given:
                    raise ValueError(f"{name} is not taken by the anisotropic solve; received {name} with an "
                                     f"anisotropic stack or azimuths")
            from quilmo_lab.anisotropic import _solve_stack

            return _solve_stack(self, wavelengths, angles, azimuths, threads)
        from quilmo_lab.solve import solve

        return solve(self, wavelengths, angles, thicknesses=thicknesses, coherent=coherent, threads=threads,
                     derivatives=derivatives, roughness=roughness, roughness_model=roughness_model, cone=cone,
                     bandwidth=bandwidth, thickness_spread=thickness_spread)

    def profile(self, wavelengths: npt.ArrayLike, angle: float, depths: npt.ArrayLike, *,
                thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
                threads: int | None = None) -> Profile:
        """Absorbed power density and |E|^2 in depth: ``quilmo_lab.profile(self, ...)``.

        Parameters
        ----------
        wavelengths : array_like
            Vacuum wavelengths in nm, (W,).
        angle : float
            The angle of incidence in radians.
        depths : array_like
            Depths in nm from the first interface, (D,).
        thicknesses : array_like, optional
            Other thicknesses for the layers, (layers,).
        coherent : array_like of bool, optional
            Flags replacing the layers' own.
        threads : int, optional
            Worker threads.

        Returns
        -------
        Profile

        See Also
        --------
        quilmo_lab.profile

        Examples
        --------
        >>> prof = ql.Stack([ql.Layer(2.0 + 0.1j, 100.0)], exit=1.5).profile([500.0], 0.0, [10.0, 90.0])
        >>> prof.density_s.shape
        (1, 2)
        """
        from quilmo_lab.profile import profile

        return profile(self, wavelengths, angle, depths, thicknesses=thicknesses, coherent=coherent,
                       threads=threads)

    def dispersion(self, wavelengths: npt.ArrayLike, angle: float = 0.0, side: Side = "r",
                   polarisation: Literal["s", "p"] = "s", *, thicknesses: npt.ArrayLike | None = None,
                   threads: int | None = None) -> Dispersion:
        """Phase, group delay, GDD and TOD of r or t: ``quilmo_lab.dispersion(self, ...)``.

        Parameters
        ----------
        wavelengths : array_like
            Vacuum wavelengths in nm, (W,).
        angle : float, optional
            The angle of incidence in radians.
        side : {"r", "t"}, optional
            The reflected or the transmitted amplitude.
        polarisation : {"s", "p"}, optional
            Its polarisation.
        thicknesses : array_like, optional
            Other thicknesses, (layers,), or a (B, layers) batch of them.
        threads : int, optional
            Worker threads.

        Returns
        -------
        Dispersion

        See Also
        --------
        quilmo_lab.dispersion

        Examples
        --------
        >>> d = ql.Stack([ql.Layer("TiO2", 100.0)], exit="N-BK7").dispersion([800.0], side="t")
        >>> print(np.round(d.gd, 3))
        [0.767]
        """
        from quilmo_lab.dispersion import dispersion

        return dispersion(self, wavelengths, angle, side, polarisation, thicknesses=thicknesses, threads=threads)

    def __repr__(self) -> str:
        return " | ".join([self.incident.name, *map(repr, self.layers), self.exit.name])
