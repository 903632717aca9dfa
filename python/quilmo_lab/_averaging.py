"""The averaging layer of solve: a cone of rays, a slit's bandwidth and a spread of
thicknesses, as quadratures over one expanded problem.

Each level of quadrature expands the problem (rays as angles of incidence, the slit's
wavelengths, the thickness nodes as a batch of stacks), solves it in one engine call on the
same grid loop as every solve, and contracts the results with the weights. Levels are
refined together until R and T change by less than the options' tolerance.
"""

from __future__ import annotations

import dataclasses
import itertools
import warnings
from collections.abc import Callable

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import real_number
from quilmo_lab._quadrature import gauss_hermite
from quilmo_lab._problem import GridProblem
from quilmo_lab.cone import Cone
from quilmo_lab.measurement import AveragedResult
from quilmo_lab.result import Result
from quilmo_lab.slit import Slit

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

# Levels of refinement before giving up on the tolerance, and the most stacks a tensor
# product of thickness nodes may hold.
MAX_LEVEL = 8
MAX_THICKNESS_NODES = 4096


def thickness_spread_array(value: object, layers: int) -> FloatArray:
    """The standard deviation of each inner layer's thickness, (layers,), from a scalar or an
    array of that shape; every entry finite and at least 0."""
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return np.full(layers, real_number("thickness_spread", value, minimum=0.0))
    array = np.array(value, dtype=np.float64)
    if array.shape != (layers,):
        raise ValueError(f"thickness_spread must be a number or have {layers} entries (one per inner layer); "
                         f"received shape {array.shape}")
    if not (np.isfinite(array) & (array >= 0)).all():
        raise ValueError("thickness_spread must be finite and at least 0")
    return array


@dataclasses.dataclass(frozen=True)
class Averaging:
    """The options of one averaged solve; None (or zeros) for an option not used."""

    cone: Cone | None
    slit: Slit | None
    spread: FloatArray | None

    @property
    def tolerance(self) -> float:
        return min(option.tolerance for option in (self.cone, self.slit, _SpreadTolerance) if option is not None)

    def thickness_nodes(self, level: int) -> tuple[FloatArray, FloatArray]:
        """Offsets (S, layers) and weights (S,) of the tensor Gauss-Hermite rule of `level`
        over the layers that spread."""
        assert self.spread is not None
        spreading = np.flatnonzero(self.spread)
        count = level + 2
        x, w = gauss_hermite(count)
        w = w / w.sum()
        nodes = count ** spreading.size
        if nodes > MAX_THICKNESS_NODES:
            raise ValueError(f"thickness_spread on {spreading.size} layers needs {nodes} stacks per quadrature "
                             f"level, more than {MAX_THICKNESS_NODES}; spread fewer layers")
        offsets = np.zeros((nodes, self.spread.size))
        weights = np.ones(nodes)
        for row, choice in enumerate(itertools.product(range(count), repeat=spreading.size)):
            offsets[row, spreading] = x[list(choice)] * self.spread[spreading]
            weights[row] = np.prod(w[list(choice)])
        return offsets, weights


class _SpreadTolerance:
    tolerance = 1e-6


@dataclasses.dataclass
class Level:
    """One level of quadrature: the expanded problem's result and how to contract it."""

    result: Result
    spread_weights: FloatArray   # (S,)
    ray_weights: FloatArray      # (A, N, M): rays at N angles of incidence, M azimuths each
    psi: FloatArray              # (A, N, M)
    slit_weights: FloatArray     # (W, K)
    stacks: int                  # B

    def contract(self, s: FloatArray, p: FloatArray, layer_axis: bool = False) -> tuple[FloatArray, FloatArray]:
        """The averages for s and p incident in the chief frame, (B, A, [L,] W), of per-ray
        quantities of the ray's own s and p, (B*S, A*N, [L,] W*K)."""
        a, n = self.psi.shape[:2]
        w, k = self.slit_weights.shape
        b, sn = self.stacks, self.spread_weights.size
        shape = (b, sn, a, n, -1, w, k) if layer_axis else (b, sn, a, n, w, k)
        s, p = s.reshape(shape), p.reshape(shape)
        along = np.einsum("anm,anm->an", self.ray_weights, np.cos(self.psi) ** 2)
        across = np.einsum("anm,anm->an", self.ray_weights, np.sin(self.psi) ** 2)
        spec = "s,an,wk,bsanlwk->balw" if layer_axis else "s,an,wk,bsanwk->baw"

        def average(values: FloatArray, weights: FloatArray) -> FloatArray:
            return np.asarray(np.einsum(spec, self.spread_weights, weights, self.slit_weights, values),
                              dtype=np.float64)

        return average(s, along) + average(p, across), average(s, across) + average(p, along)

    def contract_mueller(self, m: FloatArray, reflected: bool) -> FloatArray:
        """The average of per-ray Mueller matrices (B*S, A*N, W*K, 4, 4), each turned into the
        chief frame: R(psi) M R(psi) for reflection (its p axis mirrored), R(-psi) M R(psi)
        for transmission."""
        a, n = self.psi.shape[:2]
        w, k = self.slit_weights.shape
        m = m.reshape(self.stacks, self.spread_weights.size, a, n, w, k, 4, 4)
        into = _stokes_rotation(self.psi)
        out = into if reflected else _stokes_rotation(-self.psi)
        turns = np.einsum("anm,anmij,anmlq->anijlq", self.ray_weights, out, into)
        return np.asarray(np.einsum("s,wk,anijlq,bsanwkjl->bawiq", self.spread_weights, self.slit_weights, turns, m),
                          dtype=np.float64)


