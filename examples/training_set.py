"""A training set for inverse design: 10^5 spectra of random 8-layer TiO2/SiO2 stacks, written to Zarr on Dask
===========================================================================================================

Each sample is a stack of 8 alternating TiO2 and SiO2 films (thicknesses drawn
uniformly from 10 to 250 nm) on N-BK7, with its reflectance and transmittance at
normal incidence over 400-800 nm (201 wavelengths): the kind of data set a
network that maps spectra back to thicknesses is trained on. The samples are
solved on a LocalCluster of worker processes, chunk by chunk, each chunk seeded
from the data set's seed and its index, so that the store is the same on every
run and an interrupted run continues where it stopped (--resume). Dask's
progress bar shows the chunks done. The store is then read back with xarray and
a few spectra are plotted with their thicknesses (a PNG, when matplotlib is
installed).

Run it as::

    python examples/training_set.py [--samples 100000] [--workers 2] [--chunk 2500]
                                    [--store training_set.zarr] [--resume] [--quick]

With QUILMO_EXAMPLES_QUICK set (and not 0) it runs as with --quick.
"""

import argparse
import os
import pathlib
import shutil
import sys
import time

import numpy as np

import quilmo_lab as ql

HIGH, LOW, SUBSTRATE = ql.library["TiO2 film"], ql.library["SiO2 film"], ql.library["N-BK7"]
WAVELENGTHS = np.linspace(400.0, 800.0, 201)
LAYERS = 8
# air, 8 films from the incidence side (TiO2 first), the substrate: shared by every sample
DESIGN = ql.Stack([ql.Layer(HIGH if i % 2 == 0 else LOW, 100.0) for i in range(LAYERS)], exit=SUBSTRATE)
INDICES = DESIGN.indices(WAVELENGTHS)


def random_stacks(rng: np.random.Generator, size: int) -> dict:
    """`size` stacks of the data set: the shared indices and each stack's thicknesses."""
    return {"indices": INDICES, "thicknesses": rng.uniform(10.0, 250.0, (size, LAYERS))}


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--samples", type=int, default=100_000)
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the LocalCluster")
    parser.add_argument("--chunk", type=int, default=2500, help="stacks per task and per Zarr chunk")
    parser.add_argument("--seed", type=int, default=2025)
    # beside the script: sys.argv[0], since the documentation's gallery runs it without __file__
    parser.add_argument("--store", type=pathlib.Path, default=pathlib.Path(sys.argv[0]).with_name("training_set.zarr"))
    parser.add_argument("--resume", action="store_true", help="continue the store left by an interrupted run")
    parser.add_argument("--output", type=pathlib.Path,
                        default=pathlib.Path(sys.argv[0]).with_name("training_set.png"))
    # the documentation's build sets QUILMO_EXAMPLES_QUICK, to keep its gallery to a minute
    parser.add_argument("--quick", action="store_true", default=os.environ.get("QUILMO_EXAMPLES_QUICK", "0") != "0",
                        help="10^4 samples (the default where QUILMO_EXAMPLES_QUICK is set and not 0)")
    args = parser.parse_args()
    samples = 10_000 if args.quick else args.samples

    import distributed
    import xarray as xr

    if args.store.exists() and not args.resume:
        shutil.rmtree(args.store)
    with distributed.LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        client.wait_for_workers(args.workers)
        start = time.perf_counter()
        ql.distributed.dataset(random_stacks, samples, args.store, wavelengths=WAVELENGTHS, chunk=args.chunk,
                               seed=args.seed, quantities=("R_s", "T_s"), client=client)
        seconds = time.perf_counter() - start
    size = sum(f.stat().st_size for f in args.store.rglob("*") if f.is_file())
    print(f"\n{samples} spectra x {WAVELENGTHS.size} wavelengths in {seconds:.1f} s "
          f"({samples / seconds:.0f} stacks/s on {args.workers} workers); {args.store}: {size / 1e6:.0f} MB")

    data = xr.open_zarr(args.store, consolidated=False)  # zarr 3 stores keep no consolidated metadata
    R = data["R_s"].isel(angle=0)  # s and p coincide at normal incidence
    print(f"mean reflectance over the set: {float(R.mean()):.3f}; at 550 nm from {float(R.sel(wavelength=550.0).min()):.3f} "
          f"to {float(R.sel(wavelength=550.0).max()):.3f}")
    shown = [0, 1, 2, samples - 1]
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed; no figure written")
        return
    fig, (spectra, spread) = plt.subplots(1, 2, figsize=(11, 4), gridspec_kw={"width_ratios": [3, 2]})
    for i in shown:
        d = data["thicknesses"].values[i]
        spectra.plot(WAVELENGTHS, 100 * R[i].values, label=f"#{i}: " + "/".join(f"{x:.0f}" for x in d[:4]) + "/...")
    spectra.set_xlabel("wavelength (nm)")
    spectra.set_ylabel("reflectance (%)")
    spectra.set_title("a few samples (thicknesses in nm, TiO2 first)")
    spectra.legend(fontsize=7)
    low, mid, high = np.percentile(R.values, [5, 50, 95], axis=0)
    spread.fill_between(WAVELENGTHS, 100 * low, 100 * high, alpha=0.3, label="5-95 %")
    spread.plot(WAVELENGTHS, 100 * mid, label="median")
    spread.set_xlabel("wavelength (nm)")
    spread.set_ylabel("reflectance (%)")
    spread.set_title(f"all {samples} samples")
    spread.legend()
    fig.tight_layout()
    fig.savefig(args.output, dpi=120)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
