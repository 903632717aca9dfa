"""dispersion: phase, group delay, GDD and TOD of a coherent stack's r or t."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Literal, overload

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab._checks import choice, number_array, shape_text
from quilmo_lab._problem import Form, GridProblem, read_problem
from quilmo_lab._values import frozen
from quilmo_lab.index_series import stack_index_derivatives
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

Side = Literal["r", "t"]
SIDES: tuple[Side, ...] = ("r", "t")
POLARISATIONS: tuple[Literal["s", "p"], ...] = ("s", "p")

FORM = Form("dispersion", parameters=(("angle", 0.0), ("side", "r"), ("polarisation", "s")),
            options=(("threads", None),), array_options=(("index_derivatives", None),),
            one_angle=True, complex_angles=False)


@dataclass(frozen=True)
class Dispersion:
    """Phase and its derivatives by angular frequency ω of r or t at each wavelength.

    Built by `dispersion` (or `Stack.dispersion`). Each array has shape (W,), or (B, W)
    for a batch of thicknesses, and is read-only.

    Attributes
    ----------
    wavelengths : ndarray
        Vacuum wavelengths in nm, (W,).
    phase : ndarray
        arg r or arg t in (-π, π], radians.
    gd : ndarray
        Group delay dφ/dω in fs.
    gdd : ndarray
        Group delay dispersion d²φ/dω² in fs².
    tod : ndarray
        Third-order dispersion d³φ/dω³ in fs³.
    angle : float
        The angle of incidence in radians, held fixed as the frequency varies.
    side : {"r", "t"}
        The amplitude: reflected or transmitted.
    polarisation : {"s", "p"}
        Its polarisation.

    See Also
    --------
    dispersion : Builds a Dispersion.

    Notes
    -----
    With the exp(-iωt) convention a positive group delay is a delay.

    Examples
    --------
    >>> d = ql.dispersion(ql.Stack([ql.Layer(2.1, 100.0)], exit=1.52), [800.0])
    >>> d.side, d.polarisation, d.gd.shape
    ('r', 's', (1,))
    """

    wavelengths: FloatArray
    phase: FloatArray
    gd: FloatArray
    gdd: FloatArray
    tod: FloatArray
    angle: float
    side: Side
    polarisation: Literal["s", "p"]


def _given_series(value: object, problem: GridProblem) -> ComplexArray | float:
    """index_derivatives as given, broadcast onto (3, media, W); 0 where none are given."""
    if value is None:
        return 0.0
    shape = (3, problem.media, problem.wavelengths.shape[0])
    array = number_array("index_derivatives", value, complex_allowed=True)
    try:
        return np.broadcast_to(array, shape).astype(np.complex128)
    except ValueError:
        raise ValueError(f"index_derivatives must have shape (3, media, W) = {shape_text(shape)} or broadcast to "
                         f"it; received shape {shape_text(array.shape)}") from None


@overload
def dispersion(stack: Stack, wavelengths: npt.ArrayLike, angle: float = 0.0, side: Side = "r",
               polarisation: Literal["s", "p"] = "s", *, thicknesses: npt.ArrayLike | None = None,
               threads: int | None = None) -> Dispersion: ...


@overload
def dispersion(indices: npt.ArrayLike, thicknesses: npt.ArrayLike, wavelengths: npt.ArrayLike,
               angle: float = 0.0, side: Side = "r", polarisation: Literal["s", "p"] = "s", *,
               threads: int | None = None, index_derivatives: npt.ArrayLike | None = None) -> Dispersion: ...


def dispersion(*args: object, **kwargs: object) -> Dispersion:
    """Phase, group delay, GDD and TOD of the reflected or transmitted amplitude of a coherent stack.

    Called as ``dispersion(stack, wavelengths, angle=0.0, side="r", polarisation="s", *,
    thicknesses=None, threads=None)`` for a `Stack`, or as ``dispersion(indices,
    thicknesses, wavelengths, angle=0.0, side="r", polarisation="s", *, threads=None,
    index_derivatives=None)`` for arrays.

    Parameters
    ----------
    stack : Stack
        A coherent design; each material gives its index and wavelength derivatives
        (see `quilmo_lab.index_series`).
    indices : array_like
        The index n + ik of every medium at each wavelength, (media,) or (media, W), as
        for `solve` but one stack only.
    thicknesses : array_like
        One per inner layer in nm, (layers,) or a batch (B, layers); with a Stack, other
        thicknesses for its layers (default: its own).
    wavelengths : array_like
        Vacuum wavelengths in nm, (W,).
    angle : float, optional
        The angle of incidence in the incidence medium, radians, held fixed as the
        frequency varies. At grazing incidence (see `solve`) r = -1 at every frequency:
        phase pi, GD, GDD and TOD 0; t = 0 has no phase there (NaN).
    side : {"r", "t"}, optional
        The reflected or the transmitted amplitude.
    polarisation : {"s", "p"}, optional
        Its polarisation (the phase of unpolarised light is not defined).
    threads : int, optional
        Worker threads, as for `solve`.
    index_derivatives : array_like, optional
        With arrays: dn/dλ, d²n/dλ² and d³n/dλ³ per nm of every medium, (3, media, W) or
        any shape that broadcasts to it, such as (3, media, 1). Default: none, media
        that do not disperse.

    Returns
    -------
    Dispersion
        phase (rad), gd (fs), gdd (fs²) and tod (fs³), each (W,), or (B, W) for a
        batch of thicknesses.

    Raises
    ------
    TypeError
        For a value of the wrong kind, a medium without a derivative (indices given
        as an array in a Stack) or a call that fits neither form.
    ValueError
        For shapes that do not fit, a side or polarisation outside the choices, or a
        stack with incoherent layers.

    See Also
    --------
    Stack.dispersion : The same for a Stack.
    quilmo_lab.index_series.index_series : A material's index and its derivatives.

    Notes
    -----
    Every quantity of the transfer-matrix product is carried as a truncated Taylor
    series in the angular frequency through the kernel's own complex operations, so
    that the derivatives are exact up to rounding, with each medium's index expanded
    from n and its wavelength derivatives.

    Examples
    --------
    A quarter-wave mirror for 1000 nm has no GDD at its centre:

    >>> high, low = 2.35, 1.46
    >>> layers = [ql.Layer(n, 1000.0 / (4 * n)) for _ in range(10) for n in (high, low)]
    >>> mirror = ql.Stack(layers + [ql.Layer(high, 1000.0 / (4 * high))], exit=1.52)
    >>> d = ql.dispersion(mirror, [980.0, 1000.0, 1020.0])
    >>> print(np.round(d.gd, 3), np.round(d.gdd, 3) + 0.0)
    [1.899 1.874 1.897] [ 1.312  0.    -1.257]

    From arrays, the group delay of 1 µm of a dispersive glass in transmission:

    >>> from quilmo_lab.index_series import index_series
    >>> n = index_series(ql.Cauchy(1.45, 3600.0), np.array([800.0]))  # n, dn/dλ, d²n/dλ², d³n/dλ³
    >>> slab = ql.dispersion(n[0].repeat(3), [1000.0], [800.0], side="t", index_derivatives=n[1:, None])
    >>> print(np.round(slab.gd, 3))
    [4.893]
    """
    problem, values = read_problem(FORM, args, kwargs)
    side = choice("side", values["side"], SIDES)
    polarisation = choice("polarisation", values["polarisation"], POLARISATIONS)
    if problem.coherent is not None:
        layers = np.flatnonzero(~problem.coherent).tolist()
        raise ValueError("stack must have only coherent layers for dispersion (no phase crosses a layer treated "
                         f"by intensity); received incoherent layers at {layers}")
    if problem.indices.shape[0] != 1:
        raise ValueError("indices must be one stack's, shared by the batch of thicknesses; "
                         f"received {problem.indices.shape[0]} stacks")
    series = np.empty((4, problem.media, problem.wavelengths.shape[0]), dtype=np.complex128)
    series[0] = problem.indices[0]
    if problem.stack is not None:
        series[1:] = stack_index_derivatives(problem.stack, problem.wavelengths)
    else:
        series[1:] = _given_series(values["index_derivatives"], problem)
    out = problem.empty((4, problem.stacks, problem.wavelengths.shape[0]), np.float64)
    angle = float(problem.angles[0])
    _engine.dispersion(series, problem.thicknesses, problem.wavelengths, angle, SIDES.index(side),
                       POLARISATIONS.index(polarisation), out, problem.threads)
    phase, gd, gdd, tod = frozen(out if problem.batch else out[:, 0, :])
    return Dispersion(frozen(problem.wavelengths), phase, gd, gdd, tod, angle, side, polarisation)