def _stokes_rotation(psi: FloatArray) -> FloatArray:
    """(..., 4, 4) rotations of Stokes vectors into a basis turned by psi."""
    c, s = np.cos(2 * psi), np.sin(2 * psi)
    r = np.zeros((*psi.shape, 4, 4))
    r[..., 0, 0] = r[..., 3, 3] = 1.0
    r[..., 1, 1] = r[..., 2, 2] = c
    r[..., 1, 2] = s
    r[..., 2, 1] = -s
    return r


def _interpolated(indices: ComplexArray, centres: FloatArray, at: FloatArray) -> ComplexArray:
    """(B, media, W) indices over the centres, linear between them (constant beyond), at `at`."""
    out = np.empty((*indices.shape[:2], at.size), dtype=np.complex128)
    for b, j in np.ndindex(*indices.shape[:2]):
        out[b, j] = (np.interp(at, centres, indices[b, j].real) + 1j * np.interp(at, centres, indices[b, j].imag))
    return out


def _solve_level(problem: GridProblem, averaging: Averaging, level: int, derivatives: bool,
                 solve_problem: Callable[[GridProblem, bool], Result]) -> Level:
    b, a, w = problem.grid
    indices, thicknesses, roughness = problem.indices, problem.thicknesses, problem.roughness
    wavelengths, angles = problem.wavelengths, problem.angles
    spread_weights = np.ones(1)
    if averaging.spread is not None:
        offsets, spread_weights = averaging.thickness_nodes(level)
        base = np.broadcast_to(thicknesses, (b, thicknesses.shape[1]))
        thicknesses = (base[:, None, :] + offsets[None, :, :]).reshape(-1, offsets.shape[1])
        if (thicknesses < 0).any():
            raise ValueError("thickness_spread reaches negative thicknesses: it must be well below the thicknesses")
        count = spread_weights.size
        indices = np.repeat(np.broadcast_to(indices, (b, *indices.shape[1:])), count, axis=0) \
            if indices.shape[0] != 1 else indices
        roughness = np.repeat(np.broadcast_to(roughness, (b, roughness.shape[1])), count, axis=0) \
            if roughness.shape[0] != 1 else roughness
    slit_weights = np.ones((w, 1))
    if averaging.slit is not None:
        around, slit_weights = averaging.slit.wavelengths(wavelengths, level)
        flat = around.ravel()
        if problem.stack is not None:
            indices = np.ascontiguousarray(problem.stack.indices(flat)[None])
        elif indices.shape[2] != 1:
            indices = _interpolated(indices, wavelengths, flat)
        wavelengths = flat
    ray_weights, psi = np.ones((a, 1, 1)), np.zeros((a, 1, 1))
    if averaging.cone is not None:
        rays, ray_weights, psi = averaging.cone.rays(angles, level)
        angles = rays.ravel()
    expanded = dataclasses.replace(problem, indices=np.ascontiguousarray(indices),
                                   thicknesses=np.ascontiguousarray(thicknesses), wavelengths=wavelengths,
                                   angles=np.ascontiguousarray(angles), roughness=np.ascontiguousarray(roughness),
                                   stacks=b * spread_weights.size)
    return Level(solve_problem(expanded, derivatives), spread_weights, ray_weights, psi, slit_weights, b)


def averaged_solve(problem: GridProblem, averaging: Averaging, derivatives: bool,
                   solve_problem: Callable[[GridProblem, bool], Result]) -> AveragedResult:
    """Solves `problem` averaged over the options of `averaging`, refining the quadrature
    until R and T change by less than its tolerance."""
    previous: FloatArray | None = None
    for level in range(MAX_LEVEL + 1):
        current = _solve_level(problem, averaging, level, derivatives, solve_problem)
        powers = np.stack([*current.contract(current.result.R_s, current.result.R_p),
                           *current.contract(current.result.T_s, current.result.T_p)])
        if previous is not None and np.nanmax(np.abs(powers - previous), initial=0.0) < averaging.tolerance:
            break
        previous = powers
    else:
        warnings.warn(f"the averages did not reach the tolerance {averaging.tolerance:g} in R and T after "
                      f"{MAX_LEVEL + 1} levels of quadrature; they are those of the last level", RuntimeWarning,
                      stacklevel=3)
    return AveragedResult(np.stack([powers[0], powers[1], powers[2], powers[3]]), problem, current, averaging)
