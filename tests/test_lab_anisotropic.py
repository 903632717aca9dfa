"""The 4x4 solve: its isotropic limit, pyElli's Solver4x4 as an independent oracle, closed forms,
energy, the Jones-Mueller relations, and the materials and stack fronts around it."""

from __future__ import annotations

import warnings

import numpy as np
import pytest

import quilmo_lab as ql
from quilmo_lab._media import TensorMaterial
from quilmo_lab._mueller import stokes

WAVELENGTHS = np.linspace(420.0, 780.0, 5)


class _Fixed(TensorMaterial):
    """A tensor given per wavelength of one solve (pyElli's, for the comparisons)."""

    def __init__(self, tensor: np.ndarray) -> None:
        self.tensor = tensor
        self.name = "fixed tensor"

    def permittivity(self, wavelengths: object) -> np.ndarray:
        return self.tensor


def isotropic_tensors(n: np.ndarray) -> np.ndarray:
    """(B, media, 3, 3, W) tensors n² I of (B, media, W) indices."""
    return np.einsum("bmw,ij->bmijw", n * n, np.eye(3))


def random_stack(rng: np.random.Generator, kind: str) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    media = int(rng.integers(3, 7))
    n = rng.uniform(1.2, 3.0, media) + 0j
    n[0] = rng.uniform(1.0, 2.0)
    d = rng.uniform(10.0, 400.0, media - 2)
    angles = np.array([0.0, 0.4, 1.1])
    if kind == "absorbing":
        n[1:] += 1j * rng.uniform(0.0, 0.6, media - 1)
    elif kind == "tir":
        n[0], n[-1], angles = 2.4, 1.0, np.array([0.2, 0.9, 1.4])
    elif kind == "opaque":
        n[1] += 2.0j
        d[0] = 1e6
    return n, d, angles


@pytest.mark.parametrize("kind", ["lossless", "absorbing", "tir", "opaque"])
def test_isotropic_stacks_give_the_amplitudes_of_solve(kind: str) -> None:
    rng = np.random.default_rng(["lossless", "absorbing", "tir", "opaque"].index(kind))
    for _ in range(8):
        n, d, angles = random_stack(rng, kind)
        iso = ql.solve(n, d, WAVELENGTHS, angles)
        res = ql.solve_anisotropic(isotropic_tensors(n[None, :, None] * np.ones(WAVELENGTHS.size)),
                                   d, WAVELENGTHS, angles)
        np.testing.assert_allclose(res.jones_r[..., 0, 0], iso.r_s, rtol=0, atol=1e-12)
        np.testing.assert_allclose(res.jones_r[..., 1, 1], iso.r_p, rtol=0, atol=1e-12)
        np.testing.assert_allclose(res.jones_t[..., 0, 0], iso.t_s, rtol=0, atol=1e-12)
        np.testing.assert_allclose(res.jones_t[..., 1, 1], iso.t_p, rtol=0, atol=1e-12)
        for off in (res.jones_r[..., 0, 1], res.jones_r[..., 1, 0], res.jones_t[..., 0, 1], res.jones_t[..., 1, 0]):
            assert not off.any()
        for polarisation in ("s", "p", "unpolarized", 0.3):
            np.testing.assert_allclose(res.R(polarisation), iso.R(polarisation), rtol=0, atol=1e-12)
            np.testing.assert_allclose(res.T(polarisation), iso.T(polarisation), rtol=0, atol=1e-12)
        np.testing.assert_allclose(res.psi, iso.psi, rtol=0, atol=1e-12)
        defined = np.abs(iso.r_s) > 1e-6
        wrapped = np.angle(np.exp(1j * (res.delta - iso.delta)))
        assert np.all(np.abs(wrapped[defined]) < 1e-9)


