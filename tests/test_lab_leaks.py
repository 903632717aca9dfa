"""quilmo_lab.solve leaks nothing: memory and references stay flat over many calls,
successful and refused, on one thread and on the pool.

Runs QUILMO_LEAK_ITERATIONS / 20 rounds (the sanitizer leg runs fewer).
"""

import contextlib
import gc
import os
import sys

import numpy as np
import pytest

import quilmo_lab as ql

ROUNDS = max(50, int(os.environ.get("QUILMO_LEAK_ITERATIONS", "100000")) // 20)
RSS_SLACK_KIB = 4096
BLOCK_SLACK = 200

N = np.array([[1.0], [2.0 + 0.1j], [1.46], [2.0 + 0.1j], [1.52]]) * np.ones((1, 300))
D = np.array([[80.0, 120.0, 80.0], [90.0, 110.0, 90.0]])
WL = np.linspace(400.0, 800.0, 300)
OPAQUE = np.array([1.0, 1.5, 3.0 + 4.0j, 1.5])


def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def one_round():
    result = ql.solve(N, D, WL, [0.0, 0.5], threads=2)
    result.R(0.3), result.psi, result.delta
    ql.solve(N[:, :3], D[0].tolist(), WL[:3], 0.2, threads=1).T(0.1)
    ql.solve(OPAQUE, [50.0, 1e6], WL[:4]).R_s
    for arguments in ([N, D[:, :2], WL], [N, D, WL, [[0.1]]], [[1 + 1j, 1.5], [], WL, 0.3], [N, D, "x"]):
        with contextlib.suppress(TypeError, ValueError):
            ql.solve(*arguments)
    with contextlib.suppress(TypeError):
        ql.solve(N, D, WL, threads=1.5)


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
def test_memory_and_references_stay_flat():
    tracked = [N, D, WL, OPAQUE]
    for _ in range(max(20, ROUNDS // 10)):
        one_round()
    gc.collect()
    counts = [sys.getrefcount(obj) for obj in tracked]
    blocks = sys.getallocatedblocks()
    rss = rss_kib()
    for _ in range(ROUNDS):
        one_round()
    gc.collect()
    rss_growth = rss_kib() - rss
    block_growth = sys.getallocatedblocks() - blocks
    assert [sys.getrefcount(obj) for obj in tracked] == counts
    assert block_growth < BLOCK_SLACK, f"{block_growth} Python blocks leaked over {ROUNDS} rounds"
    assert rss_growth < RSS_SLACK_KIB, f"resident memory grew by {rss_growth} KiB over {ROUNDS} rounds"
