"""simulate() gives the same bits as it always has, over a fixed set of random calls.

The generator below builds calls of every kind the evaluation distinguishes:
media whose index is one double pair at every wavelength, dispersive media,
media that are constant but for one entry (one unit in the last place, the
sign of a zero, another NaN payload), absorbing and lossless layers, total
internal reflection, NaN, infinite and signed-zero entries anywhere, wavelength
counts on both sides of the sequential limit, and inconsistent shapes. The
digest of all results (and of the error text of each failing call) was taken
from the build before any reuse of values across wavelengths existed; any
change of a single bit, or of which call fails, changes it.

A NaN result enters the digest as one fixed NaN: which NaN an operation with
two NaN operands returns depends on their order in the machine instruction,
and a compiler may swap the operands of a sum or product (the same source
compiled inline elsewhere already changes signs and payloads of NaN results).
Where the results are NaN is still pinned, and every other bit.

    python tests/test_simulate_bits.py    prints the digest of the build on the path
"""

import hashlib
import random
import struct

import numpy as np

import quilmo

CALLS = 640
SEED = 20261208
DIGEST = "773fef944015929d61ab18ca35a678f23b8063e8be192f7e099c440e4c612ad8"

COUNTS = [1, 2, 3, 7, 31, 99, 100, 101, 102, 157, 256, 700, 1500]
NAN_PAYLOADS = [0x7FF8000000000000, 0xFFF8000000000000, 0x7FF8000000000001, 0x7FF4000000000000,
                0xFFFC00000000BEEF]


def _bits(pattern):
    return struct.unpack("<d", struct.pack("<Q", pattern))[0]


CANONICAL_NAN = _bits(0x7FF8000000000000)


class Draw:
    """The calls' values from one seeded stream (random() and getrandbits only)."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.wild = False  # whether special values may appear in the current call

    def chance(self, p):
        return self.rng.random() < p

    def uniform(self, low, high):
        return low + (high - low) * self.rng.random()

    def pick(self, options):
        return options[self.rng.getrandbits(32) % len(options)]

    def special(self):
        return self.pick([0.0, -0.0, float("inf"), float("-inf"), _bits(self.pick(NAN_PAYLOADS)),
                          5e-324, -5e-324, 1e308, 1e-300])

    def real(self, low, high, p_special):
        return self.special() if self.wild and self.chance(p_special) else self.uniform(low, high)


def _index(draw, kind, tir_incidence):
    if tir_incidence:
        return complex(draw.uniform(2.2, 3.5), 0.0)
    re = draw.real(1.0, 3.0, 0.02)
    if kind == "lossless":
        im = draw.pick([0.0, 0.0, -0.0])
    elif kind == "absorbing":
        im = draw.real(0.0, 0.6, 0.02)
    else:  # gain or strongly absorbing
        im = draw.pick([-1.0, 1.0]) * draw.uniform(0.0, 3.0)
    return complex(re, im)


def _set_component(n, row, col, part, value):
    view = n.view(np.float64).reshape(n.shape[0], n.shape[1], 2)
    view[row, col, part] = value


def _row(draw, n, j, count, tir_incidence):
    kind = draw.pick(["lossless", "lossless", "absorbing", "absorbing", "gain"])
    shape = draw.pick(["constant", "constant", "constant", "dispersive", "almost", "special"])
    if shape == "special" and not draw.wild:
        shape = "constant"
    base = _index(draw, kind, tir_incidence)
    n[j, :] = base
    if shape == "dispersive":
        for a in range(count):
            n[j, a] = base + complex(draw.uniform(-0.2, 0.2), 0.0 if kind == "lossless" else draw.uniform(0, 0.05))
    elif shape == "almost" and count > 1:
        a = draw.rng.getrandbits(32) % count
        part = draw.pick([0, 1])
        value = n[j, a].real if part == 0 else n[j, a].imag
        change = draw.pick(["ulp", "ulp", "zero sign", "payload"])
        if change == "ulp":
            value = float(np.nextafter(value, np.inf))
        elif change == "zero sign":
            _set_component(n, j, np.arange(count), part, 0.0)
            value = -0.0
        else:
            _set_component(n, j, np.arange(count), part, _bits(NAN_PAYLOADS[0]))
            value = _bits(draw.pick(NAN_PAYLOADS[1:]))
        _set_component(n, j, a, part, value)
    elif shape == "special":
        # constant special values, or special values scattered over the row
        if draw.chance(0.5):
            _set_component(n, j, np.arange(count), draw.pick([0, 1]), draw.special())
        else:
            for _ in range(1 + draw.rng.getrandbits(3)):
                _set_component(n, j, draw.rng.getrandbits(32) % count, draw.pick([0, 1]), draw.special())


def make_call(draw):
    """(d, n, wl, theta, phi) of one random call."""
    count = draw.pick(COUNTS)
    draw.wild = draw.chance(0.35)
    media = 2 + draw.rng.getrandbits(32) % 11
    tir = draw.chance(0.15)
    n = np.empty((media, count), dtype=np.complex128)
    for j in range(media):
        _row(draw, n, j, count, tir and j == 0)
    if tir:
        n[-1, :] = 1.0  # below the critical angle of the incidence medium
    layers = max(media - 2, 0)
    d = np.array([draw.real(0.0, 600.0, 0.03) for _ in range(layers)], dtype=float)
    if layers and draw.chance(0.05):
        d[0] = draw.uniform(1e4, 1e6)  # exponentials that overflow
    wl = np.array([draw.real(300.0, 1200.0, 0.01) for _ in range(count)], dtype=float)
    if draw.chance(0.2):
        wl[:] = draw.uniform(300.0, 1200.0)  # one wavelength repeated
    theta = draw.uniform(0.9, 1.5) if tir else draw.real(0.0, 1.5, 0.05)
    phi = draw.real(-3.2, 3.2, 0.05)
    # inconsistent shapes: too few columns, too few thicknesses, a single row
    broken = draw.rng.getrandbits(32) % 40
    if broken == 0 and count > 1:
        n = n[:, : count - 1 - draw.rng.getrandbits(32) % (count - 1)]
    elif broken == 1 and layers:
        d = d[: layers - 1]
    elif broken == 2:
        n = n[:1]
    return d, np.ascontiguousarray(n), wl, theta, phi


def results_digest(calls=CALLS, seed=SEED):
    draw = Draw(seed)
    digest = hashlib.sha256()
    for index in range(calls):
        d, n, wl, theta, phi = make_call(draw)
        try:
            result = quilmo.DataPy(d, n, wl, theta, phi).simulate()
        except BaseException as error:  # noqa: BLE001 - PanicException derives from BaseException
            digest.update(f"{index} {type(error).__name__}: {error}\n".encode())
            continue
        digest.update(f"{index} {wl.size}\n".encode())
        for values in (result.r, result.t):
            digest.update(np.where(np.isnan(values), CANONICAL_NAN, values).tobytes())
    return digest.hexdigest()


def test_results_have_the_recorded_bits():
    assert results_digest() == DIGEST


if __name__ == "__main__":
    print(results_digest())
