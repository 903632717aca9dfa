"""quilmo_lab on Dask: grids, tolerance runs, map fits and training sets spread over a cluster.

- `solve`: the grid of `quilmo_lab.solve` as a lazy xarray Dataset of dask arrays;
- `tolerance`: the Monte Carlo of `quilmo_lab.design.tolerance`, its samples in tasks;
- `fit_map`: one `quilmo_lab.fit.fit` per point of a measured map (a `MapFit`);
- `dataset`: random stacks from a generator and their spectra, written to Zarr,
  reproducible (seeded per chunk) and resumable.

Each runs on the client given, else on the current `distributed` client, else on
Dask's threaded scheduler, and gives the same numbers as its local counterpart. Dask,
xarray and Zarr are the "distributed" extra (``pip install "quilmo[distributed]"``),
imported on first use.

Examples
--------
>>> from quilmo_lab import distributed
>>> data = distributed.solve([1.0, 1.38, 1.52], [99.6], [550.0])
>>> print(np.round(data["R_s"].values[0, 0], 4))
[0.0126]
"""

from quilmo_lab.distributed.dataset import dataset
from quilmo_lab.distributed.fit_map import MapFit, fit_map
from quilmo_lab.distributed.solve import solve
from quilmo_lab.distributed.tolerance import tolerance

__all__ = ["MapFit", "dataset", "fit_map", "solve", "tolerance"]
