"""quilmo against the thin-film codes people use today: agreement and seconds per call.

    python bench/peers.py [--sizes 50,1000,100000] [--budget 1.0] [--limit 60]

Peers, each optional (pip install "quilmo[bench]", and tmm-fast where PyTorch
is installed):
  numpy     the vectorised NumPy implementation of the tests (tests/numpy_tmm.py)
  tmm       the pure-Python `tmm` package, coh_tmm once per wavelength and polarisation
  pymoosh   PyMoosh's vectorised scattering-matrix spectrum (vectorized.spectrum_S_list)
  tmm-fast  tmm_fast.coh_tmm, PyTorch on the CPU, all wavelengths in one call

Every implementation gets the same stacks, the same wavelengths and the same
angles (30 degrees of incidence, 40 degrees of polarisation: s and p both
count) and returns the polarisation-weighted R and T, which quilmo computes in
one call and the peers in one call per polarisation. A call includes building
the peer's input objects from the arrays (as DataPy construction counts for
quilmo). The time of a call is the best of repeats filling --budget seconds. A
peer is skipped at a size where one call is estimated, from the smaller size,
to take more than --limit seconds.

The script then prints the largest differences to quilmo and, on a stack with
an absorbing exit medium, where and why the conventions part.
"""

import argparse
import math
import os
import pathlib
import platform
import sys
import time
import warnings
from dataclasses import dataclass
from typing import Callable

import numpy as np

import quilmo

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from numpy_tmm import reflectance_transmittance  # noqa: E402

THETA = math.radians(30.0)
PHI = math.radians(40.0)
S_WEIGHT, P_WEIGHT = math.cos(PHI) ** 2, math.sin(PHI) ** 2
AGREEMENT = 1e-10

# A medium's refractive index as a function of the wavelength (nm), or a constant.
Index = Callable[[np.ndarray], np.ndarray] | complex


@dataclass
class Stack:
    name: str
    media: list[Index]  # incidence medium, inner layers, exit medium
    d: np.ndarray       # inner layer thicknesses, nm
    low: float          # wavelength range, nm
    high: float

    def wavelengths(self, count: int) -> np.ndarray:
        return np.linspace(self.low, self.high, count)

    def index_matrix(self, wl: np.ndarray) -> np.ndarray:
        n = np.empty((len(self.media), wl.size), dtype=np.complex128)
        for row, medium in enumerate(self.media):
            n[row] = medium(wl) if callable(medium) else medium
        return n


def cauchy(a: float, b: float, k: float = 0.0) -> Callable[[np.ndarray], np.ndarray]:
    """n = a + b / wl^2, with an absorption falling as 1 / wl^2 from k at 400 nm."""
    def index(wl: np.ndarray) -> np.ndarray:
        return a + b / wl**2 + 1j * k * (400.0 / wl) ** 2
    return index


def stacks() -> list[Stack]:
    air, glass, mgf2, tio2, sio2 = 1.0, 1.52, 1.38, 2.35, 1.46
    quarter = lambda index: 550.0 / (4.0 * index)  # noqa: E731
    rng = np.random.default_rng(2026)
    layers = [cauchy(rng.uniform(1.4, 2.3), rng.uniform(0.0, 2.0e4), rng.uniform(0.0, 0.05))
              for _ in range(10)]
    return [
        Stack("AR coating", [air, mgf2, glass], np.array([quarter(mgf2)]), 400.0, 800.0),
        Stack("Bragg 20 pairs", [air] + [tio2, sio2] * 20 + [glass],
              np.array([quarter(tio2), quarter(sio2)] * 20), 400.0, 800.0),
        Stack("10 dispersive", [air, *layers, cauchy(1.5046, 4200.0)],
              rng.uniform(20.0, 300.0, 10), 400.0, 1000.0),
    ]


# --- the implementations: (stack, wl, n) -> (R, T) polarisation-weighted ---

def run_quilmo(stack, wl, n):
    result = quilmo.DataPy(stack.d, n, wl, THETA, PHI).simulate()
    return result.r, result.t


def run_numpy(stack, wl, n):
    return reflectance_transmittance(stack.d, n, wl, THETA, PHI)


def weighted(s, p):
    return s[0] * S_WEIGHT + p[0] * P_WEIGHT, s[1] * S_WEIGHT + p[1] * P_WEIGHT