def elli_stack(rng: np.random.Generator, elli, exit_index: complex):  # type: ignore[no-untyped-def]
    def index():  # type: ignore[no-untyped-def]
        return elli.ConstantRefractiveIndex(n=rng.uniform(1.4, 2.3) + 1j * rng.uniform(0.0, 0.3) * (rng.random() < 0.5))

    layers = []
    for kind in rng.choice(["uniaxial", "biaxial", "isotropic"], size=int(rng.integers(1, 4))):
        if kind == "uniaxial":
            material = elli.UniaxialMaterial(index(), index())
        elif kind == "biaxial":
            material = elli.BiaxialMaterial(index(), index(), index())
        else:
            material = elli.IsotropicMaterial(index())
        if kind != "isotropic":
            material.set_rotation(elli.rotation_euler(*rng.uniform(0.0, 180.0, 3)))
        layers.append(elli.Layer(material, rng.uniform(30.0, 500.0)))
    front = elli.IsotropicMaterial(elli.ConstantRefractiveIndex(n=rng.uniform(1.0, 1.5)))
    back = elli.IsotropicMaterial(elli.ConstantRefractiveIndex(n=exit_index))
    return elli.Structure(front, layers, back), [front, *(layer.material for layer in layers), back], layers


@pytest.mark.parametrize("seed", range(6))
def test_random_anisotropic_stacks_agree_with_pyelli(seed: int) -> None:
    elli = pytest.importorskip("elli", reason="pyElli is not installed")
    rng = np.random.default_rng(100 + seed)
    # A lossless exit medium: into an absorbing one pyElli weighs the p flux as the s flux
    # (Re(n cos)), where we take the Poynting flux Re(n conj(cos)) as `solve` does.
    structure, materials, layers = elli_stack(rng, elli, rng.uniform(1.3, 2.0))
    theta = float(rng.uniform(0.0, 70.0))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # pyElli's own deprecation notices
        reference = elli.Experiment(structure, WAVELENGTHS, theta).evaluate(elli.Solver4x4)
    # The same tensors (pyElli's, in the shared lab frame) through our solve.
    eps = np.stack([np.moveaxis(m.get_tensor(WAVELENGTHS), 0, -1) for m in materials])
    res = ql.solve_anisotropic(eps, [layer.thickness for layer in layers], WAVELENGTHS, np.radians(theta))
    # pyElli orders polarisations (p, s): both matrix axes reversed.
    flip = (..., slice(None, None, -1), slice(None, None, -1))
    np.testing.assert_allclose(res.R_matrix[0, 0], reference.R_matrix[flip], rtol=0, atol=1e-9)
    np.testing.assert_allclose(res.T_matrix[0, 0], reference.T_matrix[flip], rtol=0, atol=1e-9)
    np.testing.assert_allclose(res.jones_r[0, 0], reference.jones_matrix_r[flip], rtol=0, atol=1e-9)
    # pyElli's Mueller matrix is normalised by m00, with Q = p - s and V of the opposite
    # sign: M_pyelli = D M D / m00, D = diag(1, -1, 1, -1).
    d = np.diag([1.0, -1.0, 1.0, -1.0])
    mapped = d @ res.mueller_r[0, 0] @ d / res.mueller_r[0, 0, :, :1, :1]
    np.testing.assert_allclose(mapped, reference.mueller_matrix, rtol=0, atol=1e-9)


@pytest.mark.parametrize("axis_kind", ["normal", "in_plane"])
def test_uniaxial_substrate_gives_the_extraordinary_fresnel_formulas(axis_kind: str) -> None:
    no, ne = 1.55, 1.72
    theta = np.linspace(0.0, 1.4, 8)
    axis = (0.0, 0.0) if axis_kind == "normal" else (np.pi / 2, 0.0)
    eps = ql.Uniaxial(no, ne, axis=axis).permittivity([600.0])
    res = ql.solve_anisotropic(np.stack([np.eye(3)[..., None], eps]), [], [600.0], theta)
    s, c = np.sin(theta), np.cos(theta)
    if axis_kind == "normal":
        kp, y = np.sqrt(ne**2 - s**2), no * ne
    else:
        kp, y = np.sqrt(no**2 - s**2), no * ne
    r_p = (y * c - kp) / (y * c + kp)
    r_s = (c - np.sqrt(no**2 - s**2)) / (c + np.sqrt(no**2 - s**2))
    np.testing.assert_allclose(res.jones_r[0, :, 0, 1, 1], r_p, rtol=0, atol=1e-13)
    np.testing.assert_allclose(res.jones_r[0, :, 0, 0, 0], r_s, rtol=0, atol=1e-13)


