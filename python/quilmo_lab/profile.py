"""profile: where in depth a stack absorbs, and |E|^2 there."""

from __future__ import annotations

from collections.abc import Callable
from typing import overload

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab._checks import axis
from quilmo_lab._polarisation import Polarisation, polarised
from quilmo_lab._problem import REQUIRED, Form, GridProblem, read_problem
from quilmo_lab._values import frozen, not_defined_with_incoherent_layers, plane
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

FORM = Form("profile", parameters=(("angle", REQUIRED), ("depths", REQUIRED)),
            options=(("coherent", None), ("threads", None), ("roughness", None), ("roughness_model", "nevot-croce")),
            one_angle=True)


class Profile:
    """Absorbed power density and |E|^2 of one stack over wavelengths and depths.

    Built by `profile` (or `Stack.profile`), never by hand. Every array has shape
    (W, D): wavelengths, depths. Like `Result`, a Profile is a value with read-only
    arrays.

    See Also
    --------
    profile : Builds a Profile.
    Result.absorbed_s : The absorbed fraction of each layer, the integral of the density.

    Notes
    -----
    Depths are measured from the first interface: negative ones lie in the incidence
    medium, those past the last interface in the exit medium, and a depth on an
    interface belongs to the medium behind it. Inside a coherent run of a stack with
    incoherent layers, the fields lit from the run's two sides add by power. Inside an
    incoherent layer, the forward and backward intensities decay as e^(-αz); there the
    interference of incident and reflected waves at the layer's faces has no phase to
    be computed from, so its integral differs from `Result.absorbed_s` where the layer
    absorbs.

    Examples
    --------
    >>> prof = ql.profile([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0, 600.0], 0.0, [0.0, 50.0, 100.0])
    >>> prof.density_s.shape
    (2, 3)
    """

    def __init__(self, values: FloatArray, wavelengths: FloatArray, depths: FloatArray,
                 fields: Callable[[], tuple[ComplexArray, FloatArray]] | None = None) -> None:
        # values: (4, W, D) density_s, density_p, E2_s, E2_p; fields (coherent stacks) computes
        # E_x, E_y, E_z of s then p, (6, W, D), and the Poynting flux s, p, (2, W, D)
        self._values = frozen(values)
        self._wavelengths = frozen(wavelengths)
        self._depths = frozen(depths)
        self._fields_of = fields
        self._fields: tuple[ComplexArray, FloatArray] | None = None

    def _complex_fields(self, name: str) -> tuple[ComplexArray, FloatArray]:
        if self._fields_of is None:
            raise not_defined_with_incoherent_layers(self, name)
        if self._fields is None:
            e, flux = self._fields_of()
            self._fields = frozen(e), frozen(flux)
        return self._fields

    @property
    def E_s(self) -> ComplexArray:
        """Complex electric field (E_x, E_y, E_z) of s polarisation, (3, W, D), relative to the
        incident plane wave (amplitude 1, ``tmm``'s ``position_resolved``): only E_y is
        non-zero. Coherent stacks only; computed on first use.

        Notes
        -----
        In a medium of angle θ, with forward and backward waves E_f and E_b at the depth,
        s has E_y = E_f + E_b and p has E_x = (E_f - E_b) cos θ, E_z = -(E_f + E_b) sin θ
        (p amplitudes in ``tmm``'s convention). E_y and E_x are continuous across an
        interface, E_z is not: a depth on an interface takes the medium behind it, as
        ``tmm``'s ``find_in_structure_with_inf`` does.

        Examples
        --------
        >>> prof = ql.profile([1.0, 1.5], [], [500.0], 0.0, [0.0])
        >>> print(np.round(prof.E_s[:, 0, 0], 4))
        [0. +0.j 0.8+0.j 0. +0.j]
        """
        return plane(self._complex_fields("E_s")[0].reshape(2, 3, *self._values.shape[1:]), 0)

    @property
    def E_p(self) -> ComplexArray:
        """As `E_s`, for p polarisation: E_x and E_z, E_y = 0, (3, W, D).

        Examples
        --------
        >>> prof = ql.profile([1.0, 1.5], [], [500.0], 0.6, [100.0])
        >>> print(np.round(np.abs(prof.E_p[:, 0, 0]), 4))
        [0.7065 0.     0.2871]
        """
        return plane(self._complex_fields("E_p")[0].reshape(2, 3, *self._values.shape[1:]), 1)

    @property
    def poynting_s(self) -> FloatArray:
        """Normal Poynting flux at each depth over the incident one, s polarisation, (W, D):
        1 - R before the stack (lossless incidence medium), T in the exit medium, falling
        through absorbing layers by what they absorb. Coherent stacks only.

        Examples
        --------
        >>> prof = ql.profile([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0], 0.0, [0.0, 100.0])
        >>> res = ql.solve([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0])
        >>> bool(np.isclose(prof.poynting_s[0, 1], res.T_s[0, 0, 0]))
        True
        """
        return plane(self._complex_fields("poynting_s")[1], 0)

    @property
    def poynting_p(self) -> FloatArray:
        """As `poynting_s`, for p polarisation, (W, D).

        Examples
        --------
        >>> prof = ql.profile([1.0, 1.5], [], [500.0], 0.5, [10.0])
        >>> res = ql.solve([1.0, 1.5], [], [500.0], 0.5)
        >>> bool(np.isclose(prof.poynting_p[0, 0], res.T_p[0, 0, 0]))
        True
        """
        return plane(self._complex_fields("poynting_p")[1], 1)

    @property
    def density_s(self) -> FloatArray:
        """Absorbed power per unit length (the unit of the wavelengths) per unit incident power, s polarisation, (W, D).

        Its integral over a coherent layer is that layer's `Result.absorbed_s`.

        Examples
        --------
        >>> prof = ql.profile([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0], 0.0, [0.0, 50.0, 99.0])
        >>> print(np.round(prof.density_s[0] * 1e3, 3))
        [2.594 1.609 2.36 ]
        """
        return plane(self._values, 0)

    @property
    def density_p(self) -> FloatArray:
        """As `density_s`, for p polarisation, (W, D).

        Examples
        --------
        >>> prof = ql.profile([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0], 0.0, [50.0])
        >>> bool(prof.density_p[0, 0] == prof.density_s[0, 0])  # alike at normal incidence
        True
        """
        return plane(self._values, 1)

    @property
    def E2_s(self) -> FloatArray:
        """|E|^2 relative to the incident plane wave, s polarisation, (W, D).

        Examples
        --------
        Before a bare interface, the standing wave of incident and reflected light,
        |1 + r|^2 at the interface and |1 - r|^2 a quarter wavelength before it:

        >>> prof = ql.profile([1.0, 1.5], [], [500.0], 0.0, [-125.0, -250.0])
        >>> print(np.round(prof.E2_s[0], 4))
        [1.44 0.64]
        """
        return plane(self._values, 2)

    @property
    def E2_p(self) -> FloatArray:
        """As `E2_s`, for p polarisation: both components in the plane of incidence, (W, D).

        Examples
        --------
        >>> prof = ql.profile([1.0, 1.5], [], [500.0], 0.0, [-125.0, -250.0])
        >>> print(np.round(prof.E2_p[0], 4))
        [1.44 0.64]
        """
        return plane(self._values, 3)

    @property
    def wavelengths(self) -> FloatArray:
        """The wavelengths, (W,).

        Examples
        --------
        >>> ql.profile([1.0, 1.5], [], [500.0, 600.0], 0.0, [0.0]).wavelengths
        array([500., 600.])
        """
        return self._wavelengths

    @property
    def depths(self) -> FloatArray:
        """The depths from the first interface, (D,), in the unit of the wavelengths.

        Examples
        --------
        >>> ql.profile([1.0, 1.5], [], [500.0], 0.0, [-10.0, 0.0, 10.0]).depths
        array([-10.,   0.,  10.])
        """
        return self._depths

    def density(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """Absorbed power density of one polarisation, (W, D).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            "s", "p", "unpolarized" (the mean of s and p) or an angle φ in radians
            weighting s by cos²φ and p by sin²φ.

        Returns
        -------
        ndarray
            A new array, (W, D).

        Examples
        --------
        >>> prof = ql.profile([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0], 0.7, [50.0])
        >>> bool(prof.density()[0, 0] == 0.5 * (prof.density_s[0, 0] + prof.density_p[0, 0]))
        True
        """
        return polarised(self.density_s, self.density_p, polarisation)

    def E2(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """|E|^2 of one polarisation, (W, D).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            As for `density`.

        Returns
        -------
        ndarray
            A new array, (W, D).

        Examples
        --------
        >>> prof = ql.profile([1.0, 1.5], [], [500.0], 0.0, [-125.0])
        >>> print(np.round(prof.E2("s"), 4))
        [[1.44]]
        """
        return polarised(self.E2_s, self.E2_p, polarisation)

    def __repr__(self) -> str:
        w, d = self.density_s.shape
        return f"<quilmo_lab.Profile: {w} wavelengths x {d} depths>"


@overload
def profile(stack: Stack, wavelengths: npt.ArrayLike, angle: float, depths: npt.ArrayLike, *,
            thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
            threads: int | None = None, roughness: npt.ArrayLike | None = None,
            roughness_model: str = "nevot-croce") -> Profile: ...


@overload
def profile(indices: npt.ArrayLike, thicknesses: npt.ArrayLike, wavelengths: npt.ArrayLike, angle: float,
            depths: npt.ArrayLike, *, coherent: npt.ArrayLike | None = None, threads: int | None = None,
            roughness: npt.ArrayLike | None = None, roughness_model: str = "nevot-croce") -> Profile: ...


def profile(*args: object, **kwargs: object) -> Profile:
    """Absorbed power density and |E|^2 for s and p at given depths of one stack.

    Called as ``profile(stack, wavelengths, angle, depths, *, thicknesses=None,
    coherent=None, threads=None)`` for a `Stack`, or as ``profile(indices, thicknesses,
    wavelengths, angle, depths, *, coherent=None, threads=None)`` for arrays.

    Parameters
    ----------
    stack : Stack
        A design of materials.
    indices : array_like
        Refractive indices n + ik of one stack, (media,) or (media, W), as for `solve`.
    thicknesses : array_like
        One per inner layer, (media - 2,); with a Stack, other thicknesses for its layers.
    wavelengths : array_like
        Vacuum wavelengths, (W,).
    angle : float
        The angle of incidence in the incidence medium, radians. At grazing incidence
        (see `solve`) the incident and reflected waves cancel: |E|^2 and the density are
        0 at every depth.
    depths : array_like
        Depths from the first interface, (D,), in the unit of the wavelengths: negative
        in the incidence medium, past the last interface in the exit medium.
    coherent : array_like of bool, optional
        One flag per inner layer, as for `solve`; unlike `tmm`, stacks with incoherent
        layers have profiles too.
    threads : int, optional
        Worker threads, as for `solve`.
    roughness, roughness_model : optional
        Rough interfaces, as for `solve`: the waves in each layer are those of the rough
        interfaces' coefficients.

    Returns
    -------
    Profile
        density_s, density_p, E2_s, E2_p of shape (W, D).

    Raises
    ------
    TypeError, ValueError
        As for `solve`, and for more than one stack or angle.

    See Also
    --------
    solve : R, T and the absorbed fraction of each layer.

    Notes
    -----
    The fields come from the amplitudes of Rouard's recursion, as `tmm`'s
    ``position_resolved`` computes them; the density integrates over each coherent layer
    to its `Result.absorbed_s` and `Result.absorbed_p`.

    Examples
    --------
    The absorbed power density falls off into an absorbing film:

    >>> prof = ql.profile([1.0, 2.0 + 0.3j, 1.5], [200.0], [500.0], 0.0, [0.0, 100.0, 199.0])
    >>> print(np.round(prof.density()[0] * 1e3, 3))
    [6.368 3.454 1.932]
    """
    problem, values = read_problem(FORM, args, kwargs)
    depths = axis("depths", values["depths"], "D")
    if problem.stacks != 1:
        raise ValueError(f"indices and thicknesses must describe one stack for a profile; "
                         f"received {problem.stacks}")
    out = problem.empty((4, problem.wavelengths.shape[0], depths.shape[0]), np.float64)
    _engine.profile(problem.indices, problem.thicknesses, problem.wavelengths, problem.angles, problem.roughness,
                    problem.roughness_model, problem.flags, depths, out, problem.threads)
    return Profile(out, problem.wavelengths, depths, None if problem.coherent is not None else _fields(problem, depths))


def _fields(problem: GridProblem, depths: FloatArray) -> Callable[[], tuple[ComplexArray, FloatArray]]:
    """Computes, on demand, E_x, E_y, E_z of s and p, (6, W, D), and the Poynting flux, (2, W, D)."""

    def fields() -> tuple[ComplexArray, FloatArray]:
        media = np.empty(depths.shape, dtype=np.uint64)
        z = np.empty(depths.shape, dtype=np.float64)
        _engine.depth_places(problem.thicknesses, depths, media, z)
        w = problem.wavelengths.shape[0]
        e = problem.empty((6, w, depths.shape[0]), np.complex128)
        powers = problem.empty((6, w, depths.shape[0]), np.float64)
        _engine.fields(problem.indices, problem.thicknesses, problem.wavelengths, problem.angles, problem.roughness,
                       problem.roughness_model, media, z, e, powers, problem.threads)
        return e, powers[:2]

    return fields
