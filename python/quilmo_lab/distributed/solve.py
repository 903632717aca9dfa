"""solve on Dask: the grid of `quilmo_lab.solve` cut into tasks, gathered in an xarray Dataset."""

from __future__ import annotations

import operator
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import flag
from quilmo_lab._optional import dask_module, distributed_xarray
from quilmo_lab._problem import Form, GridProblem, read_problem
from quilmo_lab.distributed._chunks import offsets, plan
from quilmo_lab.distributed._cluster import current_client, task_threads
from quilmo_lab.distributed._quantities import Quantity, held, quantities
from quilmo_lab.solve import solve as solve_here

if TYPE_CHECKING:
    import xarray

FORM = Form("quilmo_lab.distributed.solve", parameters=(("angles", 0.0),),
            options=(("coherent", None), ("threads", None), ("derivatives", False), ("absorbed", False),
                     ("client", None), ("chunks", None)))


def _solve_block(indices: npt.NDArray[np.complex128], thicknesses: npt.NDArray[np.float64],
                wavelengths: npt.NDArray[np.float64], angles: npt.NDArray[np.float64],
                coherent: npt.NDArray[np.bool_] | None, derivatives: bool, threads: int,
                wanted: list[Quantity]) -> dict[str, npt.NDArray[np.generic]]:
    """One task: the local solve of a block of the grid and the arrays its Result holds."""
    result = solve_here(indices, thicknesses, wavelengths, angles, coherent=coherent, threads=task_threads(threads),
                        derivatives=derivatives)
    return held(result, wanted)


