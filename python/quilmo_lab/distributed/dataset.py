"""dataset: random stacks from a generator and their spectra, written to a Zarr store chunk by chunk.

The store holds one group: the spectra (sample, angle, wavelength), the stack
parameters the generator returned (sample, ...), the wavelengths and angles, a flag
per chunk that says it is complete, and in its attributes what made it (size, chunk,
seed, quantities). A chunk is written whole by one task, then flagged; a run finds the
flags of the chunks before it and skips them, so that an interrupted run resumes where
it stopped and a task run twice (a worker lost after it finished) writes nothing twice.
A chunk that fails is reported once every other chunk has been tried, so that none is
still being written when the call returns.
"""

from __future__ import annotations

import importlib
import os
from collections.abc import Callable, Mapping, Sequence
from concurrent.futures import ThreadPoolExecutor
from contextlib import nullcontext
from dataclasses import dataclass, replace
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import axis, choice, flag, thread_count, type_name, whole_number
from quilmo_lab._optional import dask_module, distributed_xarray, zarr_module
from quilmo_lab.distributed._chunks import blocks, offsets
from quilmo_lab.distributed._cluster import current_client, parallelism, task_threads
from quilmo_lab.distributed._quantities import Quantity, quantities as defined_quantities, values
from quilmo_lab.solve import solve

if TYPE_CHECKING:
    import xarray

# The store's attribute that marks it as a data set and records how it was made.
MARK = "quilmo_lab.dataset"
DEFAULT_QUANTITIES = ("R_s", "R_p", "T_s", "T_p")
# The stack parameters solve takes; the generator's other entries are stored as they are.
SOLVE_PARAMETERS = ("indices", "thicknesses")

Generator = Callable[[np.random.Generator, int], Mapping[str, npt.ArrayLike]]


@dataclass(frozen=True)
class _Plan:
    """What one data set is: everything a task needs to write its chunk."""

    path: str
    size: int
    chunk: int
    entropy: int
    wavelengths: npt.NDArray[np.float64]
    angles: npt.NDArray[np.float64]
    coherent: npt.NDArray[np.bool_] | None
    quantities: tuple[Quantity, ...]
    threads: int

    def rng(self, k: int) -> np.random.Generator:
        """The random numbers of chunk k: independent of every other chunk, the same on every run."""
        return np.random.default_rng(np.random.SeedSequence(self.entropy, spawn_key=(k,)))

    def record(self) -> dict[str, object]:
        """What the store's attributes say of the data set, compared on a resume."""
        return {"size": self.size, "chunk": self.chunk, "seed": str(self.entropy),
                "quantities": [q.name for q in self.quantities],
                "coherent": None if self.coherent is None else [bool(c) for c in self.coherent]}


def _parameters(plan: _Plan, generator: Generator, k: int, count: int) -> dict[str, npt.NDArray[Any]]:
    """The generator's stack parameters of chunk k (`count` stacks), checked."""
    drawn = generator(plan.rng(k), count)
    if not isinstance(drawn, Mapping) or "indices" not in drawn or "thicknesses" not in drawn:
        raise TypeError("generator(rng, size) must return a mapping with 'indices' and 'thicknesses'; received "
                        + (f"the keys {sorted(drawn)}" if isinstance(drawn, Mapping) else type_name(drawn)))
    out = {str(name): np.asarray(value) for name, value in drawn.items()}
    for name, value in out.items():
        if name not in SOLVE_PARAMETERS and (value.ndim == 0 or value.shape[0] != count):
            raise ValueError(f"generator's {name!r} must hold one entry per stack ({count}); received shape "
                             f"{value.shape}")
    return out


def _batched(name: str, value: npt.NDArray[Any]) -> bool:
    """Whether a stack parameter varies from stack to stack (else the generator shares it)."""
    if name == "thicknesses":
        return value.ndim == 2
    if name == "indices":
        return value.ndim == 3
    return True


def _dims(name: str, shape: tuple[int, ...], wavelengths: int) -> tuple[str, ...]:
    """The names of a stack parameter's axes beyond the sample axis."""
    if name == "thicknesses":
        return ("layer",)
    if name == "indices":
        # indices the same at every wavelength have one column, not a wavelength axis
        return ("medium",) if len(shape) == 1 else ("medium", "wavelength" if shape[1] == wavelengths else "column")
    return tuple(f"{name}_{i}" for i in range(1, len(shape) + 1))


def _spectra(plan: _Plan, parameters: Mapping[str, npt.NDArray[Any]], count: int) -> dict[str, npt.NDArray[Any]]:
    result = solve(parameters["indices"], parameters["thicknesses"], plan.wavelengths, plan.angles,
                   coherent=plan.coherent, threads=task_threads(plan.threads))
    if result.shape[0] != count:
        raise ValueError(f"generator must describe {count} stacks for a chunk of {count}; its indices and "
                         f"thicknesses describe {result.shape[0]}")
    return values(result, plan.quantities)


