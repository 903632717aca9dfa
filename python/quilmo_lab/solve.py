"""solve: amplitudes and powers of thin-film stacks over wavelengths and angles of incidence."""

from __future__ import annotations

from collections.abc import Callable
from typing import overload

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab._checks import flag, thread_count, type_name
from quilmo_lab._problem import Form, GridProblem, read_problem
from quilmo_lab.cone import Cone
from quilmo_lab._averaging import Averaging, averaged_solve, thickness_spread_array
from quilmo_lab.result import Result
from quilmo_lab.slit import Slit
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

_HALF_PI = np.pi / 2

FORM = Form("solve", parameters=(("angles", 0.0),),
            options=(("coherent", None), ("threads", None), ("derivatives", False), ("roughness", None),
                     ("roughness_model", "nevot-croce"), ("cone", None), ("bandwidth", None),
                     ("thickness_spread", 0.0)))


def _absorption(problem: GridProblem) -> Callable[[], FloatArray]:
    """Computes the (2, B, A, layers, W) absorbed fractions of the problem's grid on demand."""

    def absorb() -> FloatArray:
        b, a, w = problem.grid
        layers = problem.empty((2, b, a, problem.layers, w), np.float64)
        _engine.absorbed(*problem.engine_grid, problem.flags, problem.empty((4, b, a, w), np.float64), layers,
                         problem.threads)
        return layers

    return absorb


def _layer_waves(problem: GridProblem) -> Callable[[bool], tuple[ComplexArray, ComplexArray | None]]:
    """Computes, on demand, k_z and the angle of every medium, (2, B, A, media, W), and for
    coherent stacks the forward and backward amplitudes at each medium's front,
    (4, B, A, media, W): v_s, w_s, v_p, w_p."""

    def waves(with_waves: bool) -> tuple[ComplexArray, ComplexArray | None]:
        b, a, w = problem.grid
        normal = problem.empty((2, b, a, problem.media, w), np.complex128)
        amplitudes = problem.empty((4, b, a, problem.media, w), np.complex128) if with_waves else None
        _engine.layer_waves(*problem.engine_grid, normal, amplitudes, problem.threads)
        return normal, amplitudes

    return waves


def _cross_terms(problem: GridProblem) -> Callable[[], ComplexArray]:
    """Computes the (2, B, A, W) s-p cross terms of R and T of the problem's grid on demand."""

    def cross() -> ComplexArray:
        b, a, w = problem.grid
        out = problem.empty((2, b, a, w), np.complex128)
        _engine.cross(*problem.engine_grid, problem.flags, out, problem.threads)
        return out

    return cross


@overload
def solve(stack: Stack, wavelengths: npt.ArrayLike, angles: npt.ArrayLike = 0.0, *,
          thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
          threads: int | None = None, derivatives: bool = False, roughness: npt.ArrayLike | None = None,
          roughness_model: str = "nevot-croce", cone: Cone | None = None,
          bandwidth: Slit | None = None, thickness_spread: npt.ArrayLike = 0.0) -> Result: ...


@overload
def solve(indices: npt.ArrayLike, thicknesses: npt.ArrayLike, wavelengths: npt.ArrayLike,
          angles: npt.ArrayLike = 0.0, *, coherent: npt.ArrayLike | None = None, threads: int | None = None,
          derivatives: bool = False, roughness: npt.ArrayLike | None = None,
          roughness_model: str = "nevot-croce", cone: Cone | None = None,
          bandwidth: Slit | None = None, thickness_spread: npt.ArrayLike = 0.0) -> Result: ...


