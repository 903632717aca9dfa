"""Nothing leaks: memory, references and borrows stay flat over many calls.

Runs every operation and every failure path QUILMO_LEAK_ITERATIONS times
(100,000 by default; the sanitizer leg runs fewer).
"""

import contextlib
import gc
import os
import sys

import numpy as np
import pytest

import quilmo
from conftest import PanicException

ITERATIONS = int(os.environ.get("QUILMO_LEAK_ITERATIONS", "100000"))
# Slack for allocator warm-up and arena fragmentation after the warm-up round.
RSS_SLACK_KIB = 4096
BLOCK_SLACK = 200


def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


@contextlib.contextmanager
def silenced_stderr():
    """Internal-error reports go to fd 2; keep a hundred thousand of them out of the log."""
    sys.stderr.flush()
    saved = os.dup(2)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 2)
        try:
            yield
        finally:
            os.dup2(saved, 2)
            os.close(saved)


D = np.array([80.0, 120.0])
N_SMALL = np.full((4, 3), 1.6 + 0.01j)
N_LARGE = np.full((4, 101), 1.6 + 0.01j)
WL_SMALL = np.linspace(400.0, 800.0, 3)
WL_LARGE = np.linspace(400.0, 800.0, 101)
N_1D = np.zeros(3, complex)
SHORT_D = np.array([80.0])


def one_round():
    small = quilmo.DataPy(D, N_SMALL, WL_SMALL, 0.1, 0.2)
    small.d, small.n, small.wl, small.theta, small.phi
    result = small.simulate()
    result.r, result.t
    large = quilmo.DataPy(D[::-1], N_LARGE.T.copy().T, WL_LARGE, 0.1, 0.2)
    result = large.simulate()
    result.r, result.t
    for arguments in ([D.tolist(), N_SMALL, WL_SMALL, 0.0, 0.0],
                      [D, N_SMALL.real.copy(), WL_SMALL, 0.0, 0.0],
                      [D, N_SMALL, WL_SMALL, "x", 0.0],
                      [D, N_SMALL, WL_SMALL, 0.0, 2 ** 2000]):
        with contextlib.suppress(TypeError, OverflowError):
            quilmo.DataPy(*arguments)
    with contextlib.suppress(TypeError):
        quilmo.DataPy(D, N_SMALL, WL_SMALL, 0.0, 0.0, D)
    with contextlib.suppress(TypeError):
        quilmo.Simulation()
    for setup_arguments in ([D, N_1D, WL_SMALL, 0.0, 0.0],):
        with contextlib.suppress(PanicException):
            quilmo.DataPy(*setup_arguments)
    for bad in (quilmo.DataPy(SHORT_D, N_SMALL, WL_SMALL, 0.0, 0.0),
                quilmo.DataPy(SHORT_D, N_LARGE, WL_LARGE, 0.0, 0.0)):
        with contextlib.suppress(PanicException):
            bad.simulate()


def reference_counts():
    tracked = [D, N_SMALL, N_LARGE, WL_SMALL, WL_LARGE, N_1D, SHORT_D, quilmo.DataPy, quilmo.Simulation]
    return [sys.getrefcount(obj) for obj in tracked]


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
def test_memory_and_references_stay_flat():
    with silenced_stderr():
        for _ in range(max(100, ITERATIONS // 100)):
            one_round()
        gc.collect()
        counts = reference_counts()
        blocks = sys.getallocatedblocks()
        rss = rss_kib()
        for _ in range(ITERATIONS):
            one_round()
        gc.collect()
        rss_growth = rss_kib() - rss
        block_growth = sys.getallocatedblocks() - blocks
    assert reference_counts() == counts
    assert block_growth < BLOCK_SLACK, f"{block_growth} Python blocks leaked over {ITERATIONS} rounds"
    assert rss_growth < RSS_SLACK_KIB, f"resident memory grew by {rss_growth} KiB over {ITERATIONS} rounds"
