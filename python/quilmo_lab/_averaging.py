"""The averaging layer of solve: a cone of rays, a slit's bandwidth and a spread of
thicknesses, as quadratures over one expanded problem.

Each level of quadrature expands the problem (rays as angles of incidence, the slit's
wavelengths, the thickness nodes as a batch of stacks) and contracts the results with the
weights. The rules of the cone and the slit are nested: a level holds every node of the one
before, so a level solves only its new nodes, and only for the requested wavelengths whose R
and T are not yet within the options' tolerance (see `converged`; one engine call for the new
angles of incidence, one for the new wavelengths, each on the same grid loop as every solve). The
thickness nodes (Gauss-Hermite) are not nested: with a spread, each level solves its whole
rule, still only for the wavelengths not yet converged.
"""

from __future__ import annotations

import dataclasses
import itertools
import warnings
from collections.abc import Callable, Iterator

import numpy as np
import numpy.typing as npt
from numpy.lib.stride_tricks import sliding_window_view

from quilmo_lab._checks import real_number
from quilmo_lab._quadrature import KEY_BITS, gauss_hermite, key_stride, unique_keys
from quilmo_lab._problem import GridProblem
from quilmo_lab.cone import Cone
from quilmo_lab.measurement import AveragedResult
from quilmo_lab.result import Result
from quilmo_lab.slit import Slit

FloatArray = npt.NDArray[np.float64]
IntArray = npt.NDArray[np.int64]
ComplexArray = npt.NDArray[np.complex128]

# Levels of refinement before giving up on the tolerance, and the most stacks a tensor
# product of thickness nodes may hold.
MAX_LEVEL = 8
MAX_THICKNESS_NODES = 4096
# The thickness spread's tolerance in R and T (it takes no options of its own).
SPREAD_TOLERANCE = 1e-6


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
        """The tolerance in R and T of the averages refined together: the smallest of the
        options' own (the spread's is SPREAD_TOLERANCE)."""
        own = [option.tolerance for option in (self.cone, self.slit) if option is not None]
        return min(own + ([SPREAD_TOLERANCE] if self.spread is not None else []))

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


RAY_STRIDE = 2 ** 26  # a ray's key among all chief angles: chief index * RAY_STRIDE + its key


@dataclasses.dataclass(frozen=True)
class Rule:
    """The quadrature of one level over the rays and the slit (without the thicknesses)."""

    chief: IntArray      # (R,) the chief angle of each angle of incidence
    rays: IntArray       # (R,) keys of the angles of incidence, unique among all chief angles
    theta: FloatArray    # (R,)
    along: FloatArray    # (R,) weight of the ray's s (p) for light s (p) in the chief frame
    across: FloatArray   # (R,) weight of the ray's p (s) for light s (p) in the chief frame
    turns: Callable[[bool], FloatArray]  # (R, 4, 4, 4, 4) weighted Stokes turns, reflected or not
    rows: IntArray       # (W',) the requested wavelengths the level refines, ascending
    keys: IntArray       # (W', K) keys of the slit's wavelengths around each of them
    wavelengths: FloatArray  # (W', K)
    weights: FloatArray  # (W', K)

    def row(self, wanted: IntArray) -> IntArray:
        """The rows of the requested wavelengths `wanted` (among `rows`)."""
        return np.searchsorted(self.rows, wanted)


@dataclasses.dataclass(frozen=True)
class Piece:
    """One engine call: rays x wavelengths (both sorted by key) x the thickness nodes of `level`."""

    level: int
    result: Result
    rays: IntArray
    keys: IntArray
    spread_weights: FloatArray
    # values the refinement sums at every level, taken from `result` once
    kept: dict[Callable[[Result], tuple[FloatArray, ...]], FloatArray] = dataclasses.field(
        default_factory=dict, compare=False, repr=False)

    def values(self, values_of: Callable[[Result], tuple[FloatArray, ...]], keep: bool) -> FloatArray:
        """values_of(result) stacked along a new first axis (kept for the next level if `keep`)."""
        found = self.kept.get(values_of)
        if found is None:
            found = np.stack(values_of(self.result))
            if keep:
                self.kept[values_of] = found
        return found