def test_half_wave_plate_at_45_degrees_turns_s_into_p() -> None:
    no, ne, wl = 1.5, 1.6, 550.0
    eps = ql.Uniaxial(no, ne, axis=(np.pi / 2, np.pi / 4)).permittivity([wl])
    matched = no**2 * np.eye(3)[..., None]
    res = ql.solve_anisotropic(np.stack([matched, eps, matched]), [wl / (2 * (ne - no))], [wl])
    assert abs(res.T_matrix[0, 0, 0, 1, 0] - 1.0) < 1e-12
    assert res.T_matrix[0, 0, 0, 0, 0] < 1e-24


def test_cholesteric_layer_reflects_one_circular_polarisation_in_its_band() -> None:
    no, ne, pitch, pitches = 1.5, 1.7, 350.0, 30
    mean = (no + ne) / 2
    cell = ql.TwistedLayer(ql.Uniaxial(no, ne, axis=(np.pi / 2, 0.0)), pitch * pitches, twist=2 * np.pi * pitches,
                           slices=16 * pitches)
    stack = ql.Stack([cell], incident=mean, exit=mean)
    centre = mean * pitch
    wl = np.array([no * pitch - 60.0, centre, ne * pitch + 60.0])
    res = stack.solve(wl)
    left, right = np.array([1.0, 1j]) / np.sqrt(2), np.array([1.0, -1j]) / np.sqrt(2)
    reflected = sorted([res.R(left)[0, 0, 1], res.R(right)[0, 0, 1]])
    assert reflected[1] > 0.99 and reflected[0] < 5e-3  # the rest: index mismatch at the faces
    assert np.all(res.R(left)[0, 0, [0, 2]] < 0.2) and np.all(res.R(right)[0, 0, [0, 2]] < 0.2)


def random_tensor(rng: np.random.Generator, loss: float) -> np.ndarray:
    principal = rng.uniform(1.5, 2.5, 3) + 1j * loss * rng.uniform(0.0, 1.0, 3)
    return ql.rotate_tensor(np.diag(principal**2), tuple(rng.uniform(0.0, np.pi, 3)))


def gyrotropic_tensor(rng: np.random.Generator) -> np.ndarray:
    """A lossless magneto-optic medium: Hermitian, not symmetric, turned at random."""
    e, g = rng.uniform(2.0, 4.0), rng.uniform(0.05, 0.3)
    return ql.rotate_tensor(np.array([[e, 1j * g, 0.0], [-1j * g, e, 0.0], [0.0, 0.0, e + 0.2]]),
                            tuple(rng.uniform(0.0, np.pi, 3)))


@pytest.mark.parametrize("exit_kind", ["isotropic", "anisotropic", "magneto-optic"])
def test_lossless_stacks_conserve_energy(exit_kind: str) -> None:
    rng = np.random.default_rng(7)
    for _ in range(5):
        exit_tensor = {"anisotropic": random_tensor(rng, 0.0), "magneto-optic": gyrotropic_tensor(rng),
                       "isotropic": 2.1 * np.eye(3)}[exit_kind]
        eps = np.stack([1.2 * np.eye(3), random_tensor(rng, 0.0), gyrotropic_tensor(rng), exit_tensor])
        res = ql.solve_anisotropic(eps, rng.uniform(50.0, 900.0, 2), WAVELENGTHS, [0.0, 0.5, 1.0])
        for polarisation in ("s", "p", np.array([1.0, 0.5j]), np.array([1.0, 0.2, -0.3, 0.4])):
            np.testing.assert_allclose(res.R(polarisation) + res.T(polarisation), 1.0, rtol=0, atol=1e-12)
        if exit_kind == "isotropic":
            np.testing.assert_allclose((res.R_matrix + res.T_matrix).sum(axis=-2), 1.0, rtol=0, atol=1e-12)
        else:
            with pytest.raises(AttributeError, match="anisotropic exit medium"):
                res.jones_t


