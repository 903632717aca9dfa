"""quilmo_lab under Ctrl-C and many thread counts: a long solve is abandoned soon after
SIGINT and raises KeyboardInterrupt, the next call gives the same bits, and the workers the
process keeps stay bounded whatever counts the calls ask for."""

import ctypes
import os
import signal
import threading
import time

import numpy as np
import pytest

import quilmo_lab as ql
from conftest import run_python

# Seconds between SIGINT and KeyboardInterrupt that the test accepts (typically some ms; the
# margin absorbs a loaded machine).
LATENCY = 1.0


def _long_problem():
    """A coherent solve of several seconds on one core (results of some 20 MB)."""
    n = np.full(202, 1.6 + 0.01j)
    n[0] = 1.0
    return n, np.full(200, 80.0), np.linspace(400.0, 800.0, 300_000)


@pytest.mark.skipif(threading.current_thread() is not threading.main_thread(), reason="signals need the main thread")
@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("front", ["solve", "derivatives", "dispersion"])
def test_sigint_abandons_a_long_call(threads, front):
    n, d, wl = _long_problem()
    calls = {
        "solve": lambda: ql.solve(n, d, wl, threads=threads),
        # 40 layers x 50,000 wavelengths: over a second, with derivatives of some 200 MB
        "derivatives": lambda: ql.solve(n[:42], d[:40], wl[:50_000], derivatives=True, threads=threads),
        "dispersion": lambda: ql.dispersion(np.broadcast_to(n[:, None], (202, 3000)), d, wl[:3000],
                                            threads=threads),
    }
    sent = []

    def interrupt():
        time.sleep(0.3)
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    firing = threading.Thread(target=interrupt)
    firing.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            calls[front]()
            time.sleep(5)  # finished before the signal: let it arrive here rather than fail later
    finally:
        firing.join()
    assert time.perf_counter() - sent[0] < LATENCY
    small = ql.solve(n[:6], d[:4], wl[:50], threads=threads)
    assert small.R().tobytes() == ql.solve(n[:6], d[:4], wl[:50], threads=1).R().tobytes()


def test_threads_held_after_a_sweep_of_thread_counts():
    # In a fresh process: counts 1..64, then the extremes, hold at most one worker per
    # thread asked for below the cap, and the results do not depend on the count.
    result = run_python("""
        import numpy as np
        import quilmo_lab as ql
        from quilmo_lab import _engine
        n = np.array([1.0, 1.45, 2.1 + 0.02j, 1.52]); wl = np.linspace(400.0, 800.0, 20000)
        reference = ql.solve(n, [90.0, 60.0], wl, threads=1).R().tobytes()
        for threads in [*range(1, 65), 255, 64, 1]:
            assert ql.solve(n, [90.0, 60.0], wl, threads=threads).R().tobytes() == reference, threads
        tasks = len(__import__("os").listdir("/proc/self/task"))
        print(_engine.started_workers(), tasks)
    """)
    assert result.returncode == 0, result.stderr
    workers, tasks = map(int, result.stdout.split())
    assert workers <= max(64, os.cpu_count() or 1)
    assert tasks <= workers + 4  # the interpreter's own threads besides the workers


def test_no_worker_can_start_runs_on_the_calling_thread():
    # With no address space left for a worker's stack, a call runs on fewer threads instead of failing.
    result = run_python("""
        import resource
        import numpy as np
        import quilmo_lab as ql
        n = np.array([1.0, 1.45, 1.52]); wl = np.linspace(400.0, 800.0, 4000)
        reference = ql.solve(n, [90.0], wl, threads=1).R().tobytes()
        size = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
        # room for the call's arrays, not for a worker's stack
        resource.setrlimit(resource.RLIMIT_AS, (size + (3 << 20), resource.RLIM_INFINITY))
        assert ql.solve(n, [90.0], wl, threads=8).R().tobytes() == reference
        from quilmo_lab import _engine
        assert _engine.started_workers() < 7
        print("ok")
    """)
    assert result.returncode == 0 and result.stdout.strip() == "ok", result.stderr


def _solve_lasting(seconds):
    """The arguments of a coherent solve that keeps one core busy for about `seconds` here:
    _long_problem's repeated layers are computed once per point, so its length depends on the
    machine more than on its size."""
    n, d, wl = _long_problem()
    start = time.perf_counter()
    ql.solve(n, d, wl[:20_000], threads=1)
    per_wavelength = (time.perf_counter() - start) / 20_000
    return n, d, np.linspace(400.0, 800.0, int(seconds / per_wavelength))


def test_a_solve_off_the_main_thread_runs_while_the_main_thread_holds_the_lock():
    # Only the main thread runs signal handlers, so only there does a call stop to ask for them;
    # elsewhere (a Dask worker's task thread beside its event loop) it must not wait for the lock.
    n, d, wl = _solve_lasting(2.5)  # the lock is held from 0.2 s to 1.2 s into the solve
    hold = ctypes.PyDLL(None).sleep  # a PyDLL call keeps the interpreter lock
    hold.argtypes = [ctypes.c_uint]
    started, done = threading.Event(), threading.Event()

    def run():
        started.set()
        ql.solve(n, d, wl, threads=1)
        done.wait()  # the thread and its clock kept until read

    solving = threading.Thread(target=run)
    solving.start()
    started.wait()
    time.sleep(0.2)  # into the engine, the lock released
    clock = time.pthread_getcpuclockid(solving.ident)
    before = time.clock_gettime(clock)
    hold(1)
    during = time.clock_gettime(clock) - before
    done.set()
    solving.join()
    # asking for signals, the thread would stop within 20 ms of work until the hold ended
    assert during > 0.1
