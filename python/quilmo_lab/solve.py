"""solve: amplitudes and powers of coherent stacks over wavelengths and angles."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab._inputs import coherence_mask, grid_arrays, thread_count
from quilmo_lab.result import Result


def solve(indices: npt.ArrayLike, thicknesses: npt.ArrayLike, wavelengths: npt.ArrayLike,
          angles: npt.ArrayLike = 0.0, *, coherent: npt.ArrayLike | None = None,
          threads: int | None = None, derivatives: bool = False) -> Result:
    """Solves coherent thin-film stacks for s and p polarisation on a grid of
    (stack, angle, wavelength) points.

    indices: refractive indices n + ik (k > 0 absorbing), shape (media,), (media, W)
        or (B, media, W); row 0 is the incidence medium, the last row the exit medium.
        Real, integer and list input is converted; a column count of 1 means the same
        index at every wavelength.
    thicknesses: one per inner layer, shape (media - 2,) or (B, media - 2), in the
        unit of `wavelengths`. A batch of B stacks shares 1-D or 2-D indices (and a
        1-D row of thicknesses may serve a batch of indices).
    wavelengths: shape (W,). angles: angles of incidence in the incidence medium,
        radians, a scalar or shape (A,). An absorbing incidence medium is only
        accepted at normal incidence.
    coherent: one boolean per inner layer (default: all True). A layer flagged False is
        treated by intensity, without phase: the power-transfer treatment of thick layers
        such as substrates (Katsidis & Siapkas 2002; Centurioni 2005; Byrnes 2016, as
        `tmm`'s inc_tmm), whose fringes no real measurement resolves. The coherent runs
        between such layers keep their amplitudes. The incidence and exit media are
        incoherent by nature. A thick absorbing incoherent layer passes e^(-alpha d) of
        the power, which underflows to 0 and never overflows. Such a stack has R, T and
        absorbed, and no amplitudes (reading them raises AttributeError).
    threads: worker threads (default: every processor this process may use). The
        results are the same bits for any count; the interpreter lock is released
        while the engine runs.
    derivatives: also compute the derivatives of the amplitudes and powers by every
        inner-layer thickness (analytic, all layers at about the cost of two solves):
        Result.dr_s ... dT_p of shape (B, A, media - 2, W), per unit of thickness.
        With incoherent layers, dR_s, dR_p, dT_s, dT_p only (no amplitudes to derive).

    Returns a Result whose arrays have shape (B, A, W). Layers so thick or absorbing
    that the plain transfer-matrix product would overflow are carried with their
    exponential scaled out: R and T stay finite, and T underflows to 0 only below
    the smallest double.
    """
    if not isinstance(derivatives, bool):
        raise TypeError(f"derivatives must be True or False; received {type(derivatives).__name__}")
    grid = grid_arrays(indices, thicknesses, wavelengths, angles)
    media = grid.indices.shape[1]
    mask = coherence_mask(coherent, media)
    workers = thread_count(threads)
    shape = (4, grid.stacks, grid.angles.shape[0], grid.wavelengths.shape[0])
    powers = np.empty(shape, dtype=np.float64)
    flags = np.ones(media - 2, dtype=np.bool_) if mask is None else mask

    def absorb() -> npt.NDArray[np.float64]:
        layers = np.empty((2, grid.stacks, shape[2], media - 2, shape[3]), dtype=np.float64)
        _engine.absorbed(grid.indices, grid.thicknesses, grid.wavelengths, grid.angles, grid.stacks,
                         flags, np.empty(shape, dtype=np.float64), layers, workers)
        return layers

    if mask is not None:
        _engine.incoherent(grid.indices, grid.thicknesses, grid.wavelengths, grid.angles, grid.stacks,
                           mask, powers, workers)
        mixed = Result(None, powers, grid.wavelengths, grid.angles, absorb)
        if derivatives:
            dshape = shape[:3] + (media - 2,) + shape[3:]
            power_derivatives = np.empty(dshape, dtype=np.float64)
            _engine.mixed_thickness_jacobian(grid.indices, grid.thicknesses, grid.wavelengths, grid.angles,
                                             grid.stacks, mask, power_derivatives, workers)
            mixed.set_thickness_derivatives(None, power_derivatives)
        return mixed
    amplitudes = np.empty(shape, dtype=np.complex128)
    _engine.coherent(grid.indices, grid.thicknesses, grid.wavelengths, grid.angles, grid.stacks,
                     amplitudes, powers, workers)
    result = Result(amplitudes, powers, grid.wavelengths, grid.angles, absorb)
    if derivatives:
        dshape = shape[:3] + (media - 2,) + shape[3:]
        amplitude_derivatives = np.empty(dshape, dtype=np.complex128)
        power_derivatives = np.empty(dshape, dtype=np.float64)
        _engine.thickness_jacobian(grid.indices, grid.thicknesses, grid.wavelengths, grid.angles, grid.stacks,
                                   amplitude_derivatives, power_derivatives, workers)
        result.set_thickness_derivatives(amplitude_derivatives, power_derivatives)
    return result
