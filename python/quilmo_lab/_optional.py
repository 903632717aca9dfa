"""Optional dependencies, imported on first use, with an error naming the extra that installs them."""

from __future__ import annotations

import importlib
from collections.abc import Callable
from types import ModuleType
from typing import Any


def _module(name: str, needed_by: str, project: str, extra: str) -> ModuleType:
    try:
        return importlib.import_module(name)
    except ImportError:
        raise ImportError(f'{needed_by} needs {project}, which the "{extra}" extra installs: '
                          f'pip install "quilmo[{extra}]"') from None


def scipy_least_squares(needed_by: str) -> Callable[..., Any]:
    """scipy.optimize.least_squares (the "design" extra)."""
    optimize = _module("scipy.optimize", needed_by, "SciPy", "design")
    solver: Callable[..., Any] = optimize.least_squares
    return solver


def xarray_module(needed_by: str) -> ModuleType:
    """xarray (the "xarray" extra)."""
    return _module("xarray", needed_by, "xarray", "xarray")


def colour_module(needed_by: str) -> ModuleType:
    """colour-science, imported as `colour` (the "colour" extra)."""
    return _module("colour", needed_by, "colour-science", "colour")


def yaml_module(needed_by: str) -> ModuleType:
    """PyYAML (the "materials" extra)."""
    return _module("yaml", needed_by, "PyYAML", "materials")


def dask_module(needed_by: str) -> ModuleType:
    """Dask with its arrays (the "distributed" extra)."""
    _module("dask.array", needed_by, "Dask", "distributed")
    return _module("dask", needed_by, "Dask", "distributed")


def zarr_module(needed_by: str) -> ModuleType:
    """Zarr (the "distributed" extra)."""
    return _module("zarr", needed_by, "Zarr", "distributed")


def distributed_xarray(needed_by: str) -> ModuleType:
    """xarray, as the distributed fronts use it (the "distributed" extra)."""
    return _module("xarray", needed_by, "xarray", "distributed")
