"""solve_anisotropic: Jones and Mueller matrices of stacks of anisotropic layers."""

from __future__ import annotations

from collections.abc import Sequence
from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab._checks import (axis, batch_size, media_and_columns, number_array, shape_text,
                                thickness_array, thread_count)
from quilmo_lab._mueller import mueller, passed_power, power_form
from quilmo_lab._optional import xarray_module
from quilmo_lab._values import frozen, missing

if TYPE_CHECKING:
    import xarray

    from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]


def _permittivity_array(value: object, wavelengths: int) -> ComplexArray:
    """Permittivity tensors as a C-contiguous (1 or B, media, 3, 3, 1 or W) array; the result
    keeps none of it, so the caller's array is read in place where it already fits."""
    array = np.ascontiguousarray(number_array("permittivity", value, complex_allowed=True), dtype=np.complex128)
    received = array.shape
    if array.ndim == 3:
        array = array.reshape(1, *array.shape, 1)
    elif array.ndim == 4:
        array = array.reshape(1, *array.shape)
    if array.ndim != 5 or array.shape[2:4] != (3, 3):
        raise ValueError("permittivity must have shape (media, 3, 3), (media, 3, 3, W) or (B, media, 3, 3, W); "
                         f"received shape {shape_text(received)}")
    media_and_columns("permittivity", array.shape[1], array.shape[4], wavelengths)
    incidence = array[:, 0]
    n_squared = incidence[:, 0, 0]
    if not _scalar_multiple(incidence) or n_squared.imag.any() or not bool(np.all(n_squared.real >= 1.0)):
        raise ValueError("permittivity of the incidence medium (medium 0) must be n^2 times the identity with a "
                         "real n >= 1: the incident and reflected waves are split into s and p there, and their "
                         "power is only defined in a lossless medium; received the tensor "
                         f"{np.array2string(incidence[0, :, :, 0])}")
    return array


def _scalar_multiple(tensors: ComplexArray) -> bool:
    """Whether every (B, 3, 3, W) tensor is a multiple of the identity (read through views of the
    nine components, (B, 9, W): the diagonal is every fourth, 1:4 and 5:8 the rest)."""
    flat = tensors.reshape(tensors.shape[0], 9, tensors.shape[-1])
    if flat[:, 1:4].any() or flat[:, 5:8].any():
        return False
    return bool(np.array_equal(flat[:, 4], flat[:, 0]) and np.array_equal(flat[:, 8], flat[:, 0]))


def _exit_is_isotropic(permittivity: ComplexArray) -> bool:
    """Whether every exit tensor is a multiple of the identity (its modes are then s and p)."""
    return _scalar_multiple(permittivity[:, -1])


