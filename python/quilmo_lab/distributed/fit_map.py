"""fit_map: one `quilmo_lab.fit.fit` per point of a measured map, the points spread over Dask tasks."""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import axis, choice, thread_count, type_name, whole_number
from quilmo_lab._optional import dask_module
from quilmo_lab.distributed._chunks import blocks, offsets
from quilmo_lab.distributed._cluster import compute, current_client, parallelism, task_threads
from quilmo_lab.fit import QUANTITIES, fit
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]


@dataclass(frozen=True)
class MapFit:
    """The fits of every point of a map, as arrays of the map's shape.

    Attributes
    ----------
    shape : tuple of int
        The map's shape (the measured arrays' leading axes).
    names : list of str
        The fitted parameters.
    values, stderr : dict of str to ndarray
        Best values and standard errors by parameter, each of the map's shape.
    chi2, reduced_chi2 : ndarray
        Of each point's fit.
    success : ndarray of bool
        The optimiser's verdict at each point.
    messages : ndarray of str
        Its message at each point.

    Examples
    --------
    >>> from quilmo_lab import distributed
    >>> wl = np.linspace(400.0, 800.0, 21)
    >>> def film(d):
    ...     return ql.Stack([ql.Layer(1.46, d)], exit=1.52 + 0.01j)
    >>> measured = {"R": np.stack([film(d).solve(wl).R()[0, 0] for d in (100.0, 120.0)])}
    >>> fits = distributed.fit_map(film, {"d": 110.0}, wl, measured, thickness={"d": 0})
    >>> fits.shape, np.round(fits.values["d"], 1)
    ((2,), array([100., 120.]))
    """

    shape: tuple[int, ...]
    names: list[str]
    values: dict[str, FloatArray]
    stderr: dict[str, FloatArray]
    chi2: FloatArray
    reduced_chi2: FloatArray
    success: npt.NDArray[np.bool_]
    messages: npt.NDArray[np.str_]


def _fit_points(model: Callable[..., Stack], starts: list[dict[str, float]], wavelengths: FloatArray,
               measured: list[dict[str, FloatArray]], sigma: list[dict[str, FloatArray]] | None,
               options: dict[str, Any]) -> list[tuple[list[float], list[float], float, float, bool, str]]:
    """One task: the local fit of each of a block of points."""
    out = []
    for i, start in enumerate(starts):
        result = fit(model, start, wavelengths, measured[i], sigma=None if sigma is None else sigma[i], **options)
        out.append(([result.values[name] for name in result.names], [result.stderr[name] for name in result.names],
                     result.chi2, result.reduced_chi2, result.success, result.message))
    return out


