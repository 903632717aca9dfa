"""Cost of quilmo_lab.solve_anisotropic: against solve on isotropic stacks, and pyElli side by side.

    python bench/lab_anisotropic.py [--quick]

1. one thread, W = 1000: seconds per point of solve_anisotropic on the 3-, 12-
   and 42-media stacks of bench/peers.py (every medium an isotropic tensor)
   over those of solve on the same stacks;
2. a 20-layer uniaxial stack (optic axes tilted and turned, so that s and p
   couple), W = 1000, 50 degrees, 2 threads each: pyElli's Solver4x4 with its
   default propagator (the matrix exponential) and with its eigenvalue
   propagator against solve_anisotropic, and the largest difference of R and
   T over every polarisation pair.
"""

import os

# Before NumPy starts its threads: pyElli's linear algebra gets as many as we do.
THREADS = 2
os.environ.setdefault("OMP_NUM_THREADS", str(THREADS))

import argparse  # noqa: E402
import math  # noqa: E402
import pathlib  # noqa: E402
import sys  # noqa: E402
import warnings  # noqa: E402

import numpy as np  # noqa: E402

import quilmo_lab as ql  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from peers import stacks  # noqa: E402
from simulate import best_time  # noqa: E402


ROUNDS = 5


def against_solve(budget: float) -> None:
    count = 1000
    print(f"one thread, W = {count}: solve_anisotropic on isotropic tensors vs solve, per point")
    print(f"{'stack':<16} {'media':>5} {'solve ns':>10} {'4x4 ns':>10} {'ratio':>7}")
    for stack in stacks():
        wl = stack.wavelengths(count)
        n = stack.index_matrix(wl)
        eps = np.einsum("mw,ij->mijw", n * n, np.eye(3))
        # Rounds in turn, so that a busy machine slows both alike.
        iso = aniso = math.inf
        for _ in range(ROUNDS):
            iso = min(iso, best_time(lambda: ql.solve(n, stack.d, wl, 0.5, threads=1), budget / ROUNDS))
            aniso = min(aniso, best_time(lambda: ql.solve_anisotropic(eps, stack.d, wl, 0.5, threads=1),
                                         budget / ROUNDS))
        print(f"{stack.name:<16} {n.shape[0]:>5} {iso / count * 1e9:>10.1f} {aniso / count * 1e9:>10.1f} "
              f"{aniso / iso:>7.2f}")


def uniaxial_stack(elli):  # type: ignore[no-untyped-def]
    rng = np.random.default_rng(4)
    layers, tensors = [], []
    for j in range(20):
        no, ne = 1.5 + 0.2 * (j % 2), 1.6 + 0.2 * (j % 2)
        material = elli.UniaxialMaterial(elli.ConstantRefractiveIndex(n=no), elli.ConstantRefractiveIndex(n=ne))
        material.set_rotation(elli.rotation_euler(*rng.uniform(0.0, 90.0, 3)))
        layers.append(elli.Layer(material, float(rng.uniform(50.0, 150.0))))
    front = elli.IsotropicMaterial(elli.ConstantRefractiveIndex(n=1.0))
    back = elli.IsotropicMaterial(elli.ConstantRefractiveIndex(n=1.52))
    return elli.Structure(front, layers, back), [front, *(layer.material for layer in layers), back], layers


def against_pyelli(budget: float) -> None:
    count, theta = 1000, 50.0
    print(f"\n20-layer uniaxial stack, W = {count}, {theta:g} deg, {THREADS} threads "
          f"(OMP_NUM_THREADS={os.environ.get('OMP_NUM_THREADS', 'unset')})")
    try:
        import elli
    except ImportError as error:
        print(f"pyElli is not installed, left out ({error})")
        return
    warnings.simplefilter("ignore")
    wl = np.linspace(400.0, 800.0, count)
    structure, materials, layers = uniaxial_stack(elli)
    eps = np.stack([np.moveaxis(m.get_tensor(wl), 0, -1) for m in materials])
    d = [layer.thickness for layer in layers]

    def ours():  # type: ignore[no-untyped-def]
        return ql.solve_anisotropic(eps, d, wl, math.radians(theta), threads=THREADS)

    mine = ours()
    ours_s = best_time(ours, budget)
    print(f"{'contender':<28} {'seconds':>9} {'ours faster':>11} {'max |dR|, |dT|':>18}")
    print(f"{'quilmo_lab solve_anisotropic':<28} {ours_s:>9.4f}")
    flip = (..., slice(None, None, -1), slice(None, None, -1))
    for name, propagator in (("pyElli Solver4x4 (expm)", elli.PropagatorExpm()),
                             ("pyElli Solver4x4 (eig)", elli.PropagatorEig())):
        def peer():  # type: ignore[no-untyped-def]
            return elli.Experiment(structure, wl, theta).evaluate(elli.Solver4x4, propagator=propagator)

        theirs = peer()
        dr = np.max(np.abs(theirs.R_matrix[flip] - mine.R_matrix[0, 0]))
        dt = np.max(np.abs(theirs.T_matrix[flip] - mine.T_matrix[0, 0]))
        peer_s = best_time(peer, budget)
        print(f"{name:<28} {peer_s:>9.4f} {peer_s / ours_s:>10.1f}x {dr:>8.1e} {dt:>8.1e}")


def run(budget: float = 1.0) -> None:
    """Prints both tables, each timing the best of repeats filling `budget` seconds."""
    against_solve(budget)
    against_pyelli(budget)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a smoke run: tiny budget")
    args = parser.parse_args()
    run(0.01 if args.quick else 1.0)