class AnisotropicResult:
    """Jones matrices, powers and Mueller matrices of every (stack, angle, wavelength) point.

    Built by `solve_anisotropic` (or `Stack.solve` for a stack with anisotropic media),
    never by hand. Arrays have leading shape (B, A, W); matrices add two axes, (out, in).
    A value: it never changes, and the arrays it hands out are read-only.

    See Also
    --------
    solve_anisotropic : Builds an AnisotropicResult.
    Result : The result of an isotropic solve.

    Notes
    -----
    Polarisations are indexed 0 = s, 1 = p, in the lab frame of `solve_anisotropic`
    (s along y; p in the plane of incidence), with the signs and normalisation of
    `solve`'s ``r_s``, ``r_p``, ``t_s``, ``t_p`` (``tmm``'s): an isotropic stack gives
    ``jones_r = diag(r_s, r_p)`` and ``jones_t = diag(t_s, t_p)``.

    Where powers are weighted, `polarisation` is "s", "p", "unpolarized", an angle φ
    in radians (the linear polarisation cos φ s + sin φ p), a complex Jones vector
    (E_s, E_p) of shape (2,) or a real Stokes vector (I, Q, U, V) of shape (4,).

    Stokes vectors and Mueller matrices use I = |E_s|² + |E_p|², Q = |E_s|² - |E_p|²,
    U = 2 Re(E_s conj(E_p)), V = 2 Im(conj(E_s) E_p) (time dependence exp(-iωt)).

    Examples
    --------
    A quartz-like plate, optic axis at 45° in the surface, at normal incidence:

    >>> eps = ql.rotate_tensor(np.diag([1.553**2, 1.544**2, 1.544**2]), (np.pi / 4, 0.0, 0.0))
    >>> res = ql.solve_anisotropic([np.eye(3), eps, np.eye(3)], [3000.0], [633.0])
    >>> res.jones_r.shape
    (1, 1, 1, 2, 2)
    >>> print(np.round(res.R_matrix[0, 0, 0] + res.T_matrix[0, 0, 0], 6).sum(axis=0))
    [1. 1.]
    """

    def __init__(self, jones_r: ComplexArray, jones_t: ComplexArray, transmitted: ComplexArray,
                 exit_flux: FloatArray, wavelengths: FloatArray, angles: FloatArray, *,
                 isotropic_exit: bool) -> None:
        self._jones_r = frozen(jones_r)
        self._jones_t = frozen(jones_t)
        self._transmitted = frozen(transmitted)
        self._exit_flux = frozen(exit_flux)
        self._wavelengths = frozen(wavelengths)
        self._angles = frozen(angles)
        self._isotropic_exit = isotropic_exit

    @property
    def wavelengths(self) -> FloatArray:
        """The wavelengths of the grid, (W,).

        Examples
        --------
        >>> ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0, 600.0]).wavelengths
        array([500., 600.])
        """
        return self._wavelengths

    @property
    def angles(self) -> FloatArray:
        """The angles of incidence of the grid, radians, (A,).

        Examples
        --------
        >>> ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0], [0.0, 0.5]).angles
        array([0. , 0.5])
        """
        return self._angles

    @property
    def shape(self) -> tuple[int, int, int]:
        """(B, A, W).

        Examples
        --------
        >>> ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0, 600.0], [0.0, 0.5]).shape
        (1, 2, 2)
        """
        b, a, w = self._jones_r.shape[:3]
        return int(b), int(a), int(w)

    def _require_isotropic_exit(self, name: str) -> None:
        if not self._isotropic_exit:
            raise missing(self, name, "is not defined for an anisotropic exit medium: its transmitted waves are "
                          "not s and p", "T(polarisation) and the transmitted power are defined")

    @property
    def jones_r(self) -> ComplexArray:
        """Reflection Jones matrices, (B, A, W, 2, 2): ``[..., i, j]`` is the reflected amplitude in
        polarisation i for unit incident amplitude in polarisation j (0 = s, 1 = p).

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0])
        >>> print(np.round(res.jones_r[0, 0, 0].real, 3))
        [[-0.2  0. ]
         [ 0.   0.2]]
        """
        return self._jones_r

    @property
    def jones_t(self) -> ComplexArray:
        """Transmission Jones matrices, (B, A, W, 2, 2), as `jones_r`.

        Raises
        ------
        AttributeError
            For an anisotropic exit medium.

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0])
        >>> print(np.round(res.jones_t[0, 0, 0].real, 3))
        [[0.8 0. ]
         [0.  0.8]]
        """
        self._require_isotropic_exit("jones_t")
        return self._jones_t

    @property
    def R_matrix(self) -> FloatArray:
        """Reflected power in polarisation i for unit incident power in j, (B, A, W, 2, 2).

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0])
        >>> print(np.round(res.R_matrix[0, 0, 0], 3))
        [[0.04 0.  ]
         [0.   0.04]]
        """
        return frozen(np.asarray(np.abs(self._jones_r) ** 2, dtype=np.float64))

    @property
    def T_matrix(self) -> FloatArray:
        """Transmitted power (Poynting flux) in polarisation i for unit incident power in j,
        (B, A, W, 2, 2); R + T + A = 1 in every column.

        Raises
        ------
        AttributeError
            For an anisotropic exit medium.

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0])
        >>> print(np.round(res.T_matrix[0, 0, 0], 3))
        [[0.96 0.  ]
         [0.   0.96]]
        """
        self._require_isotropic_exit("T_matrix")
        return frozen(np.asarray(np.abs(self._jones_t) ** 2 * self._exit_flux[..., :, None], dtype=np.float64))

    def R(self, polarisation: object = "unpolarized") -> FloatArray:
        """Reflectance for one incident polarisation, (B, A, W).

        Parameters
        ----------
        polarisation : str, float or array_like, optional
            "s", "p", "unpolarized" (default), an angle φ in radians (linear polarisation
            from s towards p) or an array of them broadcast against the (B, A, W) grid as in
            `Result.R`, a complex Jones vector (2,) or a real Stokes vector (4,). A real array
            of shape (4,) is read as a Stokes vector: give four angles as shape (1, 4) or (4, 1).

        Returns
        -------
        numpy.ndarray

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0], 0.5)
        >>> print(np.round(res.R("s")[0, 0], 4), np.round(res.R(np.array([1, 1j]))[0, 0], 4))
        [0.0559] [0.0412]
        >>> print(np.round(res.R([0.0, np.pi / 2])[0, 0], 4))
        [0.0559 0.0265]
        """
        return passed_power(power_form(self._jones_r), polarisation)

    def T(self, polarisation: object = "unpolarized") -> FloatArray:
        """Transmittance (Poynting flux) for one incident polarisation, (B, A, W); defined for
        any exit medium.

        Parameters
        ----------
        polarisation : str, float or array_like, optional
            As for `R`.

        Returns
        -------
        numpy.ndarray

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0], 0.5)
        >>> print(np.round(res.T("p")[0, 0], 4))
        [0.9735]
        """
        return passed_power(self._transmitted, polarisation)

    def A(self, polarisation: object = "unpolarized") -> FloatArray:
        """Absorptance 1 - R - T for one incident polarisation, (B, A, W).

        Parameters
        ----------
        polarisation : str, float or array_like, optional
            As for `R`.

        Returns
        -------
        numpy.ndarray

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), (2 + 0.1j) * np.eye(3), np.eye(3)], [50.0], [500.0])
        >>> print(np.round(res.A()[0, 0], 4))
        [0.0495]
        """
        return np.asarray(1.0 - self.R(polarisation) - self.T(polarisation), dtype=np.float64)

    @property
    def mueller_r(self) -> FloatArray:
        """Reflection Mueller matrices in power units (m00 is the unpolarised R), (B, A, W, 4, 4).

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0])
        >>> print(np.round(res.mueller_r[0, 0, 0, 0], 3))
        [0.04 0.   0.   0.  ]
        """
        return frozen(mueller(self._jones_r))

    @property
    def mueller_t(self) -> FloatArray:
        """Transmission Mueller matrices in power units (m00 is the unpolarised T), (B, A, W, 4, 4).

        Raises
        ------
        AttributeError
            For an anisotropic exit medium.

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0])
        >>> print(np.round(res.mueller_t[0, 0, 0, 0, 0], 3))
        0.96
        """
        self._require_isotropic_exit("mueller_t")
        return frozen(mueller(np.sqrt(self._exit_flux)[..., :, None] * self._jones_t))

    def _angles_of(self, numerator: ComplexArray, denominator: ComplexArray) -> tuple[FloatArray, FloatArray]:
        with np.errstate(divide="ignore", invalid="ignore"):
            rho = numerator / denominator
        return frozen(np.arctan(np.abs(rho))), frozen(np.angle(-rho))

    @property
    def psi(self) -> FloatArray:
        """psi = arctan|r_pp / r_ss|, radians, (B, A, W), as `Result.psi`.

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0], 1.0)
        >>> print(np.round(res.psi[0, 0], 4))
        [0.0269]
        """
        return self._angles_of(self._jones_r[..., 1, 1], self._jones_r[..., 0, 0])[0]

    @property
    def delta(self) -> FloatArray:
        """delta = arg(-r_pp / r_ss) in (-π, π], radians, (B, A, W), as `Result.delta`.

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0], 1.0)
        >>> print(np.round(res.delta[0, 0], 4))
        [3.1416]
        """
        return self._angles_of(self._jones_r[..., 1, 1], self._jones_r[..., 0, 0])[1]

    @property
    def psi_ps(self) -> FloatArray:
        """Generalised ellipsometry: psi_ps = arctan|r_ps / r_pp|, radians, (B, A, W).

        r_ps = ``jones_r[..., 0, 1]`` is the s wave reflected from incident p. With the
        reflected p amplitude counted with the opposite sign (r_pp = r_ss at normal
        incidence), as Schubert's generalised ellipsometry does, tan(psi_ps) e^(i delta_ps)
        = r_ps / r_pp; here delta_ps = arg(-r_ps / r_pp) gives the same angles.

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0], 1.0)
        >>> print(res.psi_ps[0, 0])
        [0.]
        """
        return self._angles_of(self._jones_r[..., 0, 1], self._jones_r[..., 1, 1])[0]

    @property
    def delta_ps(self) -> FloatArray:
        """Generalised ellipsometry: delta_ps = arg(-r_ps / r_pp), radians, (B, A, W); see `psi_ps`.

        Examples
        --------
        >>> eps = ql.Uniaxial(1.5, 1.6, axis=(0.5, 0.7)).permittivity([633.0])
        >>> res = ql.solve_anisotropic(np.stack([np.eye(3)[..., None], eps]), [], [633.0], 1.0)
        >>> bool(np.isfinite(res.delta_ps).all())
        True
        """
        return self._angles_of(self._jones_r[..., 0, 1], self._jones_r[..., 1, 1])[1]

    @property
    def psi_sp(self) -> FloatArray:
        """Generalised ellipsometry: psi_sp = arctan|r_sp / r_ss|, radians, (B, A, W).

        r_sp = ``jones_r[..., 1, 0]`` is the p wave reflected from incident s;
        delta_sp = arg(-r_sp / r_ss) (see `psi_ps` for the sign).

        Examples
        --------
        >>> res = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0], 1.0)
        >>> print(res.psi_sp[0, 0])
        [0.]
        """
        return self._angles_of(self._jones_r[..., 1, 0], self._jones_r[..., 0, 0])[0]

    @property
    def delta_sp(self) -> FloatArray:
        """Generalised ellipsometry: delta_sp = arg(-r_sp / r_ss), radians, (B, A, W).

        Examples
        --------
        >>> eps = ql.Uniaxial(1.5, 1.6, axis=(0.5, 0.7)).permittivity([633.0])
        >>> res = ql.solve_anisotropic(np.stack([np.eye(3)[..., None], eps]), [], [633.0], 1.0)
        >>> bool(np.isfinite(res.delta_sp).all())
        True
        """
        return self._angles_of(self._jones_r[..., 1, 0], self._jones_r[..., 0, 0])[1]

    def to_xarray(self) -> xarray.Dataset:
        """The result as an xarray Dataset with dimensions stack, angle, wavelength (and out, in
        for matrices, row, column for Mueller matrices).

        Returns
        -------
        xarray.Dataset

        Raises
        ------
        ImportError
            Without xarray.

        Examples
        --------
        >>> data = ql.solve_anisotropic([np.eye(3), 2.25 * np.eye(3)], [], [500.0]).to_xarray()
        >>> data["jones_r"].dims
        ('stack', 'angle', 'wavelength', 'out', 'in')
        """
        xr = xarray_module("AnisotropicResult.to_xarray")
        grid = ("stack", "angle", "wavelength")
        names = ["jones_r", "R_matrix", "mueller_r", "psi", "delta"]
        if self._isotropic_exit:
            names += ["jones_t", "T_matrix", "mueller_t"]
        dims = {"psi": grid, "delta": grid, "mueller_r": (*grid, "row", "column"),
                "mueller_t": (*grid, "row", "column")}
        dataset: xarray.Dataset = xr.Dataset(
            {name: (dims.get(name, (*grid, "out", "in")), getattr(self, name)) for name in names},
            coords={"stack": np.arange(self.shape[0]), "angle": self.angles, "wavelength": self.wavelengths,
                    "out": ["s", "p"], "in": ["s", "p"]},
        )
        return dataset

    def __repr__(self) -> str:
        b, a, w = self.shape
        return f"<quilmo_lab.AnisotropicResult: {b} stacks x {a} angles x {w} wavelengths>"