def _write_chunk(plan: _Plan, generator: Generator, k: int) -> bool:
    """One task: chunk k drawn, solved and written, then flagged complete. False where it already was."""
    zarr = zarr_module("quilmo_lab.distributed.dataset")
    group = zarr.open_group(plan.path, mode="r+")
    if bool(group["complete"][k]):
        return False
    start = k * plan.chunk
    count = min(plan.chunk, plan.size - start)
    parameters = _parameters(plan, generator, k, count)
    for name, value in {**_spectra(plan, parameters, count), **parameters}.items():
        stored = group[name]
        if name in SOLVE_PARAMETERS and not _batched(name, value):
            if not np.array_equal(stored[...], value):
                raise ValueError(f"generator must share the same {name!r} between chunks or give one per stack; "
                                 f"chunk {k} gave others")
            continue
        stored[start:start + count] = value
    group["complete"][k] = True
    return True


def _create(plan: _Plan, generator: Generator) -> None:
    """A new store for `plan`, its arrays laid out from the generator's first chunk."""
    zarr = zarr_module("quilmo_lab.distributed.dataset")
    count = min(plan.chunk, plan.size)
    parameters = _parameters(plan, generator, 0, count)
    group = zarr.open_group(plan.path, mode="w", attributes={MARK: plan.record()})
    rows = (plan.size, plan.angles.size, plan.wavelengths.size)
    for q in plan.quantities:
        group.create_array(q.name, shape=rows, chunks=(plan.chunk, *rows[1:]), dtype=q.dtype,
                           dimension_names=("sample", "angle", "wavelength"), fill_value=0)
    for name, value in parameters.items():
        if name in SOLVE_PARAMETERS and not _batched(name, value):
            shared = group.create_array(name, shape=value.shape, dtype=value.dtype,
                                        dimension_names=_dims(name, value.shape, plan.wavelengths.size))
            shared[...] = value
            continue
        inner = value.shape[1:]
        group.create_array(name, shape=(plan.size, *inner), chunks=(plan.chunk, *inner), dtype=value.dtype,
                           dimension_names=("sample", *_dims(name, inner, plan.wavelengths.size)), fill_value=0)
    for name, values in (("wavelength", plan.wavelengths), ("angle", plan.angles)):
        coordinate = group.create_array(name, shape=values.shape, dtype=np.float64, dimension_names=(name,))
        coordinate[...] = values
    chunks = len(blocks(plan.size, plan.chunk))
    group.create_array("complete", shape=(chunks,), chunks=(1,), dtype=bool, fill_value=False,
                       dimension_names=("chunk",))


def _resumed(plan: _Plan, seed: object) -> _Plan | None:
    """The plan of the store already at `plan.path` (its seed where none is given), or None where
    there is none; a ValueError where it holds another data set."""
    zarr = zarr_module("quilmo_lab.distributed.dataset")
    try:
        group = zarr.open_group(plan.path, mode="r")
    except (FileNotFoundError, zarr.errors.GroupNotFoundError):
        return None
    record = group.attrs.get(MARK)
    if not isinstance(record, dict):
        raise ValueError(f"path must be a new store or one that dataset wrote; {plan.path!r} holds something else")
    if seed is None:
        plan = replace(plan, entropy=int(record["seed"]))
    same = (record == plan.record() and np.array_equal(group["wavelength"][...], plan.wavelengths)
            and np.array_equal(group["angle"][...], plan.angles))
    if not same:
        raise ValueError(f"path holds another data set ({record}); received one of {plan.record()}: give another "
                         "path, or the same arguments to resume it")
    return plan


