"""Where the distributed fronts run: the client given, the current one, or Dask's threaded scheduler."""

from __future__ import annotations

import importlib
import os
from typing import Any


def current_client(client: object | None) -> Any:
    """`client`, else the current distributed client, else None (Dask's threaded scheduler)."""
    if client is not None:
        if not callable(getattr(client, "compute", None)) or not callable(getattr(client, "submit", None)):
            raise TypeError(f"client must be a distributed.Client or None; received {type(client).__name__}")
        return client
    try:
        distributed = importlib.import_module("distributed")
    except ImportError:
        return None
    try:
        return distributed.default_client()
    except ValueError:  # no client in this process
        return None


def task_threads(threads: int) -> int:
    """The engine threads of one task.

    A worker runs as many tasks at once as it has threads (the threaded scheduler as
    many as there are cores), so one engine thread per task keeps the engine's threads
    to the worker's: none oversubscribed. A caller who gives `threads` (workers with
    one Dask thread and several cores each) gets that many per task; `threads` is the
    engine's checked argument, 0 where none was given.
    """
    return threads if threads else 1


def compute(client: Any, collections: list[Any]) -> list[Any]:
    """The values of dask collections, computed on `client` or on the threaded scheduler."""
    if client is not None:
        return list(client.gather(client.compute(collections)))
    dask = importlib.import_module("dask")
    return list(dask.compute(*collections, scheduler="threads"))


def parallelism(client: Any) -> int:
    """Tasks the cluster runs at once: its workers' threads, or this machine's cores."""
    if client is not None:
        workers = client.scheduler_info().get("workers", {})
        threads = sum(int(worker.get("nthreads", 1)) for worker in workers.values())
        if threads:
            return threads
    return max(1, len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (os.cpu_count() or 1))
