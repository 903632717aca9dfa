"""quilmo_lab.solve: cost per point, parallel scaling, and tmm-faster side by side.

    python bench/lab.py [--budget 0.5] [--quick]

Figures (each the best of repeats filling --budget seconds, contenders
interleaved round by round so that a busy machine slows all alike):
  1. one thread: seconds per (stack, angle, wavelength) point of solve (both
     polarisations, amplitudes and powers) over seconds per wavelength of
     quilmo.DataPy.simulate on the same stack, W = 10,000 (the pool of the
     `quilmo` module held to one thread with RAYON_NUM_THREADS=1);
  2. parallel efficiency t(1 thread) / (2 t(2 threads)) from 10^4 points up,
     for one stack of many wavelengths and for many stacks of 50 wavelengths;
  3. tmm-faster's calc_coherent (both polarisations in one call, OpenMP held to
     the same thread count through OMP_NUM_THREADS) against solve on the
     3-, 12- and 42-media stacks of bench/peers.py at W = 1,000, 30 degrees;
  4. an angle map, 91 angles x 1,000 wavelengths of the 42-media mirror;
  5. one thread: a coated window (10 coherent layers | 1 mm of glass treated
     by intensity | 10 coherent layers) per point against the same stack
     solved fully coherently, and the absorbed fractions per layer;
  6. a depth profile, 1,000 depths x 1,000 wavelengths of a 12-media
     absorbing stack, on 2 threads;
  7. every material model at 10^6 wavelengths against a direct NumPy
     expression of its formula (bench/lab_materials.py).
  8. design: the analytic Jacobian by every thickness and a dispersion call
     against one solve (bench/lab_design.py).
  9. distributed.solve of 10^4 stacks x 1000 wavelengths on a LocalCluster of 2
     worker processes against one local solve on 2 threads, in alternating turns:
     wall and CPU times and their ratios, a task's solve against its share of the
     run (the overhead per chunk), the scheduler's overhead per task and the
     default chunks (bench/lab_distributed.py; needs the "distributed" extra).
 10. anisotropic: solve_anisotropic per point against solve on isotropic
     stacks, and against pyElli's Solver4x4 on a 20-layer uniaxial stack
     (bench/lab_anisotropic.py).
 11. what an instrument sees, on the 42-media mirror at W = 1,000, 30 degrees:
     a cone of 10 degrees half angle and a 2 nm Gaussian slit at the default
     tolerance (1e-6 in R and T), each against a plain solve (medians of five
     rounds of interleaved repeats, with the load), with the points solved per
     point of the plain solve (the load-independent share of the cost) and the
     finest rule any wavelength took; the cone solved again (it keeps its rays)
     and new at each solve.
 12. single calls as tmm scripts make them: one-point solve, quilmo.DataPy at
     one wavelength, quilmo_lab.tmm against tmm (medians over interleaved
     rounds, with the load average), and tmm's own tests through each
     (bench/lab_tmm.py).
"""

import os

# Before numpy, quilmo and tmm_faster start their threads.
os.environ["RAYON_NUM_THREADS"] = "1"
THREADS = 2
os.environ.setdefault("OMP_NUM_THREADS", str(THREADS))

import argparse  # noqa: E402
import math  # noqa: E402
import pathlib  # noqa: E402
import sys  # noqa: E402

import numpy as np  # noqa: E402

import quilmo  # noqa: E402
import quilmo_lab as ql  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from peers import machine, stacks  # noqa: E402
import lab_anisotropic  # noqa: E402
import lab_design  # noqa: E402
import lab_distributed  # noqa: E402
import lab_materials  # noqa: E402
import lab_tmm  # noqa: E402
from simulate import interleaved_best  # noqa: E402

THETA = math.radians(30.0)


def per_point(budget: float, count: int) -> None:
    print(f"1. one thread, W = {count}: solve per point vs DataPy.simulate per wavelength")
    print(f"{'stack':<16} {'media':>5} {'DataPy ns':>10} {'solve ns':>10} {'ratio':>7}")
    for stack in stacks():
        wl = stack.wavelengths(count)
        n = stack.index_matrix(wl)
        data = quilmo.DataPy(stack.d, n, wl, THETA, 0.7)
        datapy, lab = interleaved_best(
            [data.simulate, lambda: ql.solve(n, stack.d, wl, THETA, threads=1)], budget)
        print(f"{stack.name:<16} {n.shape[0]:>5} {datapy / count * 1e9:>10.1f} {lab / count * 1e9:>10.1f} "
              f"{lab / datapy:>7.3f}")


