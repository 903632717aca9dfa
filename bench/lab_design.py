"""Cost of quilmo_lab's analytic thickness Jacobian and dispersion against one solve.

    python bench/lab_design.py [--quick]

For stacks of 12, 42 and 102 media at W = 1000 wavelengths and 1 or 2 threads it
prints the seconds of one solve (amplitudes and powers), of the Jacobian by every
thickness alone (the engine call that fills dr, dt, dR, dT for all layers), their
ratio, the ratio of a whole solve(derivatives=True) to a solve, what central
differences would cost (2 x layers solves), and the seconds of a dispersion call
(phase, GD, GDD, TOD) over the same wavelengths.
"""

import argparse
import pathlib
import sys

import numpy as np

import quilmo_lab as ql
from quilmo_lab import _engine

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from simulate import best_time  # noqa: E402  (a sibling file, found through the path above)


def absorbing_stack(media, count, seed=0):
    rng = np.random.default_rng(seed)
    wl = np.linspace(400.0, 1000.0, count)
    n = (rng.uniform(1.3, 2.5, (media, 1)) + 1j * rng.uniform(0.0, 0.02, (media, 1))) * np.ones(count)
    n[0] = 1.0
    n[-1] = 1.52
    d = rng.uniform(40.0, 200.0, media - 2)
    return d, np.ascontiguousarray(n), wl


def run(budget: float = 1.5) -> None:
    """Prints the table, each timing the best of repeats filling `budget` seconds."""
    count = 1000
    print(f"W = {count} wavelengths, one angle; best of repeated calls")
    print(f"{'media':>6} {'threads':>7} {'solve s':>10} {'jacobian s':>11} {'jac/solve':>9} "
          f"{'solve+d/solve':>13} {'differences/solve':>17} {'dispersion s':>12}")
    for media in (12, 42, 102):
        d, n, wl = absorbing_stack(media, count)
        # the engine's layout: (B, media, W) indices, (B, layers) thicknesses, (A,) angles
        indices, thicknesses, angles = n[None], d[None], np.zeros(1)
        smooth = np.zeros((1, media - 1))
        shape = (4, 1, 1, count)
        dshape = (4, 1, 1, media - 2, count)
        amplitudes, powers = np.empty(shape, complex), np.empty(shape)
        damplitudes, dpowers = np.empty(dshape, complex), np.empty(dshape)
        stack = ql.Stack([ql.Layer(complex(n[j, 0]), d[j - 1]) for j in range(1, media - 1)], incident=1.0,
                         exit=1.52)
        for threads in (1, 2):
            solve = best_time(lambda: _engine.coherent(indices, thicknesses, wl, angles, 1, smooth, 0, amplitudes, powers,
                                                       threads), budget)
            jacobian = best_time(lambda: _engine.thickness_jacobian(indices, thicknesses, wl, angles, 1, smooth, 0, damplitudes,
                                                                    dpowers, threads), budget)
            whole = best_time(lambda: ql.solve(n, d, wl, derivatives=True, threads=threads), budget)
            plain = best_time(lambda: ql.solve(n, d, wl, threads=threads), budget)
            phase = best_time(lambda: ql.dispersion(stack, wl, threads=threads), budget)
            print(f"{media:>6} {threads:>7} {solve:>10.2e} {jacobian:>11.2e} {jacobian / solve:>9.2f} "
                  f"{whole / plain:>13.2f} {2 * (media - 2):>17d} {phase:>12.2e}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="shorter timing budgets")
    run(0.3 if parser.parse_args().quick else 1.5)


if __name__ == "__main__":
    main()
