"""dispersion: phase, group delay, GDD and TOD of a coherent stack's r or t."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab._inputs import thread_count
from quilmo_lab.index_series import index_series

FloatArray = npt.NDArray[np.float64]

_SIDES = {"r": 0, "t": 1}
_POLS = {"s": 0, "p": 1}


@dataclass(frozen=True)
class Dispersion:
    """Phase and its derivatives by angular frequency ω at each wavelength.

    phase: arg of r or t in (-π, π], radians; gd = dφ/dω in fs; gdd = d²φ/dω² in fs²;
    tod = d³φ/dω³ in fs³. Each has shape (W,), or (B, W) for a batch of thicknesses.
    With the exp(-iωt) convention a positive group delay is a delay.
    """

    wavelengths: FloatArray
    phase: FloatArray
    gd: FloatArray
    gdd: FloatArray
    tod: FloatArray
    angle: float
    side: str
    pol: str


def stack_series(stack: Any, wavelengths: FloatArray) -> npt.NDArray[np.complex128]:
    """(4, media, W): every medium's index and its first three λ-derivatives."""
    media = [("incident", stack.incident)]
    media += [(f"layers[{i}].material", layer.material) for i, layer in enumerate(stack.layers)]
    media.append(("exit", stack.exit))
    series = np.empty((4, len(media), wavelengths.size), dtype=np.complex128)
    for row, (what, material) in enumerate(media):
        series[:, row, :] = index_series(material, wavelengths, what)
    return series


def _choice(value: object, name: str, options: dict[str, int]) -> int:
    if not isinstance(value, str) or value not in options:
        expected = " or ".join(repr(o) for o in options)
        raise ValueError(f"{name} must be {expected}; received {value!r}")
    return options[value]


def dispersion(stack: Any, wavelengths: npt.ArrayLike, angle: float = 0.0, side: str = "r",
               pol: str = "s", *, thicknesses: npt.ArrayLike | None = None,
               threads: int | None = None) -> Dispersion:
    """Phase, group delay (fs), GDD (fs²) and TOD (fs³) of the reflected (side="r") or
    transmitted (side="t") amplitude of a coherent `Stack`, for s or p polarisation.

    wavelengths: vacuum wavelengths in nm, shape (W,); thicknesses of the stack in nm.
    angle: angle of incidence in the incidence medium, radians, held fixed as the
    frequency varies. The derivatives are exact Taylor coefficients of the phase in ω
    carried through the transfer matrices, with each material's index and its
    wavelength derivatives (see quilmo_lab.index_series). `thicknesses` of shape
    (B, layers) evaluates a batch of variants of the design at once.
    """
    s = _choice(side, "side", _SIDES)
    p = _choice(pol, "pol", _POLS)
    if isinstance(angle, bool) or not isinstance(angle, (int, float, np.floating, np.integer)):
        raise TypeError(f"angle must be a real number of radians; received {type(angle).__name__}")
    wl = np.ascontiguousarray(wavelengths, dtype=np.float64)
    if wl.ndim != 1:
        raise ValueError(f"wavelengths must have shape (W,); received shape {wl.shape}")
    if not all(layer.coherent for layer in stack.layers):
        raise ValueError("dispersion needs a coherent stack; this stack has incoherent layers")
    layers = len(stack.layers)
    d = np.ascontiguousarray(stack.thicknesses if thicknesses is None else thicknesses, dtype=np.float64)
    if d.ndim == 1:
        d = d.reshape(1, -1)
    if d.ndim != 2 or d.shape[1] != layers:
        raise ValueError(f"thicknesses has shape {d.shape}; expected ({layers},) or (B, {layers})")
    series = stack_series(stack, wl)
    out = np.empty((4, d.shape[0], wl.size), dtype=np.float64)
    _engine.dispersion(series, d, wl, float(angle), s, p, out, thread_count(threads))
    if thicknesses is None or np.ndim(thicknesses) == 1:
        out = out[:, 0, :]
    return Dispersion(wl, out[0], out[1], out[2], out[3], float(angle), side, pol)