def solve_anisotropic(permittivity: npt.ArrayLike, thicknesses: npt.ArrayLike, wavelengths: npt.ArrayLike,
                      angles: npt.ArrayLike = 0.0, *, threads: int | None = None) -> AnisotropicResult:
    """Solve stacks of anisotropic media for every pair of incident and outgoing polarisations.

    Parameters
    ----------
    permittivity : array_like
        Complex relative permittivity tensors in the lab frame, (media, 3, 3),
        (media, 3, 3, W) or (B, media, 3, 3, W); medium 0 is the incidence medium, the
        last the exit medium. The incidence medium must be n² times the identity with a
        real n >= 1; the others may be any tensor (absorbing, biaxial, rotated,
        non-symmetric such as magneto-optic media).
    thicknesses : array_like
        One per inner layer, (media - 2,) or (B, media - 2), in the unit of `wavelengths`.
    wavelengths : array_like
        Vacuum wavelengths, (W,).
    angles : float or array_like, optional
        Angles of incidence in the incidence medium, radians, a scalar or (A,).
    threads : int, optional
        Worker threads, 1 to 255 (default: every processor this process may use).

    Returns
    -------
    AnisotropicResult

    Raises
    ------
    TypeError
        For a value of the wrong kind.
    ValueError
        For shapes that do not fit together or an incidence medium that is not isotropic
        and lossless.

    See Also
    --------
    solve : Isotropic stacks.
    rotate_tensor, Uniaxial, Biaxial : Tensors in the lab frame.

    Notes
    -----
    Lab frame: z is the stack normal, pointing from the incidence medium into the stack;
    x lies in the plane of incidence, the incident wave's in-plane wave vector along +x;
    y = z × x. Every angle is in radians.

    Each medium's four plane waves are the eigenvectors of Berreman's 4x4 matrix [1]_,
    sorted into forward and backward waves by decay, or by the Poynting flux for
    propagating ones. Isotropic media take the closed-form s and p waves of `solve`'s
    kernel, and media whose s and p waves decouple (an optic axis in the plane of
    incidence or normal to it) closed-form 2x2 blocks, so that degenerate waves are
    exact; the general case takes the roots of the characteristic quartic
    (Aberth-Ehrlich iteration, a double root polished by Newton's iteration on the
    derivative) and null vectors by elimination with complete pivoting. Layers are
    joined by a scattering-matrix recursion in which every exponential decays: thick
    or absorbing layers underflow to zero, never overflow. Results are the same bits
    for any `threads`.

    References
    ----------
    .. [1] D. W. Berreman, "Optics in stratified and anisotropic media: 4x4-matrix
       formulation", J. Opt. Soc. Am. 62, 502 (1972).

    Examples
    --------
    An isotropic stack gives the amplitudes of `solve` on the diagonal:

    >>> res = ql.solve_anisotropic([np.eye(3), 1.38**2 * np.eye(3), 1.52**2 * np.eye(3)], [99.6], [550.0])
    >>> print(np.round(res.R("unpolarized")[0, 0], 4), np.round(ql.solve([1.0, 1.38, 1.52], [99.6], [550.0]).R()[0, 0], 4))
    [0.0126] [0.0126]
    """
    w = axis("wavelengths", wavelengths, "W")
    a = axis("angles", angles, "A")
    eps = _permittivity_array(permittivity, w.shape[0])
    d = thickness_array(thicknesses, eps.shape[1])
    d = d.reshape(1, -1) if d.ndim == 1 else d
    stacks = batch_size(eps.shape[0], d.shape[0])
    shape = (stacks, a.shape[0], w.shape[0])
    jones_r = np.empty((*shape, 2, 2), dtype=np.complex128)
    jones_t = np.empty((*shape, 2, 2), dtype=np.complex128)
    transmitted = np.empty((*shape, 2, 2), dtype=np.complex128)
    exit_flux = np.empty((*shape, 2), dtype=np.float64)
    _engine.anisotropic(eps, d, w, a, stacks, jones_r, jones_t, transmitted, exit_flux, thread_count(threads))
    return AnisotropicResult(jones_r, jones_t, transmitted, exit_flux, w, a, isotropic_exit=_exit_is_isotropic(eps))


