"""Helpers shared by the quilmo_lab tests."""

FIELDS = ("r_s", "r_p", "t_s", "t_p", "R_s", "R_p", "T_s", "T_p", "psi", "delta")


def assert_same_bits(got, expected, names=FIELDS, context=()):
    for name in names:
        assert getattr(got, name).tobytes() == getattr(expected, name).tobytes(), (*context, name)


def central_difference(at, step):
    """Fourth-order central difference of at(shift) at shift 0: steps h and 2h."""
    return (8 * (at(step) - at(-step)) - (at(2 * step) - at(-2 * step))) / (12 * step)


def local_cluster_client(workers=2, timeout=60):
    """A context manager: a client of a LocalCluster of `workers` one-thread worker processes,
    both closed (their processes ended) on exit."""
    import contextlib

    distributed = __import__("pytest").importorskip("distributed")

    @contextlib.contextmanager
    def running():
        with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                      dashboard_address=None) as cluster, \
                distributed.Client(cluster, timeout=f"{timeout}s") as client:
            client.wait_for_workers(workers, timeout=timeout)
            yield client

    return running()


def kill_a_worker_when(client, ready, poll=0.01, timeout=60):
    """Ends one worker's process (SIGKILL, as a crash would) once ready() is true; returns what
    ready() returned then. The nanny starts a new worker in its place."""
    import os
    import signal
    import time

    deadline = time.monotonic() + timeout
    while not (state := ready()):
        assert time.monotonic() < deadline, "the run never reached the point of the kill"
        time.sleep(poll)
    pid = next(iter(client.run(os.getpid).values()))
    os.kill(pid, signal.SIGKILL)
    return state