def efficiency(budget: float) -> None:
    print(f"\n2. parallel efficiency on {THREADS} threads, t1 / ({THREADS} t{THREADS})")
    print(f"{'shape (B x W)':<22} {'points':>8} {'1 thread s':>11} {f'{THREADS} threads s':>11} {'efficiency':>10}")
    mirror = stacks()[1]
    for b, w in [(1, 10_000), (200, 50), (1, 100_000), (2_000, 50)]:
        wl = mirror.wavelengths(w)
        n = mirror.index_matrix(wl)
        d = mirror.d * np.linspace(0.95, 1.05, b)[:, None]
        one, two = interleaved_best([lambda: ql.solve(n, d, wl, THETA, threads=1),
                                     lambda: ql.solve(n, d, wl, THETA, threads=THREADS)], budget)
        print(f"{f'{b} x {w}':<22} {b * w:>8} {one:>11.3e} {two:>11.3e} {one / (THREADS * two):>10.2f}")


def against_tmm_faster(budget: float) -> None:
    print(f"\n3. tmm-faster calc_coherent vs solve, W = 1000, 30 deg, both polarisations, {THREADS} threads"
          f" (OMP_NUM_THREADS={os.environ['OMP_NUM_THREADS']})")
    try:
        import tmm_faster
    except ImportError as error:
        print(f"tmm-faster is not installed, left out ({error})")
        return
    print(f"{'stack':<16} {'media':>5} {'tmm-faster s':>12} {'solve s':>10} {'speed-up':>8} {'max |dR|, |dT|':>18}")
    angle_deg = np.array([math.degrees(THETA)])
    for stack in stacks():
        wl = stack.wavelengths(1000)
        n = stack.index_matrix(wl)
        thickness = np.array([math.inf, *stack.d, math.inf])

        def peer():
            return tmm_faster.calc_coherent(np.ascontiguousarray(n.T), thickness, angle_deg, wl)

        def ours():
            return ql.solve(n, stack.d, wl, THETA, threads=THREADS)

        theirs, mine = peer(), ours()
        dr = max(np.max(np.abs(np.ravel(theirs[f"R_{p}"]) - getattr(mine, f"R_{p}").ravel())) for p in "sp")
        dt = max(np.max(np.abs(np.ravel(theirs[f"T_{p}"]) - getattr(mine, f"T_{p}").ravel())) for p in "sp")
        peer_s, ours_s = interleaved_best([peer, ours], budget)
        print(f"{stack.name:<16} {n.shape[0]:>5} {peer_s:>12.3e} {ours_s:>10.3e} {peer_s / ours_s:>7.1f}x "
              f"{dr:>8.1e} {dt:>8.1e}")


def angle_map(budget: float) -> None:
    mirror = stacks()[1]
    wl = mirror.wavelengths(1000)
    n = mirror.index_matrix(wl)
    angles = np.radians(np.arange(91.0))
    (seconds,) = interleaved_best([lambda: ql.solve(n, mirror.d, wl, angles, threads=THREADS)], budget)
    print(f"\n4. angle map of the 42-media mirror, 91 angles x 1000 wavelengths, {THREADS} threads: "
          f"{seconds:.4f} s")


def coated_window() -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """Indices, thicknesses and coherence flags: ten layers of a TiO2/SiO2 coating on each
    face of a 1 mm window of slightly absorbing glass."""
    rng = np.random.default_rng(5)
    pairs = np.array([2.35, 1.46] * 5)
    n = np.array([1.0, *pairs, 1.52 + 1e-7j, *pairs[::-1], 1.0])
    d = np.array([*rng.uniform(40.0, 160.0, 10), 1e6, *rng.uniform(40.0, 160.0, 10)])
    coherent = np.ones(21, dtype=bool)
    coherent[10] = False
    return n, d, coherent


def incoherent_window(budget: float, count: int) -> None:
    print(f"\n5. one thread, W = {count}: coated 1 mm window, glass by intensity vs all coherent")
    n, d, coherent = coated_window()
    wl = np.linspace(400.0, 800.0, count)
    full, mixed, absorbed = interleaved_best([
        lambda: ql.solve(n, d, wl, THETA, threads=1),
        lambda: ql.solve(n, d, wl, THETA, coherent=coherent, threads=1),
        lambda: ql.solve(n, d, wl, THETA, coherent=coherent, threads=1).absorbed_s,
    ], budget)
    print(f"{'coherent ns':>12} {'mixed ns':>10} {'ratio':>7} {'+ absorbed ns':>14}")
    print(f"{full / count * 1e9:>12.1f} {mixed / count * 1e9:>10.1f} {mixed / full:>7.3f} "
          f"{absorbed / count * 1e9:>14.1f}")