def _block_inputs(problem: GridProblem, stacks: tuple[int, int], columns: tuple[int, int]
                  ) -> tuple[npt.NDArray[np.complex128], npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """The indices, thicknesses and wavelengths of one block, in the engine's batch layout."""
    n, d = problem.indices, problem.thicknesses
    rows = slice(*stacks)
    n = n[rows] if n.shape[0] > 1 else n
    n = n[:, :, slice(*columns)] if n.shape[2] > 1 else n
    d = d[rows] if d.shape[0] > 1 else d
    return np.ascontiguousarray(n), np.ascontiguousarray(d), problem.wavelengths[slice(*columns)]


def _variable(dask: Any, quantity: Quantity, blocks: list[list[Any]], chunks: tuple[tuple[int, ...], ...],
              layers: int) -> Any:
    """One engine variable as a dask array whose chunks are its arrays in the block tasks' results.

    Each chunk is the block's dict looked up by the variable's name, one small task, rather than
    a chunk from `from_delayed` joined by `concatenate`, which add two more tasks per chunk for
    the scheduler and the workers to pass on.
    """
    stack_chunks, angle_chunks, wavelength_chunks = chunks
    name = f"{quantity.name}-{dask.base.tokenize(quantity.name, *(block.key for row in blocks for block in row))}"
    layered = "layer" in quantity.dims
    layer: dict[tuple[Any, ...], Any] = {}
    for i, row in enumerate(blocks):
        for j, block in enumerate(row):
            key = (name, i, 0, 0, j) if layered else (name, i, 0, j)
            layer[key] = (operator.getitem, block.key, quantity.name)
    graph = dask.highlevelgraph.HighLevelGraph.from_collections(name, layer,
                                                                dependencies=[b for row in blocks for b in row])
    full = (stack_chunks, angle_chunks, (layers,), wavelength_chunks) if layered else chunks
    return dask.array.Array(graph, name, full, dtype=quantity.dtype)


def _index(ndim: int) -> str:
    """The blockwise index of an array on (stack, angle, wavelength) or (stack, angle, layer, wavelength)."""
    return "saw" if ndim == 3 else "salw"


def solve(*args: object, **kwargs: object) -> xarray.Dataset:
    """`quilmo_lab.solve` as Dask tasks: a lazy xarray Dataset of the grid's amplitudes and powers.

    Called as ``solve(indices, thicknesses, wavelengths, angles=0.0, *, coherent=None,
    threads=None, derivatives=False, absorbed=False, client=None, chunks=None)``, or with
    a `Stack` and its wavelengths first as `quilmo_lab.solve` is.

    Parameters
    ----------
    indices, thicknesses, wavelengths, angles, coherent, derivatives
        As for `quilmo_lab.solve`; a `Stack` too.
    threads : int, optional
        Engine threads of each task. By default one: a worker runs as many tasks at
        once as it has threads, so that the engine uses the cluster's threads without
        oversubscribing them. Give more for workers with one Dask thread on several cores.
    absorbed : bool, optional
        Also the fraction absorbed in each inner layer (absorbed_s, absorbed_p).
    client : distributed.Client, optional
        The cluster to run on. With a client, the engine's part starts on it at once and
        its arrays stay on its workers (``client.persist``); without, the Dataset is
        computed when asked, by the current client or Dask's threaded scheduler.
    chunks : int or (int, int) or mapping, optional
        Stacks per task, or (stacks, wavelengths) per task, or a mapping with the keys
        "stack" and "wavelength". By default tasks of about 1.25 million points: 1250
        stacks of 1000 wavelengths, a stack wider than 10^4 points cut along its wavelengths.

    Returns
    -------
    xarray.Dataset
        Dimensions stack, angle, wavelength (and layer); variables R_s, R_p, T_s, T_p
        and A_s, A_p (1 - R - T); for coherent stacks r_s, r_p, t_s, t_p, psi and delta;
        with `derivatives` dR_s, dR_p, dT_s, dT_p (and dr_s, dr_p, dt_s, dt_p, dpsi,
        ddelta for coherent stacks); with `absorbed` absorbed_s and absorbed_p. Each
        is a dask array chunked as the tasks are.

    Raises
    ------
    ImportError
        Without Dask or xarray (``pip install "quilmo[distributed]"``).
    TypeError, ValueError
        As `quilmo_lab.solve`, checked here before any task runs; for `chunks` that are
        not positive.

    See Also
    --------
    quilmo_lab.solve : The same on one machine, in one call.

    Notes
    -----
    Every task calls `quilmo_lab.solve` on its block of stacks and wavelengths. The
    engine computes each point alone, so that every value is the same bits as a local
    solve of the whole grid, whatever the chunks and wherever the tasks run. A_s, A_p,
    psi and delta (and their derivatives) are derived from the engine's arrays block by
    block, by the functions `Result` uses, only where they are read.

    Examples
    --------
    >>> from quilmo_lab import distributed
    >>> data = distributed.solve([1.0, 1.38, 1.52], [[99.6], [90.0], [80.0]], [450.0, 550.0, 650.0],
    ...                          chunks=2)
    >>> data["R_s"].chunks
    ((2, 1), (1,), (3,))
    >>> local = ql.solve([1.0, 1.38, 1.52], [[99.6], [90.0], [80.0]], [450.0, 550.0, 650.0])
    >>> bool(np.array_equal(data["R_s"].values, local.R_s))
    True
    """
    problem, options = read_problem(FORM, args, kwargs)
    derivatives = flag("derivatives", options["derivatives"])
    absorbed = flag("absorbed", options["absorbed"])
    client = current_client(options["client"]) if options["client"] is not None else None
    dask = dask_module("quilmo_lab.distributed.solve")
    xr = distributed_xarray("quilmo_lab.distributed.solve")
    da = dask.array
    b, a, w = problem.grid
    stack_blocks, wavelength_blocks = plan(b, a, w, options["chunks"])
    wanted = quantities(coherent=problem.coherent is None, derivatives=derivatives, absorbed=absorbed)
    engine = [quantity for quantity in wanted if quantity.derive is None]
    blocks = [[dask.delayed(_solve_block, pure=True)(*_block_inputs(problem, stacks, columns), problem.angles,
                                                     problem.coherent, derivatives, problem.threads, engine)
               for columns in offsets(wavelength_blocks)] for stacks in offsets(stack_blocks)]
    arrays = {quantity.name: _variable(dask, quantity, blocks, (stack_blocks, (a,), wavelength_blocks), problem.layers)
              for quantity in engine}
    if client is not None:
        arrays = dict(zip(arrays, client.persist(list(arrays.values()))))
    for quantity in wanted:
        if quantity.derive is not None:
            sources = [(arrays[source], _index(arrays[source].ndim)) for source in quantity.sources]
            arrays[quantity.name] = da.blockwise(quantity.derive, _index(len(quantity.dims)),
                                                 *(item for pair in sources for item in pair), dtype=quantity.dtype)
    variables = {quantity.name: (quantity.dims, arrays[quantity.name]) for quantity in wanted}
    coords = {"stack": np.arange(b), "angle": problem.angles, "wavelength": problem.wavelengths}
    if derivatives or absorbed:
        coords["layer"] = np.arange(problem.layers)
    dataset: xarray.Dataset = xr.Dataset(variables, coords=coords)
    return dataset
