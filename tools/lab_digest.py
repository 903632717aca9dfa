"""Prints a digest of every output of quilmo_lab over a seeded corpus of stacks.

Run before and after a change to the engine or the fronts that must not change
a single result: equal digests mean equal bits. The corpus holds coherent,
mixed (incoherent layers) and opaque stacks, batches sharing indices or
thicknesses, constant and dispersive indices, several angles and a few
non-finite inputs; it is solved at threads 1, 2 and 3 (the digest of each
output must not depend on the count) and covers amplitudes, powers, absorbed
fractions, profiles, thickness derivatives, dispersion, and design and fit
results on fixed seeds. Every NaN counts as the same NaN.

    python tools/lab_digest.py            # one line per output, then the total
    python tools/lab_digest.py --total    # the total only
"""

from __future__ import annotations

import argparse
import hashlib
import sys
import warnings

import numpy as np

import quilmo_lab as ql

THREADS = (1, 2, 3)


def _random_stack(rng: np.random.Generator, media: int, columns: int, lossy: float) -> np.ndarray:
    n = 1.3 + 1.2 * rng.random((media, columns)) + 1j * lossy * rng.random((media, columns))
    n[0] = 1.0 + 0.5 * rng.random()  # a lossless incidence medium, the same at every wavelength
    return n


def corpus() -> list[tuple[str, dict[str, object]]]:
    """Named solve problems: the keyword arguments of ql.solve."""
    rng = np.random.default_rng(20261209)
    wl = np.linspace(380.0, 1200.0, 157)
    angles = np.array([0.0, 0.3, 0.9, 1.4])
    cases: list[tuple[str, dict[str, object]]] = []
    for media in (2, 3, 6, 13, 42):
        layers = media - 2
        n = _random_stack(rng, media, wl.size, 0.05)
        d = 20.0 + 300.0 * rng.random(layers)
        cases.append((f"coherent {media} dispersive", dict(indices=n, thicknesses=d, wavelengths=wl, angles=angles)))
        constant = _random_stack(rng, media, 1, 0.2)[:, 0]
        batch = 20.0 + 300.0 * rng.random((5, layers))
        cases.append((f"coherent {media} constant, batch of thicknesses",
                      dict(indices=constant, thicknesses=batch, wavelengths=wl, angles=angles)))
        indices = np.stack([_random_stack(rng, media, wl.size, 0.1) for _ in range(3)])
        cases.append((f"coherent {media} batch of indices",
                      dict(indices=indices, thicknesses=d, wavelengths=wl, angles=angles[:2])))
    # periodic stacks: repeated media, interfaces and layers
    hl = np.array([1.0] + [2.35, 1.46] * 10 + [1.52], dtype=complex)
    cases.append(("bragg", dict(indices=hl, thicknesses=np.array([58.5, 94.2] * 10), wavelengths=wl, angles=angles)))
    disp = np.empty((22, wl.size), complex)
    disp[0] = 1.0
    disp[1:-1:2] = 2.3 + 2e4 / wl**2
    disp[2:-1:2] = 1.45 + 3e3 / wl**2 + 1e-4j
    disp[-1] = 1.52
    cases.append(("bragg dispersive", dict(indices=disp, thicknesses=np.array([60.0, 95.0] * 10), wavelengths=wl,
                                           angles=angles)))
    # opaque layers: a thick metal and a strongly absorbing thick slab
    metal = np.array([1.0, 1.38, 0.05 + 3.5j, 1.46, 1.52], dtype=complex)
    cases.append(("opaque metal", dict(indices=metal, thicknesses=np.array([100.0, 2e4, 80.0]), wavelengths=wl,
                                       angles=angles)))
    slab = np.array([1.2, 2.0 + 0.8j, 1.5 + 0.01j, 2.2], dtype=complex)
    cases.append(("opaque slab", dict(indices=slab, thicknesses=np.array([5e5, 3e3]), wavelengths=wl,
                                      angles=angles)))
    # total internal reflection and an evanescent layer
    tir = np.array([1.8, 1.0, 1.7, 1.3], dtype=complex)
    cases.append(("tir", dict(indices=tir, thicknesses=np.array([150.0, 90.0]), wavelengths=wl, angles=angles)))
    # non-finite inputs flow through
    bad = _random_stack(rng, 5, wl.size, 0.05)
    bad[2, 7] = np.nan
    bad[3, 11] = np.inf
    bad_wl = wl.copy()
    bad_wl[20] = np.nan
    cases.append(("non-finite", dict(indices=bad, thicknesses=np.array([10.0, np.inf, 30.0]), wavelengths=bad_wl,
                                     angles=np.array([0.2, np.nan]))))
    return cases