def solve(*args: object, **kwargs: object) -> Result:
    """Solve thin-film stacks for s and p polarisation on a grid of (stack, angle, wavelength) points.

    Called as ``solve(stack, wavelengths, angles=0.0, *, thicknesses=None, <options>)`` for a
    `Stack`, or as ``solve(indices, thicknesses, wavelengths, angles=0.0, *, <options>)`` for
    arrays; the options are `coherent`, `threads`, `derivatives`, `roughness`,
    `roughness_model`, `cone`, `bandwidth` and `thickness_spread`.

    Parameters
    ----------
    stack : Stack
        A design of materials; its indices at `wavelengths`, its thicknesses and its
        layers' coherence are used.
    indices : array_like
        Refractive indices n + ik (k > 0 absorbing) of shape (media,) (the same at every
        wavelength), (media, W) or (B, media, W); row 0 is the incidence medium, the last
        row the exit medium. Real, integer and list input is converted.
    thicknesses : array_like
        One per inner layer, (media - 2,) or (B, media - 2), in the unit of `wavelengths`.
        A batch of B stacks shares 1-D or 2-D indices, and one row of thicknesses may
        serve a batch of indices. With a Stack: a (B, layers) batch of variants of its
        thicknesses (default: its own).
    wavelengths : array_like
        Vacuum wavelengths, (W,) (nm with a Stack).
    angles : float, complex or array_like, optional
        Angles of incidence in the incidence medium, radians with real parts within
        [-pi/2, pi/2], a scalar or (A,). An absorbing incidence medium may take complex
        angles (as in `tmm`, n_0 sin(theta_0) real for a wave that is homogeneous in the
        layers), or real oblique ones; see Notes. At exactly grazing incidence (cos theta_0
        = 0: pi/2, or so close that sin rounds to 1, also in an absorbing incidence medium
        and for complex angles with no imaginary part) no light enters: R = 1, T = 0,
        r = -1, t = 0.
    coherent : array_like of bool, optional
        One flag per inner layer (default: all True, or the Stack's layers'). A layer
        flagged False is treated by intensity, without phase, as thick substrates are.
    threads : int, optional
        Worker threads, 1 to 255 (default: every processor this process may use, at most
        255). More than the processors is allowed but gains nothing: the process keeps one
        set of workers for all calls, at most 64 (or one per processor where there are
        more), and a call runs on fewer threads when the system refuses new ones.
    derivatives : bool, optional
        Also compute the derivatives of amplitudes and powers by every inner-layer
        thickness (analytic; all layers at about the cost of two solves), and of the powers
        of coherent stacks by every interface's roughness (`Result.dR_droughness`).
    roughness : float or array_like, optional
        RMS roughness of every interface in the unit of `wavelengths`: a scalar for all,
        (media - 1,) or (B, media - 1); interface j joins media j and j + 1 (default: the
        Stack's layers' `roughness`, or smooth). See Notes.
    roughness_model : {"nevot-croce", "debye-waller"}, optional
        The factors of a rough interface (default "nevot-croce").
    cone : Cone, optional
        Average over every ray of a cone around each angle of `angles` (the chief rays).
    bandwidth : Slit, optional
        Convolve with a slit's instrument function around each wavelength.
    thickness_spread : float or array_like, optional
        Standard deviation of each inner layer's thickness in the unit of `wavelengths`, a
        scalar for every layer or (media - 2,), uncorrelated between layers; R, T and A are
        averaged by intensity over the Gaussian distribution (tensor Gauss-Hermite), to
        1e-6 in R and T, or to the tolerance of a `cone` or `bandwidth` given with it where
        that is smaller (the averages are refined together; see `Cone`).

    Returns
    -------
    Result or AveragedResult
        Arrays of shape (B, A, W); see `Result`. With `cone`, `bandwidth` or
        `thickness_spread`, an `AveragedResult`: powers, absorbed fractions, Mueller
        matrices and derivatives of the average, no amplitudes.

    Raises
    ------
    TypeError
        For a value of the wrong kind (complex thicknesses, a float `threads`) or a call
        that fits neither form.
    ValueError
        For shapes that do not fit together, or angles (or their real parts) beyond
        pi/2 (degrees passed as radians). A `cone` takes real angles only.
    MemoryError
        For a grid whose results do not fit in memory; the message names the grid.
    KeyboardInterrupt
        On Ctrl-C, within some milliseconds; the next call works as usual.

    See Also
    --------
    Stack.solve : The same for a Stack.
    profile : Absorption and |E|^2 in depth.
    dispersion : Phase, group delay and dispersion.

    Notes
    -----
    Each point is the 2x2 transfer-matrix product of the kernel of ``quilmo.DataPy``,
    evaluated in the kernel's order, so that ``R(phi)`` equals ``DataPy``'s ``r`` bit
    for bit. Layers so thick or absorbing that the plain product would overflow are
    carried with their exponential scaled out: R and T stay finite. Incoherent layers
    combine the coherent runs between them by power, the equivalent of the
    power-transfer matrices of Katsidis & Siapkas [1]_ and Byrnes [2]_. The results are
    the same bits for any `threads`; the interpreter lock is released while the engine runs,
    and Ctrl-C abandons the call within some milliseconds (KeyboardInterrupt).

    A rough interface between media j and j + 1, with K = 2 pi n cos(theta) / wavelength
    in each, multiplies r by exp(-2 K_j K_j+1 sigma^2) (Nevot-Croce [3]_) or by
    exp(-2 K_j^2 sigma^2) (Debye-Waller, K of the side the light comes from), and t by
    exp((K_j - K_j+1)^2 sigma^2 / 2) in both, in every coherent product and in the power
    coefficients of incoherent interfaces. For s polarisation a stack's R is the Abeles
    recursion with Nevot-Croce factors of X-ray and neutron reflectometry. The factors
    are a small-roughness model and do not conserve energy exactly: on a dielectric
    interface the factor on t exceeds 1, so R + T exceeds 1 by up to about
    (K_j - K_j+1)^2 sigma^2 T (about 1e-3 for sigma = 5 nm between air and glass at
    500 nm). With `roughness` 0 everywhere the results are the smooth ones, bit for bit.

    Every medium shares the tangential term n_0 sin(theta_0), complex for complex angles
    or a lossy incidence medium at an oblique angle; each medium's normal component
    n cos(theta) is then taken forward, by `tmm`'s rule: decaying along +z, or where its
    imaginary part is within 100 machine epsilons of 0 propagating along +z. R and T
    are `tmm`'s, |r|^2 and |t|^2 times the ratio of Re(n cos theta) (s) or
    Re(n conj(cos theta)) (p) of exit and incidence medium; with an absorbing incidence
    medium the incident and reflected waves interfere in the flux, so R + T + A need not
    be 1. `Result.kz`, `Result.layer_angles`, `Result.waves_s` and `Result.waves_p`
    give each medium's values.

    Near grazing incidence the engine knows the angle through sin(theta), which rounds
    near 1: at a distance e = pi/2 - abs(theta) the relative error of T and of 1 - R is
    about 1e-16 / e**2 (about 1e-9 at e = 1e-4, 1e-4 at e = 1e-6), their absolute error
    stays below about 1e-7, and within about 1.5e-8 rad of grazing the results are the
    limit (R = 1, T = 0, nothing absorbed, and derivatives by thickness 0). The same
    holds in an absorbing incidence medium, where cos theta_0 vanishes at real
    theta_0 = pi/2 only; a complex angle with an imaginary part is never grazing.

    References
    ----------
    .. [1] C. C. Katsidis and D. I. Siapkas, "General transfer-matrix method for optical
       multilayer systems with coherent, partially coherent, and incoherent
       interference", Appl. Opt. 41, 3978 (2002).
    .. [2] S. J. Byrnes, "Multilayer optical calculations", arXiv:1603.02720 (2016).
    .. [3] L. Nevot and P. Croce, "Caracterisation des surfaces par reflexion rasante de
       rayons X", Rev. Phys. Appl. 15, 761 (1980).

    Examples
    --------
    A quarter-wave MgF2 coating on glass, from arrays:

    >>> res = ql.solve([1.0, 1.38, 1.52], [99.6], [450.0, 550.0, 650.0], [0.0, 0.5])
    >>> print(np.round(res.R()[0, 0], 4))
    [0.0162 0.0126 0.0144]

    The same from a Stack, with a batch of thickness variants:

    >>> coating = ql.Stack([ql.Layer(1.38, 99.6)], exit=1.52)
    >>> res = ql.solve(coating, [550.0], thicknesses=[[99.6], [90.0]])
    >>> print(np.round(res.R_s[:, 0, 0], 4))
    [0.0126 0.0133]

    A 1 mm window treated by intensity between two coatings:

    >>> res = ql.solve([1.0, 1.38, 1.52, 1.38, 1.0], [99.6, 1e6, 99.6], [550.0],
    ...                coherent=[True, False, True])
    >>> print(np.round(res.T()[0, 0], 4), res.coherent)
    [0.9751] False

    A glass surface with 10 nm of RMS roughness reflects less, the more so in the blue:

    >>> smooth = ql.solve([1.0, 1.52], [], [400.0, 800.0])
    >>> rough = ql.solve([1.0, 1.52], [], [400.0, 800.0], roughness=10.0)
    >>> print(np.round(smooth.R()[0, 0], 4), np.round(rough.R()[0, 0], 4))
    [0.0426 0.0426] [0.0366 0.041 ]
    """
    one = _one_point(args, kwargs)
    if one is not None:
        return one
    problem, options = read_problem(FORM, args, kwargs)
    derivatives = flag("derivatives", options["derivatives"])
    averaging = _averaging(problem, options)
    if averaging is not None:
        return averaged_solve(problem, averaging, derivatives, _solve_problem)
    return _solve_problem(problem, derivatives)