def test_mueller_matrices_follow_the_jones_matrices() -> None:
    rng = np.random.default_rng(11)
    eps = np.stack([np.eye(3), random_tensor(rng, 0.2), random_tensor(rng, 0.0), 2.3 * np.eye(3)])
    res = ql.solve_anisotropic(eps, [120.0, 340.0], WAVELENGTHS, [0.3, 0.9])
    for m, j in ((res.mueller_r, res.jones_r), (res.mueller_t, res.jones_t * np.sqrt(res._exit_flux)[..., None])):
        # non-depolarising: tr(M^T M) = 4 m00^2
        np.testing.assert_allclose(np.einsum("...ij,...ij->...", m, m), 4 * m[..., 0, 0] ** 2, rtol=1e-12)
        for e in (np.array([1.0, 0.0]), np.array([0.6, 0.8j]), np.array([1.0, -1.0 + 0.5j])):
            out = np.einsum("...ij,j->...i", j, e)
            np.testing.assert_allclose(m @ stokes(e), stokes(out), rtol=0, atol=1e-13)
    # a Stokes vector and its Jones vector pass the same power
    e = np.array([0.3 + 0.1j, -0.7j])
    np.testing.assert_allclose(res.R(e), res.R(stokes(e)), rtol=1e-13)
    np.testing.assert_allclose(res.T(e), res.T(stokes(e)), rtol=1e-13)


@pytest.mark.parametrize("phi", [np.array([0.0, 0.4, np.pi / 2]), np.linspace(0.0, 3.0, 12).reshape(4, 1, 3),
                                 np.array([0.2, 0.7, 1.1, 2.0]).reshape(4, 1, 1)])
def test_arrays_of_polarisation_angles_broadcast_as_in_solve(phi: np.ndarray) -> None:
    rng = np.random.default_rng(4)
    stack = [1.0, 1.8 + 0.05j, 1.4, 1.52]
    iso = np.stack([n**2 * np.eye(3) for n in stack])
    res = ql.solve_anisotropic(iso, [90.0, 150.0], WAVELENGTHS[:3], [0.2, 0.8])
    ref = ql.solve(stack, [90.0, 150.0], WAVELENGTHS[:3], [0.2, 0.8])
    for name in "RTA":
        got, want = getattr(res, name)(phi), getattr(ref, name)(phi)
        assert got.shape == want.shape
        np.testing.assert_allclose(got, want, rtol=0, atol=1e-12)
    # an anisotropic stack: every angle of the array is its scalar angle's result
    eps = np.stack([np.eye(3), random_tensor(rng, 0.1), 2.0 * np.eye(3)])
    res = ql.solve_anisotropic(eps, [300.0], WAVELENGTHS[:3], [0.2, 0.8])
    for name in "RTA":
        got = getattr(res, name)(phi)
        where = np.broadcast_to(phi, got.shape)
        for angle in np.unique(phi):
            want = np.broadcast_to(getattr(res, name)(float(angle)), got.shape)
            np.testing.assert_allclose(got[where == angle], want[where == angle], rtol=1e-13, atol=1e-15)


def test_thick_strongly_absorbing_biaxial_layer_is_finite_without_warnings() -> None:
    rng = np.random.default_rng(5)
    eps = np.stack([np.eye(3), random_tensor(rng, 3.0), random_tensor(rng, 0.0)])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        res = ql.solve_anisotropic(eps, [1e6], WAVELENGTHS, [0.0, 0.7])
        values = [res.jones_r, res.R(), res.T(), res.A(), res.mueller_r]
    assert all(np.isfinite(v).all() for v in values)
    assert np.all(res.T() == 0.0)


def test_results_are_the_same_bits_for_any_thread_count() -> None:
    rng = np.random.default_rng(2)
    eps = np.stack([np.eye(3), random_tensor(rng, 0.1), random_tensor(rng, 0.0), 2.0 * np.eye(3)])
    wl = np.linspace(400.0, 800.0, 301)
    one = ql.solve_anisotropic(eps, [200.0, 300.0], wl, [0.0, 0.5], threads=1)
    two = ql.solve_anisotropic(eps, [200.0, 300.0], wl, [0.0, 0.5], threads=2)
    assert one.jones_r.tobytes() == two.jones_r.tobytes()
    assert one.T().tobytes() == two.T().tobytes()