# Slices of a twisted layer never exceed this many when chosen by convergence.
MAX_SLICES = 4096
SLICE_TOLERANCE = 1e-6


def _stack_permittivity(stack: Stack, wavelengths: FloatArray, slices: Sequence[int]
                        ) -> tuple[ComplexArray, FloatArray]:
    """(media, 3, 3, W) tensors and (layers,) thicknesses of a Stack, its twisted layers cut into
    `slices[i]` slices (one entry per twisted layer, in order)."""
    from quilmo_lab.tensors import TwistedLayer, _permittivity_of

    tensors = [_permittivity_of(stack.incident, wavelengths)]
    thicknesses: list[float] = []
    counts = iter(slices)
    for layer in stack.layers:
        if isinstance(layer, TwistedLayer):
            cut, widths = layer._sliced(wavelengths, next(counts))
            tensors += cut
            thicknesses += widths
        else:
            tensors.append(_permittivity_of(layer.material, wavelengths))
            thicknesses.append(layer.thickness)
    tensors.append(_permittivity_of(stack.exit, wavelengths))
    return np.stack(tensors), np.array(thicknesses, dtype=np.float64)


def _solve_stack(stack: Stack, wavelengths: npt.ArrayLike, angles: npt.ArrayLike, azimuths: npt.ArrayLike | None,
                threads: int | None) -> AnisotropicResult:
    """`Stack.solve` for a stack with anisotropic media or a sample turned by `azimuths`: the
    azimuths (radians, the sample turned about its normal) form the batch axis."""
    from quilmo_lab.tensors import TwistedLayer, _about_normal

    w = axis("wavelengths", wavelengths, "W")
    turns = np.zeros(1) if azimuths is None else axis("azimuths", azimuths, "B")

    def solved(slices: Sequence[int]) -> AnisotropicResult:
        eps, d = _stack_permittivity(stack, w, slices)
        batch = np.stack([np.moveaxis(_about_normal(np.moveaxis(eps, 0, -2), float(turn)), -2, 0)
                          for turn in turns])
        return solve_anisotropic(batch, d, w, angles, threads=threads)

    twisted = [layer for layer in stack.layers if isinstance(layer, TwistedLayer)]
    slices = [layer._first_slices() for layer in twisted]
    result = solved(slices)
    if all(layer.slices is not None for layer in twisted):
        return result
    while max(slices) < MAX_SLICES:
        slices = [n if layer.slices is not None else 2 * n for n, layer in zip(slices, twisted)]
        finer = solved(slices)
        change = max(float(np.max(np.abs(finer.R_matrix - result.R_matrix))),
                     float(np.max(np.abs(finer._transmitted - result._transmitted))))
        result = finer
        if not change >= SLICE_TOLERANCE:
            break
    return result
