"""The targets of a design evaluated through the engine, with their thickness Jacobian.

An Evaluator fixes the materials of a stack and the targets, computes every index
array once, and then maps thicknesses (one design, or a batch) to target values,
weighted residuals and their Jacobian: analytic for R, T and A (the engine's thickness
derivatives), central differences over one batched call for phase, GD and GDD.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import shape_text, thread_count, type_name
from quilmo_lab._polarisation import Polarisation, polarised, wrapped_phase
from quilmo_lab.design.targets import PHASE_QUANTITIES, Target
from quilmo_lab.dispersion import dispersion
from quilmo_lab.index_series import stack_index_derivatives
from quilmo_lab.result import Result
from quilmo_lab.solve import solve
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

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


def _power(result: Result, quantity: str, polarisation: Polarisation, derivative: bool) -> FloatArray:
    """R, T or A (or their thickness derivatives) of `polarisation`; the mean of s and p,
    unpolarised light, is 0.5 (s + p) of each."""
    prefix = "d" if derivative else ""

    def one(pol: str) -> FloatArray:
        if quantity == "A":
            r = getattr(result, f"{prefix}R_{pol}")
            t = getattr(result, f"{prefix}T_{pol}")
            return np.asarray(-(r + t) if derivative else (1.0 - r) - t)
        return np.asarray(getattr(result, f"{prefix}{quantity}_{pol}"))

    return polarised(one("s"), one("p"), polarisation, layer_axis=derivative)


class Evaluator:
    """Target values and residuals of designs with the materials of `stack`."""

    def __init__(self, stack: Stack, targets: Sequence[Target], threads: int | None = None) -> None:
        targets = tuple(targets)
        if not targets:
            raise ValueError("targets must hold at least one Target; received none")
        for i, target in enumerate(targets):
            if not isinstance(target, Target):
                raise TypeError(f"targets[{i}] must be a quilmo_lab.design.Target; received {type_name(target)}")
        # every layer's coherence flag, the solve's `coherent`
        self._coherent = stack.coherent
        if not self._coherent.all() and any(t.quantity in PHASE_QUANTITIES for t in targets):
            raise ValueError("targets must be R, T or A for a stack with incoherent layers (phase, GD and GDD need "
                             "a coherent stack); received "
                             + ", ".join(t.quantity for t in targets if t.quantity in PHASE_QUANTITIES))
        self.stack = stack
        self.targets = targets
        self.layers = len(stack.layers)
        thread_count(threads)  # a bad count is reported before the first evaluation
        self.threads = threads
        # every target's indices at its wavelengths (and, for phases, their λ-derivatives), once
        self._indices = [stack.indices(t.wavelengths) for t in targets]
        self._index_derivatives: list[ComplexArray | None] = [
            stack_index_derivatives(stack, t.wavelengths) if t.quantity in PHASE_QUANTITIES else None
            for t in targets]
        self.size = sum(t.size for t in targets)

    # values -----------------------------------------------------------------------------
    def values(self, thicknesses: npt.ArrayLike) -> list[FloatArray]:
        """Per target, values of shape (B, W) for thicknesses of shape (B, layers)."""
        d = self._batch(thicknesses)
        out = []
        for target, indices, derivatives in zip(self.targets, self._indices, self._index_derivatives):
            if derivatives is None:
                result = solve(indices, d, target.wavelengths, target.angle, coherent=self._coherent,
                               threads=self.threads)
                out.append(_power(result, target.quantity, target.polarisation, False)[:, 0, :])
            else:
                out.append(self._phase(target, indices, derivatives, d))
        return out

    def _phase(self, target: Target, indices: ComplexArray, derivatives: ComplexArray, d: FloatArray
               ) -> FloatArray:
        """(B, W) phase, GD or GDD of the designs `d`."""
        phases = dispersion(indices, d, target.wavelengths, target.angle, target.side,
                            "s" if target.polarisation == "s" else "p", threads=self.threads,
                            index_derivatives=derivatives)
        return {"phase": phases.phase, "GD": phases.gd, "GDD": phases.gdd}[target.quantity]

    def residuals_batch(self, thicknesses: npt.ArrayLike) -> tuple[FloatArray, list[FloatArray]]:
        """(B, N) residuals and the per-target values (B, W) of a batch of designs."""
        values = self.values(thicknesses)
        residuals = np.concatenate([t.residuals(v) for t, v in zip(self.targets, values)], axis=1)
        return residuals, values

    # one design with its Jacobian ---------------------------------------------------------
    def evaluate(self, thicknesses: npt.ArrayLike, jacobian: bool = True) -> Evaluation:
        """Values, residuals and (with `jacobian`) their Jacobian of one design."""
        d = self._batch(thicknesses)
        if d.shape[0] != 1:
            raise ValueError(f"thicknesses must be one design's for evaluate; received {d.shape[0]} designs")
        values, residuals, rows = [], [], []
        for target, indices, derivatives in zip(self.targets, self._indices, self._index_derivatives):
            if derivatives is None:
                result = solve(indices, d, target.wavelengths, target.angle, coherent=self._coherent,
                               threads=self.threads, derivatives=jacobian)
                value = _power(result, target.quantity, target.polarisation, False)[0, 0]
                dvalue = (_power(result, target.quantity, target.polarisation, True)[0, 0].T
                          if jacobian else None)
            else:
                value, dvalue = self._phase_with_jacobian(target, indices, derivatives, d[0], jacobian)
            values.append(value)
            residuals.append(target.residuals(value))
            if dvalue is not None:
                rows.append(target.residual_jacobian(value, dvalue))
        return Evaluation(values, np.concatenate(residuals),
                          np.concatenate(rows, axis=0) if jacobian else None)

    def _phase_with_jacobian(self, target: Target, indices: ComplexArray, derivatives: ComplexArray,
                             d: FloatArray, jacobian: bool) -> tuple[FloatArray, FloatArray | None]:
        if not jacobian:
            return self._phase(target, indices, derivatives, d[None, :])[0], None
        steps = PHASE_STEP * np.eye(self.layers)
        batch = np.concatenate([d[None, :], d + steps, d - steps])
        values = self._phase(target, indices, derivatives, batch)
        up, down = values[1:1 + self.layers], values[1 + self.layers:]
        difference = up - down
        if target.quantity == "phase":
            difference = wrapped_phase(difference)
        return values[0], (difference / (2 * PHASE_STEP)).T

    def _batch(self, thicknesses: npt.ArrayLike) -> FloatArray:
        d = np.asarray(thicknesses, dtype=np.float64)
        if d.ndim == 1:
            d = d[None, :]
        if d.ndim != 2 or d.shape[1] != self.layers:
            raise ValueError(f"thicknesses must have shape ({self.layers},) or (B, {self.layers}); "
                             f"received shape {shape_text(d.shape)}")
        return np.ascontiguousarray(d)