class Quadrature:
    """The nested rules of one averaged solve, the engine calls made on them and the level at
    which each requested wavelength converged."""

    def __init__(self, problem: GridProblem, averaging: Averaging,
                 solve_problem: Callable[[GridProblem, bool], Result], derivatives: bool) -> None:
        indices = problem.indices
        if indices.shape[2] > 1 and (indices == indices[:, :, :1]).all():
            # the same indices at every wavelength go to the engine as one column: it then
            # computes each medium once per angle instead of once per point (same bits)
            problem = dataclasses.replace(problem, indices=np.ascontiguousarray(indices[:, :, :1]))
        self.problem, self.averaging = problem, averaging
        self._solve_problem, self._derivatives = solve_problem, derivatives
        self._rules: dict[int, Rule] = {}
        self._ahead = -1  # the last level solved with the level before it
        self.pieces: list[Piece] = []
        self.converged_at = np.full(problem.grid[2], MAX_LEVEL)
        self.points = 0

    @property
    def nested(self) -> bool:
        """Whether every level's rule holds the previous one's nodes (no thickness spread)."""
        return self.averaging.spread is None

    def rule(self, level: int) -> Rule:
        """The rule of a level refined already."""
        return self._rules[level]

    def _make_rule(self, level: int, rows: IntArray) -> Rule:
        angles, centres = self.problem.angles, self.problem.wavelengths[rows]
        if self.averaging.cone is not None:
            chief, key, theta, ray_weights, psi = self.averaging.cone.rays(angles, level)
        else:
            chief, key, theta = np.arange(angles.size, dtype=np.int64), np.zeros(angles.size, np.int64), angles
            ray_weights, psi = np.ones((angles.size, 1)), np.zeros((angles.size, 1))
        if self.averaging.slit is not None:
            keys, wavelengths, weights = self.averaging.slit.wavelengths(centres, level, rows,
                                                                         self.averaging.tolerance)
        else:
            # without a slit a wavelength's key is its row, on level 0's grid: never new
            keys = (rows.astype(np.int64) << KEY_BITS)[:, None]
            wavelengths, weights = centres[:, None], np.ones((rows.size, 1))

        def turns(reflected: bool) -> FloatArray:
            into = _stokes_rotation(psi)
            out = into if reflected else _stokes_rotation(-psi)
            return np.asarray(np.einsum("rm,rmij,rmlq->rijlq", ray_weights, out, into), dtype=np.float64)

        return Rule(chief, chief * RAY_STRIDE + key, theta, np.einsum("rm,rm->r", ray_weights, np.cos(psi) ** 2),
                    np.einsum("rm,rm->r", ray_weights, np.sin(psi) ** 2), turns, rows, keys, wavelengths, weights)

    def refine(self, level: int, active: IntArray) -> None:
        """Solves the nodes of `level` not yet solved for the requested wavelengths `active`.

        An engine call and a level's bookkeeping cost about as much as solving the points of
        a plain solve, so with nested rules a level whose new points are few solves the next
        level's nodes in the same call (those of the wavelengths still active then are
        solved already); so does level 0, as every wavelength takes level 1 (no change can
        be measured before it)."""
        if self.nested and level == self._ahead:
            return
        rule = self._rules[level] = self._make_rule(level, active)
        if not self.nested:
            self._solve_all(level, rule, key_stride(level))
            return
        if level == 0:
            self._rules[1] = self._make_rule(1, active)
            self._ahead = 1
            self._solve_all(0, self._rules[1], key_stride(1))
            return
        # the previous level's nodes are the multiples of its stride, solved for every
        # wavelength still active
        before = key_stride(level - 1)
        keys, first = unique_keys(rule.keys, key_stride(level))
        old, new = rule.rays % before == 0, keys % before != 0
        points = (old.size - old.sum()) * keys.size + old.sum() * new.sum()  # per stack
        if 2 * points <= self.problem.grid[1] * self.problem.grid[2]:
            rule = self._rules[level + 1] = self._make_rule(level + 1, active)
            self._ahead = level + 1
            keys, first = unique_keys(rule.keys, key_stride(level + 1))
        wavelengths = rule.wavelengths.ravel()[first]
        old, new = rule.rays % before == 0, keys % before != 0
        if not old.all():
            self._solve(level, rule, np.flatnonzero(~old), keys, wavelengths)
        if new.any():
            self._solve(level, rule, np.flatnonzero(old), keys[new], wavelengths[new])

    def _solve_all(self, level: int, rule: Rule, stride: int) -> None:
        """Solves every node of `rule` as a piece of `level`."""
        keys, first = unique_keys(rule.keys, stride)
        self._solve(level, rule, np.arange(rule.rays.size), keys, rule.wavelengths.ravel()[first])

    def _solve(self, level: int, rule: Rule, rays: IntArray, keys: IntArray, wavelengths: FloatArray) -> None:
        problem = self.problem
        rays = rays[np.argsort(rule.rays[rays])]
        b = problem.grid[0]
        indices, thicknesses, roughness = problem.indices, problem.thicknesses, problem.roughness
        spread_weights = np.ones(1)
        if self.averaging.spread is not None:
            offsets, spread_weights = self.averaging.thickness_nodes(level)
            base = np.broadcast_to(thicknesses, (b, thicknesses.shape[1]))
            thicknesses = (base[:, None, :] + offsets[None, :, :]).reshape(-1, offsets.shape[1])
            if (thicknesses < 0).any():
                raise ValueError("thickness_spread reaches negative thicknesses: it must be well below the "
                                 "thicknesses")
            count = spread_weights.size
            indices = np.repeat(np.broadcast_to(indices, (b, *indices.shape[1:])), count, axis=0) \
                if indices.shape[0] != 1 else indices
            roughness = np.repeat(np.broadcast_to(roughness, (b, roughness.shape[1])), count, axis=0) \
                if roughness.shape[0] != 1 else roughness
        if self.averaging.slit is None:
            indices = indices[:, :, keys >> KEY_BITS] if indices.shape[2] != 1 else indices
        elif problem.stack is not None:
            indices = problem.stack.indices(wavelengths)[None]
        elif indices.shape[2] != 1:
            indices = _interpolated(indices, problem.wavelengths, wavelengths)
        expanded = dataclasses.replace(problem, indices=np.ascontiguousarray(indices),
                                       thicknesses=np.ascontiguousarray(thicknesses),
                                       wavelengths=np.ascontiguousarray(wavelengths),
                                       angles=np.ascontiguousarray(rule.theta[rays]),
                                       roughness=np.ascontiguousarray(roughness), stacks=b * spread_weights.size)
        self.points += expanded.stacks * rays.size * keys.size
        self.pieces.append(Piece(level, self._solve_problem(expanded, self._derivatives), rule.rays[rays], keys,
                                 spread_weights))

    def _pieces_of(self, level: int) -> list[Piece]:
        return [piece for piece in self.pieces
                if piece.level == level or (self.nested and piece.level < level)]

    def _merged(self, level: int, values_of: Callable[[Result], tuple[FloatArray, ...]], axis: int,
                keep: bool = False) -> Iterator[tuple[IntArray, FloatArray, IntArray, FloatArray]]:
        """The pieces the rule of `level` sums over, those on the same rays and thickness nodes
        joined along the wavelengths (`axis` of the values): their rays, thickness weights,
        keys (ascending) and values (stacked along a new first axis; kept on the pieces if
        `keep`, for the sums of the levels to come). A slit's levels add wavelengths on the
        same rays, so its sums take one gather per level however many levels were solved."""
        groups: dict[bytes, list[Piece]] = {}
        for piece in self._pieces_of(level):
            groups.setdefault(piece.rays.tobytes() + piece.spread_weights.tobytes(), []).append(piece)
        for pieces in groups.values():
            values = [piece.values(values_of, keep) for piece in pieces]
            if len(pieces) == 1:
                yield pieces[0].rays, pieces[0].spread_weights, pieces[0].keys, values[0]
                continue
            keys = np.concatenate([piece.keys for piece in pieces])
            order = np.argsort(keys, kind="stable")
            axis = axis if axis < 0 else axis + 1
            yield pieces[0].rays, pieces[0].spread_weights, keys[order], \
                np.take(np.concatenate(values, axis=axis), order, axis=axis)

    def _weights(self, rays: IntArray, keys: IntArray, level: int,
                 wanted: IntArray) -> tuple[IntArray, IntArray, _NodeSums]:
        """Where the rule of `level` meets solved `rays` and wavelength `keys` (both sorted):
        the rays found (rule index, index among `rays`) and the sums over the wavelengths of
        the requested wavelengths `wanted`."""
        rule = self.rule(level)
        at = np.minimum(np.searchsorted(rays, rule.rays), rays.size - 1)
        found = np.flatnonzero(rays[at] == rule.rays)
        if wanted.size == rule.rows.size:  # every row of the rule (wanted is among them)
            return found, at[found], _NodeSums(keys, rule.keys, rule.weights)
        rows = rule.row(wanted)
        return found, at[found], _NodeSums(keys, rule.keys[rows], rule.weights[rows])

    def sum(self, level: int, wanted: IntArray, quantity: Callable[[Result], tuple[FloatArray, FloatArray]],
            keep: bool = False) -> tuple[FloatArray, FloatArray]:
        """The averages for s and p incident in the chief frame, (B, A, [L,] |wanted|), by the
        rule of `level`, of per-ray quantities of the ray's own s and p (B*S, rays, [L,] G);
        `keep` keeps the quantity's values on the pieces for the levels to come."""
        rule = self.rule(level)
        b, a = self.problem.grid[:2]
        total_s = total_p = np.zeros(0)
        for rays, spread_weights, keys, values in self._merged(level, quantity, -1, keep):
            found, at, node_sums = self._weights(rays, keys, level, wanted)
            along, across = np.zeros((a, rays.size)), np.zeros((a, rays.size))
            along[rule.chief[found], at] = rule.along[found]
            across[rule.chief[found], at] = rule.across[found]
            # the slit's weights first, then the thicknesses', then the rays' (matrix products)
            values = node_sums(values.reshape(2, b, spread_weights.size, rays.size, *values.shape[3:]))
            tail = values.shape[4:]
            if spread_weights.size > 1:
                values = np.matmul(spread_weights, values.reshape(2, b, spread_weights.size, -1))
            s, p = values.reshape(2, b, rays.size, -1)
            part_s = (np.matmul(along, s) + np.matmul(across, p)).reshape(b, a, *tail)
            part_p = (np.matmul(across, s) + np.matmul(along, p)).reshape(b, a, *tail)
            total_s, total_p = (part_s, part_p) if total_s.size == 0 else (total_s + part_s, total_p + part_p)
        return total_s, total_p

    def sum_mueller(self, level: int, wanted: IntArray, reflected: bool) -> FloatArray:
        """The average (B, A, |wanted|, 4, 4) of per-ray Mueller matrices, each turned into the
        chief frame: R(psi) M R(psi) for reflection (its p axis mirrored), R(-psi) M R(psi) for
        transmission."""
        rule = self.rule(level)
        b, a = self.problem.grid[:2]
        turns = rule.turns(reflected)
        total = np.zeros((b, a, wanted.size, 4, 4))

        def mueller(result: Result) -> tuple[FloatArray]:
            return (result.mueller_r if reflected else result.mueller_t,)

        for rays, spread_weights, keys, (m,) in self._merged(level, mueller, 2):
            found, at, node_sums = self._weights(rays, keys, level, wanted)
            weighted = np.zeros((a, rays.size, 4, 4, 4, 4))
            weighted[rule.chief[found], at] = turns[found]
            m = node_sums(np.moveaxis(m.reshape(b, spread_weights.size, rays.size, m.shape[2], 4, 4), 3, -1))
            total += np.einsum("s,arijlq,bsrjlw->bawiq", spread_weights, weighted, m)
        return total

    def _by_level(self, shape: tuple[int, ...], average: Callable[[int, IntArray], FloatArray],
                  mueller: bool = False) -> FloatArray:
        """An average over every requested wavelength, each by the rule it converged at, the
        wavelengths along the last axis of `shape` (the third of Mueller matrices')."""
        out = np.zeros(shape)
        for level in np.unique(self.converged_at):
            wanted = np.flatnonzero(self.converged_at == level)
            if mueller:
                out[:, :, wanted] = average(int(level), wanted)
            else:
                out[..., wanted] = average(int(level), wanted)
        return out

    def contract(self, quantity: Callable[[Result], tuple[FloatArray, FloatArray]],
                 layers: int | None = None) -> tuple[FloatArray, FloatArray]:
        """The converged averages (B, A, [layers,] W) for s and p incident in the chief frame."""
        b, a, w = self.problem.grid
        shape = (2, b, a, w) if layers is None else (2, b, a, layers, w)
        both = self._by_level(shape, lambda level, wanted: np.stack(self.sum(level, wanted, quantity)))
        return both[0], both[1]

    def contract_mueller(self, reflected: bool) -> FloatArray:
        b, a, w = self.problem.grid
        return self._by_level((b, a, w, 4, 4), lambda level, wanted: self.sum_mueller(level, wanted, reflected),
                              mueller=True)

    @property
    def counts(self) -> dict[str, int]:
        """The finest converged rule's rays per chief angle, wavelengths per requested one and
        stacks per thickness, and the points solved in all."""
        level = int(self.converged_at.max())
        rule = self.rule(level)
        stacks = self.averaging.thickness_nodes(level)[1].size if self.averaging.spread is not None else 1
        return {"rays": int(np.bincount(rule.chief).max()), "wavelengths": int((rule.weights > 0).sum(axis=1).max()),
                "thicknesses": stacks, "points": self.points}


