"""The targets of a design evaluated through the engine, with their thickness Jacobian.

An Evaluator fixes the materials of a stack and the targets, computes every index
array once, and then maps thicknesses (one design, or a batch) to target values,
weighted residuals and their Jacobian: analytic for R, T and A (the engine's thickness
derivatives), central differences over one batched call for phase, GD and GDD.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Sequence

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine, solve
from quilmo_lab._inputs import thread_count
from quilmo_lab.design.targets import PHASE_QUANTITIES, Target
from quilmo_lab.dispersion import stack_series

FloatArray = npt.NDArray[np.float64]

# Thickness step (nm) of the differences for phase targets: the phase is smooth on the
# scale of a wavelength, so h^2 truncation stays near 1e-6 of its derivative.
PHASE_STEP = 1e-3


@dataclass(frozen=True)
class Evaluation:
    values: list[FloatArray]          # per target, (W,)
    residuals: FloatArray             # (N,)
    jacobian: FloatArray | None       # (N, layers)

    @property
    def merit(self) -> float:
        return merit_of(self.residuals)


def merit_of(residuals: FloatArray) -> float:
    """The root mean square of the weighted residuals."""
    return math.sqrt(float(np.mean(np.square(residuals)))) if residuals.size else 0.0


def _power(result: Any, quantity: str, polarisation: str, derivative: bool) -> FloatArray:
    """R, T or A (or their thickness derivatives) of one polarisation or the mean."""
    prefix = "d" if derivative else ""

    def one(pol: str) -> FloatArray:
        if quantity == "A":
            r = getattr(result, f"{prefix}R_{pol}")
            t = getattr(result, f"{prefix}T_{pol}")
            return np.asarray(-(r + t) if derivative else (1.0 - r) - t)
        return np.asarray(getattr(result, f"{prefix}{quantity}_{pol}"))

    if polarisation == "mean":
        return 0.5 * (one("s") + one("p"))
    return one(polarisation)


class Evaluator:
    """Target values and residuals of designs with the materials of `stack`."""

    def __init__(self, stack: Any, targets: Sequence[Target], threads: int | None = None) -> None:
        targets = tuple(targets)
        if not targets:
            raise ValueError("targets must hold at least one Target; received none")
        for i, target in enumerate(targets):
            if not isinstance(target, Target):
                raise TypeError(f"targets[{i}] must be a quilmo_lab.design.Target; received {type(target).__name__}")
        mask = np.array([layer.coherent for layer in stack.layers], dtype=bool)
        # None: every layer coherent; else solve's mask, for layers treated by intensity
        self._coherent = None if mask.all() else mask
        if self._coherent is not None and any(t.quantity in PHASE_QUANTITIES for t in targets):
            raise ValueError("phase, GD and GDD targets need a coherent stack; this stack has incoherent layers")
        self.stack = stack
        self.targets = targets
        self.layers = len(stack.layers)
        self._workers = thread_count(threads)  # 0: the engine's default
        self.threads = threads
        self._indices: list[npt.NDArray[np.complex128]] = [
            stack.indices(t.wavelengths) if t.quantity not in PHASE_QUANTITIES else np.empty(0, complex)
            for t in targets]
        self._series: list[npt.NDArray[np.complex128] | None] = [
            stack_series(stack, t.wavelengths) if t.quantity in PHASE_QUANTITIES else None for t in targets]
        self.size = sum(t.size for t in targets)

    # values -----------------------------------------------------------------------------
    def values(self, thicknesses: npt.ArrayLike) -> list[FloatArray]:
        """Per target, values of shape (B, W) for thicknesses of shape (B, layers)."""
        d = self._batch(thicknesses)
        out = []
        for target, indices, series in zip(self.targets, self._indices, self._series):
            if series is None:
                result = solve(indices, d, target.wavelengths, target.angle, coherent=self._coherent,
                               threads=self.threads)
                out.append(_power(result, target.quantity, target.polarisation, False)[:, 0, :])
            else:
                out.append(self._phase(target, series, d))
        return out

    def _phase(self, target: Target, series: npt.NDArray[np.complex128], d: FloatArray) -> FloatArray:
        out = np.empty((4, d.shape[0], target.size), dtype=np.float64)
        _engine.dispersion(series, d, target.wavelengths, target.angle, 0 if target.side == "r" else 1,
                           0 if target.polarisation == "s" else 1, out, self._workers)
        values: FloatArray = out[PHASE_QUANTITIES.index(target.quantity)]
        return values

    def residuals_batch(self, thicknesses: npt.ArrayLike) -> tuple[FloatArray, list[FloatArray]]:
        """(B, N) residuals and the per-target values (B, W) of a batch of designs."""
        values = self.values(thicknesses)
        residuals = np.concatenate([t.residuals(v) for t, v in zip(self.targets, values)], axis=1)
        return residuals, values

    # one design with its Jacobian ---------------------------------------------------------
    def evaluate(self, thicknesses: npt.ArrayLike, jacobian: bool = True) -> Evaluation:
        d = self._batch(thicknesses)
        if d.shape[0] != 1:
            raise ValueError(f"evaluate takes one design; received {d.shape[0]}")
        values, residuals, rows = [], [], []
        for target, indices, series in zip(self.targets, self._indices, self._series):
            if series is None:
                result = solve(indices, d, target.wavelengths, target.angle, coherent=self._coherent,
                               threads=self.threads, derivatives=jacobian)
                value = _power(result, target.quantity, target.polarisation, False)[0, 0]
                dvalue = (_power(result, target.quantity, target.polarisation, True)[0, 0].T
                          if jacobian else None)
            else:
                value, dvalue = self._phase_with_jacobian(target, series, d[0], jacobian)
            values.append(value)
            residuals.append(target.residuals(value))
            if dvalue is not None:
                rows.append(target.residual_jacobian(value, dvalue))
        return Evaluation(values, np.concatenate(residuals),
                          np.concatenate(rows, axis=0) if jacobian else None)

    def _phase_with_jacobian(self, target: Target, series: npt.NDArray[np.complex128], d: FloatArray,
                             jacobian: bool) -> tuple[FloatArray, FloatArray | None]:
        if not jacobian:
            return self._phase(target, series, d[None, :])[0], None
        steps = PHASE_STEP * np.eye(self.layers)
        batch = np.concatenate([d[None, :], d + steps, d - steps])
        values = self._phase(target, series, batch)
        up, down = values[1:1 + self.layers], values[1 + self.layers:]
        difference = up - down
        if target.quantity == "phase":
            difference = np.remainder(difference + np.pi, 2 * np.pi) - np.pi
        return values[0], (difference / (2 * PHASE_STEP)).T

    def _batch(self, thicknesses: npt.ArrayLike) -> FloatArray:
        d = np.asarray(thicknesses, dtype=np.float64)
        if d.ndim == 1:
            d = d[None, :]
        if d.ndim != 2 or d.shape[1] != self.layers:
            raise ValueError(f"thicknesses has shape {d.shape}; expected ({self.layers},) or (B, {self.layers})")
        return np.ascontiguousarray(d)
