"""tolerance on Dask: the Monte Carlo of `quilmo_lab.design.tolerance` with its samples in tasks."""

from __future__ import annotations

from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import thread_count, whole_number
from quilmo_lab._optional import dask_module
from quilmo_lab.design.evaluation import Evaluator
from quilmo_lab.design.targets import Target
from quilmo_lab.design.tolerance import Seed, ToleranceResult, drawn_designs, merits_of, spread_of, with_nominal
from quilmo_lab.distributed._chunks import POINTS_PER_TASK, blocks, offsets
from quilmo_lab.distributed._cluster import compute, current_client, task_threads
from quilmo_lab.stack import Stack


def tolerance(stack: Stack, targets: Sequence[Target], sigma: float | npt.ArrayLike, *, samples: int = 500,
              relative: bool = False, seed: Seed = None, threads: int | None = None, client: object | None = None,
              chunk: int | None = None) -> ToleranceResult:
    """`quilmo_lab.design.tolerance` with its samples spread over Dask tasks.

    Parameters
    ----------
    stack, targets, sigma, samples, relative, seed
        As for `quilmo_lab.design.tolerance`.
    threads : int, optional
        Engine threads of each task (default one; see `solve`).
    client : distributed.Client, optional
        The cluster to run on (default: the current client, else Dask's threaded scheduler).
    chunk : int, optional
        Designs per task (default: about 1.25 million target points per task).

    Returns
    -------
    ToleranceResult
        The same numbers as `quilmo_lab.design.tolerance` with the same arguments.

    Raises
    ------
    ImportError
        Without Dask (``pip install "quilmo[distributed]"``).
    TypeError, ValueError
        As `quilmo_lab.design.tolerance`; for a `chunk` below 1.

    Notes
    -----
    The designs are drawn here, from one generator as the local run draws them; each
    task evaluates a block of them, and the statistics are taken here of them all. A
    design's merit depends on that design alone, so that the result does not depend on
    the blocks.

    Examples
    --------
    >>> from quilmo_lab import design, distributed
    >>> target = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)
    >>> coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    >>> spread = distributed.tolerance(coating, [target], 2.0, samples=50, seed=1, chunk=20)
    >>> local = design.tolerance(coating, [target], 2.0, samples=50, seed=1)
    >>> bool(np.array_equal(spread.merit, local.merit)), spread.merit_std == local.merit_std
    (True, True)
    """
    threads = thread_count(threads)
    evaluator = Evaluator(stack, targets, task_threads(threads))
    drawn = drawn_designs(stack, sigma, samples=samples, relative=relative, seed=seed)
    batch = with_nominal(stack, drawn)
    rows = (whole_number("chunk", chunk, minimum=1) if chunk is not None
            else max(1, POINTS_PER_TASK // max(evaluator.size, 1)))
    dask = dask_module("quilmo_lab.distributed.tolerance")
    parts = [dask.delayed(merits_of, pure=True)(evaluator, batch[start:stop])
             for start, stop in offsets(blocks(batch.shape[0], rows))]
    done = compute(current_client(client), parts)
    merits = np.concatenate([part[0] for part in done])
    values = [np.concatenate([part[1][i] for part in done]) for i in range(len(evaluator.targets))]
    return spread_of(merits, values, drawn)