def _one_point(args: tuple[object, ...], kwargs: dict[str, object]) -> Result | None:
    """The Result of the commonest small call, ``solve(indices, thicknesses, wavelength[, angle])``
    with 1-D indices and thicknesses, one wavelength and one real angle, no options but `threads`:
    solved as one point without the general reading of the arguments. None for every other call,
    and for any argument that is not already valid, so that the general path reads it and words
    its error; where this path answers, the general one would give the same bits."""
    if (not 3 <= len(args) <= 4 or (kwargs and (len(kwargs) > 1 or "threads" not in kwargs))
            or isinstance(args[0], Stack)):
        return None
    angle = args[3] if len(args) == 4 else 0.0
    if not isinstance(angle, (float, int)) or isinstance(angle, bool) or abs(angle) > _HALF_PI:
        return None
    try:  # np.array copies: what it returns is the result's own
        n, d, w = np.array(args[0]), np.array(args[1]), np.array(args[2])
    except (TypeError, ValueError):
        return None
    n_type, d_type, w_type, media = n.dtype, d.dtype, w.dtype, n.size
    if (n.ndim != 1 or media < 2 or d.ndim != 1 or d.size != media - 2 or w.size != 1 or w.ndim > 1
            or n_type.kind not in "iufc" or d_type.kind not in "iuf" or w_type.kind not in "iuf"):
        return None
    threads = thread_count(kwargs["threads"]) if kwargs else 0
    # the engine reads the point's buffers flat, real indices as complex ones: the grid's shapes
    # and complex indices only for what is computed later
    n = n if n_type.char in "dD" else n.astype(np.complex128)
    d = d if d_type.char == "d" else d.astype(np.float64)
    wavelengths = w if w_type.char == "d" else w.astype(np.float64)
    wavelengths = wavelengths if w.ndim else wavelengths.reshape(1)
    angle = float(angle)
    angles = np.empty(1)  # cheaper than np.array((angle,))
    angles[0] = angle
    amplitudes, powers = np.empty((4, 1, 1, 1), dtype=np.complex128), np.empty((4, 1, 1, 1))
    _engine.coherent_point(n, d, wavelengths[0], angle, amplitudes, powers, None, None)

    def problem() -> GridProblem:
        return GridProblem(indices=n.astype(np.complex128, copy=False).reshape(1, media, 1),
                           thicknesses=d.reshape(1, media - 2), wavelengths=wavelengths, angles=angles, stacks=1,
                           batch=False, coherent=None, threads=threads, stack=None,
                           roughness=np.zeros((1, media - 1)))

    return Result._coherent(powers, wavelengths, angles, amplitudes, lambda: _absorption(problem())(),
                            lambda: _cross_terms(problem())(), lambda w: _layer_waves(problem())(w))


