"""
The compiled grid of quilmo_lab; call it through quilmo_lab.solve. Every grid function takes roughness, (1 or stacks, media - 1) RMS roughness per interface in the unit of the wavelengths, and roughness_model, 0 for Nevot-Croce and 1 for Debye-Waller.
"""

from typing import Annotated, overload

import numpy
from numpy.typing import NDArray


@overload
def coherent(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, amplitudes: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def coherent(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, amplitudes: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills amplitudes (r_s, r_p, t_s, t_p) and powers (R_s, R_p, T_s, T_p) of every (stack, angle, wavelength) point; threads 0 means every processor this process may use.
    """

@overload
def incoherent(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def incoherent(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills powers (R_s, R_p, T_s, T_p) of every point, the inner layers flagged False in coherent treated by intensity.
    """

@overload
def cross(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], out: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def cross(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], out: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills out with the s-p cross terms of R and T (r_s conj(r_p) and its power-unit analogue for t, summed by power over incoherent layers) of every point.
    """

@overload
def absorbed(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], layers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def absorbed(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], layers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills powers (R_s, R_p, T_s, T_p) and layers (the fraction absorbed in each inner layer, s and p) of every point.
    """

@overload
def run_light(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], light: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def run_light(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], light: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills powers (R_s, R_p, T_s, T_p) and light (front, back, forward, entering, s then p) of every point: per run between incoherent media (one more than the inner layers flagged False), the power arriving at it from its first and its last medium, the forward flux at the front of the medium that ends it and the net flux entering that medium.
    """

@overload
def profile(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], depths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], out: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def profile(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], depths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], out: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills out with the absorbed power density and |E|^2 (s, p, s, p) of one stack at one angle, per wavelength and depth.
    """

def default_threads() -> int:
    """The threads a solve uses when it names none."""

def started_workers() -> int:
    """
    The worker threads the grid has started in this process (at most one per thread asked for, capped).
    """

@overload
def thickness_jacobian(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, amplitudes: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def thickness_jacobian(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, amplitudes: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills the derivatives by every inner-layer thickness of the amplitudes (r_s, r_p, t_s, t_p) and powers (R_s, R_p, T_s, T_p), each of shape (stacks, angles, layers, wavelengths).
    """

@overload
def roughness_jacobian(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, amplitudes: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def roughness_jacobian(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, amplitudes: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills the derivatives by the roughness of every interface of the amplitudes (r_s, r_p, t_s, t_p) and powers (R_s, R_p, T_s, T_p), each of shape (stacks, angles, media - 1, wavelengths).
    """

@overload
def mixed_thickness_jacobian(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def mixed_thickness_jacobian(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, coherent: Annotated[NDArray[numpy.bool_], dict(shape=(None,), order='C', device='cpu', writable=False)], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills the derivatives of R_s, R_p, T_s, T_p by every inner-layer thickness of stacks whose layers flagged False in coherent are treated by intensity.
    """

def dispersion(series: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angle: float, side: int, pol: int, out: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills phase (rad), GD (fs), GDD (fs^2) and TOD (fs^3) of r (side 0) or t (side 1), s (pol 0) or p (pol 1), for each stack and wavelength (nm).
    """

def anisotropic(permittivity: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, jones_r: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], jones_t: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], transmitted: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], exit_flux: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills the Jones matrices jones_r and jones_t (in the outer media's mode bases), the transmitted power form and the exit modes' fluxes of every (stack, angle, wavelength) point of stacks of permittivity tensors.
    """

@overload
def layer_waves(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, normal: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], waves: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')] | None, threads: int) -> None: ...

@overload
def layer_waves(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, normal: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], waves: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')] | None, threads: int) -> None:
    """
    Fills normal with k_z and the complex angle of every medium of every point of coherent stacks, and waves (unless None) with their forward and backward amplitudes at each medium's front, v_s, w_s, v_p, w_p.
    """

@overload
def coherent_waves(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, amplitudes: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], entering: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], normal: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], waves: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def coherent_waves(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], stacks: int, roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, amplitudes: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], entering: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None, None), order='C', device='cpu')], normal: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], waves: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    In one pass over coherent stacks, fills what coherent fills (amplitudes, powers) and what layer_waves fills (normal, waves), and entering with the power entering the stack at the first interface, s then p.
    """

@overload
def fields(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, media: Annotated[NDArray[numpy.uint64], dict(shape=(None,), order='C', device='cpu', writable=False)], z: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], out: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None), order='C', device='cpu')], threads: int) -> None: ...

@overload
def fields(indices: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu', writable=False)], thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], wavelengths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], angles: Annotated[NDArray[numpy.complex128], dict(shape=(None,), order='C', device='cpu', writable=False)], roughness: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], roughness_model: int, media: Annotated[NDArray[numpy.uint64], dict(shape=(None,), order='C', device='cpu', writable=False)], z: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], out: Annotated[NDArray[numpy.complex128], dict(shape=(None, None, None), order='C', device='cpu')], powers: Annotated[NDArray[numpy.float64], dict(shape=(None, None, None), order='C', device='cpu')], threads: int) -> None:
    """
    Fills out with E_x, E_y, E_z (s, then p) of one coherent stack at one angle at each place (medium, distance z from its front), per wavelength, and powers with the Poynting flux (s, p), the absorbed power density (s, p) and |E|^2 (s, p).
    """

def depth_places(thicknesses: Annotated[NDArray[numpy.float64], dict(shape=(None, None), order='C', device='cpu', writable=False)], depths: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu', writable=False)], media: Annotated[NDArray[numpy.uint64], dict(shape=(None,), order='C', device='cpu')], z: Annotated[NDArray[numpy.float64], dict(shape=(None,), order='C', device='cpu')]) -> None:
    """
    Fills media and z with the medium and the distance from its front of each depth measured from the first interface; a depth on an interface belongs to the medium behind it.
    """

def coherent_point(indices: object, thicknesses: object, wavelength: float, angle: complex, amplitudes: object, powers: object, normal: object | None, waves: object | None) -> bool:
    """
    Fills amplitudes (r_s, r_p, t_s, t_p) and powers (R_s, R_p, T_s, T_p) of one coherent stack at one wavelength and angle (indices (media,) float64 or complex128, thicknesses (media - 2,) float64); unless None, normal (2, media) with k_z and the angle of every medium, waves (4, media) with v_s, w_s, v_p, w_p at each medium's front and then 6 powers, the last two the power entering the stack (s, p); returns whether an inner medium's k_z is imaginary (False without normal).
    """

def tmm_point(indices: object, thicknesses: object, wavelength: float, angle: complex, pol: int, vw: object, normal: object) -> tuple[complex, complex, float, float, float, bool]:
    """
    The values of tmm's coh_tmm for pol 0 (s) or 1 (p) at one wavelength and angle (indices (media,) complex128, thicknesses (media,) float64 with the outer media's): fills vw (media, 2) in tmm's layout and normal (2, media) with k_z and the angle of every medium, and returns r, t, R, T, the power entering the stack and whether an inner medium's k_z is imaginary.
    """
