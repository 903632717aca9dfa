"""quilmo_lab.distributed.solve on a LocalCluster of 2 worker processes against one local solve on 2 threads.

    python bench/lab_distributed.py [--repeats 5] [--quick]

For 10^4 random 8-layer stacks x 1000 wavelengths (10^7 points) it prints the
median seconds, over rounds in which the three take turns, of
  - quilmo_lab.solve(threads=2) in this process (powers and amplitudes);
  - distributed.solve(client=...) on 2 worker processes of one Dask thread each,
    the engine's arrays kept on the workers (persisted and waited for);
  - the same, R_s, R_p, T_s, T_p and r_s, r_p, t_s, t_p computed into this process
    (1.9 GB through the cluster's sockets);
the throughput of the kept run against the local one, the chunk plan chosen by
default, and the scheduler's overhead per task: a solve of 1 stack x 1 wavelength
per task over 400 tasks, divided by the tasks.
"""

import argparse
import os
import statistics
import sys
import time

import numpy as np

import quilmo_lab as ql
from quilmo_lab import distributed as lab_distributed
from quilmo_lab.distributed._chunks import plan

ENGINE = ["R_s", "R_p", "T_s", "T_p", "r_s", "r_p", "t_s", "t_p"]


def problem(stacks: int, count: int, seed: int = 0):
    """Random 8-layer stacks on glass sharing one set of dispersion-free indices."""
    rng = np.random.default_rng(seed)
    wl = np.linspace(400.0, 1000.0, count)
    media = np.concatenate([[1.0], rng.uniform(1.3, 2.4, 8) + 1j * rng.uniform(0.0, 0.01, 8), [1.52]])
    n = np.ascontiguousarray(np.repeat(media[:, None], count, axis=1))
    d = rng.uniform(20.0, 200.0, (stacks, 8))
    return n, d, wl


def seconds(function) -> float:
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def median_seconds(function, repeats: int) -> float:
    return statistics.median(seconds(function) for _ in range(repeats))


def interleaved(functions, repeats: int) -> list[list[float]]:
    """Seconds of each function per round, the functions taking turns within each round so that
    a busy machine slows all alike."""
    return [[seconds(function) for function in functions] for _ in range(repeats)]


def run(repeats: int = 5, stacks: int = 10_000, count: int = 1000, tasks: int = 400) -> None:
    import distributed

    n, d, wl = problem(stacks, count)
    points = stacks * count
    blocks = plan(stacks, 1, count, None)
    print(f"{stacks} stacks x {count} wavelengths = {points:.0e} points; default chunks "
          f"{blocks[0][0]} stacks x {blocks[1][0]} wavelengths ({len(blocks[0]) * len(blocks[1])} tasks); "
          f"median of {repeats}")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        client.wait_for_workers(2)

        def local():
            ql.solve(n, d, wl, threads=2)

        def kept():
            data = lab_distributed.solve(n, d, wl, client=client)
            distributed.wait(distributed.futures_of(data))
            del data

        def computed():
            lab_distributed.solve(n, d, wl)[ENGINE].compute()

        kept()  # the workers import quilmo_lab once
        rounds = interleaved([local, kept, computed], repeats)
        here, on_cluster, into_client = (statistics.median(column) for column in zip(*rounds))
        kept_ratio = statistics.median(r[0] / r[1] for r in rounds)
        client_ratio = statistics.median(r[0] / r[2] for r in rounds)
        print(f"  local solve, 2 threads           {here:8.3f} s  {points / here / 1e6:6.2f} Mpoints/s")
        print(f"  distributed, kept on the cluster {on_cluster:8.3f} s  {points / on_cluster / 1e6:6.2f} Mpoints/s"
              f"  ({kept_ratio:.2f}x the local throughput, median of the rounds' ratios)")
        print(f"  distributed, into this process   {into_client:8.3f} s  {points / into_client / 1e6:6.2f} Mpoints/s"
              f"  ({client_ratio:.2f}x)")

        tiny_n, tiny_d, tiny_wl = problem(tasks, 1)

        def tiny():
            lab_distributed.solve(tiny_n, tiny_d, tiny_wl, chunks=1)["R_s"].compute()

        tiny()
        overhead = median_seconds(tiny, repeats) / tasks
        print(f"  scheduler overhead per task      {overhead * 1e3:8.3f} ms  ({tasks} tasks of one point on 2 workers, "
              f"{overhead / (blocks[0][0] * blocks[1][0] / (points / here / 2)):.2%} of a default task)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="a smoke run: 10^5 points, one repeat")
    args = parser.parse_args()
    print(f"{os.cpu_count()} processors, load {os.getloadavg()[0]:.2f}, Python {sys.version.split()[0]}")
    if args.quick:
        run(1, stacks=200, count=500, tasks=20)
    else:
        run(args.repeats)


if __name__ == "__main__":
    main()
