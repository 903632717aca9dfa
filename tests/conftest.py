import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import quilmo


def _panic_exception_class():
    try:
        quilmo.DataPy(np.zeros(1), np.zeros(1, complex), np.zeros(1), 0.0, 0.0)
    except BaseException as error:  # noqa: BLE001 - the class is what we want
        return type(error)
    raise AssertionError("a one-dimensional n must fail")


PanicException = _panic_exception_class()


def run_python(code: str, env: dict | None = None, timeout: float = 120) -> subprocess.CompletedProcess:
    """Runs `code` in a fresh interpreter with this one's environment plus `env`."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=timeout, env=full_env)


def uniform_stack(indices, wl, thicknesses=()):
    """A stack whose media have wavelength-independent indices."""
    wl = np.asarray(wl, dtype=float)
    n = np.repeat(np.asarray(indices, dtype=complex)[:, None], wl.size, axis=1)
    return np.asarray(thicknesses, dtype=float), n, wl


def random_stack(rng, media, count, absorbing, dispersive=True):
    """A random stack of `media` media over `count` wavelengths."""
    wl = np.sort(rng.uniform(300.0, 1200.0, count))
    real = rng.uniform(1.0, 2.8, (media, 1 if not dispersive else count))
    imag = rng.uniform(0.0, 0.3, real.shape) if absorbing else np.zeros(real.shape)
    imag[0] = 0.0  # a lossless incidence medium keeps the power balance meaningful
    n = np.broadcast_to(real + 1j * imag, (media, count)).copy()
    d = rng.uniform(5.0, 400.0, max(media - 2, 0))
    return d, n, wl


@pytest.fixture(autouse=True)
def floating_point_state_is_untouched():
    """No call may leave the floating-point environment changed."""
    before = np.geterr()
    yield
    assert np.geterr() == before