def mixed_masks(media: int) -> list[np.ndarray]:
    layers = media - 2
    if layers == 0:
        return []
    masks = [np.ones(layers, bool)]
    masks[0][layers // 2] = False
    if layers >= 3:
        alternate = np.arange(layers) % 3 != 1
        masks.append(alternate)
    return masks


class Digest:
    def __init__(self) -> None:
        self.parts: dict[str, hashlib._Hash] = {}

    def add(self, name: str, array: object) -> None:
        value = np.array(array)
        # The sign and payload of a NaN depend on the order in which the
        # compiler puts the operands of a commutative operation: not a result.
        if value.dtype.kind == "c":
            value = value.view(np.float64)
        if value.dtype.kind == "f":
            value[np.isnan(value)] = np.nan
        h = self.parts.setdefault(name, hashlib.sha256())
        h.update(str(value.dtype).encode() + str(value.shape).encode())
        h.update(value.tobytes())

    def lines(self) -> list[str]:
        return [f"{name:>28}  {h.hexdigest()[:24]}" for name, h in sorted(self.parts.items())]

    def total(self) -> str:
        h = hashlib.sha256()
        for name, part in sorted(self.parts.items()):
            h.update(name.encode() + part.digest())
        return h.hexdigest()


def solve_outputs(digest: Digest, threads: int) -> None:
    for name, case in corpus():
        res = ql.solve(**case, threads=threads)
        for q in ("r_s", "r_p", "t_s", "t_p", "R_s", "R_p", "T_s", "T_p", "psi", "delta",
                  "absorbed_s", "absorbed_p"):
            digest.add(f"solve.{q}", getattr(res, q))
        digest.add("solve.R(phi)", res.R(0.7))
        res = ql.solve(**case, threads=threads, derivatives=True)
        for q in ("dr_s", "dr_p", "dt_s", "dt_p", "dR_s", "dR_p", "dT_s", "dT_p", "dpsi", "ddelta"):
            digest.add(f"jacobian.{q}", getattr(res, q))
        media = np.asarray(case["indices"]).shape[-2] if np.ndim(case["indices"]) >= 2 else np.size(case["indices"])
        for mask in mixed_masks(media):
            mixed = ql.solve(**case, coherent=mask, threads=threads, derivatives=True)
            for q in ("R_s", "R_p", "T_s", "T_p", "absorbed_s", "absorbed_p", "dR_s", "dR_p", "dT_s", "dT_p"):
                digest.add(f"mixed.{q}", getattr(mixed, q))


def profile_outputs(digest: Digest, threads: int) -> None:
    wl = np.linspace(400.0, 900.0, 61)
    depths = np.concatenate([np.linspace(-50.0, 600.0, 83), [0.0, 100.0, 1e9, np.nan]])
    stacks = [
        (np.array([1.0, 2.0 + 0.1j, 1.5, 3.0 + 0.5j, 1.5], complex), np.array([100.0, 200.0, 50.0])),
        (np.array([1.0, 1.38, 0.05 + 3.5j, 1.46, 1.52 + 0.01j], complex), np.array([100.0, 2e4, 80.0])),
    ]
    for n, d in stacks:
        for angle in (0.0, 0.6):
            for mask in [None, *mixed_masks(n.size)]:
                prof = ql.profile(n, d, wl, angle, depths, coherent=mask, threads=threads)
                for q in ("density_s", "density_p", "E2_s", "E2_p"):
                    digest.add(f"profile.{q}", getattr(prof, q))


def dispersion_outputs(digest: Digest, threads: int) -> None:
    wl = np.linspace(700.0, 900.0, 41)
    stack = ql.Stack([ql.Layer("TiO2", 80.0), ql.Layer("SiO2 film", 130.0)] * 6, exit="N-BK7")
    batch = stack.thicknesses * (1.0 + 0.01 * np.arange(3))[:, None]
    for side in ("r", "t"):
        for pol in ("s", "p"):
            for angle in (0.0, 0.4):
                disp = ql.dispersion(stack, wl, angle, side, pol, threads=threads)
                many = ql.dispersion(stack, wl, angle, side, pol, thicknesses=batch, threads=threads)
                for q in ("phase", "gd", "gdd", "tod"):
                    digest.add(f"dispersion.{q}", getattr(disp, q))
                    digest.add(f"dispersion.batch.{q}", getattr(many, q))


def design_outputs(digest: Digest, threads: int) -> None:
    from quilmo_lab import design

    band = np.linspace(450.0, 650.0, 21)
    start = ql.Stack([ql.Layer("TiO2", 20.0), ql.Layer("SiO2 film", 100.0)], exit="N-BK7")
    targets = [design.Target("R", band, value=0.0, tolerance=0.01),
               design.Target("GD", np.linspace(500.0, 600.0, 5), value=0.0, polarisation="s", tolerance=10.0)]
    refined = design.refine(start, targets, threads=threads)
    digest.add("design.refine", refined.stack.thicknesses)
    digest.add("design.refine.merit", refined.merit)
    grown = design.needle(start, targets[:1], ("TiO2", "SiO2 film"), max_insertions=2, threads=threads)
    digest.add("design.needle", grown.stack.thicknesses)
    spread = design.tolerance(start, targets, 1.0, samples=16, seed=7, threads=threads)
    digest.add("design.tolerance", spread.merit)
    for t in spread.targets:
        digest.add("design.tolerance.values", t.values)
    mixed = ql.Stack([ql.Layer("SiO2 film", 90.0), ql.Layer("N-BK7", 1e6, coherent=False), ql.Layer("SiO2 film", 90.0)])
    refined_mixed = design.refine(mixed, [design.Target("T", band, at_least=0.96, tolerance=0.01)], threads=threads,
                                  fixed=[1])
    digest.add("design.refine.mixed", refined_mixed.stack.thicknesses)


def fit_outputs(digest: Digest, threads: int) -> None:
    from quilmo_lab.fit import fit

    wl = np.linspace(400.0, 800.0, 41)
    angles = np.array([1.0, 1.2])

    def model(d: float, a: float, b: float) -> ql.Stack:
        return ql.Stack([ql.Layer(ql.Cauchy(a, b), d)], exit=3.9 + 0.02j)

    truth = model(105.0, 1.46, 4500.0)
    res = truth.solve(wl, angles, threads=threads)
    noise = np.random.default_rng(3).normal(0.0, 1e-3, (2,) + res.psi.shape[1:])
    measured = {"psi": res.psi[0] + noise[0], "delta": res.delta[0] + noise[1]}
    fitted = fit(model, {"d": 95.0, "a": 1.5, "b": 4000.0}, wl, measured, angles=angles, thickness={"d": 0},
                 threads=threads)
    digest.add("fit.values", np.array(list(fitted.values.values())))
    digest.add("fit.covariance", fitted.covariance)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--total", action="store_true", help="print the total digest only")
    args = parser.parse_args()
    warnings.simplefilter("ignore")
    digests = []
    for threads in THREADS:
        digest = Digest()
        with np.errstate(all="ignore"):
            for part in (solve_outputs, profile_outputs, dispersion_outputs, design_outputs, fit_outputs):
                part(digest, threads)
        digests.append(digest)
    totals = {d.total() for d in digests}
    if len(totals) != 1:
        for threads, digest in zip(THREADS, digests):
            print(f"threads={threads}", *digest.lines(), sep="\n")
        print("the digest depends on the thread count", file=sys.stderr)
        return 1
    if not args.total:
        print(*digests[0].lines(), sep="\n")
    print(f"total ({len(digests[0].parts)} outputs, threads {', '.join(map(str, THREADS))}): {totals.pop()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