def tmm_polarised(stack, wl, n, pol, theta=THETA):
    import tmm
    d_list = [math.inf, *stack.d.tolist(), math.inf]
    r, t = np.empty(wl.size), np.empty(wl.size)
    for i, wavelength in enumerate(wl.tolist()):
        out = tmm.coh_tmm(pol, n[:, i], d_list, theta, wavelength)
        r[i], t[i] = out["R"], out["T"]
    return r, t


def run_tmm(stack, wl, n):
    return weighted(tmm_polarised(stack, wl, n, "s"), tmm_polarised(stack, wl, n, "p"))


def pymoosh_polarised(stack, wl, polarization, theta=THETA):
    import PyMoosh
    from PyMoosh.vectorized import spectrum_S_list
    # Permittivities: constants, or functions PyMoosh evaluates on its (W, 1) wavelength column.
    materials = [(lambda w, f=m: f(w) ** 2) if callable(m) else complex(m) ** 2 for m in stack.media]
    structure = PyMoosh.Structure(materials, list(range(len(materials))),
                                  [0.0, *stack.d.tolist(), 0.0], verbose=False)
    # spectrum_S_list reshapes the array it is given: hand it a copy.
    _, _, r, t = spectrum_S_list(structure, theta, polarization, wl.copy())
    return np.real(r).ravel().astype(float), np.real(t).ravel().astype(float)


def run_pymoosh(stack, wl, n):
    return weighted(pymoosh_polarised(stack, wl, 0), pymoosh_polarised(stack, wl, 1))


def run_tmm_fast(stack, wl, n):
    import tmm_fast
    thickness = np.array([[math.inf, *stack.d.tolist(), math.inf]])
    angles = np.array([THETA])
    s = tmm_fast.coh_tmm("s", n[None], thickness, angles, wl, device="cpu")
    p = tmm_fast.coh_tmm("p", n[None], thickness, angles, wl, device="cpu")
    return weighted((s["R"][0, 0], s["T"][0, 0]), (p["R"][0, 0], p["T"][0, 0]))


def available(module: str) -> str | None:
    """None when `module` imports, else why not."""
    try:
        __import__(module)
    except Exception as error:  # noqa: BLE001 - any failure means the peer is absent
        return f"{type(error).__name__}: {error}"
    return None


PEERS = [
    ("numpy", None, run_numpy),
    ("tmm", "tmm", run_tmm),
    ("pymoosh", "PyMoosh.vectorized", run_pymoosh),
    ("tmm-fast", "tmm_fast", run_tmm_fast),
]


def best_time(function, budget: float) -> float:
    start = time.perf_counter()
    function()
    best = first = time.perf_counter() - start
    spent = first
    while spent < budget:
        start = time.perf_counter()
        function()
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        spent += elapsed
    return best


def machine() -> str:
    model = "unknown CPU"
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    threads = os.environ.get("RAYON_NUM_THREADS", "default")
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else float("nan")
    return (f"{model}, {os.cpu_count()} logical CPUs, load average {load:.2f} at start; "
            f"Python {platform.python_version()}, NumPy {np.__version__}, RAYON_NUM_THREADS={threads}")


def versions(peers) -> str:
    from importlib.metadata import PackageNotFoundError, version
    names = {"tmm": "tmm", "pymoosh": "PyMoosh", "tmm-fast": "tmm-fast"}
    parts = []
    for name, _, _ in peers:
        if name in names:
            try:
                parts.append(f"{name} {version(names[name])}")
            except PackageNotFoundError:
                pass
    try:
        import torch
        parts.append(f"torch {torch.__version__} ({torch.get_num_threads()} threads)")
    except Exception:  # noqa: BLE001
        pass
    return ", ".join(parts)


