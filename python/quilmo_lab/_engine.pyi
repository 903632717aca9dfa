import numpy as np
import numpy.typing as npt

def coherent(
    indices: npt.NDArray[np.complex128],
    thicknesses: npt.NDArray[np.float64],
    wavelengths: npt.NDArray[np.float64],
    angles: npt.NDArray[np.float64],
    stacks: int,
    amplitudes: npt.NDArray[np.complex128],
    powers: npt.NDArray[np.float64],
    threads: int,
) -> None: ...
def incoherent(
    indices: npt.NDArray[np.complex128],
    thicknesses: npt.NDArray[np.float64],
    wavelengths: npt.NDArray[np.float64],
    angles: npt.NDArray[np.float64],
    stacks: int,
    coherent: npt.NDArray[np.bool_],
    powers: npt.NDArray[np.float64],
    threads: int,
) -> None: ...
def absorbed(
    indices: npt.NDArray[np.complex128],
    thicknesses: npt.NDArray[np.float64],
    wavelengths: npt.NDArray[np.float64],
    angles: npt.NDArray[np.float64],
    stacks: int,
    coherent: npt.NDArray[np.bool_],
    powers: npt.NDArray[np.float64],
    layers: npt.NDArray[np.float64],
    threads: int,
) -> None: ...
def profile(
    indices: npt.NDArray[np.complex128],
    thicknesses: npt.NDArray[np.float64],
    wavelengths: npt.NDArray[np.float64],
    angles: npt.NDArray[np.float64],
    coherent: npt.NDArray[np.bool_],
    depths: npt.NDArray[np.float64],
    out: npt.NDArray[np.float64],
    threads: int,
) -> None: ...
def default_threads() -> int: ...
def thickness_jacobian(
    indices: npt.NDArray[np.complex128],
    thicknesses: npt.NDArray[np.float64],
    wavelengths: npt.NDArray[np.float64],
    angles: npt.NDArray[np.float64],
    stacks: int,
    amplitudes: npt.NDArray[np.complex128],
    powers: npt.NDArray[np.float64],
    threads: int,
) -> None: ...
def dispersion(
    series: npt.NDArray[np.complex128],
    thicknesses: npt.NDArray[np.float64],
    wavelengths: npt.NDArray[np.float64],
    angle: float,
    side: int,
    pol: int,
    out: npt.NDArray[np.float64],
    threads: int,
) -> None: ...
def mixed_thickness_jacobian(
    indices: npt.NDArray[np.complex128],
    thicknesses: npt.NDArray[np.float64],
    wavelengths: npt.NDArray[np.float64],
    angles: npt.NDArray[np.float64],
    stacks: int,
    coherent: npt.NDArray[np.bool_],
    powers: npt.NDArray[np.float64],
    threads: int,
) -> None: ...