def _averaging(problem: GridProblem, options: dict[str, object]) -> Averaging | None:
    """The averages a call asks for, checked; None for a plain solve."""
    cone, slit = options["cone"], options["bandwidth"]
    if cone is not None and not isinstance(cone, Cone):
        raise TypeError(f"cone must be a quilmo_lab.Cone or None; received {type_name(cone)}")
    if slit is not None and not isinstance(slit, Slit):
        raise TypeError(f"bandwidth must be a quilmo_lab.Slit or None; received {type_name(slit)}")
    spread = thickness_spread_array(options["thickness_spread"], problem.layers)
    if cone is not None and problem.angles.dtype.kind == "c":
        raise ValueError("angles must be real with a cone: its rays are real angles around each chief ray; "
                         f"received the complex angle {problem.angles[problem.angles.imag != 0][0]!r}")
    # a cone or slit of zero size measures what solve computes, bit for bit
    cone = None if cone is None or cone.half_angle == 0 else cone
    slit = None if slit is None or slit.fwhm == 0 else slit
    if cone is None and slit is None and not spread.any():
        return None
    return Averaging(cone, slit, spread if spread.any() else None)


def _solve_problem(problem: GridProblem, derivatives: bool) -> Result:
    """The Result of a checked problem: one engine pass (and one more for derivatives)."""
    b, a, w = problem.grid
    grid = problem.engine_grid
    powers = problem.empty((4, b, a, w), np.float64)
    derivative_shape = (4, b, a, problem.layers, w)
    power_derivatives = problem.empty(derivative_shape, np.float64) if derivatives else None
    if problem.coherent is not None:
        _engine.incoherent(*grid, problem.coherent, powers, problem.threads)
        if power_derivatives is not None:
            _engine.mixed_thickness_jacobian(*grid, problem.coherent, power_derivatives, problem.threads)
        return Result(powers, problem.wavelengths, problem.angles, absorb=_absorption(problem),
                      power_derivatives=power_derivatives, cross=_cross_terms(problem),
                      layer_waves=_layer_waves(problem))
    amplitudes = problem.empty((4, b, a, w), np.complex128)
    _engine.coherent(*grid, amplitudes, powers, problem.threads)
    amplitude_derivatives = roughness_derivatives = None
    if power_derivatives is not None:
        amplitude_derivatives = problem.empty(derivative_shape, np.complex128)
        _engine.thickness_jacobian(*grid, amplitude_derivatives, power_derivatives, problem.threads)
        # a smooth interface's derivative by its roughness is 0: no pass for smooth stacks
        roughness_derivatives = np.zeros((4, b, a, problem.media - 1, w), dtype=np.float64)
        if problem.rough:
            _engine.roughness_jacobian(*grid, np.empty(roughness_derivatives.shape, dtype=np.complex128),
                                       roughness_derivatives, problem.threads)
    return Result(powers, problem.wavelengths, problem.angles, absorb=_absorption(problem), amplitudes=amplitudes,
                  power_derivatives=power_derivatives, amplitude_derivatives=amplitude_derivatives,
                  roughness_derivatives=roughness_derivatives, cross=_cross_terms(problem),
                  layer_waves=_layer_waves(problem))
