"""End-to-end timing of DataPy.simulate against a vectorised NumPy implementation.

    python bench/simulate.py [--quick] [--baseline DIR]

Prints, for several wavelength counts and stack sizes, seconds per call and
microseconds per wavelength for quilmo and for the NumPy implementation of the
tests (vectorised over wavelengths in chunks, roots and exponentials shared by
both polarisations), their ratio, the cost of a whole W = 1 call, the parallel
efficiency of the pool, and the peak memory of one call above its inputs.

--baseline DIR times another build of quilmo (installed with pip --target DIR)
in child processes beside this one, case by case, and prints both.
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


def interleaved_best(functions, budget):
    """Best time of each function, run in turns until each has had `budget` seconds (a load
    that changes meanwhile slows all of them alike)."""
    best = [float("inf")] * len(functions)
    spent = [0.0] * len(functions)
    while min(spent) < budget:
        for i, function in enumerate(functions):
            start = time.perf_counter()
            function()
            elapsed = time.perf_counter() - start
            best[i], spent[i] = min(best[i], elapsed), spent[i] + elapsed
    return best


def spectra_table(counts, media_list, budget, baseline=None):
    extra = f" {'baseline s/call':>15} {'us/wl':>8} {'vs baseline':>11}" if baseline else ""
    print(f"{'W':>9} {'media':>5} {'quilmo s/call':>14} {'us/wl':>8} {'numpy s/call':>13} {'us/wl':>8} "
          f"{'speed-up':>9}{extra}")
    for count in counts:
        for media in media_list:
            d, n, wl = absorbing_stack(media, count)
            setup = quilmo.DataPy(d, n, wl, 0.3, 0.4)
            ours = best_time(setup.simulate, budget)
            theirs = best_time(lambda: reflectance_transmittance(d, n, wl, 0.3, 0.4), budget)
            line = (f"{count:>9} {media:>5} {ours:14.3e} {ours / count * 1e6:8.3f} {theirs:13.3e} "
                    f"{theirs / count * 1e6:8.3f} {theirs / ours:9.2f}")
            if baseline:
                old = float(run_child(CHILD.format(bench=BENCH, media=media, count=count, budget=budget),
                                      baseline=baseline))
                ours = min(ours, best_time(setup.simulate, budget))  # again, after the child
                line += f" {old:15.3e} {old / count * 1e6:8.3f} {old / ours:10.2f}x"
            print(line, flush=True)


def single_wavelength_seconds():
    d, n, wl = absorbing_stack(3, 1)

    def call():
        result = quilmo.DataPy(d, n, wl, 0.0, 0.0).simulate()
        return result.r, result.t

    return best_time(call, 0.5)


def single_wavelength_call(baseline=None):
    line = f"\nW = 1, 3 media, construction + simulate + both getters: {single_wavelength_seconds() * 1e6:.2f} us"
    if baseline:
        code = (f"import sys; sys.path.insert(0, {BENCH!r}); from simulate import single_wavelength_seconds; "
                f"print(single_wavelength_seconds())")
        line += f" (baseline {float(run_child(code, baseline=baseline)) * 1e6:.2f} us)"
    print(line)


CHILD = """
import sys, time
sys.path.insert(0, {bench!r})
from simulate import absorbing_stack, best_time
import quilmo
d, n, wl = absorbing_stack({media}, {count})
setup = quilmo.DataPy(d, n, wl, 0.3, 0.4)
print(best_time(setup.simulate, {budget}))
"""


BENCH = str(pathlib.Path(__file__).resolve().parent)


def run_child(code, baseline=None, **env):
    """stdout of `code` in a fresh interpreter, with quilmo from `baseline` if given."""
    full_env = dict(os.environ, **env)
    if baseline:
        full_env["PYTHONPATH"] = os.pathsep.join(filter(None, [baseline, full_env.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                          env=full_env).stdout


def parallel_efficiency(count, media, budget):
    times = {}
    for threads in (1, 2):
        code = CHILD.format(bench=BENCH, media=media, count=count, budget=budget)
        times[threads] = float(run_child(code, RAYON_NUM_THREADS=str(threads)))
    speedup = times[1] / times[2]
    print(f"\npool, W = {count}, {media} media: 1 thread {times[1] / count * 1e6:.3f} us/wl, "
          f"2 threads {times[2] / count * 1e6:.3f} us/wl, speed-up {speedup:.2f}, efficiency {speedup / 2:.2f}")


def rss_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field)


def peak_bytes_per_wavelength(count, media):
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
    return (peak - before) * 1024 / count


def peak_memory(count, media, baseline=None):
    # The two result vectors are counted: 16 of the bytes per wavelength.
    line = (f"\npeak memory of one call above its inputs, W = {count}, {media} media: "
            f"{peak_bytes_per_wavelength(count, media):.1f} bytes per wavelength")
    if baseline:
        code = (f"import sys; sys.path.insert(0, {BENCH!r}); from simulate import peak_bytes_per_wavelength; "
                f"print(peak_bytes_per_wavelength({count}, {media}))")
        line += f" (baseline {float(run_child(code, baseline=baseline)):.1f})"
    print(line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="small sizes, a few seconds")
    parser.add_argument("--baseline", metavar="DIR", help="also time the quilmo installed in DIR")
    args = parser.parse_args()
    if hasattr(os, "getloadavg"):
        print(f"load average at start: {os.getloadavg()[0]:.2f}")
    if args.quick:
        spectra_table([10, 1000], [3, 12], 0.05, args.baseline)
        single_wavelength_call(args.baseline)
        return
    spectra_table([10, 50, 1000, 100_000, 1_000_000], [3, 12, 42], 1.0, args.baseline)
    single_wavelength_call(args.baseline)
    parallel_efficiency(100_000, 12, 2.0)
    peak_memory(1_000_000, 42, args.baseline)
    if hasattr(os, "getloadavg"):
        print(f"load average at the end: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
