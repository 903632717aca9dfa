"""Thickness-tolerance study of the 20-pair Bragg mirror as a parameter sweep on Dask
==================================================================================

The mirror of examples/demo.py (TiO2/SiO2 quarter-wave pairs for 550 nm on
glass) is built 2,000 times with every layer thickness perturbed by a few
percent (independent, normally distributed relative errors), and each copy is
evaluated at normal incidence over 1,001 wavelengths from 400 nm to 800 nm.
The stacks are evaluated as Dask tasks on a local cluster of worker processes,
or on an existing cluster whose scheduler address is given. The example prints
the spread of the peak reflectance and the wavelength band where R > 0.99 in
at least 95 % of the samples, and writes a PNG of the band when matplotlib is
installed.

Run it as::

    python examples/sweep_dask.py [--workers N] [--samples 2000] [--sigma 0.02]
                                  [--batch-size B] [--inject-failure] [--output band.png]
    python examples/sweep_dask.py tcp://scheduler:8786     # an existing cluster
    python examples/sweep_dask.py --benchmark              # wall times, 1 and 2 workers

Threads. `simulate` holds the interpreter lock and spreads one stack's
wavelengths over quilmo's own thread pool, whose size is read from
RAYON_NUM_THREADS once, when the pool starts in a process. So each worker
process runs one task at a time (one Dask thread) and gets
RAYON_NUM_THREADS = cores // worker processes in its environment from its
nanny, before any task runs: worker processes x pool threads <= cores. A task
setting the variable would be too late once the pool of that process exists.
Workers started by hand need it in their shell:
`RAYON_NUM_THREADS=4 dask worker tcp://scheduler:8786 --nworkers 4 --nthreads 1`
on a 16-core machine.

Batch size. Every task costs the scheduler and the network roughly a
millisecond, whatever it computes, and each stack here takes a few
milliseconds (2 to 10 ms on a small, busy machine). A task should therefore
run for a tenth of a second or more, so that the overhead stays near 1 %, yet
there should be several tasks per worker (4 or more) so that the load evens
out, a slow worker does not hold up the end and the progress bar moves.
Without --batch-size the example times one stack here and picks the batch
that fits both (see `suggest_batch_size`); for 2,000 stacks on 2 workers that
is 20 to 100 stacks per task.

Failures. quilmo reports an inconsistent stack with PanicException, which
derives from BaseException and cannot be pickled: let out of a task, it
leaves the client waiting for the error for ever. The task therefore catches
it around each stack and returns the message with the results of the other
stacks of its batch; the sweep reports the sample and leaves it out of the
statistics. --inject-failure shortens the thickness list of one sample to
show this.
"""

import argparse
import math
import os
import pathlib
import sys
import time
from dataclasses import dataclass, field

import numpy as np

import quilmo
from demo import AIR, DESIGN_WAVELENGTH, GLASS, SIO2, TIO2, stack

PAIRS = 20
REFLECTANCE_FLOOR = 0.99
SAMPLE_FRACTION = 0.95


