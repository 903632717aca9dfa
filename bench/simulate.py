"""End-to-end timing of DataPy.simulate against a vectorised NumPy implementation.

    python bench/simulate.py [--quick]

Prints, for several wavelength counts and stack sizes, seconds per call and
microseconds per wavelength for quilmo and for the NumPy implementation of the
tests (vectorised over wavelengths in chunks, roots and exponentials shared by
both polarisations), their ratio, the cost of a whole W = 1 call, the parallel
efficiency of the pool, and the peak memory of one call above its inputs.
"""

import argparse
import os
import pathlib
import subprocess
import sys
import time

import numpy as np

import quilmo

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from numpy_tmm import reflectance_transmittance  # noqa: E402


def absorbing_stack(media, count, seed=0):
    rng = np.random.default_rng(seed)
    wl = np.linspace(400.0, 1000.0, count)
    n = (rng.uniform(1.3, 2.5, (media, 1)) + 1j * rng.uniform(0.0, 0.05, (media, 1))) * np.ones(count)
    n[0] = 1.0
    n[-1] = 1.52
    d = rng.uniform(40.0, 200.0, media - 2)
    return d, np.ascontiguousarray(n), wl


def best_time(function, budget):
    """Best wall time of `function` over repeats filling about `budget` seconds."""
    start = time.perf_counter()
    function()
    first = time.perf_counter() - start
    best = first
    for _ in range(max(0, min(200, int(budget / max(first, 1e-9))))):
        start = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - start)
    return best


def spectra_table(counts, media_list, budget):
    print(f"{'W':>9} {'media':>5} {'quilmo s/call':>14} {'us/wl':>8} {'numpy s/call':>13} {'us/wl':>8} {'speed-up':>9}")
    for count in counts:
        for media in media_list:
            d, n, wl = absorbing_stack(media, count)
            setup = quilmo.DataPy(d, n, wl, 0.3, 0.4)
            ours = best_time(setup.simulate, budget)
            theirs = best_time(lambda: reflectance_transmittance(d, n, wl, 0.3, 0.4), budget)
            print(f"{count:>9} {media:>5} {ours:14.3e} {ours / count * 1e6:8.3f} {theirs:13.3e} "
                  f"{theirs / count * 1e6:8.3f} {theirs / ours:9.2f}")


def single_wavelength_call():
    d, n, wl = absorbing_stack(3, 1)

    def call():
        result = quilmo.DataPy(d, n, wl, 0.0, 0.0).simulate()
        return result.r, result.t

    seconds = best_time(call, 0.5)
    print(f"\nW = 1, 3 media, construction + simulate + both getters: {seconds * 1e6:.2f} us")


CHILD = """
import sys, time
sys.path.insert(0, {bench!r})
from simulate import absorbing_stack, best_time
import quilmo
d, n, wl = absorbing_stack({media}, {count})
setup = quilmo.DataPy(d, n, wl, 0.3, 0.4)
print(best_time(setup.simulate, {budget}))
"""


def parallel_efficiency(count, media, budget):
    times = {}
    for threads in (1, 2):
        code = CHILD.format(bench=str(pathlib.Path(__file__).parent), media=media, count=count, budget=budget)
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                             env=dict(os.environ, RAYON_NUM_THREADS=str(threads)))
        times[threads] = float(out.stdout)
    speedup = times[1] / times[2]
    print(f"\npool, W = {count}, {media} media: 1 thread {times[1] / count * 1e6:.3f} us/wl, "
          f"2 threads {times[2] / count * 1e6:.3f} us/wl, speed-up {speedup:.2f}, efficiency {speedup / 2:.2f}")


def rss_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field)


def peak_memory(count, media):
    d, n, wl = absorbing_stack(media, count)
    setup = quilmo.DataPy(d, n, wl, 0.3, 0.4)
    del n
    # Writing 5 to clear_refs resets the peak resident size to the current one.
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")
    before = rss_kib("VmRSS")
    result = setup.simulate()
    peak = rss_kib("VmHWM")
    del result
    print(f"\npeak memory of one call above its inputs, W = {count}, {media} media: "
          f"{(peak - before) * 1024 / count:.1f} bytes per wavelength")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="small sizes, a few seconds")
    args = parser.parse_args()
    if args.quick:
        spectra_table([10, 1000], [3, 12], 0.05)
        single_wavelength_call()
        return
    spectra_table([10, 50, 1000, 100_000, 1_000_000], [3, 12, 42], 1.0)
    single_wavelength_call()
    parallel_efficiency(100_000, 12, 2.0)
    peak_memory(1_000_000, 42)


if __name__ == "__main__":
    main()
