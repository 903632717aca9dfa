"""solve: amplitudes and powers of thin-film stacks over wavelengths and angles."""

from __future__ import annotations

from collections.abc import Callable
from typing import overload

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab._checks import flag
from quilmo_lab._problem import Form, GridProblem, read_problem
from quilmo_lab.result import Result
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]

FORM = Form("solve", parameters=(("angles", 0.0),),
            options=(("coherent", None), ("threads", None), ("derivatives", False)))


def _absorption(problem: GridProblem) -> Callable[[], FloatArray]:
    """Computes the (2, B, A, layers, W) absorbed fractions of the problem's grid on demand."""

    def absorb() -> FloatArray:
        b, a, w = problem.grid
        layers = np.empty((2, b, a, problem.layers, w), dtype=np.float64)
        _engine.absorbed(problem.indices, problem.thicknesses, problem.wavelengths, problem.angles, problem.stacks,
                         problem.flags, np.empty((4, b, a, w), dtype=np.float64), layers, problem.threads)
        return layers

    return absorb


@overload
def solve(stack: Stack, wavelengths: npt.ArrayLike, angles: npt.ArrayLike = 0.0, *,
          thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
          threads: int | None = None, derivatives: bool = False) -> Result: ...


@overload
def solve(indices: npt.ArrayLike, thicknesses: npt.ArrayLike, wavelengths: npt.ArrayLike,
          angles: npt.ArrayLike = 0.0, *, coherent: npt.ArrayLike | None = None, threads: int | None = None,
          derivatives: bool = False) -> Result: ...


def solve(*args: object, **kwargs: object) -> Result:
    """Solves thin-film stacks for s and p polarisation on a grid of (stack, angle, wavelength) points.

    solve(stack, wavelengths, angles=0.0, *, thicknesses=None, coherent=None, threads=None,
    derivatives=False) solves a Stack; solve(indices, thicknesses, wavelengths, angles=0.0, *,
    coherent=None, threads=None, derivatives=False) the arrays.

    indices: refractive indices n + ik (k > 0 absorbing), shape (media,), (media, W)
        or (B, media, W); row 0 is the incidence medium, the last row the exit medium.
        Real, integer and list input is converted; a column count of 1 means the same
        index at every wavelength.
    thicknesses: one per inner layer, shape (media - 2,) or (B, media - 2), in the
        unit of `wavelengths`. A batch of B stacks shares 1-D or 2-D indices (and a
        1-D row of thicknesses may serve a batch of indices). With a Stack, a batch of
        variants of its thicknesses (default: its own).
    wavelengths: shape (W,). angles: angles of incidence in the incidence medium,
        radians, a scalar or shape (A,). An absorbing incidence medium is only
        accepted at normal incidence.
    coherent: one boolean per inner layer (default: all True, or the Stack's layers'). A
        layer flagged False is treated by intensity, without phase: the power-transfer
        treatment of thick layers such as substrates (Katsidis & Siapkas 2002; Centurioni
        2005; Byrnes 2016, as `tmm`'s inc_tmm). Such a stack has R, T and absorbed, and no
        amplitudes (reading them raises AttributeError).
    threads: worker threads (default: every processor this process may use). The
        results are the same bits for any count; the interpreter lock is released
        while the engine runs.
    derivatives: also compute the derivatives of the amplitudes and powers by every
        inner-layer thickness (analytic, all layers at about the cost of two solves).

    Returns a Result whose arrays have shape (B, A, W).
    """
    problem, options = read_problem(FORM, args, kwargs)
    derivatives = flag("derivatives", options["derivatives"])
    b, a, w = problem.grid
    grid = (problem.indices, problem.thicknesses, problem.wavelengths, problem.angles, problem.stacks)
    powers = np.empty((4, b, a, w), dtype=np.float64)
    derivative_shape = (4, b, a, problem.layers, w)
    power_derivatives = np.empty(derivative_shape, dtype=np.float64) if derivatives else None
    if problem.coherent is not None:
        _engine.incoherent(*grid, problem.coherent, powers, problem.threads)
        if power_derivatives is not None:
            _engine.mixed_thickness_jacobian(*grid, problem.coherent, power_derivatives, problem.threads)
        return Result(powers, problem.wavelengths, problem.angles, absorb=_absorption(problem),
                      power_derivatives=power_derivatives)
    amplitudes = np.empty((4, b, a, w), dtype=np.complex128)
    _engine.coherent(*grid, amplitudes, powers, problem.threads)
    amplitude_derivatives = None
    if power_derivatives is not None:
        amplitude_derivatives = np.empty(derivative_shape, dtype=np.complex128)
        _engine.thickness_jacobian(*grid, amplitude_derivatives, power_derivatives, problem.threads)
    return Result(powers, problem.wavelengths, problem.angles, absorb=_absorption(problem), amplitudes=amplitudes,
                  power_derivatives=power_derivatives, amplitude_derivatives=amplitude_derivatives)