class _NodeSums:
    """The weighted sums over each requested wavelength's nodes (W', K), keyed by `wanted`,
    of values over the solved nodes `keys` (sorted), absent nodes counting 0."""

    def __init__(self, keys: IntArray, wanted: IntArray, weights: FloatArray) -> None:
        self._weights = weights
        # A row's nodes are usually every node or every other node of a run of the solved ones
        # (a slit's shared grid, the rules around each wavelength, a level solved with the
        # next): then strided windows of the values take them without looking up each node.
        width = wanted.shape[1]
        self._start: IntArray | None = None
        start = np.searchsorted(keys, wanted[:, 0])
        self._step = max(1, int(np.searchsorted(keys, wanted[0, 1]) - start[0])) if width > 1 else 1
        reach = (width - 1) * self._step + 1
        if keys.size >= reach:
            start = np.minimum(start, keys.size - reach)
            window = sliding_window_view(keys, reach)[start, ::self._step]
            if ((window == wanted) | (weights == 0)).all():
                self._start = start
                return
        self._where = np.minimum(np.searchsorted(keys, wanted), keys.size - 1)
        self._weights = np.where(keys[self._where] == wanted, weights, 0.0)

    def __call__(self, values: FloatArray) -> FloatArray:
        """(..., W') from values (..., G) over the solved nodes."""
        if self._weights.shape[1] == 1:
            # one node per wavelength (no slit): a gather, and a product with its weight
            where = self._start if self._start is not None else self._where[:, 0]
            return np.asarray(values[..., where] * self._weights[:, 0], dtype=np.float64)
        if self._start is not None:
            reach = (self._weights.shape[1] - 1) * self._step + 1
            taken = sliding_window_view(values, reach, axis=-1)[..., self._start, ::self._step]
        else:
            taken = values[..., self._where]
        return np.asarray(np.einsum("...wk,wk->...w", taken, self._weights), dtype=np.float64)


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
    """(B, media, W) indices over the centres, linear between them (constant beyond), at `at`.
    A medium whose index is the same at every centre keeps exactly that index, and when every
    medium does the result has one column: the engine then computes each medium once per angle
    instead of once per point."""
    constant = (indices == indices[:, :, :1]).all(axis=(0, 2))
    if constant.all():
        return np.ascontiguousarray(indices[:, :, :1])
    order = np.argsort(centres, kind="stable")
    centres, indices = centres[order], indices[:, :, order]
    if centres.size == 1:
        return np.repeat(indices, at.size, axis=2)
    right = np.clip(np.searchsorted(centres, at, side="right"), 1, centres.size - 1)
    span = centres[right] - centres[right - 1]
    fraction = np.clip((at - centres[right - 1]) / np.where(span > 0, span, 1.0), 0.0, 1.0)
    out = np.empty((*indices.shape[:2], at.size), dtype=np.complex128)
    out[:, constant] = indices[:, constant, :1]
    varying = indices[:, ~constant]
    # complex weights: NumPy's complex-by-real product casts through a slow buffered loop
    out[:, ~constant] = varying[:, :, right - 1] * (1 - fraction).astype(np.complex128) \
        + varying[:, :, right] * fraction.astype(np.complex128)
    return out


