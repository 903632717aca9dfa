"""Several Python threads using the module at once; processes forked after the pool started."""

import multiprocessing
import os
import threading

import numpy as np
import pytest

import quilmo
from conftest import PanicException, random_stack, run_python

TIMEOUT = 120


def _setups():
    rng = np.random.default_rng(21)
    return [random_stack(rng, media, count, absorbing=True)
            for media, count in [(3, 40), (8, 100), (12, 101), (5, 700), (20, 2500)]]


def _run_threads(targets):
    errors = []

    def guarded(target):
        try:
            target()
        except BaseException as error:  # noqa: BLE001 - reported to the main thread
            errors.append(error)

    threads = [threading.Thread(target=guarded, args=(t,), daemon=True) for t in targets]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(TIMEOUT)
        assert not thread.is_alive(), "deadlock: a thread did not finish"
    if errors:
        raise errors[0]


def test_threads_share_and_separate_objects():
    setups = _setups()
    shared = [quilmo.DataPy(d, n, wl, 0.3, 0.6) for d, n, wl in setups]
    expected = [(s.simulate().r.tobytes(), s.simulate().t.tobytes()) for s in shared]

    def simulate_shared():
        for _ in range(15):
            for setup, (r, t) in zip(shared, expected):
                result = setup.simulate()
                assert result.r.tobytes() == r and result.t.tobytes() == t

    def simulate_own():
        own = [quilmo.DataPy(d, n, wl, 0.3, 0.6) for d, n, wl in setups]
        for _ in range(15):
            for setup, (r, t) in zip(own, expected):
                assert setup.simulate().r.tobytes() == r

    def read_attributes():
        for _ in range(300):
            for setup, (d, n, wl) in zip(shared, setups):
                assert np.array_equal(setup.n, n) and setup.theta == 0.3
                np.testing.assert_array_equal(setup.wl, wl)

    def construct():
        for _ in range(300):
            for d, n, wl in setups:
                quilmo.DataPy(d, n, wl, 0.0, 0.0)

    _run_threads([simulate_shared, simulate_shared, simulate_own, read_attributes, construct])


def test_worker_failure_reaches_only_its_caller():
    d, n, wl = random_stack(np.random.default_rng(3), 6, 3000, absorbing=True)
    good = quilmo.DataPy(d, n, wl, 0.2, 0.2)
    expected = good.simulate().r.tobytes()
    bad = quilmo.DataPy(d[:1], n, wl, 0.2, 0.2)  # too few thicknesses: fails on the workers
    failures = []

    def failing():
        for _ in range(10):
            try:
                bad.simulate()
            except PanicException as error:
                failures.append(str(error))

    def succeeding():
        for _ in range(10):
            assert good.simulate().r.tobytes() == expected

    _run_threads([failing, succeeding, succeeding])
    assert failures == ["ndarray: index out of bounds"] * 10


FORK_CODE = """
    import os, signal, sys
    import numpy as np
    import quilmo
    n = np.full((4, 5000), 1.7 + 0.01j); n[0] = 1.0
    wl = np.linspace(400, 900, 5000)
    setup = quilmo.DataPy(np.array([80.0, 120.0]), n, wl, 0.1, 0.0)
    expected = setup.simulate().r.tobytes()          # starts the pool in the parent
    pid = os.fork()
    if pid == 0:
        signal.alarm(60)                              # a hang ends the child, not the test
        ok = setup.simulate().r.tobytes() == expected
        os._exit(0 if ok else 3)
    _, status = os.waitpid(pid, 0)
    print(os.waitstatus_to_exitcode(status))
"""


def test_forked_child_starts_its_own_pool():
    run = run_python(FORK_CODE, env={"RAYON_NUM_THREADS": "2"}, timeout=TIMEOUT)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "0", run.stderr


def _simulate_in_child(seed):
    d, n, wl = random_stack(np.random.default_rng(seed), 7, 1500, absorbing=True)
    return quilmo.DataPy(d, n, wl, 0.4, 0.5).simulate().r.tobytes()


@pytest.mark.skipif("fork" not in multiprocessing.get_all_start_methods(), reason="needs fork")
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_multiprocessing_fork_pool():
    expected = [_simulate_in_child(seed) for seed in range(4)]  # the parent's pool runs now
    context = multiprocessing.get_context("fork")
    with context.Pool(2) as pool:
        result = pool.map_async(_simulate_in_child, range(4))
        assert result.get(TIMEOUT) == expected


def test_thread_count_environment_is_read_once():
    code = """
        import os
        import numpy as np
        import quilmo
        n = np.full((3, 200), 1.5 + 0j)
        quilmo.DataPy(np.ones(1), n, np.linspace(400, 800, 200), 0.0, 0.0).simulate()
        before = len(os.listdir("/proc/self/task"))
        os.environ["RAYON_NUM_THREADS"] = "6"
        quilmo.DataPy(np.ones(1), n, np.linspace(400, 800, 200), 0.0, 0.0).simulate()
        print(len(os.listdir("/proc/self/task")) - before)
    """
    run = run_python(code, env={"RAYON_NUM_THREADS": "2"})
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "0"


def test_pool_size_follows_environment():
    code = """
        import os
        import numpy as np
        import quilmo
        before = len(os.listdir("/proc/self/task"))
        n = np.full((3, 200), 1.5 + 0j)
        quilmo.DataPy(np.ones(1), n, np.linspace(400, 800, 200), 0.0, 0.0).simulate()
        print(len(os.listdir("/proc/self/task")) - before)
    """
    for value, expected in [("5", 5), ("+3", 3), ("1000", 255)]:
        run = run_python(code, env={"RAYON_NUM_THREADS": value})
        assert run.returncode == 0, run.stderr
        assert int(run.stdout) == expected, value