def fit_map(model: Callable[..., Stack], parameters: Mapping[str, npt.ArrayLike], wavelengths: npt.ArrayLike,
            measured: Mapping[str, npt.ArrayLike], *, angles: npt.ArrayLike = 0.0,
            sigma: Mapping[str, npt.ArrayLike] | None = None, thickness: Mapping[str, int] | None = None,
            bounds: Mapping[str, tuple[float, float]] | None = None, max_evaluations: int = 200,
            threads: int | None = None, client: object | None = None, chunk: int | None = None) -> MapFit:
    """`quilmo_lab.fit.fit` of every point of a measured map, the points spread over Dask tasks.

    Parameters
    ----------
    model : callable
        ``model(**parameters)`` returns a Stack, as for `fit`; it travels to the workers
        (a function of a module they can import, or one cloudpickle can carry).
    parameters : mapping of str to float or array_like
        Starting values by name: one for every point, or an array of the map's shape.
    wavelengths : array_like
        The measurement's wavelengths in nm, (W,).
    measured : mapping of str to array_like
        Data by quantity (as for `fit`), each of shape (*map, W) for a single angle of
        incidence or (*map, A, W) for an array of A angles: the leading axes are the map.
    angles : float or array_like, optional
        The angle of incidence in radians, or (A,) of them.
    sigma : mapping of str to float or array_like, optional
        Standard deviations by quantity, broadcast against its data.
    thickness, bounds, max_evaluations
        As for `fit`, the same at every point.
    threads : int, optional
        Engine threads of each task (default one; see `solve`).
    client : distributed.Client, optional
        The cluster to run on (default: the current client, else Dask's threaded scheduler).
    chunk : int, optional
        Points per task (default: four tasks for every thread of the cluster).

    Returns
    -------
    MapFit
        At each point the numbers of `fit` at that point on one machine.

    Raises
    ------
    ImportError
        Without Dask or SciPy (``pip install "quilmo[distributed,design]"``).
    TypeError, ValueError
        For measured arrays of different maps, or too few axes; as `fit` for the rest.

    Examples
    --------
    >>> from quilmo_lab import distributed
    >>> wl = np.linspace(400.0, 800.0, 21)
    >>> def film(d):
    ...     return ql.Stack([ql.Layer(1.46, d)], exit=1.52 + 0.01j)
    >>> wafer = np.array([[100.0, 105.0], [110.0, 115.0]])
    >>> measured = {"R": np.array([[film(d).solve(wl).R()[0, 0] for d in row] for row in wafer])}
    >>> fits = distributed.fit_map(film, {"d": 108.0}, wl, measured, thickness={"d": 0}, chunk=3)
    >>> np.round(fits.values["d"], 1)
    array([[100., 105.],
           [110., 115.]])
    """
    if not isinstance(measured, Mapping) or not measured:
        raise ValueError(f"measured must hold at least one of {', '.join(QUANTITIES)}; received none")
    wl = axis("wavelengths", wavelengths, "W")
    grid = (wl.size,) if np.ndim(angles) == 0 else (axis("angles", angles, "A").size, wl.size)
    data = {choice("each quantity in measured", name, QUANTITIES): np.asarray(value, dtype=np.float64)
            for name, value in measured.items()}
    shapes = {name: value.shape[:value.ndim - len(grid)] for name, value in data.items()}
    for name, value in data.items():
        if value.ndim < len(grid) or value.shape[value.ndim - len(grid):] != grid:
            raise ValueError(f"measured[{name!r}] must have shape (*map, {', '.join(map(str, grid))}); received "
                             f"shape {value.shape}")
    shape = next(iter(shapes.values()))
    if any(other != shape for other in shapes.values()):
        raise ValueError(f"measured must hold the same map for every quantity; received the maps {shapes}")
    points = math.prod(shape)
    flat = {name: value.reshape(points, *grid) for name, value in data.items()}
    noise = None
    if sigma:
        noise = {choice("each quantity in sigma", name, tuple(data)):
                 np.broadcast_to(np.asarray(value, dtype=np.float64), data[name].shape).reshape(points, *grid)
                 for name, value in sigma.items()}
    if not isinstance(parameters, Mapping):
        raise TypeError(f"parameters must be a mapping of names to starting values; received {type_name(parameters)}")
    starts = {str(name): np.broadcast_to(np.asarray(value, dtype=np.float64), shape).reshape(points)
              for name, value in parameters.items()}
    options = {"angles": angles, "thickness": thickness, "bounds": bounds, "max_evaluations": max_evaluations,
               "threads": task_threads(thread_count(threads))}
    cluster = current_client(client)
    size = (whole_number("chunk", chunk, minimum=1) if chunk is not None
            else max(1, math.ceil(points / (4 * parallelism(cluster)))))
    dask = dask_module("quilmo_lab.distributed.fit_map")
    tasks = []
    for begin, end in offsets(blocks(points, size)):
        block = range(begin, end)
        tasks.append(dask.delayed(_fit_points, pure=True)(
            model, [{name: float(values[i]) for name, values in starts.items()} for i in block], wl,
            [{name: values[i] for name, values in flat.items()} for i in block],
            None if noise is None else [{name: values[i] for name, values in noise.items()} for i in block],
            options))
    fits = [one for part in compute(cluster, tasks) for one in part]
    names = list(starts)
    values = np.array([one[0] for one in fits], dtype=np.float64).reshape(*shape, len(names))
    stderr = np.array([one[1] for one in fits], dtype=np.float64).reshape(*shape, len(names))
    return MapFit(shape, names, {name: values[..., i] for i, name in enumerate(names)},
                  {name: stderr[..., i] for i, name in enumerate(names)},
                  np.array([one[2] for one in fits], dtype=np.float64).reshape(shape),
                  np.array([one[3] for one in fits], dtype=np.float64).reshape(shape),
                  np.array([one[4] for one in fits], dtype=np.bool_).reshape(shape),
                  np.array([one[5] for one in fits], dtype=np.str_).reshape(shape))