def test_stack_solve_turns_the_sample_by_its_azimuths() -> None:
    film = ql.Uniaxial(1.5, 1.65, axis=(0.8, 0.0))
    stack = ql.Stack([ql.Layer(film, 420.0)], exit=1.46)
    azimuths = np.array([0.0, 0.4, 2.0])
    res = stack.solve(WAVELENGTHS, [0.2, 1.0], azimuths=azimuths)
    assert isinstance(res, ql.AnisotropicResult) and res.shape == (3, 2, WAVELENGTHS.size)
    for b, azimuth in enumerate(azimuths):
        turned = ql.Uniaxial(1.5, 1.65, axis=(0.8, azimuth)).permittivity(WAVELENGTHS)
        eps = np.stack([np.eye(3)[..., None] * np.ones(WAVELENGTHS.size), turned,
                        1.46**2 * np.eye(3)[..., None] * np.ones(WAVELENGTHS.size)])
        direct = ql.solve_anisotropic(eps, [420.0], WAVELENGTHS, [0.2, 1.0])
        np.testing.assert_allclose(res.jones_r[b], direct.jones_r[0], rtol=0, atol=1e-14)
    with pytest.raises(ValueError, match="thicknesses"):
        stack.solve(WAVELENGTHS, thicknesses=[[100.0]])


def test_twisted_layer_slices_converge_to_the_stated_accuracy() -> None:
    material = ql.Biaxial(1.5, 1.6, 1.7, euler=(0.0, 0.3, 0.0))
    stack = ql.Stack([ql.TwistedLayer(material, 3000.0, twist=1.3)], exit=1.5)
    chosen = stack.solve(WAVELENGTHS[:2], 0.5)
    fine = ql.Stack([ql.TwistedLayer(material, 3000.0, twist=1.3, slices=4096)], exit=1.5).solve(WAVELENGTHS[:2], 0.5)
    assert np.abs(chosen.R_matrix - fine.R_matrix).max() < 2e-6
    assert np.abs(chosen.T_matrix - fine.T_matrix).max() < 2e-6


@pytest.mark.parametrize("incidence, match", [
    (np.diag([1.0, 1.0, 1.1]), "incidence medium"),
    ((1.5 + 0.1j) ** 2 * np.eye(3), "incidence medium"),
    (0.5 * np.eye(3), "incidence medium"),
])
def test_incidence_medium_must_be_isotropic_and_lossless(incidence: np.ndarray, match: str) -> None:
    with pytest.raises(ValueError, match=match):
        ql.solve_anisotropic(np.stack([incidence, 2.0 * np.eye(3)]), [], [500.0])


@pytest.mark.parametrize("polarisation, error", [
    ("circular", ValueError), (np.array([1.0, 0.0, 0.0j]), ValueError), (np.zeros(2, complex), ValueError),
    (np.array([1.0, 2.0, 0.0, 0.0]), ValueError), (True, TypeError), (object(), TypeError),
])
def test_polarisation_mistakes_name_what_is_expected(polarisation: object, error: type) -> None:
    res = ql.solve_anisotropic(np.stack([np.eye(3), 2.0 * np.eye(3)]), [], [500.0])
    with pytest.raises(error, match="polarisation"):
        res.R(polarisation)


def test_generalised_ellipsometry_fit_recovers_a_tilted_uniaxial_film() -> None:
    pytest.importorskip("scipy", reason="fit needs SciPy")
    from quilmo_lab.fit import fit

    wl = np.linspace(450.0, 800.0, 15)
    angles = np.radians([55.0, 70.0])

    def film(d: float, tilt: float) -> ql.Stack:
        return ql.Stack([ql.Layer(ql.Uniaxial(1.55, 1.70, axis=(tilt, 0.5)), d)], exit=1.46)

    truth = film(420.0, 0.7).solve(wl, angles)
    assert isinstance(truth, ql.AnisotropicResult)
    measured = {name: getattr(truth, name)[0] for name in ("psi", "delta", "psi_ps", "delta_ps", "psi_sp", "delta_sp")}
    result = fit(film, {"d": 400.0, "tilt": 0.6}, wl, measured, angles=angles)
    assert result.success
    assert abs(result.values["d"] - 420.0) < 1e-6 and abs(result.values["tilt"] - 0.7) < 1e-9


