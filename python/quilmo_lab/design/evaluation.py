"""The targets of a design evaluated through the engine, with their thickness Jacobian.

An Evaluator fixes the materials of a stack and the targets, computes every index
array once, and then maps thicknesses (one design, or a batch) to target values,
weighted residuals and their Jacobian: analytic for R, T and A (the engine's thickness
derivatives), central differences over one batched call for phase, GD and GDD.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import shape_text, thread_count, type_name
from quilmo_lab._polarisation import Polarisation, polarised, wrapped_phase
from quilmo_lab.anisotropic import _stack_permittivity, solve_anisotropic
from quilmo_lab.cone import Cone
from quilmo_lab.design.targets import PHASE_QUANTITIES, Target
from quilmo_lab.dispersion import dispersion
from quilmo_lab.index_series import stack_index_derivatives
from quilmo_lab.result import Result
from quilmo_lab.slit import Slit
from quilmo_lab.solve import solve
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

# Thickness step (nm) of the differences for phase targets: the phase is smooth on the
# scale of a wavelength, so h^2 truncation stays near 1e-6 of its derivative.
PHASE_STEP = 1e-3


@dataclass(frozen=True)
class Evaluation:
    """The targets of one design evaluated: values, weighted residuals and their Jacobian.

    Attributes
    ----------
    values : list of ndarray
        Per target, its quantity at its wavelengths, (W,).
    residuals : ndarray
        Every target's weighted residuals in turn, (N,).
    jacobian : ndarray or None
        d residuals / d thickness of every layer, (N, layers); None where not asked for.

    See Also
    --------
    Evaluator.evaluate : Builds an Evaluation.

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> evaluation = design.Evaluator(coating, [target]).evaluate([80.0])
    >>> evaluation.residuals.shape, evaluation.jacobian.shape
    ((5,), (5, 1))
    """

    values: list[FloatArray]
    residuals: FloatArray
    jacobian: FloatArray | None

    @property
    def merit(self) -> float:
        """The root mean square of the residuals.

        Examples
        --------
        >>> from quilmo_lab import design
        >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
        >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
        >>> round(design.Evaluator(coating, [target]).evaluate([80.0], jacobian=False).merit, 4)
        1.6024
        """
        return merit_of(self.residuals)


def merit_of(residuals: FloatArray) -> float:
    """The merit of weighted residuals: their root mean square (0 for none).

    Parameters
    ----------
    residuals : ndarray
        Weighted residuals, (N,).

    Returns
    -------
    float

    Examples
    --------
    >>> from quilmo_lab.design.evaluation import merit_of
    >>> merit_of(np.array([3.0, -4.0, 0.0, 0.0]))
    2.5
    """
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
    """Target values, residuals and their thickness Jacobian of designs with one stack's materials.

    The indices of every medium at every target's wavelengths are computed once; then
    thicknesses map to values through the public fronts: R, T and A with their analytic
    thickness derivatives (`solve`), phase, GD and GDD by central differences over one
    batched `dispersion` call.

    Parameters
    ----------
    stack : Stack
        Gives the materials, layer count and coherence of every design evaluated.
    targets : sequence of Target
        At least one.
    threads : int, optional
        Worker threads of the solves.
    cone, bandwidth, thickness_spread, roughness_model : optional
        What the instrument sees, as for `quilmo_lab.solve` (the stack's layers give the
        roughness): R, T and A are averaged, and so are their thickness derivatives.

    Raises
    ------
    TypeError, ValueError
        For targets that are not Targets, none, or phase targets on a stack with
        incoherent layers or with an average.

    See Also
    --------
    merit, refine : Built on an Evaluator.

    Examples
    --------
    >>> from quilmo_lab import design
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> evaluator = design.Evaluator(coating, [target])
    >>> evaluator.layers, evaluator.size
    (1, 5)
    """

    def __init__(self, stack: Stack, targets: Sequence[Target], threads: int | None = None, *,
                 cone: Cone | None = None, bandwidth: Slit | None = None, thickness_spread: npt.ArrayLike = 0.0,
                 roughness_model: str = "nevot-croce") -> None:
        targets = tuple(targets)
        if not targets:
            raise ValueError("targets must hold at least one Target; received none")
        for i, target in enumerate(targets):
            if not isinstance(target, Target):
                raise TypeError(f"targets[{i}] must be a quilmo_lab.design.Target; received {type_name(target)}")
        # every layer's coherence flag, the solve's `coherent`
        self._coherent = stack.coherent
        # anisotropic media: R, T and A from the 4x4 solve, the Jacobian by central
        # differences in one batched solve per target
        self._anisotropic = stack.anisotropic
        if self._anisotropic:
            from quilmo_lab.tensors import TwistedLayer

            if any(isinstance(layer, TwistedLayer) for layer in stack.layers):
                raise ValueError("stack must not hold a TwistedLayer for design (its slices are not layers whose "
                                 "thickness can be refined); received a stack with one")
            if any(t.quantity in PHASE_QUANTITIES for t in targets):
                raise ValueError("targets must be R, T or A for a stack with anisotropic media; received "
                                 + ", ".join(t.quantity for t in targets if t.quantity in PHASE_QUANTITIES))
        if not self._coherent.all() and any(t.quantity in PHASE_QUANTITIES for t in targets):
            raise ValueError("targets must be R, T or A for a stack with incoherent layers (phase, GD and GDD need "
                             "a coherent stack); received "
                             + ", ".join(t.quantity for t in targets if t.quantity in PHASE_QUANTITIES))
        # what the instrument sees, passed to every solve (with the Stack's roughness)
        self._measurement: dict[str, Any] = dict(roughness=stack.roughness, roughness_model=roughness_model)
        averaged = dict(cone=cone, bandwidth=bandwidth, thickness_spread=thickness_spread)
        if cone is not None or bandwidth is not None or np.any(np.asarray(thickness_spread) != 0):
            if any(t.quantity in PHASE_QUANTITIES for t in targets):
                raise ValueError("targets must be R, T or A with cone, bandwidth or thickness_spread (an average "
                                 "has no phase)")
            self._measurement.update(averaged)
        if self._anisotropic and (len(self._measurement) > 2 or stack.rough):
            raise ValueError("stack must be isotropic for roughness, cone, bandwidth or thickness_spread; received "
                             "a stack with anisotropic media")
        self.stack = stack
        self.targets = targets
        self.layers = len(stack.layers)
        thread_count(threads)  # a bad count is reported before the first evaluation
        self.threads = threads
        # every target's indices (permittivity tensors for anisotropic media) at its wavelengths
        # (and, for phases, their λ-derivatives), once
        self._indices = [_stack_permittivity(stack, t.wavelengths, ())[0] if self._anisotropic
                         else stack.indices(t.wavelengths) for t in targets]
        self._index_derivatives: list[ComplexArray | None] = [
            stack_index_derivatives(stack, t.wavelengths) if t.quantity in PHASE_QUANTITIES else None
            for t in targets]
        self.size = sum(t.size for t in targets)

    # values -----------------------------------------------------------------------------
    def values(self, thicknesses: npt.ArrayLike) -> list[FloatArray]:
        """Every target's quantity for a batch of designs.

        Parameters
        ----------
        thicknesses : array_like
            (layers,) or a batch (B, layers), in nm.

        Returns
        -------
        list of ndarray
            Per target, its quantity at its wavelengths, (B, W).

        Examples
        --------
        >>> from quilmo_lab import design
        >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
        >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
        >>> print(np.round(design.Evaluator(coating, [target]).values([[80.0], [100.0]])[0], 4))
        [[0.0126 0.0136 0.0155 0.0176 0.0197]
         [0.0163 0.0134 0.0126 0.0131 0.0143]]
        """
        d = self._batch(thicknesses)
        out = []
        for target, indices, derivatives in zip(self.targets, self._indices, self._index_derivatives):
            if self._anisotropic:
                out.append(self._anisotropic_power(target, indices, d))
            elif derivatives is None:
                result = self._solve(indices, d, target, derivatives=False)
                out.append(_power(result, target.quantity, target.polarisation, False)[:, 0, :])
            else:
                out.append(self._phase(target, indices, derivatives, d))
        return out

    def _solve(self, indices: ComplexArray, d: FloatArray, target: Target, derivatives: bool) -> Result:
        """One target's solve of the designs `d`, as the instrument sees them; a slit needs the
        materials between the target's wavelengths, so it solves the Stack."""
        if "bandwidth" in self._measurement and self._measurement["bandwidth"] is not None:
            return solve(self.stack, target.wavelengths, target.angle, thicknesses=d, coherent=self._coherent,
                         threads=self.threads, derivatives=derivatives, **self._measurement)
        return solve(indices, d, target.wavelengths, target.angle, coherent=self._coherent, threads=self.threads,
                     derivatives=derivatives, **self._measurement)

    def _phase(self, target: Target, indices: ComplexArray, derivatives: ComplexArray, d: FloatArray
               ) -> FloatArray:
        """(B, W) phase, GD or GDD of the designs `d`."""
        phases = dispersion(indices, d, target.wavelengths, target.angle, target.side,
                            "s" if target.polarisation == "s" else "p", threads=self.threads,
                            index_derivatives=derivatives)
        return {"phase": phases.phase, "GD": phases.gd, "GDD": phases.gdd}[target.quantity]

    def residuals_batch(self, thicknesses: npt.ArrayLike) -> tuple[FloatArray, list[FloatArray]]:
        """The residuals and the values of a batch of designs, in one solve per target.

        Parameters
        ----------
        thicknesses : array_like
            (B, layers) in nm.

        Returns
        -------
        residuals : ndarray
            (B, N): every target's weighted residuals in turn.
        values : list of ndarray
            Per target, (B, W).

        Examples
        --------
        >>> from quilmo_lab import design
        >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
        >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
        >>> residuals, values = design.Evaluator(coating, [target]).residuals_batch([[80.0], [100.0]])
        >>> residuals.shape
        (2, 5)
        """
        values = self.values(thicknesses)
        residuals = np.concatenate([t.residuals(v) for t, v in zip(self.targets, values)], axis=1)
        return residuals, values

    # one design with its Jacobian ---------------------------------------------------------
    def evaluate(self, thicknesses: npt.ArrayLike, jacobian: bool = True) -> Evaluation:
        """Values, residuals and (with `jacobian`) their thickness Jacobian of one design.

        Parameters
        ----------
        thicknesses : array_like
            (layers,) in nm.
        jacobian : bool, optional
            Also compute d residuals / d thickness.

        Returns
        -------
        Evaluation

        Raises
        ------
        ValueError
            For more than one design.

        Examples
        --------
        >>> from quilmo_lab import design
        >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
        >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
        >>> evaluation = design.Evaluator(coating, [target]).evaluate([80.0])
        >>> bool(evaluation.jacobian[0, 0] < 0)  # thicker is better at 450 nm
        True
        """
        d = self._batch(thicknesses)
        if d.shape[0] != 1:
            raise ValueError(f"thicknesses must be one design's for evaluate; received {d.shape[0]} designs")
        values, residuals, rows = [], [], []
        for target, indices, derivatives in zip(self.targets, self._indices, self._index_derivatives):
            if self._anisotropic:
                value, dvalue = self._differenced(target, d[0], jacobian,
                                                  lambda batch: self._anisotropic_power(target, indices, batch))
            elif derivatives is None:
                result = self._solve(indices, d, target, derivatives=jacobian)
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

    def _anisotropic_power(self, target: Target, tensors: ComplexArray, d: FloatArray) -> FloatArray:
        """(B, W) R, T or A of the designs `d` of a stack with anisotropic media."""
        result = solve_anisotropic(tensors, d, target.wavelengths, target.angle, threads=self.threads)
        quantity = {"R": result.R, "T": result.T, "A": result.A}[target.quantity]
        return quantity(target.polarisation)[:, 0, :]

    def _differenced(self, target: Target, d: FloatArray, jacobian: bool,
                     values_of: Callable[[FloatArray], FloatArray]) -> tuple[FloatArray, FloatArray | None]:
        """A target's (W,) value and (W, layers) central-difference Jacobian, in one batched call."""
        if not jacobian:
            return values_of(d[None, :])[0], None
        steps = PHASE_STEP * np.eye(self.layers)
        values = values_of(np.concatenate([d[None, :], d + steps, d - steps]))
        up, down = values[1:1 + self.layers], values[1 + self.layers:]
        return values[0], ((up - down) / (2 * PHASE_STEP)).T

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
