"""quilmo_lab.distributed.solve on a LocalCluster of 2 worker processes against one local solve on 2 threads.

    python bench/lab_distributed.py [--repeats 7] [--chunks STACKS] [--quick]

For 10^4 random 8-layer stacks x 1000 wavelengths (10^7 points) it prints the
median, over rounds in which the two take turns (the first of a round
alternating), of
  - quilmo_lab.solve(threads=2) in this process (powers and amplitudes);
  - distributed.solve(client=...) on 2 worker processes of one Dask thread each,
    the engine's arrays kept on the workers (persisted and waited for);
with the CPU time each took, user and system (for the cluster its workers',
and that of this process, which holds the scheduler and the nannies), and the
ratio of the CPU times: what the throughput ratio is on a machine with no other
load, where each side has both cores to itself. The system time is mostly the
first touch of the 960 MB of results: where the memory has lain free for some
seconds (a virtual machine whose host took back free pages), that costs some
2 ms per MB, on either side; the two run in turns so that neither finds more
memory freshly freed than the other.

Then the cost of a chunk: Dask's compute time of one block task on a worker
(the engine's solve of the chunk, median over the tasks of the rounds), its share
of the run's wall time (run time x workers / tasks) and the difference, the
overhead per chunk; the same chunk solved in this process on one thread; the
scheduler's overhead per task (400 tasks of one point each); the default chunk
size; and, once, the R, T, r and t of a run brought into this process.
"""

import argparse
import os
import resource
import statistics
import sys
import time

import numpy as np

import quilmo_lab as ql
from quilmo_lab import distributed as lab_distributed
from quilmo_lab.distributed._chunks import plan

ENGINE = ["R_s", "R_p", "T_s", "T_p", "r_s", "r_p", "t_s", "t_p"]
WORKERS = 2


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


def cpu_seconds() -> tuple[float, float]:
    """User and system CPU seconds of this process so far."""
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime, usage.ru_stime


def load() -> str:
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