def mirror(wl: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Nominal thicknesses and the index matrix of the 20-pair Bragg mirror."""
    return stack([AIR] + [TIO2, SIO2] * PAIRS + [GLASS], wl)


def perturbed_thicknesses(nominal: np.ndarray, samples: int, sigma: float,
                          seed: int = 0) -> np.ndarray:
    """`samples` rows of `nominal` thicknesses, each scaled by 1 + N(0, sigma)."""
    rng = np.random.default_rng(seed)
    return nominal * (1.0 + sigma * rng.standard_normal((samples, nominal.size)))


def simulate_batch(thicknesses: list[np.ndarray], n: np.ndarray, wl: np.ndarray,
                   theta: float = 0.0, phi: float = 0.0):
    """Evaluates stacks that share `n` and `wl`; runs inside a worker.

    Returns (r, t, failures): one row of r and t per stack, NaN for a stack that
    failed, and {position in the batch: "ExceptionName: message"} for those.
    """
    r = np.full((len(thicknesses), wl.size), np.nan)
    t = np.full((len(thicknesses), wl.size), np.nan)
    failures = {}
    for i, d in enumerate(thicknesses):
        try:
            result = quilmo.DataPy(d, n, wl, theta, phi).simulate()
            r[i], t[i] = result.r, result.t
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException as error:  # PanicException is a BaseException and cannot be pickled
            failures[i] = f"{type(error).__name__}: {error}"
    return r, t, failures


@dataclass
class Sweep:
    r: np.ndarray                    # samples x wavelengths, NaN rows for failures
    t: np.ndarray
    failures: dict[int, str] = field(default_factory=dict)  # sample -> message

    @property
    def succeeded(self) -> np.ndarray:
        mask = np.ones(self.r.shape[0], dtype=bool)
        mask[list(self.failures)] = False
        return mask


def run_sweep(client, thicknesses, n: np.ndarray, wl: np.ndarray, batch_size: int,
              theta: float = 0.0, phi: float = 0.0, show_progress: bool = True,
              timeout: float | None = None) -> Sweep:
    """Evaluates every stack of `thicknesses` (rows or a list of 1-D arrays) on `client`.

    Tasks take `batch_size` consecutive stacks each; `n` and `wl` go to every
    worker once. Raises TimeoutError when the sweep takes longer than `timeout`
    seconds, and re-raises the error of a task that failed as a whole (a lost
    worker, for instance); a stack that quilmo refuses is recorded in the
    result's `failures` instead.
    """
    from distributed import progress, wait

    stacks = [np.ascontiguousarray(d, dtype=float) for d in thicknesses]
    # Keys unique to this sweep: equal arrays hashed to the key of an earlier
    # sweep's data, still being released, confuse the scheduler.
    shared_n, shared_wl = client.scatter([n, wl], broadcast=True, hash=False)
    starts = range(0, len(stacks), batch_size)
    futures = [client.submit(simulate_batch, stacks[start:start + batch_size], shared_n,
                             shared_wl, theta, phi, pure=False)
               for start in starts]
    try:
        if show_progress:
            progress(futures)
            print()
        wait(futures, timeout=timeout)
    except BaseException:
        client.cancel(futures)
        raise
    r = np.empty((len(stacks), wl.size))
    t = np.empty((len(stacks), wl.size))
    failures = {}
    # One result at a time, each under the timeout: a task error that cannot be
    # unpickled in this process would otherwise leave gather waiting for ever.
    results = (future.result(timeout=timeout) for future in futures)
    for start, (r_batch, t_batch, batch_failures) in zip(starts, results):
        r[start:start + len(r_batch)] = r_batch
        t[start:start + len(t_batch)] = t_batch
        failures.update({start + i: message for i, message in batch_failures.items()})
    return Sweep(r, t, failures)


def run_in_process(thicknesses, n: np.ndarray, wl: np.ndarray,
                   theta: float = 0.0, phi: float = 0.0) -> Sweep:
    """The same sweep as a plain loop in this process."""
    r, t, failures = simulate_batch([np.asarray(d, dtype=float) for d in thicknesses],
                                    n, wl, theta, phi)
    return Sweep(r, t, failures)


def usable_cores() -> int:
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1


def pool_threads_per_worker(cores: int, workers: int) -> int:
    """quilmo pool threads per worker process so that workers x threads <= cores."""
    return max(1, cores // max(1, workers))


def local_cluster(workers: int, pool_threads: int, **kwargs):
    """A LocalCluster of `workers` processes with one Dask thread and
    RAYON_NUM_THREADS=`pool_threads` each (passed to every nanny as `env`)."""
    from distributed import LocalCluster

    kwargs.setdefault("dashboard_address", ":0")  # any free port: clusters side by side
    return LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                        env={"RAYON_NUM_THREADS": str(pool_threads)}, **kwargs)


def _pool_setting() -> str | None:
    return os.environ.get("RAYON_NUM_THREADS")


def worker_pool_settings(client) -> dict[str, str | None]:
    """RAYON_NUM_THREADS as each worker process sees it, by worker address."""
    return client.run(_pool_setting)


def suggest_batch_size(samples: int, workers: int, seconds_per_stack: float,
                       task_seconds: float = 0.2, tasks_per_worker: int = 4) -> int:
    """Stacks per task: enough for `task_seconds` of work per task, but no more
    than leaves `tasks_per_worker` tasks to each worker."""
    long_enough = math.ceil(task_seconds / max(seconds_per_stack, 1e-6))
    enough_tasks = max(1, samples // (workers * tasks_per_worker))
    return max(1, min(long_enough, enough_tasks))


def seconds_per_stack(n: np.ndarray, wl: np.ndarray, d: np.ndarray, repeats: int = 5) -> float:
    best = math.inf
    for _ in range(repeats):
        start = time.perf_counter()
        quilmo.DataPy(d, n, wl, 0.0, 0.0).simulate()
        best = min(best, time.perf_counter() - start)
    return best


def high_reflectance_band(wl: np.ndarray, r: np.ndarray) -> tuple[np.ndarray, tuple[float, float] | None]:
    """Fraction of samples with R > 0.99 at each wavelength, and the widest
    contiguous wavelength range where that fraction is at least 95 %."""
    fraction = np.mean(r > REFLECTANCE_FLOOR, axis=0)
    inside = np.concatenate(([False], fraction >= SAMPLE_FRACTION, [False]))
    edges = np.flatnonzero(np.diff(inside.astype(np.int8)))
    if edges.size == 0:
        return fraction, None
    starts, stops = edges[0::2], edges[1::2]
    widest = np.argmax(stops - starts)
    return fraction, (float(wl[starts[widest]]), float(wl[stops[widest] - 1]))


def report(wl: np.ndarray, sweep: Sweep) -> tuple[np.ndarray, tuple[float, float] | None]:
    for sample, message in sorted(sweep.failures.items()):
        print(f"sample {sample} failed and is left out: {message}")
    r = sweep.r[sweep.succeeded]
    print(f"{r.shape[0]} of {sweep.r.shape[0]} samples evaluated over {wl.size} wavelengths")
    if r.shape[0] == 0:
        return np.zeros(wl.size), None
    # The peak lies within 1e-7 of 1, so the spread shows in 1 - R.
    loss = 1.0 - r.max(axis=1)
    low, median, high = np.percentile(loss, [5, 50, 95])
    where = wl[r.argmax(axis=1)]
    print(f"peak reflectance 1 - R: median {median:.3e}, 5-95 % {low:.3e} to {high:.3e}, "
          f"worst {loss.max():.3e}; at {where.mean():.1f} nm +- {where.std():.1f} nm")
    fraction, band = high_reflectance_band(wl, r)
    if band is None:
        print(f"no wavelength has R > {REFLECTANCE_FLOOR} in {SAMPLE_FRACTION:.0%} of the samples")
    else:
        print(f"R > {REFLECTANCE_FLOOR} in at least {SAMPLE_FRACTION:.0%} of the samples "
              f"from {band[0]:.1f} nm to {band[1]:.1f} nm ({band[1] - band[0]:.1f} nm wide)")
    return fraction, band


def plot_band(wl, sweep: Sweep, fraction, band, path: pathlib.Path) -> None:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot written")
        return
    r = sweep.r[sweep.succeeded]
    low, median, high = np.percentile(r, [5, 50, 95], axis=0)
    figure, (top, bottom) = plt.subplots(2, 1, figsize=(8, 6), sharex=True,
                                         gridspec_kw={"height_ratios": [2, 1]})
    top.fill_between(wl, low, high, alpha=0.3, label="5-95 % of samples")
    top.plot(wl, median, label="median")
    top.set_ylabel("R")
    top.set_title(f"{PAIRS}-pair TiO2/SiO2 mirror, {r.shape[0]} perturbed samples")
    bottom.plot(wl, fraction)
    bottom.axhline(SAMPLE_FRACTION, color="grey", linestyle=":")
    bottom.set_ylabel(f"share with R > {REFLECTANCE_FLOOR}")
    bottom.set_xlabel("wavelength (nm)")
    for axis in (top, bottom):
        if band is not None:
            axis.axvspan(*band, color="green", alpha=0.12)
        axis.grid(alpha=0.3)
    top.legend(loc="lower center")
    figure.tight_layout()
    figure.savefig(path, dpi=90)
    print(f"plot written to {path.resolve()}")


def benchmark(thicknesses, n, wl, batch_size: int, cores: int, repeats: int = 3) -> None:
    """Wall time of the sweep as a plain loop in this process and on local
    clusters of 1 and 2 worker processes: best and median of `repeats` rounds.
    The rounds interleave the three, so that a change in the load of a shared
    machine falls on all of them; cluster start-up is timed apart."""
    from contextlib import ExitStack

    from distributed import Client

    runs = {f"plain loop, one process, {cores} pool threads":
            lambda: run_in_process(thicknesses, n, wl)}
    with ExitStack() as stack:
        for workers in (1, 2):
            threads = pool_threads_per_worker(cores, workers)
            start = time.perf_counter()
            cluster = stack.enter_context(local_cluster(workers, threads))
            client = stack.enter_context(Client(cluster))
            client.wait_for_workers(workers)
            label = (f"Dask, {workers} worker process(es) x {threads} pool thread(s) "
                     f"(cluster start {time.perf_counter() - start:.2f} s)")
            runs[label] = lambda client=client: run_sweep(client, thicknesses, n, wl, batch_size,
                                                          show_progress=False)
        times = {label: [] for label in runs}
        for _ in range(repeats):
            for label, run in runs.items():
                start = time.perf_counter()
                run()
                times[label].append(time.perf_counter() - start)
    for label, seconds in times.items():
        print(f"{label}: best {min(seconds):.2f} s, median {np.median(seconds):.2f} s")


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("scheduler", nargs="?",
                        help="address of an existing Dask scheduler (default: a local cluster)")
    parser.add_argument("--workers", type=int, default=None,
                        help="local worker processes (default: min(2, cores))")
    parser.add_argument("--samples", type=int, default=2000)
    parser.add_argument("--sigma", type=float, default=0.02,
                        help="relative standard deviation of each thickness")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--batch-size", type=int, default=None, help="stacks per task")
    parser.add_argument("--inject-failure", action="store_true",
                        help="give one sample a thickness list that is one layer short")
    parser.add_argument("--benchmark", action="store_true",
                        help="time a plain loop and local clusters of 1 and 2 workers")
    parser.add_argument("--output", type=pathlib.Path,
                        # beside the script: sys.argv[0], since the documentation's gallery runs it without __file__
                        default=pathlib.Path(sys.argv[0]).with_name("sweep_band.png"))
    args = parser.parse_args()

    from distributed import Client

    wl = np.linspace(400.0, 800.0, 1001)
    nominal, n = mirror(wl)
    thicknesses = list(perturbed_thicknesses(nominal, args.samples, args.sigma, args.seed))
    if args.inject_failure:
        bad = args.samples // 2
        thicknesses[bad] = thicknesses[bad][:-1]
        print(f"sample {bad} is given {thicknesses[bad].size} thicknesses for {n.shape[0] - 2} layers")

    cores = usable_cores()
    workers = args.workers or min(2, cores)
    batch_size = args.batch_size or suggest_batch_size(
        args.samples, workers, seconds_per_stack(n, wl, nominal))
    print(f"{args.samples} samples, sigma {args.sigma:.1%}, design {DESIGN_WAVELENGTH:.0f} nm, "
          f"{batch_size} stacks per task")

    if args.benchmark:
        benchmark(thicknesses, n, wl, batch_size, cores)
        return

    if args.scheduler:
        with Client(args.scheduler) as client:
            settings = worker_pool_settings(client)
            unset = [address for address, value in settings.items() if value is None]
            if unset:
                print(f"warning: RAYON_NUM_THREADS is not set on {len(unset)} of {len(settings)} "
                      "workers; each of their pools takes every core of its machine")
            sweep = run_sweep(client, thicknesses, n, wl, batch_size)
    else:
        threads = pool_threads_per_worker(cores, workers)
        print(f"local cluster: {workers} worker processes x {threads} pool threads on {cores} cores")
        with local_cluster(workers, threads) as cluster, Client(cluster) as client:
            sweep = run_sweep(client, thicknesses, n, wl, batch_size)

    fraction, band = report(wl, sweep)
    plot_band(wl, sweep, fraction, band, args.output)


if __name__ == "__main__":
    main()
