"""One call at a time, as tmm scripts make them: quilmo_lab against tmm.

    python bench/lab_tmm.py [--budget 0.5]

Figures (medians over interleaved rounds, each round timing a batch of calls of every
contender in turn, so that a busy machine slows all alike; the load average is printed):
ql.solve on one point of the 3-media stack, and quilmo.DataPy on the same point (one
wavelength); quilmo_lab.tmm.coh_tmm (every key) against tmm.coh_tmm on the 3- and 42-media
stacks of bench/peers.py at 550 nm, 30 degrees; tmm's own test functions run through each
(best of interleaved repeats).
"""

import contextlib
import io
import math
import os
import pathlib
import statistics
import sys
import time

import numpy as np

import quilmo
import quilmo_lab as ql
import quilmo_lab.tmm as qtmm

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from peers import stacks  # noqa: E402
from simulate import interleaved_best  # noqa: E402

THETA = math.radians(30.0)
TESTS = ["basic_test", "position_resolved_test", "position_resolved_test2", "absorp_analytic_fn_test",
         "incoherent_test", "RT_test", "coh_overflow_test"]


def interleaved_median(functions, budget, batch=200):
    """Median seconds per call of each function, over rounds of `batch` calls of each in turn
    until each has had `budget` seconds (at least 5 rounds)."""
    rounds = [[] for _ in functions]
    spent = [0.0] * len(functions)
    while min(spent) < budget or len(rounds[0]) < 5:
        for i, function in enumerate(functions):
            start = time.perf_counter()
            for _ in range(batch):
                function()
            elapsed = time.perf_counter() - start
            rounds[i].append(elapsed / batch)
            spent[i] += elapsed
    return [statistics.median(r) for r in rounds]


def tests_on(core):
    """tmm's test functions, their core import pointed at `core`."""
    import importlib.util
    import types

    spec = importlib.util.find_spec("tmm.tests")
    source = spec.loader.get_source(spec.name).replace("from .tmm_core import", f"from {core} import")
    module = types.ModuleType("tests_on")
    module.__dict__["__package__"] = "tmm"
    exec(compile(source, spec.origin, "exec"), module.__dict__)
    return lambda: [getattr(module, name)() for name in TESTS]


def run(budget):
    import tmm

    print(f"12. single calls: quilmo_lab against tmm, 550 nm, 30 degrees, s (medians over interleaved rounds; "
          f"load average {os.getloadavg()[0]:.2f})")
    n3, d3, w3 = np.array([[1.0], [1.38], [1.52]], dtype=np.complex128), np.array([99.6]), np.array([550.0])
    single, datapy = interleaved_median([lambda: ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], THETA, threads=1),
                                         lambda: quilmo.DataPy(d3, n3, w3, THETA, 0.0).simulate()], budget)
    print(f"ql.solve, one point of 3 media: {single * 1e6:.1f} us (target 6 us); quilmo.DataPy at one "
          f"wavelength: {datapy * 1e6:.1f} us; ratio {single / datapy:.1f}")
    print(f"{'stack':<16} {'media':>5} {'tmm us':>9} {'quilmo_lab.tmm us':>18} {'speed-up':>8} (target 10x)")
    for stack in stacks():
        if len(stack.d) + 2 not in (3, 42):
            continue
        n = stack.index_matrix(np.array([550.0]))[:, 0]
        d = [np.inf, *stack.d, np.inf]
        batch = 200 if len(n) < 10 else 20
        theirs, ours = interleaved_median([lambda: tmm.coh_tmm("s", n, d, THETA, 550.0),
                                           lambda: qtmm.coh_tmm("s", n, d, THETA, 550.0)], budget, batch)
        print(f"{stack.name:<16} {len(n):>5} {theirs * 1e6:>9.1f} {ours * 1e6:>18.1f} {theirs / ours:>7.1f}x")
    with contextlib.redirect_stdout(io.StringIO()), np.errstate(all="ignore"):
        theirs, ours = interleaved_best([tests_on("tmm.tmm_core"), tests_on("quilmo_lab.tmm")], budget)
    print(f"tmm's tests ({len(TESTS)} functions): tmm {theirs * 1e3:.1f} ms, quilmo_lab.tmm {ours * 1e3:.1f} ms")
    print(f"load average at the end: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    budget = float(sys.argv[sys.argv.index("--budget") + 1]) if "--budget" in sys.argv else 0.5
    run(budget)