@pytest.mark.parametrize("exit_tensor", [2.0 * np.eye(3), np.diag([2.0, 2.2, 2.4])], ids=["isotropic", "biaxial"])
def test_to_xarray_holds_what_the_exit_medium_defines(exit_tensor: np.ndarray) -> None:
    pytest.importorskip("xarray")
    res = ql.solve_anisotropic(np.stack([np.eye(3), exit_tensor]), [], WAVELENGTHS, [0.0, 0.4])
    data = res.to_xarray()
    assert data["mueller_r"].dims == ("stack", "angle", "wavelength", "row", "column")
    np.testing.assert_array_equal(data["jones_r"].sel(out="p", **{"in": "p"}), res.jones_r[..., 1, 1])
    assert ("T_matrix" in data) == (exit_tensor[0, 0] == exit_tensor[2, 2])


def test_twisted_layer_agrees_with_pyelli_finely_sliced() -> None:
    elli = pytest.importorskip("elli", reason="pyElli is not installed")
    wl = np.linspace(500.0, 700.0, 3)
    material = elli.BiaxialMaterial(*(elli.ConstantRefractiveIndex(n=n) for n in (1.5, 1.6, 1.75)))
    material.set_rotation(elli.rotation_euler(20.0, 60.0, 10.0))
    front = elli.IsotropicMaterial(elli.ConstantRefractiveIndex(n=1.0))
    back = elli.IsotropicMaterial(elli.ConstantRefractiveIndex(n=1.5))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        structure = elli.Structure(front, [elli.TwistedLayer(material, 2000.0, 512, 75.0)], back)
        reference = elli.Experiment(structure, wl, 40.0).evaluate(elli.Solver4x4)

    tensor = np.moveaxis(material.get_tensor(wl), 0, -1)
    twisted = ql.TwistedLayer(_Fixed(tensor), 2000.0, twist=np.radians(75.0))
    res = ql.Stack([twisted], exit=1.5).solve(wl, np.radians(40.0))
    flip = (..., slice(None, None, -1), slice(None, None, -1))
    # pyElli's 512 slices are accurate to a few 1e-7
    np.testing.assert_allclose(res.R_matrix[0, 0], reference.R_matrix[flip], rtol=0, atol=1e-6)
    np.testing.assert_allclose(res.T_matrix[0, 0], reference.T_matrix[flip], rtol=0, atol=1e-6)


def test_design_takes_anisotropic_stacks_with_a_differenced_jacobian() -> None:
    pytest.importorskip("scipy", reason="design needs SciPy")
    from quilmo_lab import design

    target = design.Target("R", np.linspace(450.0, 650.0, 9), value=0.0, tolerance=0.01, angle=0.3,
                           polarisation="p")
    # a uniaxial material with equal indices is isotropic: the analytic Jacobian is the reference
    tensorial = ql.Stack([ql.Layer(ql.Uniaxial(1.38, 1.38), 80.0), ql.Layer(2.1, 30.0)], exit=1.52)
    plain = ql.Stack([ql.Layer(1.38, 80.0), ql.Layer(2.1, 30.0)], exit=1.52)
    differenced = design.Evaluator(tensorial, [target]).evaluate([80.0, 30.0])
    analytic = design.Evaluator(plain, [target]).evaluate([80.0, 30.0])
    np.testing.assert_allclose(differenced.residuals, analytic.residuals, rtol=0, atol=1e-12)
    np.testing.assert_allclose(differenced.jacobian, analytic.jacobian, rtol=0, atol=1e-6)
    film = ql.Stack([ql.Layer(ql.Uniaxial(1.38, 1.45, axis=(0.5, 0.3)), 80.0), ql.Layer(2.1, 30.0)], exit=1.52)
    refined = design.refine(film, [target])
    assert refined.merit < 0.5 * refined.initial_merit
    twisted = ql.Stack([ql.TwistedLayer(ql.Uniaxial(1.5, 1.6, axis=(np.pi / 2, 0.0)), 800.0, twist=1.0)], exit=1.52)
    with pytest.raises(ValueError, match="TwistedLayer"):
        design.refine(twisted, [target])