def dataset(generator: Generator, n: int, path: str | os.PathLike[str], *, wavelengths: npt.ArrayLike,
            angles: npt.ArrayLike = 0.0, chunk: int = 1250, seed: int | None = None,
            quantities: Sequence[str] = DEFAULT_QUANTITIES, coherent: npt.ArrayLike | None = None,
            threads: int | None = None, client: object | None = None, progress: bool = True) -> xarray.Dataset:
    """Spectra of `n` random stacks from a generator, written to a Zarr store with the stacks' parameters.

    Parameters
    ----------
    generator : callable
        ``generator(rng, size)`` draws `size` stacks with the ``numpy.random.Generator``
        `rng` and returns a mapping: "indices" and "thicknesses" as `quilmo_lab.solve`
        takes them for a batch of `size` stacks (indices shared by all or one set per
        stack), and any other named arrays of one entry per stack, stored beside them.
        It must draw from `rng` alone, so that a chunk is the same on every run.
    n : int
        Stacks in the data set.
    path : str or path-like
        The Zarr store (a directory). A store that an interrupted run with the same
        arguments left there is resumed.
    wavelengths : array_like
        Vacuum wavelengths, (W,), in the unit of the thicknesses.
    angles : float or array_like, optional
        Angles of incidence in radians, (A,).
    chunk : int, optional
        Stacks per task and per Zarr chunk.
    seed : int, optional
        The data set's seed; chunk k draws from ``SeedSequence(seed, spawn_key=(k,))``.
        By default a fresh one (recorded in the store, and taken from it on a resume).
    quantities : sequence of str, optional
        Spectra to store, among the variables of `quilmo_lab.distributed.solve` on the
        (stack, angle, wavelength) grid: R_s, R_p, T_s, T_p, A_s, A_p and, for coherent
        stacks, r_s, r_p, t_s, t_p, psi and delta.
    coherent : array_like of bool, optional
        One flag per inner layer, as for `quilmo_lab.solve`.
    threads : int, optional
        Engine threads of each task (default one; see `solve`).
    client : distributed.Client, optional
        The cluster to run on (default: the current client, else Dask's threaded scheduler).
    progress : bool, optional
        Show Dask's progress bar.

    Returns
    -------
    xarray.Dataset
        The store, opened lazily: the spectra (sample, angle, wavelength), the stack
        parameters (sample, ...) and the flags of the chunks written (chunk).

    Raises
    ------
    ImportError
        Without Dask, Zarr or xarray (``pip install "quilmo[distributed]"``).
    TypeError, ValueError
        For a generator whose output does not fit, quantities not defined, or a path
        that holds something else or another data set.

    Notes
    -----
    Each task draws its chunk, solves it, writes the spectra and parameters into its
    own Zarr chunks and then flags the chunk complete. A chunk flagged before is
    skipped: a run interrupted and started again with the same arguments writes only
    what is missing and gives the same store as one uninterrupted run, and a task that
    Dask runs again after losing its worker writes nothing twice.

    Examples
    --------
    >>> import tempfile
    >>> from quilmo_lab import distributed
    >>> def coatings(rng, size):
    ...     return {"indices": [1.0, 1.38, 2.1, 1.52], "thicknesses": rng.uniform(50.0, 150.0, (size, 2))}
    >>> with tempfile.TemporaryDirectory() as folder:
    ...     data = distributed.dataset(coatings, 10, folder + "/set.zarr", wavelengths=[450.0, 550.0],
    ...                                chunk=4, seed=1, progress=False)
    ...     print(data["R_s"].shape, data["thicknesses"].dims, bool(data["complete"].all()))
    (10, 1, 2) ('sample', 'layer') True
    """
    if not callable(generator):
        raise TypeError(f"generator must be callable (rng, size) -> mapping; received {type_name(generator)}")
    size = whole_number("n", n, minimum=1)
    rows = whole_number("chunk", chunk, minimum=1)
    wl = axis("wavelengths", wavelengths, "W")
    theta = axis("angles", angles, "A")
    mask = None if coherent is None else np.asarray(coherent, dtype=np.bool_)
    if isinstance(quantities, str):
        raise TypeError("quantities must be a sequence of names; received a str")
    incoherent = mask is not None and not mask.all()
    known = {q.name: q for q in defined_quantities(coherent=not incoherent, derivatives=False, absorbed=False)}
    wanted = tuple(known[choice("each of quantities", name, tuple(known))] for name in quantities)
    if seed is not None and (isinstance(seed, bool) or not isinstance(seed, (int, np.integer))):
        raise TypeError(f"seed must be an int or None; received {type_name(seed)}")
    if seed is not None and seed < 0:
        raise ValueError(f"seed must be 0 or more; received {seed}")
    show = flag("progress", progress)
    plan = _Plan(os.fspath(path), size, rows, int(np.random.SeedSequence(seed).entropy), wl, theta,  # type: ignore[arg-type]
                 mask, wanted, thread_count(threads))
    dask = dask_module("quilmo_lab.distributed.dataset")
    xr = distributed_xarray("quilmo_lab.distributed.dataset")
    resumed = _resumed(plan, seed)
    if resumed is None:
        _create(plan, generator)
    else:
        plan = resumed
    tasks = [dask.delayed(_write_chunk, pure=False)(plan, generator, k)
             for k in range(len(offsets(blocks(plan.size, plan.chunk))))]
    cluster = current_client(client)
    if cluster is not None:
        distributed = importlib.import_module("distributed")
        futures = cluster.compute(tasks)
        if show:
            distributed.progress(futures, notebook=False)
        distributed.wait(futures)  # every chunk tried before a failure is reported: none left writing
        cluster.gather(futures)
    else:
        diagnostics = importlib.import_module("dask.diagnostics")
        # leaving the pool waits for the chunks under way when one fails
        with ThreadPoolExecutor(parallelism(None)) as pool, diagnostics.ProgressBar() if show else nullcontext():
            dask.compute(*tasks, scheduler="threads", pool=pool)
    data: xarray.Dataset = xr.open_zarr(plan.path, consolidated=False)
    return data