def cell(seconds: float | None, ours: float, note: str = "") -> str:
    if seconds is None:
        return f"{note:>20}"
    return f"{seconds:10.3e} {seconds / ours:8.1f}x"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="50,1000,100000",
                        help="wavelength counts, comma-separated (default: 50,1000,100000)")
    parser.add_argument("--budget", type=float, default=1.0, help="seconds of repeats per timing")
    parser.add_argument("--limit", type=float, default=60.0,
                        help="skip a peer where one call is estimated to take longer (s)")
    args = parser.parse_args()
    sizes = [int(size) for size in args.sizes.split(",")]
    warnings.filterwarnings("ignore")  # PyMoosh and torch talk about their own internals

    peers = []
    for name, module, function in PEERS:
        missing = available(module) if module else None
        if missing:
            print(f"{name}: not installed, left out ({missing})")
        else:
            peers.append((name, module, function))
    print(machine())
    print(versions(peers))
    print(f"theta = 30 deg, phi = 40 deg; seconds per call (best of repeats) and quilmo's speed-up\n")

    header = f"{'stack':<15} {'W':>7} {'quilmo s':>10} " + " ".join(f"{name + ' s, speed-up':>20}" for name, _, _ in peers)
    print(header)
    print("-" * len(header))
    worst: dict[tuple[str, str], tuple[float, float]] = {}
    for stack in stacks():
        previous: dict[str, tuple[int, float]] = {}
        for size in sizes:
            wl = stack.wavelengths(size)
            n = stack.index_matrix(wl)
            r_ours, t_ours = run_quilmo(stack, wl, n)
            ours = best_time(lambda: run_quilmo(stack, wl, n), args.budget)
            cells = []
            for name, _, function in peers:
                if name in previous:
                    count, seconds = previous[name]
                    estimate = seconds * size / count
                    if estimate > args.limit:
                        cells.append(cell(None, ours, f"skip (~{estimate:.0f} s)"))
                        continue
                start = time.perf_counter()
                r, t = function(stack, wl, n)
                first = time.perf_counter() - start
                seconds = first if first > args.budget else best_time(lambda: function(stack, wl, n), args.budget)
                previous[name] = (size, seconds)
                dr, dt = float(np.max(np.abs(r - r_ours))), float(np.max(np.abs(t - t_ours)))
                old = worst.get((stack.name, name), (0.0, 0.0))
                worst[(stack.name, name)] = (max(old[0], dr), max(old[1], dt))
                cells.append(cell(seconds, ours))
            print(f"{stack.name:<15} {size:>7} {ours:10.3e} " + " ".join(cells), flush=True)

    print(f"\nlargest |R - R_quilmo| and |T - T_quilmo| over the sizes run (agree: both < {AGREEMENT:g})")
    for stack in stacks():
        line = [f"{stack.name:<15}"]
        for name, _, _ in peers:
            if (stack.name, name) in worst:
                dr, dt = worst[(stack.name, name)]
                verdict = "agree" if max(dr, dt) < AGREEMENT else "DIFFER"
                line.append(f"{name}: {dr:.1e} {dt:.1e} {verdict}")
        print("  ".join(line))
    print("(the dispersive layers absorb, k > 0 in n + ik: agreement there means that every code\n"
          " counts a positive imaginary part as loss)")

    absorbing_exit(peers)
    if hasattr(os, "getloadavg"):
        print(f"\nload average at the end: {os.getloadavg()[0]:.2f}")


def absorbing_exit(peers) -> None:
    """s and p separately into an absorbing exit medium, where the T conventions part."""
    names = {name for name, _, _ in peers}
    stack = Stack("into n=1.5+0.3i", [1.0, 1.38, 1.5 + 0.3j], np.array([100.0]), 400.0, 800.0)
    wl = stack.wavelengths(200)
    n = stack.index_matrix(wl)
    print("\nabsorbing exit medium (air | 100 nm MgF2 | n = 1.5 + 0.3i), largest |T - T_quilmo|:")
    for label, phi, pol in (("s", 0.0, 0), ("p", math.pi / 2, 1)):
        ours = quilmo.DataPy(stack.d, n, wl, THETA, phi).simulate()
        found = []
        if "tmm" in names:
            found.append(("tmm", tmm_polarised(stack, wl, n, label)))
        if "pymoosh" in names:
            found.append(("pymoosh", pymoosh_polarised(stack, wl, pol)))
        found.append(("numpy", reflectance_transmittance(stack.d, n, wl, THETA, phi)))
        print(f"  {label}: " + "  ".join(f"{name} {np.max(np.abs(t - ours.t)):.1e}" for name, (_, t) in found)
              + f"   (R: {max(np.max(np.abs(r - ours.r)) for _, (r, _) in found):.1e})")
    print("  quilmo (and tests/numpy_tmm.py) weight |t|^2 by Re(n_out cos theta_out) / (n_in cos theta)\n"
          "  for both polarisations; tmm and PyMoosh use the p-polarised Poynting flux, which for\n"
          "  an absorbing exit medium is Re(n_out conj(cos theta_out)) / (n_in cos theta) (tmm) or\n"
          "  Re(eps_in k_out / (eps_out k_in)) (PyMoosh). tmm-fast accepts only real exit indices.")


if __name__ == "__main__":
    main()
