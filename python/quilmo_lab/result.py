"""The result of `solve`: amplitudes and powers on the (stack, angle, wavelength) grid."""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, Any, Literal

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import choice
from quilmo_lab._mueller import depolarisation_index, isotropic_mueller, pseudo_psi_delta
from quilmo_lab._optional import xarray_module
from quilmo_lab._polarisation import Polarisation, polarised
from quilmo_lab._values import frozen, missing, not_computed, not_defined_with_incoherent_layers, plane

if TYPE_CHECKING:
    import xarray

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

# The delta conventions ellipsometry_convention converts to.
Convention = Literal["tmm", "pyelli", "openfilters"]
CONVENTIONS: tuple[Convention, ...] = ("tmm", "pyelli", "openfilters")

_AMPLITUDES = ("r_s", "r_p", "t_s", "t_p")
_POWERS = ("R_s", "R_p", "T_s", "T_p")


class Result:
    """Amplitudes, powers and ellipsometric angles of every (stack, angle, wavelength) point.

    Built by `solve` (or `Stack.solve`), never by hand. Every array has shape (B, A, W):
    stacks, angles of incidence, wavelengths, with B = 1 and A = 1 kept; derivatives by
    thickness and absorbed fractions have a layer axis before the wavelengths,
    (B, A, layers, W).

    A Result is a value: it never changes after `solve` returns, the arrays it hands
    out are read-only, and it keeps its own copy of every input it still computes from
    (the absorbed fractions, on first use), so that nothing done to the caller's arrays
    afterwards changes it. A quantity the call did not compute, or that the stack does
    not define, raises AttributeError saying why and how to get it.

    See Also
    --------
    solve : Builds a Result.
    Profile : Absorption and |E|^2 in depth.
    ellipsometry_convention : delta in the conventions of pyElli and OpenFilters.

    Notes
    -----
    The conventions are those of `tmm`'s ``coh_tmm`` and ``ellips`` [1]_: n + ik with
    k > 0 absorbing and time dependence exp(-iωt); r = M10 / M00 and t = 1 / M00 of the
    2x2 transfer matrix M, so that r_p = -r_s at normal incidence; R = |r|^2;
    T_s = |t_s|^2 Re(n_out cos θ_out) / Re(n_in cos θ_in) and
    T_p = |t_p|^2 Re(n_out conj(cos θ_out)) / Re(n_in conj(cos θ_in)), the Poynting
    fluxes, so that R + T + A = 1 also for an absorbing exit medium;
    psi = arctan|r_p / r_s| and delta = arg(-r_p / r_s) in (-π, π].

    Where powers are weighted, `polarisation` is "s", "p", "unpolarized" (the mean of s
    and p) or an angle φ in radians, of which a fraction cos²φ of the power is
    s-polarised and sin²φ p-polarised, as in ``quilmo.DataPy``.

    References
    ----------
    .. [1] S. J. Byrnes, "Multilayer optical calculations", arXiv:1603.02720 (2016).

    Examples
    --------
    A quarter-wave MgF2 coating on glass at three wavelengths and two angles:

    >>> res = ql.solve([1.0, 1.38, 1.52], [99.6], [500.0, 550.0, 600.0], [0.0, 0.5])
    >>> res.shape
    (1, 2, 3)
    >>> print(np.round(res.R()[0, 0], 4))
    [0.0134 0.0126 0.0131]
    >>> res.R_s[0, 0, 0] = 0.5
    Traceback (most recent call last):
    ...
    ValueError: assignment destination is read-only
    """

    # inputs not given and values not computed yet
    _amplitudes: ComplexArray | None = None
    _power_derivatives: FloatArray | None = None
    _amplitude_derivatives: ComplexArray | None = None
    _roughness_derivatives: FloatArray | None = None
    _normal: ComplexArray | None = None
    _waves: ComplexArray | None = None
    _mueller: tuple[FloatArray, FloatArray] | None = None
    _absorbed: FloatArray | None = None
    _ellipsometry: tuple[FloatArray, FloatArray] | None = None
    _ellipsometry_derivatives: tuple[FloatArray, FloatArray] | None = None

    def __init__(self, powers: FloatArray, wavelengths: FloatArray, angles: npt.NDArray[Any], *,
                 absorb: Callable[[], FloatArray], amplitudes: ComplexArray | None = None,
                 power_derivatives: FloatArray | None = None,
                 amplitude_derivatives: ComplexArray | None = None,
                 roughness_derivatives: FloatArray | None = None,
                 cross: Callable[[], ComplexArray] | None = None,
                 layer_waves: Callable[[bool], tuple[ComplexArray, ComplexArray | None]] | None = None) -> None:
        # powers and amplitudes: (4, B, A, W); their derivatives (4, B, A, layers, W), with
        # amplitudes None for a stack with incoherent layers and derivatives None where
        # not asked for. absorb computes the (2, B, A, layers, W) absorbed fractions from
        # inputs the result owns.
        self._powers = frozen(powers)
        self._wavelengths = frozen(wavelengths)
        self._angles = frozen(angles)
        self._absorb = absorb
        # what was not given keeps the class's None: a small result is built in few steps
        if amplitudes is not None:
            self._amplitudes = frozen(amplitudes)
        if power_derivatives is not None:
            self._power_derivatives = frozen(power_derivatives)
        if amplitude_derivatives is not None:
            self._amplitude_derivatives = frozen(amplitude_derivatives)
        # (4, B, A, media - 1, W) derivatives of R_s, R_p, T_s, T_p by each interface's roughness
        if roughness_derivatives is not None:
            self._roughness_derivatives = frozen(roughness_derivatives)
        # cross computes the (2, B, A, W) s-p cross terms of R and T (for the Mueller matrices)
        self._cross_of = cross
        # layer_waves(with_waves) computes k_z and the angles of every medium, (2, B, A, media, W), and
        # with_waves the amplitudes v_s, w_s, v_p, w_p at each medium's front, (4, B, A, media, W)
        self._layer_waves_of = layer_waves

    @classmethod
    def _coherent(cls, powers: FloatArray, wavelengths: FloatArray, angles: npt.NDArray[Any],
                  amplitudes: ComplexArray, absorb: Callable[[], FloatArray],
                  cross: Callable[[], ComplexArray],
                  layer_waves: Callable[[bool], tuple[ComplexArray, ComplexArray | None]]) -> Result:
        """The Result __init__ builds of a coherent solve without derivatives, in the fewest
        steps (a single point's solve is mostly the building of its result)."""
        result = cls.__new__(cls)
        for array in (powers, wavelengths, angles, amplitudes):
            array.setflags(write=False)  # frozen(), without a call per array
        result._powers, result._wavelengths = powers, wavelengths
        result._angles, result._amplitudes = angles, amplitudes
        result._absorb, result._cross_of, result._layer_waves_of = absorb, cross, layer_waves
        return result

    # the grid ---------------------------------------------------------------------------------
    @property
    def wavelengths(self) -> FloatArray:
        """The wavelengths of the grid, shape (W,), in the unit of the thicknesses.

        Examples
        --------
        >>> ql.solve([1.0, 1.5], [], [500.0, 600.0]).wavelengths
        array([500., 600.])
        """
        return self._wavelengths

    @property
    def angles(self) -> npt.NDArray[Any]:
        """The angles of incidence in the incidence medium, radians, shape (A,) (complex where
        they were given so).

        Examples
        --------
        >>> ql.solve([1.0, 1.5], [], [500.0], [0.0, 0.5]).angles
        array([0. , 0.5])
        """
        return self._angles

    @property
    def shape(self) -> tuple[int, int, int]:
        """(B, A, W): stacks, angles, wavelengths.

        Examples
        --------
        >>> ql.solve([1.0, 1.38, 1.52], [[99.6], [110.0]], [500.0, 600.0, 700.0], 0.2).shape
        (2, 1, 3)
        """
        b, a, w = self._powers.shape[1:]
        return b, a, w

    @property
    def coherent(self) -> bool:
        """Whether every layer was solved coherently.

        False for a stack solved with incoherent layers, which has no amplitudes and no
        psi and delta.

        Examples
        --------
        >>> ql.solve([1.0, 1.5, 1.0], [1e6], [500.0]).coherent
        True
        >>> ql.solve([1.0, 1.5, 1.0], [1e6], [500.0], coherent=[False]).coherent
        False
        """
        return self._amplitudes is not None

    # amplitudes -------------------------------------------------------------------------------
    def _amplitude(self, name: str) -> ComplexArray:
        if self._amplitudes is None:
            raise not_defined_with_incoherent_layers(self, name)
        return plane(self._amplitudes, _AMPLITUDES.index(name))

    @property
    def r_s(self) -> ComplexArray:
        """Amplitude reflection coefficient for s polarisation, r = M10 / M00, (B, A, W).

        Raises
        ------
        AttributeError
            For a stack solved with incoherent layers (no phase across the stack).

        Examples
        --------
        At normal incidence on glass, r_s = (1 - 1.5) / (1 + 1.5):

        >>> print(ql.solve([1.0, 1.5], [], [500.0]).r_s[0, 0])
        [-0.2+0.j]
        """
        return self._amplitude("r_s")

    @property
    def r_p(self) -> ComplexArray:
        """Amplitude reflection coefficient for p polarisation, (B, A, W); r_p = -r_s at
        normal incidence.

        Raises
        ------
        AttributeError
            For a stack solved with incoherent layers.

        Examples
        --------
        >>> print(ql.solve([1.0, 1.5], [], [500.0]).r_p[0, 0])
        [0.2+0.j]
        """
        return self._amplitude("r_p")

    @property
    def t_s(self) -> ComplexArray:
        """Amplitude transmission coefficient for s polarisation, t = 1 / M00, (B, A, W).

        Raises
        ------
        AttributeError
            For a stack solved with incoherent layers.

        Examples
        --------
        >>> print(ql.solve([1.0, 1.5], [], [500.0]).t_s[0, 0])
        [0.8+0.j]
        """
        return self._amplitude("t_s")

    @property
    def t_p(self) -> ComplexArray:
        """Amplitude transmission coefficient for p polarisation, (B, A, W).

        Raises
        ------
        AttributeError
            For a stack solved with incoherent layers.

        Examples
        --------
        >>> print(ql.solve([1.0, 1.5], [], [500.0]).t_p[0, 0])
        [0.8+0.j]
        """
        return self._amplitude("t_p")

    # powers -----------------------------------------------------------------------------------
    @property
    def R_s(self) -> FloatArray:
        """Reflectance for s polarisation: the fraction of the incident power reflected, (B, A, W).

        Examples
        --------
        >>> print(ql.solve([1.0, 1.5], [], [500.0]).R_s[0, 0])
        [0.04]
        """
        return plane(self._powers, 0)

    @property
    def R_p(self) -> FloatArray:
        """Reflectance for p polarisation, (B, A, W).

        Examples
        --------
        At Brewster's angle p-polarised light is not reflected:

        >>> brewster = np.arctan(1.5)
        >>> print(np.round(ql.solve([1.0, 1.5], [], [500.0], brewster).R_p[0, 0], 12))
        [0.]
        """
        return plane(self._powers, 1)

    @property
    def T_s(self) -> FloatArray:
        """Transmittance for s polarisation: the fraction of the incident power transmitted, (B, A, W).

        Examples
        --------
        >>> print(ql.solve([1.0, 1.5], [], [500.0]).T_s[0, 0])
        [0.96]
        """
        return plane(self._powers, 2)

    @property
    def T_p(self) -> FloatArray:
        """Transmittance for p polarisation, the Poynting flux, (B, A, W).

        Examples
        --------
        >>> print(np.round(ql.solve([1.0, 1.5], [], [500.0], np.arctan(1.5)).T_p[0, 0], 12))
        [1.]
        """
        return plane(self._powers, 3)

    def point(self, b: int = 0, a: int = 0, w: int = 0) -> dict[str, float | complex]:
        """The values of one (stack, angle, wavelength) point as plain numbers.

        Parameters
        ----------
        b, a, w : int, optional
            Stack, angle and wavelength index (default 0; negative counts from the end).

        Returns
        -------
        dict
            ``R_s``, ``R_p``, ``T_s``, ``T_p``, ``R`` and ``T`` (unpolarised), and where the
            stack is coherent ``r_s``, ``r_p``, ``t_s``, ``t_p``.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.38, 1.52], [99.6], [450.0, 550.0])
        >>> round(res.point(w=1)["R"], 4)
        0.0126
        """
        b_, a_, w_ = self.shape
        for name, index, size in (("b", b, b_), ("a", a, a_), ("w", w, w_)):
            if isinstance(index, bool) or not isinstance(index, (int, np.integer)):
                raise TypeError(f"{name} must be an integer index; received {type(index).__name__}")
            if not -size <= index < size:
                raise ValueError(f"{name} must be an index below {size}; received {index}")
        values: dict[str, float | complex] = {
            name: float(self._powers[i, b, a, w]) for i, name in enumerate(("R_s", "R_p", "T_s", "T_p"))}
        values["R"] = (values["R_s"] + values["R_p"]) / 2
        values["T"] = (values["T_s"] + values["T_p"]) / 2
        if self._amplitudes is not None:
            for i, name in enumerate(("r_s", "r_p", "t_s", "t_p")):
                values[name] = complex(self._amplitudes[i, b, a, w])
        return values

    def R(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """Reflectance of one polarisation, (B, A, W).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            "s" or "p" give R_s or R_p, "unpolarized" their mean, an angle φ (radians,
            an array of them broadcast against the grid) R_s cos²φ + R_p sin²φ.

        Returns
        -------
        ndarray
            A new array of the reflectance, (B, A, W) (or the broadcast shape).

        Raises
        ------
        ValueError, TypeError
            For a polarisation outside the vocabulary.

        See Also
        --------
        T, A : Transmittance and absorptance alike.

        Notes
        -----
        With an angle φ the weights are cos²φ and sin²φ from the C library's cosine
        and sine, so that R(φ) is ``quilmo.DataPy(d, n, wl, theta, φ).simulate().r`` bit
        for bit wherever no layer is opaque.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.5], [], [500.0], 0.8)
        >>> print(np.round(res.R_s[0, 0], 4), np.round(res.R_p[0, 0], 4))
        [0.095] [0.0075]
        >>> print(np.round(res.R()[0, 0], 4), np.round(res.R(np.pi / 2)[0, 0], 4))
        [0.0512] [0.0075]
        """
        return polarised(self.R_s, self.R_p, polarisation)

    def T(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """Transmittance of one polarisation, (B, A, W).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            As for `R`.

        Returns
        -------
        ndarray
            A new array of the transmittance.

        See Also
        --------
        R, A

        Notes
        -----
        Differs from ``quilmo.DataPy``'s ``t`` for p-polarised light at oblique incidence
        on an absorbing exit medium, where DataPy weights |t_p|^2 with Re(n_out cos θ_out)
        instead of the Poynting flux.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.5], [], [500.0], 0.8)
        >>> print(np.round(res.T("s")[0, 0] + res.R("s")[0, 0], 12))
        [1.]
        """
        return polarised(self.T_s, self.T_p, polarisation)

    def A(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """Absorptance 1 - R - T of one polarisation: the fraction absorbed in the inner layers, (B, A, W).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            As for `R`.

        Returns
        -------
        ndarray
            A new array of the absorptance.

        See Also
        --------
        absorbed : The same fraction, layer by layer.

        Examples
        --------
        >>> res = ql.solve([1.0, 2.0 + 0.1j, 1.5], [50.0], [550.0])
        >>> print(np.round(res.A()[0, 0], 4))
        [0.0961]
        """
        return absorptance(self.R(polarisation), self.T(polarisation))

    # absorption per layer ---------------------------------------------------------------------
    def _layers(self) -> FloatArray:
        if self._absorbed is None:
            self._absorbed = frozen(self._absorb())
        return self._absorbed

    @property
    def absorbed_s(self) -> FloatArray:
        """Fraction of the incident power absorbed in each inner layer, s polarisation, (B, A, layers, W).

        Computed on first use; with R_s and T_s it sums to 1.

        Notes
        -----
        Coherent layers take the difference of the Poynting flux at their two faces,
        from amplitudes found by Rouard's recursion; incoherent layers the net flux at
        their faces, as `tmm`'s ``absorp_in_each_layer`` and ``inc_absorp_in_each_layer``.

        Examples
        --------
        >>> res = ql.solve([1.0, 2.0 + 0.1j, 1.5, 1.0], [50.0, 80.0], [550.0])
        >>> print(np.round(res.absorbed_s[0, 0, :, 0], 4))
        [0.0784 0.    ]
        >>> print(np.round(res.R_s + res.T_s + res.absorbed_s.sum(axis=2), 12)[0, 0])
        [1.]
        """
        return plane(self._layers(), 0)

    @property
    def absorbed_p(self) -> FloatArray:
        """As `absorbed_s`, for p polarisation, (B, A, layers, W).

        Examples
        --------
        >>> res = ql.solve([1.0, 2.0 + 0.1j, 1.5, 1.0], [50.0, 80.0], [550.0], 0.6)
        >>> res.absorbed_p.shape
        (1, 1, 2, 1)
        """
        return plane(self._layers(), 1)

    def absorbed(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """Fraction absorbed in each inner layer for one polarisation, (B, A, layers, W).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            As for `R`; angle arrays broadcast against (B, A, W).

        Returns
        -------
        ndarray
            A new array, (B, A, layers, W).

        Examples
        --------
        >>> res = ql.solve([1.0, 2.0 + 0.1j, 1.5, 1.0], [50.0, 80.0], [550.0])
        >>> print(np.round(res.absorbed()[0, 0, :, 0], 4))
        [0.0784 0.    ]
        """
        return polarised(self.absorbed_s, self.absorbed_p, polarisation, layer_axis=True)

    # per medium -------------------------------------------------------------------------------
    def _per_medium(self, name: str) -> tuple[ComplexArray, ComplexArray | None]:
        if self._layer_waves_of is None:
            raise missing(self, name, "was not kept by what built this result",
                          "quilmo_lab.solve gives it on a plain solve")
        if self._normal is None:
            normal, waves = self._layer_waves_of(self.coherent)
            self._normal, self._waves = frozen(normal), None if waves is None else frozen(waves)
        return self._normal, self._waves

    @property
    def kz(self) -> ComplexArray:
        """Normal wave-vector component k_z = 2π n cos θ / λ in every medium, (B, A, media, W),
        in the inverse unit of the wavelengths; computed on first use.

        The incidence medium first, the exit medium last, each taken forward: the wave
        counted forward decays along +z (Im k_z > 0), or propagates along +z where Im k_z is
        within 100 machine epsilons of 0 (``tmm``'s ``kz_list``).

        Examples
        --------
        >>> res = ql.solve([1.0, 1.5], [], [500.0], 0.5)
        >>> print(np.round(res.kz[0, 0, :, 0].real, 6))
        [0.011028 0.017861]
        """
        return plane(self._per_medium("kz")[0], 0)

    @property
    def layer_angles(self) -> ComplexArray:
        """The complex angle θ of the light in every medium, radians, (B, A, media, W):
        cos θ = k_z λ / (2π n), sin θ = n_0 sin θ_0 / n, real where both are (``tmm``'s
        ``th_list``); computed on first use.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.5], [], [500.0], 0.5)
        >>> print(np.round(res.layer_angles[0, 0, :, 0].real, 6))
        [0.5      0.325325]
        """
        return plane(self._per_medium("layer_angles")[0], 1)

    def _wave_pair(self, name: str, first: int) -> ComplexArray:
        if not self.coherent:
            raise not_defined_with_incoherent_layers(self, name)
        waves = self._per_medium(name)[1]
        assert waves is not None
        return frozen(np.stack((waves[first], waves[first + 1]), axis=3))

    @property
    def waves_s(self) -> ComplexArray:
        """Forward and backward amplitudes of the s electric field at the front of every
        medium, (B, A, media, 2, W), for an incident wave of amplitude 1 (``tmm``'s
        ``vw_list``, whose incidence row ``tmm`` leaves 0): the incidence medium holds 1 and
        r_s, the exit medium t_s and 0; computed on first use, coherent stacks only.

        Examples
        --------
        >>> res = ql.solve([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0])
        >>> bool(np.isclose(res.waves_s[0, 0, 0, 1, 0], res.r_s[0, 0, 0]))
        True
        """
        return self._wave_pair("waves_s", 0)

    @property
    def waves_p(self) -> ComplexArray:
        """As `waves_s`, for p polarisation (``tmm``'s amplitude convention for p).

        Examples
        --------
        >>> res = ql.solve([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0], 0.3)
        >>> bool(np.isclose(res.waves_p[0, 0, 2, 0, 0], res.t_p[0, 0, 0]))
        True
        """
        return self._wave_pair("waves_p", 2)

    # ellipsometry -----------------------------------------------------------------------------
    def _psi_delta(self, name: str) -> tuple[FloatArray, FloatArray]:
        if self._ellipsometry is None:
            if self._amplitudes is None:
                psi, delta = pseudo_psi_delta(self.mueller_r)
                self._ellipsometry = (frozen(psi), frozen(delta))
                return self._ellipsometry
            psi, delta = ellipsometric_angles(self.r_s, self.r_p)
            self._ellipsometry = (frozen(psi), frozen(delta))
        return self._ellipsometry

    # Mueller matrices -------------------------------------------------------------------------
    def _mueller_pair(self, name: str) -> tuple[FloatArray, FloatArray]:
        if self._mueller is None:
            if self._cross_of is None:
                raise missing(self, name, "was not computed", "solve the stack with quilmo_lab.solve")
            cross = self._cross_of()
            reflected = isotropic_mueller(self.R_s, self.R_p, cross[0])
            transmitted = isotropic_mueller(self.T_s, self.T_p, cross[1])
            self._mueller = (frozen(reflected), frozen(transmitted))
        return self._mueller

    @property
    def mueller_r(self) -> FloatArray:
        """Mueller matrices of reflection, (B, A, W, 4, 4), in power units: m00 is the
        unpolarised R.

        Stokes vectors are (I, Q, U, V) in the (s, p) basis: Q = |E_s|^2 - |E_p|^2,
        U = 2 Re(E_s conj(E_p)), V = 2 Im(conj(E_s) E_p). For a coherent stack this is the
        non-depolarising matrix of diag(r_s, r_p); with incoherent layers the matrices of
        every path through them add, the backside reflections of a substrate included, and
        the sum depolarises (`depolarisation_index_r`).

        Examples
        --------
        A 1 mm glass plate in air, its back face included, at 60 degrees:

        >>> plate = ql.solve([1.0, 1.5, 1.0], [1e6], [600.0], np.radians(60.0), coherent=[False])
        >>> print(np.round(plate.mueller_r[0, 0, 0, :2, :2], 4), np.round(plate.mueller_r[0, 0, 0, 2, 2], 4))
        [[0.1519 0.1483]
         [0.1483 0.1519]] 0.0325
        >>> print(np.round(plate.depolarisation_index_r[0, 0, 0], 5))
        0.00034
        """
        return self._mueller_pair("mueller_r")[0]

    @property
    def mueller_t(self) -> FloatArray:
        """Mueller matrices of transmission, (B, A, W, 4, 4), in power units: m00 is the
        unpolarised T; as `mueller_r`.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.5], [], [600.0], 0.5)
        >>> print(np.round(res.mueller_t[0, 0, 0, 0, 0] - res.T()[0, 0, 0], 15))
        0.0
        """
        return self._mueller_pair("mueller_t")[1]

    @property
    def depolarisation_index_r(self) -> FloatArray:
        """1 - P_Δ of `mueller_r`, (B, A, W): 0 for a non-depolarising matrix (a coherent
        stack), above 0 where incoherent paths add; P_Δ is the depolarisation index of
        Gil and Bernabeu (Opt. Acta 33, 185 (1986)).

        Examples
        --------
        >>> float(ql.solve([1.0, 1.4, 1.5], [90.0], [500.0], 0.7).depolarisation_index_r[0, 0, 0]) < 1e-7
        True
        """
        return frozen(depolarisation_index(self.mueller_r))

    @property
    def depolarisation_index_t(self) -> FloatArray:
        """1 - P_Δ of `mueller_t`, (B, A, W); as `depolarisation_index_r`.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.5, 1.0], [1e6], [600.0], 1.0, coherent=[False])
        >>> bool(res.depolarisation_index_t[0, 0, 0] > 0)
        True
        """
        return frozen(depolarisation_index(self.mueller_t))

    @property
    def psi(self) -> FloatArray:
        """Ellipsometric angle psi = arctan|r_p / r_s|, radians, (B, A, W).

        With incoherent layers r_s and r_p have no phase across the stack; psi and delta
        are then the pseudo angles an ellipsometer reports, from `mueller_r` (backside
        reflections included): psi = atan2(sqrt(C^2 + S^2), N) / 2 and delta = atan2(S, C)
        with N = m01/m00, C = -m22/m00, S = m23/m00, which are the angles above where the
        matrix does not depolarise.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.46, 3.88 + 0.02j], [100.0], [633.0], np.radians(70.0))
        >>> print(np.round(np.degrees(res.psi[0, 0]), 2))
        [41.21]
        """
        return self._psi_delta("psi")[0]

    @property
    def delta(self) -> FloatArray:
        """Ellipsometric angle delta = arg(-r_p / r_s) in (-π, π], radians, (B, A, W).

        This is `tmm`'s convention; `ellipsometry_convention` converts to pyElli's.

        With incoherent layers, the pseudo delta of `mueller_r` (see `psi`).

        Examples
        --------
        >>> res = ql.solve([1.0, 1.46, 3.88 + 0.02j], [100.0], [633.0], np.radians(70.0))
        >>> print(np.round(np.degrees(res.delta[0, 0]), 2))
        [100.47]
        """
        return self._psi_delta("delta")[1]

    # thickness derivatives --------------------------------------------------------------------
    def _amplitude_derivatives_for(self, name: str) -> ComplexArray:
        """The (4, B, A, layers, W) amplitude derivatives, or why `name` cannot be read."""
        if self._amplitudes is None:
            raise not_defined_with_incoherent_layers(self, name)
        if self._amplitude_derivatives is None:
            raise not_computed(self, name)
        return self._amplitude_derivatives

    def _amplitude_derivative(self, name: str) -> ComplexArray:
        return plane(self._amplitude_derivatives_for(name), _AMPLITUDES.index(name[1:]))

    def _power_derivative(self, name: str) -> FloatArray:
        if self._power_derivatives is None:
            raise not_computed(self, name)
        return plane(self._power_derivatives, _POWERS.index(name[1:]))

    @property
    def dr_s(self) -> ComplexArray:
        """d r_s / d thickness of each inner layer, per unit of thickness, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``, or for a stack with incoherent layers.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], derivatives=True)
        >>> res.dr_s.shape
        (1, 1, 1, 1)
        >>> ql.solve([1.0, 1.38, 1.52], [99.6], [550.0]).dr_s
        Traceback (most recent call last):
        ...
        AttributeError: dr_s was not computed; solve with derivatives=True to get the thickness derivatives
        """
        return self._amplitude_derivative("dr_s")

    @property
    def dr_p(self) -> ComplexArray:
        """d r_p / d thickness, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``, or for a stack with incoherent layers.

        Examples
        --------
        >>> ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], derivatives=True).dr_p.shape
        (1, 1, 1, 1)
        """
        return self._amplitude_derivative("dr_p")

    @property
    def dt_s(self) -> ComplexArray:
        """d t_s / d thickness, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``, or for a stack with incoherent layers.

        Examples
        --------
        >>> ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], derivatives=True).dt_s.shape
        (1, 1, 1, 1)
        """
        return self._amplitude_derivative("dt_s")

    @property
    def dt_p(self) -> ComplexArray:
        """d t_p / d thickness, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``, or for a stack with incoherent layers.

        Examples
        --------
        >>> ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], derivatives=True).dt_p.shape
        (1, 1, 1, 1)
        """
        return self._amplitude_derivative("dt_p")

    @property
    def dR_s(self) -> FloatArray:
        """d R_s / d thickness of each inner layer, per unit of thickness, (B, A, layers, W).

        Defined for stacks with incoherent layers too.

        Raises
        ------
        AttributeError
            Without ``derivatives=True``.

        Examples
        --------
        A quarter-wave layer sits at a minimum of R:

        >>> res = ql.solve([1.0, 1.38, 1.52], [550.0 / (4 * 1.38)], [550.0], derivatives=True)
        >>> print(np.round(res.dR_s[0, 0, :, 0], 12) + 0.0)
        [0.]
        """
        return self._power_derivative("dR_s")

    @property
    def dR_p(self) -> FloatArray:
        """d R_p / d thickness, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``.

        Examples
        --------
        >>> ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], 0.3, derivatives=True).dR_p.shape
        (1, 1, 1, 1)
        """
        return self._power_derivative("dR_p")

    @property
    def dT_s(self) -> FloatArray:
        """d T_s / d thickness, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``.

        Examples
        --------
        Lossless layers trade R for T:

        >>> res = ql.solve([1.0, 1.38, 1.52], [80.0], [550.0], derivatives=True)
        >>> print(np.round(res.dR_s + res.dT_s, 15)[0, 0, 0] + 0.0)
        [0.]
        """
        return self._power_derivative("dT_s")

    @property
    def dT_p(self) -> FloatArray:
        """d T_p / d thickness, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``.

        Examples
        --------
        >>> ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], 0.3, derivatives=True).dT_p.shape
        (1, 1, 1, 1)
        """
        return self._power_derivative("dT_p")

    def dR(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """d R / d thickness of one polarisation, (B, A, layers, W).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            As for `R`; angle arrays broadcast against (B, A, W).

        Returns
        -------
        ndarray
            A new array, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.38, 1.52], [80.0], [550.0], derivatives=True)
        >>> print(np.round(res.dR()[0, 0, 0] * 1e4, 3))
        [-2.812]
        """
        return polarised(self.dR_s, self.dR_p, polarisation, layer_axis=True)

    def dT(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """d T / d thickness of one polarisation, (B, A, layers, W).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            As for `R`.

        Returns
        -------
        ndarray
            A new array, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.38, 1.52], [80.0], [550.0], derivatives=True)
        >>> print(np.round(res.dT()[0, 0, 0] * 1e4, 3))
        [2.812]
        """
        return polarised(self.dT_s, self.dT_p, polarisation, layer_axis=True)

    def dA(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """d A / d thickness = -(dR + dT) of one polarisation, (B, A, layers, W).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            As for `R`.

        Returns
        -------
        ndarray
            A new array, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``.

        Examples
        --------
        >>> res = ql.solve([1.0, 2.0 + 0.1j, 1.5], [50.0], [550.0], derivatives=True)
        >>> print(np.round(res.dA("s")[0, 0, 0] * 1e3, 3))
        [1.132]
        """
        return np.asarray(-(self.dR(polarisation) + self.dT(polarisation)), dtype=np.float64)

    # roughness derivatives ----------------------------------------------------------------------
    def _roughness_derivative(self, name: str, index: int) -> FloatArray:
        if self._roughness_derivatives is None:
            if self._amplitudes is None and self._power_derivatives is not None:
                raise missing(self, name, "is not computed for a stack with incoherent layers",
                              "the thickness derivatives are; solve with every layer coherent for these")
            raise not_computed(self, name)
        return plane(self._roughness_derivatives, index)

    def dR_droughness(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """d R / d roughness of each interface, per unit of roughness, (B, A, media - 1, W).

        Interface j joins media j and j + 1. A Gaussian roughness has no first-order
        effect: the derivative at a roughness of 0 is 0, so a fit of roughness starts
        above 0.

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            As for `R`.

        Returns
        -------
        ndarray
            A new array, (B, A, media - 1, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``, or for a stack with incoherent layers.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.52], [], [400.0], roughness=5.0, derivatives=True)
        >>> print(np.round(res.dR_droughness()[0, 0, :, 0] * 1e4, 3))
        [-6.153]
        """
        return polarised(self._roughness_derivative("dR_droughness", 0),
                         self._roughness_derivative("dR_droughness", 1), polarisation, layer_axis=True)

    def dT_droughness(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """d T / d roughness of each interface, per unit of roughness, (B, A, media - 1, W).

        Parameters
        ----------
        polarisation : {"unpolarized", "s", "p"} or float or array_like
            As for `R`.

        Returns
        -------
        ndarray
            A new array, (B, A, media - 1, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``, or for a stack with incoherent layers.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.52], [], [400.0], roughness=5.0, derivatives=True)
        >>> bool(res.dT_droughness()[0, 0, 0, 0] > 0)
        True
        """
        return polarised(self._roughness_derivative("dT_droughness", 2),
                         self._roughness_derivative("dT_droughness", 3), polarisation, layer_axis=True)

    def _psi_delta_derivatives(self, name: str) -> tuple[FloatArray, FloatArray]:
        if self._ellipsometry_derivatives is None:
            dr_s, dr_p = self._amplitude_derivatives_for(name)[:2]
            dpsi, ddelta = ellipsometric_derivatives(self.r_s, self.r_p, dr_s, dr_p)
            self._ellipsometry_derivatives = (frozen(dpsi), frozen(ddelta))
        return self._ellipsometry_derivatives

    @property
    def dpsi(self) -> FloatArray:
        """d psi / d thickness, radians per unit of thickness, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``, or for a stack with incoherent layers.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.46, 3.88 + 0.02j], [100.0], [633.0], 1.2, derivatives=True)
        >>> print(np.round(np.degrees(res.dpsi[0, 0, 0]), 4))
        [0.565]
        """
        return self._psi_delta_derivatives("dpsi")[0]

    @property
    def ddelta(self) -> FloatArray:
        """d delta / d thickness, radians per unit of thickness, (B, A, layers, W).

        Raises
        ------
        AttributeError
            Without ``derivatives=True``, or for a stack with incoherent layers.

        Examples
        --------
        >>> res = ql.solve([1.0, 1.46, 3.88 + 0.02j], [100.0], [633.0], 1.2, derivatives=True)
        >>> print(np.round(np.degrees(res.ddelta[0, 0, 0]), 4))
        [-0.0611]
        """
        return self._psi_delta_derivatives("ddelta")[1]

    # other faces ------------------------------------------------------------------------------
    def to_xarray(self) -> xarray.Dataset:
        """The result as an xarray Dataset with dimensions stack, angle and wavelength.

        Returns
        -------
        xarray.Dataset
            R_s, R_p, T_s, T_p and, for coherent stacks, r_s, r_p, t_s, t_p, psi and
            delta, sharing this result's read-only arrays (``.copy(deep=True)`` gives
            arrays to modify); coordinates stack, angle (radians) and wavelength.

        Raises
        ------
        ImportError
            Without xarray (``pip install "quilmo[xarray]"``).

        Examples
        --------
        >>> data = ql.solve([1.0, 1.5], [], [500.0, 600.0], [0.0, 0.3]).to_xarray()
        >>> data["R_p"].dims
        ('stack', 'angle', 'wavelength')
        """
        xr = xarray_module("Result.to_xarray")
        dims = ("stack", "angle", "wavelength")
        names: tuple[str, ...] = _POWERS
        if self.coherent:
            names = (*_AMPLITUDES, *names, "psi", "delta")
        dataset: xarray.Dataset = xr.Dataset(
            {name: (dims, getattr(self, name)) for name in names},
            coords={"stack": np.arange(self.shape[0]), "angle": self.angles, "wavelength": self.wavelengths},
        )
        return dataset

    def __repr__(self) -> str:
        b, a, w = self.shape
        return f"<quilmo_lab.Result: {b} stacks x {a} angles x {w} wavelengths>"


def absorptance(reflectance: FloatArray, transmittance: FloatArray) -> FloatArray:
    """The absorptance 1 - R - T, in the order `Result.A` computes it.

    Parameters
    ----------
    reflectance, transmittance : ndarray
        R and T of the same points.

    Returns
    -------
    ndarray
        A new float64 array, (1 - R) - T.

    Examples
    --------
    >>> from quilmo_lab.result import absorptance
    >>> res = ql.solve([1.0, 2.0 + 0.1j, 1.5], [50.0], [550.0])
    >>> bool(np.array_equal(absorptance(res.R_s, res.T_s), res.A("s")))
    True
    """
    return np.asarray((1.0 - reflectance) - transmittance, dtype=np.float64)


def ellipsometric_angles(r_s: ComplexArray, r_p: ComplexArray) -> tuple[FloatArray, FloatArray]:
    """psi = arctan|r_p / r_s| and delta = arg(-r_p / r_s) of amplitudes, as `Result.psi` and `Result.delta`.

    Parameters
    ----------
    r_s, r_p : ndarray
        The amplitude reflection coefficients of the same points.

    Returns
    -------
    psi, delta : ndarray
        New float64 arrays, radians; delta in (-π, π].

    Examples
    --------
    >>> from quilmo_lab.result import ellipsometric_angles
    >>> res = ql.solve([1.0, 1.46, 3.88 + 0.02j], [100.0], [633.0], np.radians(70.0))
    >>> psi, delta = ellipsometric_angles(res.r_s, res.r_p)
    >>> bool(np.array_equal(psi, res.psi)), bool(np.array_equal(delta, res.delta))
    (True, True)
    """
    with np.errstate(divide="ignore", invalid="ignore"):
        rho = r_p / r_s
    return np.arctan(np.abs(rho)), np.angle(-rho)


def ellipsometric_derivatives(r_s: ComplexArray, r_p: ComplexArray, dr_s: ComplexArray, dr_p: ComplexArray
                              ) -> tuple[FloatArray, FloatArray]:
    """d psi and d delta by thickness from the amplitudes and their derivatives, as `Result.dpsi`
    and `Result.ddelta`.

    Parameters
    ----------
    r_s, r_p : ndarray
        Amplitudes, (B, A, W).
    dr_s, dr_p : ndarray
        Their derivatives by each layer's thickness, (B, A, layers, W).

    Returns
    -------
    dpsi, ddelta : ndarray
        New float64 arrays, (B, A, layers, W).

    Examples
    --------
    >>> from quilmo_lab.result import ellipsometric_derivatives
    >>> res = ql.solve([1.0, 1.46, 3.88 + 0.02j], [100.0], [633.0], 1.2, derivatives=True)
    >>> dpsi, ddelta = ellipsometric_derivatives(res.r_s, res.r_p, res.dr_s, res.dr_p)
    >>> bool(np.array_equal(dpsi, res.dpsi)), bool(np.array_equal(ddelta, res.ddelta))
    (True, True)
    """
    r_s, r_p = r_s[:, :, None, :], r_p[:, :, None, :]
    with np.errstate(divide="ignore", invalid="ignore"):
        rho = np.abs(r_p / r_s)
        # d ln(rho) = dr_p / r_p - dr_s / r_s; psi = arctan|rho|, delta = arg(-rho)
        log_change = dr_p / r_p - dr_s / r_s
        dpsi = rho / (1.0 + rho * rho) * log_change.real
    return np.asarray(dpsi, dtype=np.float64), np.asarray(log_change.imag, dtype=np.float64)


def ellipsometry_convention(delta: npt.ArrayLike, convention: Convention) -> FloatArray:
    """delta of `tmm`'s convention, what `Result.delta` holds, in another convention.

    Parameters
    ----------
    delta : array_like
        Ellipsometric angles delta in radians, in `tmm`'s convention.
    convention : {"tmm", "pyelli", "openfilters"}
        "tmm" leaves delta as it is; "pyelli" and "openfilters" give π - delta.

    Returns
    -------
    ndarray
        A new float64 array of the angles.

    Raises
    ------
    ValueError
        For another convention.

    Notes
    -----
    pyElli and OpenFilters take the opposite sign of r_p and measure Delta the other
    way, so that their Delta is π minus `tmm`'s.

    Examples
    --------
    >>> print(ql.ellipsometry_convention([0.5, -1.0], "pyelli"))
    [2.64159265 4.14159265]
    """
    choice("convention", convention, CONVENTIONS)
    values = np.array(delta, dtype=np.float64)
    if convention == "tmm":
        return values
    return np.asarray(np.pi - values, dtype=np.float64)