def run(repeats: int = 7, stacks: int = 10_000, count: int = 1000, tasks: int = 400,
        chunks: int | None = None) -> None:
    import distributed

    n, d, wl = problem(stacks, count)
    points = stacks * count
    stack_blocks, wavelength_blocks = plan(stacks, 1, count, chunks)
    blocks = len(stack_blocks) * len(wavelength_blocks)
    print(f"{stacks} stacks x {count} wavelengths = {points:.0e} points; "
          f"{'default ' if chunks is None else ''}chunks {stack_blocks[0]} stacks x {wavelength_blocks[0]} "
          f"wavelengths ({blocks} tasks, {blocks / WORKERS:g} per worker); median of {repeats} rounds; "
          f"load {load()}")
    with distributed.LocalCluster(n_workers=WORKERS, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        client.wait_for_workers(WORKERS)

        def local() -> tuple[float, float, float]:
            user, system = cpu_seconds()
            wall = seconds(lambda: ql.solve(n, d, wl, threads=2))
            after = cpu_seconds()
            return wall, after[0] - user, after[1] - system

        def kept() -> tuple[float, float, float, list[float], float]:
            before, here_before = client.run(cpu_seconds), cpu_seconds()
            with distributed.get_task_stream(client) as stream:
                start = time.perf_counter()
                data = lab_distributed.solve(n, d, wl, client=client, chunks=chunks)
                distributed.wait(distributed.futures_of(data))
                wall = time.perf_counter() - start
            here_after = cpu_seconds()
            del data
            after = client.run(cpu_seconds)
            solves = [span["stop"] - span["start"] for task in stream.data if "_solve_block" in str(task["key"])
                      for span in task["startstops"] if span["action"] == "compute"]
            # this process: the scheduler, the nannies and the client
            return (wall, sum(after[w][0] - before[w][0] for w in after),
                    sum(after[w][1] - before[w][1] for w in after), solves, sum(here_after) - sum(here_before))

        kept()  # the workers import quilmo_lab once
        local()
        here, there = [], []
        for round_ in range(repeats):
            if round_ % 2:
                there.append(kept())
                here.append(local())
            else:
                here.append(local())
                there.append(kept())
        ratio = statistics.median(h[0] / t[0] for h, t in zip(here, there))
        local_wall, local_user, local_system = (statistics.median(column) for column in list(zip(*here))[:3])
        kept_wall, kept_user, kept_system = (statistics.median(column) for column in list(zip(*there))[:3])
        scheduler_cpu = statistics.median(t[4] for t in there)
        # what the two would take on an idle machine, each with both cores to itself: their CPU time
        cpu_ratio = statistics.median(sum(h[1:3]) / (sum(t[1:3]) + t[4]) for h, t in zip(here, there))
        task_solve = statistics.median(s for t in there for s in t[3])
        task_wall = kept_wall * min(WORKERS, blocks) / blocks
        print(f"  local ql.solve, 2 threads            {local_wall:7.3f} s  {points / local_wall / 1e6:6.2f} Mpoints/s"
              f"   CPU {local_user:5.2f} s user, {local_system:4.2f} s system")
        print(f"  distributed.solve, kept on cluster   {kept_wall:7.3f} s  {points / kept_wall / 1e6:6.2f} Mpoints/s"
              f"   CPU {kept_user:5.2f} s user, {kept_system:4.2f} s system (workers), "
              f"{scheduler_cpu:4.2f} s (scheduler, nannies, client)")
        print(f"  throughput ratio distributed / local {ratio:7.2f}x  (median of the rounds' ratios; "
              f"{sum(h[0] / t[0] >= 0.8 for h, t in zip(here, there))} of {repeats} rounds at 0.8x or more)")
        print(f"  CPU time ratio local / distributed   {cpu_ratio:7.2f}x  (the throughput ratio of a machine "
              f"with no other load)")
        one_chunk = median_seconds(lambda: ql.solve(n, d[:stack_blocks[0]], wl[:wavelength_blocks[0]], threads=1),
                                   repeats)
        print(f"  per task: solve {task_solve:.3f} s (Dask's compute time), wall {task_wall:.3f} s "
              f"(run x {min(WORKERS, blocks)} / {blocks} tasks), overhead {task_wall - task_solve:+.3f} s per chunk "
              f"({(task_wall - task_solve) / task_wall:+.0%})")
        print(f"  the same chunk in this process, 1 thread  {one_chunk:.3f} s")

        tiny_n, tiny_d, tiny_wl = problem(tasks, 1)

        def tiny():
            lab_distributed.solve(tiny_n, tiny_d, tiny_wl, chunks=1)["R_s"].compute()

        tiny()
        overhead = median_seconds(tiny, repeats) / tasks
        print(f"  scheduler overhead per task          {overhead * 1e3:7.3f} ms  ({tasks} tasks of one point "
              f"on {WORKERS} workers, {overhead * WORKERS / task_wall:.2%} of a task's share of the run)")
        into = seconds(lambda: lab_distributed.solve(n, d, wl, chunks=chunks)[ENGINE].compute())
        print(f"  distributed, R, T, r, t into this process (once) {into:7.3f} s  "
              f"{points / into / 1e6:6.2f} Mpoints/s")
    print(f"  load at the end {load()}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--chunks", type=int, default=None, help="stacks per task (default: the default plan)")
    parser.add_argument("--quick", action="store_true", help="a smoke run: 10^5 points, one repeat")
    args = parser.parse_args()
    print(f"{os.cpu_count()} processors, load {load()}, Python {sys.version.split()[0]}")
    if args.quick:
        run(1, stacks=200, count=500, tasks=20, chunks=args.chunks)
    else:
        run(args.repeats, chunks=args.chunks)


if __name__ == "__main__":
    main()
