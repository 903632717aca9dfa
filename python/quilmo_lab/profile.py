"""profile: where in depth a stack absorbs, and |E|^2 there."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab._inputs import coherence_mask, grid_arrays, thread_count
from quilmo_lab.result import _weights

FloatArray = npt.NDArray[np.float64]


class Profile:
    """Absorbed power density and |E|^2 of one stack over wavelengths and depths.

    Every array has shape (W, D): wavelengths, depths. density_s, density_p: power
    absorbed per unit length (the unit of the wavelengths) per unit incident power, so
    that its integral over a coherent layer is that layer's `Result.absorbed_s`/`_p`.
    E2_s, E2_p: |E|^2 relative to the incident plane wave; for p the sum of the two
    components in the plane of incidence.

    Depths are measured from the first interface: negative ones lie in the incidence
    medium, those past the last interface in the exit medium, and a depth on an
    interface belongs to the medium behind it. Inside a coherent run of a stack with
    incoherent layers, the fields lit from the run's two sides add by power. Inside an
    incoherent layer, the forward and backward intensities decay as e^(-alpha z); there
    the interference of incident and reflected waves at the layer's faces has no phase
    to be computed from, so its integral differs from `absorbed` where the layer absorbs.
    """

    density_s: FloatArray
    density_p: FloatArray
    E2_s: FloatArray
    E2_p: FloatArray
    wavelengths: FloatArray
    depths: FloatArray

    def __init__(self, values: FloatArray, wavelengths: FloatArray, depths: FloatArray) -> None:
        self.density_s, self.density_p, self.E2_s, self.E2_p = values
        self.wavelengths = wavelengths
        self.depths = depths

    def density(self, phi: float | npt.ArrayLike) -> FloatArray:
        """density_s cos^2(phi) + density_p sin^2(phi)."""
        cc, ss = _weights(phi)
        return np.asarray(self.density_s * cc + self.density_p * ss, dtype=np.float64)

    def E2(self, phi: float | npt.ArrayLike) -> FloatArray:
        """E2_s cos^2(phi) + E2_p sin^2(phi)."""
        cc, ss = _weights(phi)
        return np.asarray(self.E2_s * cc + self.E2_p * ss, dtype=np.float64)

    def __repr__(self) -> str:
        w, d = self.density_s.shape
        return f"<quilmo_lab.Profile: {w} wavelengths x {d} depths>"


def profile(indices: npt.ArrayLike, thicknesses: npt.ArrayLike, wavelengths: npt.ArrayLike,
            angle: float, depths: npt.ArrayLike, *, coherent: npt.ArrayLike | None = None,
            threads: int | None = None) -> Profile:
    """Absorbed power density and |E|^2 for s and p at the given depths of one stack.

    indices: shape (media,) or (media, W); thicknesses: (media - 2,); wavelengths: (W,);
    angle: the angle of incidence in radians; depths: (D,), from the first interface, in
    the unit of the wavelengths. coherent and threads as in `solve`; unlike `tmm`,
    stacks with incoherent layers have profiles too.
    """
    grid = grid_arrays(indices, thicknesses, wavelengths, angle)
    if grid.stacks != 1:
        raise ValueError(f"profile takes one stack; indices and thicknesses hold {grid.stacks}")
    if grid.angles.shape != (1,):
        raise ValueError(f"angle must be one angle; received {grid.angles.shape[0]}")
    depth_array = np.asarray(depths)
    if depth_array.dtype.kind not in "iuf":
        raise TypeError(f"depths must hold real numbers; received an array of dtype {depth_array.dtype}")
    if depth_array.ndim > 1:
        raise ValueError(f"depths has shape {depth_array.shape}; expected a scalar or (D,)")
    z = np.ascontiguousarray(depth_array, dtype=np.float64).reshape(-1)
    media = grid.indices.shape[1]
    mask = coherence_mask(coherent, media)
    flags = np.ones(media - 2, dtype=np.bool_) if mask is None else mask
    values = np.empty((4, grid.wavelengths.shape[0], z.shape[0]), dtype=np.float64)
    _engine.profile(grid.indices, grid.thicknesses, grid.wavelengths, grid.angles, flags, z, values,
                    thread_count(threads))
    return Profile(values, grid.wavelengths, z)
