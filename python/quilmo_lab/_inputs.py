"""Checks and shapes the arguments of `solve`.

Every mistake is a TypeError (wrong kind of value) or a ValueError (wrong
shape or a physically undefined request) whose message names the parameter,
what was expected and what was received. Numbers themselves are not checked:
NaN and infinities flow through to the results.
"""

from __future__ import annotations

import operator
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

# The most threads one call may ask for (the kernel's own pool has the same cap).
MAX_THREADS = 255


@dataclass(frozen=True)
class GridArrays:
    """C-contiguous arrays in the layout of the engine, and the batch size."""

    indices: npt.NDArray[np.complex128]      # (1 or B, media, 1 or W)
    thicknesses: npt.NDArray[np.float64]     # (1 or B, media - 2)
    wavelengths: npt.NDArray[np.float64]     # (W,)
    angles: npt.NDArray[np.float64]          # (A,)
    stacks: int                              # B


def _numbers(value: object, name: str, complex_allowed: bool) -> npt.NDArray[np.generic]:
    try:
        array = np.asarray(value)
    except (TypeError, ValueError) as error:  # ragged nested lists, among others
        raise ValueError(f"{name} must be a rectangular array of numbers; "
                         f"received a {type(value).__name__} NumPy cannot read as one ({error})") from None
    allowed = "iufc" if complex_allowed else "iuf"
    if array.dtype.kind not in allowed:
        expected = "real or complex numbers" if complex_allowed else "real numbers"
        raise TypeError(f"{name} must hold {expected}; received an array of dtype {array.dtype}")
    return array


def _real(value: object, name: str) -> npt.NDArray[np.float64]:
    return np.ascontiguousarray(_numbers(value, name, complex_allowed=False), dtype=np.float64)


def _shape(shape: tuple[int, ...]) -> str:
    return "(" + ", ".join(str(n) for n in shape) + ("," if len(shape) == 1 else "") + ")"


def _vector(value: object, name: str, letter: str) -> npt.NDArray[np.float64]:
    array = _real(value, name)
    if array.ndim == 0:
        return array.reshape(1)
    if array.ndim != 1:
        raise ValueError(f"{name} has shape {_shape(array.shape)}; expected a scalar or ({letter},)")
    return array


def _indices(value: object, wavelengths: int) -> npt.NDArray[np.complex128]:
    array = np.ascontiguousarray(_numbers(value, "indices", complex_allowed=True), dtype=np.complex128)
    if array.ndim == 1:
        array = array.reshape(1, array.shape[0], 1)
    elif array.ndim == 2:
        array = array.reshape(1, *array.shape)
    elif array.ndim != 3:
        raise ValueError(f"indices has shape {_shape(array.shape)}; "
                         "expected (media,), (media, W) or (B, media, W)")
    media, columns = array.shape[1], array.shape[2]
    if media < 2:
        raise ValueError(f"indices has {media} {'medium' if media == 1 else 'media'}; "
                         "expected at least 2 (incidence and exit medium)")
    if columns not in (1, wavelengths):
        raise ValueError(f"indices has {columns} columns for {wavelengths} wavelengths; "
                         f"expected {wavelengths} (or 1 for indices that do not depend on the wavelength)")
    return array


def _thicknesses(value: object, media: int) -> npt.NDArray[np.float64]:
    array = _real(value, "thicknesses")
    layers = media - 2
    if array.ndim == 0:
        array = array.reshape(1)
    if array.ndim not in (1, 2) or array.shape[-1] != layers:
        count = array.shape[-1]
        received = (f"{count} {'entry' if count == 1 else 'entries'}" if array.ndim in (1, 2)
                    else f"shape {_shape(array.shape)}")
        raise ValueError(f"thicknesses has {received} for {media} media; "
                         f"expected {layers} or (B, {layers})")
    return array.reshape(1, layers) if array.ndim == 1 else array


def _refuse_lossy_incidence(indices: npt.NDArray[np.complex128], angles: npt.NDArray[np.float64]) -> None:
    incidence = indices[:, 0, :].imag
    if not incidence.any():
        return
    lossy = np.abs(incidence) > 0
    with np.errstate(invalid="ignore"):
        oblique = np.abs(np.sin(angles)) > 0
    if lossy.any() and oblique.any():
        k = indices[:, 0, :].imag[lossy][0]
        angle = angles[oblique][0]
        raise ValueError(
            f"indices: the incidence medium (row 0) absorbs (imaginary part {k:g}) and angles holds the "
            f"oblique angle {angle:g} rad; the incident power flux, and with it R and T, is only defined "
            "in a lossy incidence medium at normal incidence. Use a lossless incidence medium or angle 0.")


def grid_arrays(indices: object, thicknesses: object, wavelengths: object, angles: object) -> GridArrays:
    wl = _vector(wavelengths, "wavelengths", "W")
    theta = _vector(angles, "angles", "A")
    n = _indices(indices, wl.shape[0])
    d = _thicknesses(thicknesses, n.shape[1])
    index_stacks, thickness_stacks = n.shape[0], d.shape[0]
    if index_stacks != thickness_stacks and 1 not in (index_stacks, thickness_stacks):
        raise ValueError(f"thicknesses holds {thickness_stacks} stacks and indices {index_stacks}; "
                         "expected the same number of stacks (or one of them for all)")
    _refuse_lossy_incidence(n, theta)
    return GridArrays(n, d, wl, theta, thickness_stacks if index_stacks == 1 else index_stacks)


def coherence_mask(value: object, media: int) -> npt.NDArray[np.bool_] | None:
    """The engine's coherence flags, one per inner layer; None where every layer is coherent."""
    if value is None:
        return None
    try:
        array = np.asarray(value)
    except (TypeError, ValueError) as error:
        raise ValueError(f"coherent must be a sequence of booleans, one per inner layer; "
                         f"received a {type(value).__name__} NumPy cannot read as one ({error})") from None
    layers = media - 2
    if array.dtype != np.bool_ and not (array.size == 0 and array.dtype.kind == "f"):
        raise TypeError(f"coherent must hold booleans (True: coherent, False: incoherent); "
                        f"received an array of dtype {array.dtype}")
    if array.shape != (layers,):
        raise ValueError(f"coherent has shape {_shape(array.shape)} for {media} media; "
                         f"expected ({layers},), one flag per inner layer")
    mask = np.ascontiguousarray(array, dtype=np.bool_)
    return None if mask.all() else mask


def thread_count(threads: object) -> int:
    """The engine's thread argument: 0 for the default."""
    if threads is None:
        return 0
    if isinstance(threads, bool):
        raise TypeError("threads must be an int or None; received bool")
    try:
        count = operator.index(threads)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"threads must be an int or None; received {type(threads).__name__}") from None
    if not 1 <= count <= MAX_THREADS:
        raise ValueError(f"threads must be between 1 and {MAX_THREADS}; received {count}")
    return count
