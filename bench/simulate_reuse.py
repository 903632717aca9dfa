"""What reusing the values of constant media saves, against the peers.

    python bench/simulate_reuse.py [--budget 1.0] [--baseline DIR]

1. The 20-pair Bragg mirror of bench/peers.py (42 media of constant index,
   theta = 0.3, phi = pi/4) at W = 1000: quilmo against tmm's coh_tmm loop,
   and against the same stack made dispersive by raising every index by 1e-9
   per wavelength (the same work without anything to reuse), in one run.
2. The 12-media dispersive stack of bench/peers.py at W = 10^5 against the
   vectorised NumPy implementation of the tests.

--baseline DIR times another build of quilmo (pip install --target DIR) on the
same cases in a child process. Times are the best of repeats filling --budget
seconds; the load average is printed, as the machine may be shared.
"""

import argparse
import math
import os
import pathlib
import subprocess
import sys
import time
from types import SimpleNamespace

import numpy as np

import quilmo

BENCH = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH))
from peers import best_time, stacks, tmm_polarised  # noqa: E402  (puts tests/ on the path)
from numpy_tmm import reflectance_transmittance  # noqa: E402

BRAGG_THETA, BRAGG_PHI = 0.3, math.pi / 4
DISPERSIVE_THETA, DISPERSIVE_PHI = math.radians(30.0), math.radians(40.0)


def bragg_cases(count):
    bragg = stacks()[1]
    wl = bragg.wavelengths(count)
    n = bragg.index_matrix(wl)
    dispersive = n + 1e-9 * np.arange(count)
    return bragg.d, n, dispersive, wl


def dispersive_case(count):
    stack = stacks()[2]
    wl = stack.wavelengths(count)
    return stack.d, stack.index_matrix(wl), wl


def quilmo_seconds(d, n, wl, theta, phi, budget):
    return best_time(lambda: quilmo.DataPy(d, n, wl, theta, phi).simulate(), budget)


def quilmo_times(budget):
    """Seconds per call of quilmo on the three cases (importable by a child)."""
    d, constant, dispersive, wl = bragg_cases(1000)
    dd, dn, dwl = dispersive_case(100_000)
    return (quilmo_seconds(d, constant, wl, BRAGG_THETA, BRAGG_PHI, budget),
            quilmo_seconds(d, dispersive, wl, BRAGG_THETA, BRAGG_PHI, budget),
            quilmo_seconds(dd, dn, dwl, DISPERSIVE_THETA, DISPERSIVE_PHI, budget))


def tmm_seconds(d, n, wl):
    stack = SimpleNamespace(d=d)  # all that tmm_polarised reads of a stack
    best = math.inf
    for _ in range(2):
        start = time.perf_counter()
        s = tmm_polarised(stack, wl, n, "s", BRAGG_THETA)
        p = tmm_polarised(stack, wl, n, "p", BRAGG_THETA)
        best = min(best, time.perf_counter() - start)
    weights = math.cos(BRAGG_PHI) ** 2, math.sin(BRAGG_PHI) ** 2
    ours = quilmo.DataPy(d, n, wl, BRAGG_THETA, BRAGG_PHI).simulate()
    r = s[0] * weights[0] + p[0] * weights[1]
    return best, float(np.max(np.abs(r - ours.r)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=1.0, help="seconds of repeats per timing")
    parser.add_argument("--baseline", metavar="DIR", help="also time the quilmo installed in DIR")
    args = parser.parse_args()
    print(f"load average at start: {os.getloadavg()[0]:.2f}; RAYON_NUM_THREADS="
          f"{os.environ.get('RAYON_NUM_THREADS', 'default')}, {os.cpu_count()} logical CPUs")

    constant, dispersive, numpy_case = quilmo_times(args.budget)
    d, n, _, wl = bragg_cases(1000)
    tmm, difference = tmm_seconds(d, n, wl)
    dd, dn, dwl = dispersive_case(100_000)
    numpy_time = best_time(lambda: reflectance_transmittance(dd, dn, dwl, DISPERSIVE_THETA, DISPERSIVE_PHI),
                           args.budget)
    old = None
    if args.baseline:
        code = f"import sys; sys.path.insert(0, {str(BENCH)!r}); import simulate_reuse as b; print(*b.quilmo_times({args.budget}))"
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [args.baseline, os.environ.get("PYTHONPATH")])))
        old = [float(x) for x in subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                                 check=True, env=env).stdout.split()]

    def show(label, seconds, index):
        line = f"  {label:<44} {seconds:10.3e} s  {seconds / 1000 * 1e6 if index < 2 else seconds / 1e5 * 1e6:7.3f} us/wl"
        if old:
            line += f"   baseline {old[index]:10.3e} s ({old[index] / seconds:.2f}x)"
        print(line)

    print("\nBragg mirror, 20 pairs (42 media), theta = 0.3, phi = pi/4, W = 1000")
    show("quilmo, constant indices", constant, 0)
    show("quilmo, indices + 1e-9 per wavelength", dispersive, 1)
    print(f"  {'tmm coh_tmm loop (s and p)':<44} {tmm:10.3e} s   (largest |R - R_quilmo| {difference:.1e})")
    print(f"  speed-up over tmm: {tmm / constant:.0f}x; constant over dispersive: {dispersive / constant:.2f}x")
    print("\n12 media, 10 dispersive layers (bench/peers.py), theta = 30 deg, phi = 40 deg, W = 100000")
    show("quilmo", numpy_case, 2)
    print(f"  {'tests/numpy_tmm.py':<44} {numpy_time:10.3e} s")
    print(f"  speed-up over NumPy: {numpy_time / numpy_case:.2f}x")
    print(f"\nload average at the end: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