def _reflected_and_transmitted(result: Result) -> tuple[FloatArray, FloatArray]:
    """R and T of the ray's own s (p), (B*S, rays, 2, G): one sum contracts both."""
    return np.stack([result.R_s, result.T_s], axis=2), np.stack([result.R_p, result.T_p], axis=2)


def averaged_solve(problem: GridProblem, averaging: Averaging, derivatives: bool,
                   solve_problem: Callable[[GridProblem, bool], Result]) -> AveragedResult:
    """Solves `problem` averaged over the options of `averaging`, refining the quadrature of
    each requested wavelength until `converged` accepts its R and T."""
    quadrature = Quadrature(problem, averaging, solve_problem, derivatives)
    b, a, w = problem.grid
    powers = np.zeros((4, b, a, w))
    active = np.arange(w)
    previous: FloatArray | None = None
    last_change = np.full(w, np.inf)
    for level in range(MAX_LEVEL + 1):
        quadrature.refine(level, active)
        s, p = quadrature.sum(level, active, _reflected_and_transmitted, keep=True)
        current = np.stack([s[:, :, 0], p[:, :, 0], s[:, :, 1], p[:, :, 1]])
        if previous is not None:
            change = np.abs(current - previous).reshape(-1, active.size)
            change = np.where(np.isnan(change), 0.0, change).max(axis=0, initial=0.0)
            done = converged(change, last_change, averaging.tolerance)
            powers[..., active[done]] = current[..., done]
            quadrature.converged_at[active[done]] = level
            active, current, last_change = active[~done], current[..., ~done], change[~done]
            if active.size == 0:
                break
        previous = current
    else:
        powers[..., active] = current
        warnings.warn(f"the averages did not reach the tolerance {averaging.tolerance:g} in R and T after "
                      f"{MAX_LEVEL + 1} levels of quadrature at {active.size} of the {w} wavelengths; they are "
                      "those of the last level", RuntimeWarning, stacklevel=3)
    for piece in quadrature.pieces:
        piece.kept.clear()  # the result keeps the pieces, not these copies of their R and T
    return AveragedResult(powers, problem, quadrature)


# A level's change may be small by chance while its rule has not yet resolved a sharp
# feature (a band edge sweeping through a cone's angles): two coarse rules then agree, both
# wrong by far more than their difference. Once the cone's and the slit's rules resolve the
# integrand they converge exponentially in their nodes, which each level doubles: at least
# quadratically per level, so a change d is followed by an error of about d**2 at most. A
# level is accepted when its own change is below the tolerance and the previous change was
# small enough for that bound to hold with a margin of 100 (below MARGIN * sqrt(tolerance)),
# or when its change is below FIRST_LEVEL_SHARE of the tolerance (the only way for the first
# level, which has no previous change to judge it by). The thickness rule, one node more per
# level, takes the same test.
MARGIN = 0.1
FIRST_LEVEL_SHARE = 1e-2


def converged(change: FloatArray, last_change: FloatArray, tolerance: float) -> npt.NDArray[np.bool_]:
    """Whether the averages whose R and T changed by `change` at this level, and by
    `last_change` at the one before (inf at the first level), are within `tolerance`."""
    resolved = last_change < MARGIN * np.sqrt(tolerance)
    return np.asarray((change < FIRST_LEVEL_SHARE * tolerance) | ((change < tolerance) & resolved), dtype=np.bool_)
