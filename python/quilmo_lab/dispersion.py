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
            one_angle=True, power_flux=False)


@dataclass(frozen=True)
class Dispersion:
    """Phase and its derivatives by angular frequency ω at each wavelength.

    phase: arg of r or t in (-π, π], radians; gd = dφ/dω in fs; gdd = d²φ/dω² in fs²;
    tod = d³φ/dω³ in fs³. Each has shape (W,), or (B, W) for a batch of thicknesses.
    With the exp(-iωt) convention a positive group delay is a delay. The arrays are
    read-only.
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
    """Phase, group delay (fs), GDD (fs²) and TOD (fs³) of the reflected (side="r") or
    transmitted (side="t") amplitude of a coherent stack, for s or p polarisation.

    dispersion(stack, wavelengths, angle=0.0, side="r", polarisation="s", *,
    thicknesses=None, threads=None) takes each material's index and its wavelength
    derivatives (see quilmo_lab.index_series); dispersion(indices, thicknesses,
    wavelengths, angle=0.0, side="r", polarisation="s", *, threads=None,
    index_derivatives=None) takes the indices at each wavelength, (media,) or (media, W),
    and dn/dλ, d²n/dλ², d³n/dλ³ per nm as index_derivatives of shape (3, media, W) or
    broadcastable to it (default: none, non-dispersive media).

    wavelengths: vacuum wavelengths in nm, shape (W,); thicknesses in nm, (layers,) or a
    batch (B, layers). angle: angle of incidence in the incidence medium, radians, held
    fixed as the frequency varies.
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
    out = np.empty((4, problem.stacks, problem.wavelengths.shape[0]), dtype=np.float64)
    angle = float(problem.angles[0])
    _engine.dispersion(series, problem.thicknesses, problem.wavelengths, angle, SIDES.index(side),
                       POLARISATIONS.index(polarisation), out, problem.threads)
    phase, gd, gdd, tod = frozen(out if problem.batch else out[:, 0, :])
    return Dispersion(frozen(problem.wavelengths), phase, gd, gdd, tod, angle, side, polarisation)