def depth_profile(budget: float) -> None:
    rng = np.random.default_rng(6)
    n = np.array([1.0, *([2.0 + 0.01j, 1.46, 3.5 + 0.5j] * 4)[:10], 1.52])
    d = rng.uniform(20.0, 200.0, 10)
    depths = np.linspace(0.0, d.sum(), 1000)
    wl = np.linspace(400.0, 800.0, 1000)
    one, two = interleaved_best([lambda: ql.profile(n, d, wl, 0.3, depths, threads=1),
                                 lambda: ql.profile(n, d, wl, 0.3, depths, threads=THREADS)], budget)
    print(f"\n6. depth profile, 12 media, 1000 depths x 1000 wavelengths: {one * 1e3:.1f} ms on 1 thread, "
          f"{two * 1e3:.1f} ms on {THREADS}")


def measured(budget: float, rounds: int = 5) -> None:
    mirror = stacks()[1]
    wl = mirror.wavelengths(1000)
    n = mirror.index_matrix(wl)
    theta = math.radians(30.0)
    cone, slit = ql.Cone(math.radians(10.0)), ql.Slit(2.0)  # the default tolerance, 1e-6 in R and T
    load = os.getloadavg()[0]
    # rounds of interleaved repeats: the median of each round's best, and of the ratios within a
    # round (a load that changes between rounds moves all three contenders alike)
    times = np.array([interleaved_best([
        lambda: ql.solve(n, mirror.d, wl, theta, threads=THREADS),
        lambda: ql.solve(n, mirror.d, wl, theta, cone=cone, threads=THREADS),
        lambda: ql.solve(n, mirror.d, wl, theta, bandwidth=slit, threads=THREADS),
        # a new cone builds its rays at every level; the one above keeps them between solves
        lambda: ql.solve(n, mirror.d, wl, theta, cone=ql.Cone(math.radians(10.0)), threads=THREADS),
        # the same cone around normal incidence, as a spectrophotometer's beam, and off normal
        # incidence while holding the normal
        lambda: ql.solve(n, mirror.d, wl, 0.0, threads=THREADS),
        lambda: ql.solve(n, mirror.d, wl, 0.0, cone=cone, threads=THREADS),
        lambda: ql.solve(n, mirror.d, wl, math.radians(8.0), threads=THREADS),
        lambda: ql.solve(n, mirror.d, wl, math.radians(8.0), cone=cone, threads=THREADS),
    ], budget / rounds) for _ in range(rounds)])
    plain, coned, slitted, new_cone = np.median(times, axis=0)[:4]
    normal_ratio = np.median(times[:, 5] / times[:, 4])
    held_ratio = np.median(times[:, 7] / times[:, 6])
    cone_ratio, slit_ratio = np.median(times[:, 1] / times[:, 0]), np.median(times[:, 2] / times[:, 0])
    new_ratio = np.median(times[:, 3] / times[:, 0])
    # the points solved per point of the plain solve: the cost's share that no machine load changes
    coned_q = ql.solve(n, mirror.d, wl, theta, cone=cone).quadrature
    slitted_q = ql.solve(n, mirror.d, wl, theta, bandwidth=slit).quadrature
    print(f"\n11. the 42-media mirror, W = 1000, 30 degrees, {THREADS} threads, medians of {rounds} rounds "
          f"(load {load:.1f} to {os.getloadavg()[0]:.1f}): solve {plain * 1e3:.2f} ms; "
          f"10 degree cone {coned * 1e3:.1f} ms ({cone_ratio:.1f}x; {coned_q['points'] / wl.size:.1f} points "
          f"per point, up to {coned_q['rays']} rays per chief angle; a new cone {new_cone * 1e3:.1f} ms, "
          f"{new_ratio:.1f}x); 2 nm slit {slitted * 1e3:.2f} ms "
          f"({slit_ratio:.1f}x; {slitted_q['points'] / wl.size:.2f} points per point, up to "
          f"{slitted_q['wavelengths']} wavelengths per wavelength); the cone around 0 degrees "
          f"{normal_ratio:.1f}x, around 8 degrees {held_ratio:.1f}x")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=0.5, help="seconds of repeats per timing")
    parser.add_argument("--quick", action="store_true", help="a smoke run: tiny budget")
    args = parser.parse_args()
    budget = 0.01 if args.quick else args.budget
    print(machine())
    print(f"quilmo_lab default threads: {ql._engine.default_threads()}\n")
    per_point(budget, 10_000)
    efficiency(budget)
    against_tmm_faster(budget)
    angle_map(budget)
    incoherent_window(budget, 10_000)
    depth_profile(budget)
    print()
    lab_materials.run(10_000 if args.quick else 1_000_000, 1 if args.quick else 15)
    print()
    lab_design.run(max(budget, 0.05))
    print()
    try:
        lab_distributed.run(1, stacks=200, count=500, tasks=20) if args.quick else lab_distributed.run()
    except ImportError as missing:
        print(f"distributed.solve: skipped ({missing})")
    print()
    lab_anisotropic.run(max(budget, 0.05))
    print()
    measured(budget)
    print()
    lab_tmm.run(max(budget, 0.05))
    print(f"\nload average at the end: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
