// The 4x4 engine against closed forms, against itself across its three mode
// routes, and over the grid.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <vector>

#include "lab/anisotropic/anisotropic_grid.hpp"
#include "lab/anisotropic/quartic.hpp"
#include "lab/anisotropic/scattering_point.hpp"

namespace {

using namespace quilmo::lab::anisotropic;

Tensor diagonal(Cx x, Cx y, Cx z) {
    Tensor t{};
    t[0][0] = x;
    t[1][1] = y;
    t[2][2] = z;
    return t;
}

// R^T diag(x, y, z) R for the rotation by `azimuth` about z after `tilt` about y.
Tensor rotated(Cx x, Cx y, Cx z, double tilt, double azimuth) {
    const double ct = std::cos(tilt), st = std::sin(tilt), ca = std::cos(azimuth), sa = std::sin(azimuth);
    const double ry[3][3] = {{ct, 0, st}, {0, 1, 0}, {-st, 0, ct}};
    const double rz[3][3] = {{ca, -sa, 0}, {sa, ca, 0}, {0, 0, 1}};
    double r[3][3]{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += rz[i][k] * ry[k][j];
    const Cx d[3] = {x, y, z};
    Tensor t{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) t[i][j] += r[i][k] * d[k] * r[j][k];
    return t;
}

Tensor isotropic(Cx n) { return diagonal(n * n, n * n, n * n); }

double max_difference(const Mat2& a, const Mat2& b) {
    double worst = 0.0;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) worst = std::max(worst, std::abs(a[i][j] - b[i][j]));
    return worst;
}

TEST(AnisotropicQuartic, RecoversDistinctRootsOfAMatrix) {
    const std::array<Cx, 4> roots{Cx{1.7, 0.02}, Cx{-1.7, -0.02}, Cx{1.45, 0.0}, Cx{-0.3, -0.9}};
    Mat4 a{};
    for (int i = 0; i < 4; ++i) {
        a[i][i] = roots[i];
        if (i < 3) a[i][i + 1] = Cx{0.5, -0.25};  // triangular: same eigenvalues
    }
    const std::array<Cx, 4> c = characteristic_polynomial(a);
    const std::array<Cx, 4> found = quartic_roots(c, enclosing_start(c));
    for (const Cx& root : roots) {
        double nearest = 1e300;
        for (const Cx& f : found) nearest = std::min(nearest, std::abs(f - root));
        EXPECT_LT(nearest, 1e-14);
    }
}

// Single interface: the Fresnel coefficients with the kernel's signs.
TEST(AnisotropicPoint, IsotropicInterfaceGivesFresnel) {
    const double n0 = 1.3, theta = 0.6;
    const Cx n1{1.9, 0.3};
    const double xi = n0 * std::sin(theta);
    const Cx c0 = std::sqrt(Cx{1.0 - std::sin(theta) * std::sin(theta)});
    const Cx k1 = std::sqrt(n1 * n1 - xi * xi), c1 = k1 / n1;
    const std::vector<Tensor> eps{isotropic(n0), isotropic(n1)};
    const PointResult r = ScatteringPoint().solve(eps, {}, 500.0, xi);
    const Cx rs = (n0 * c0 - n1 * c1) / (n0 * c0 + n1 * c1);
    const Cx rp = (n1 * c0 - n0 * c1) / (n1 * c0 + n0 * c1);
    const Cx ts = 2.0 * n0 * c0 / (n0 * c0 + n1 * c1);
    const Cx tp = 2.0 * n0 * c0 / (n1 * c0 + n0 * c1);
    EXPECT_LT(max_difference(r.jones_r, {{{rs, 0.0}, {0.0, rp}}}), 1e-15);
    EXPECT_LT(max_difference(r.jones_t, {{{ts, 0.0}, {0.0, tp}}}), 1e-15);
}

// The general route (a tensor that only just fails to decouple) agrees with
// the closed-form routes, and lossless stacks conserve energy.
TEST(AnisotropicPoint, GeneralRouteMatchesDecoupledRoute) {
    for (const double theta : {0.0, 0.4, 1.2}) {
        for (const double tilt : {0.0, 0.7, 1.5707963267948966}) {
            const Tensor film = rotated(2.25, 2.25, 2.89, tilt, 0.0);
            Tensor nudged = film;
            nudged[0][1] = nudged[1][0] = 1e-300;
            const std::vector<Tensor> a{isotropic(1.0), film, isotropic(1.5)};
            const std::vector<Tensor> b{isotropic(1.0), nudged, isotropic(1.5)};
            const double xi = std::sin(theta);
            const std::vector<double> d{730.0};
            const PointResult ra = ScatteringPoint().solve(a, d, 600.0, xi);
            const PointResult rb = ScatteringPoint().solve(b, d, 600.0, xi);
            EXPECT_LT(max_difference(ra.jones_r, rb.jones_r), 1e-9) << theta << " " << tilt;
            EXPECT_LT(max_difference(ra.jones_t, rb.jones_t), 1e-9) << theta << " " << tilt;
        }
    }
}

TEST(AnisotropicPoint, LosslessBiaxialStackConservesEnergy) {
    const std::vector<Tensor> eps{isotropic(1.2), rotated(2.1, 2.4, 2.9, 0.5, 0.8),
                                  rotated(1.9, 2.2, 2.2, 1.1, -0.3), isotropic(1.7)};
    for (const double theta : {0.0, 0.3, 0.9}) {
        const PointResult r = ScatteringPoint().solve(eps, std::vector<double>{420.0, 1300.0}, 633.0,
                                                      1.2 * std::sin(theta));
        for (int j = 0; j < 2; ++j) {
            const double reflected = std::norm(r.jones_r[0][j]) + std::norm(r.jones_r[1][j]);
            EXPECT_NEAR(reflected + r.transmitted[j][j].real(), 1.0, 1e-12) << theta;
        }
    }
}

// A half-wave plate at 45 degrees between index-matched media turns s into p.
TEST(AnisotropicPoint, HalfWavePlateSwapsPolarisations) {
    const double no = 1.5, ne = 1.6, wavelength = 550.0;
    const double d = wavelength / (2.0 * (ne - no));
    const std::vector<Tensor> eps{isotropic(no), rotated(ne * ne, no * no, no * no, 0.0, 0.7853981633974483),
                                  isotropic(no)};
    const PointResult r = ScatteringPoint().solve(eps, std::vector<double>{d}, wavelength, 0.0);
    EXPECT_LT(std::norm(r.jones_t[0][0]), 1e-24);
    EXPECT_NEAR(std::norm(r.jones_t[1][0]), 1.0, 1e-12);
}

TEST(AnisotropicPoint, ThickAbsorbingBiaxialLayerStaysFinite) {
    const std::vector<Tensor> eps{isotropic(1.0), rotated(Cx{2.1, 3.0}, Cx{2.4, 1.0}, Cx{2.9, 2.0}, 0.5, 0.8),
                                  rotated(2.1, 2.4, 2.9, 0.2, 0.1)};
    const PointResult r = ScatteringPoint().solve(eps, std::vector<double>{1e6}, 500.0, 0.5);
    for (const Mat2* m : {&r.jones_r, &r.jones_t, &r.transmitted})
        for (const auto& row : *m)
            for (const Cx& z : row) EXPECT_TRUE(std::isfinite(z.real()) && std::isfinite(z.imag()));
    EXPECT_EQ(r.transmitted[0][0].real(), 0.0);
}

TEST(AnisotropicGrid, SameBitsForAnyThreadCount) {
    using quilmo::lab::Complex;
    const std::size_t media = 4, wavelengths = 37, angles = 5, stacks = 3;
    std::vector<Complex> eps(stacks * media * 9 * wavelengths);
    for (std::size_t s = 0; s < stacks; ++s)
        for (std::size_t j = 0; j < media; ++j)
            for (std::size_t w = 0; w < wavelengths; ++w) {
                const Tensor t = j == 0 ? isotropic(1.0)
                                        : rotated(Cx{2.0 + 0.1 * j, 0.01 * w}, 2.3, 2.6 + 0.01 * s, 0.3 * j, 0.2 * s);
                for (int r = 0; r < 3; ++r)
                    for (int c = 0; c < 3; ++c)
                        eps[(((s * media + j) * 3 + r) * 3 + c) * wavelengths + w] = {t[r][c].real(), t[r][c].imag()};
            }
    std::vector<double> d{100.0, 250.0}, wl(wavelengths), th(angles);
    for (std::size_t w = 0; w < wavelengths; ++w) wl[w] = 400.0 + 10.0 * w;
    for (std::size_t a = 0; a < angles; ++a) th[a] = 0.3 * a;
    const quilmo::lab::Grid shape{nullptr, stacks, media, wavelengths, d.data(), 1, wl.data(), wavelengths,
                                  th.data(), angles, stacks};
    auto run = [&](const quilmo::lab::Grid& grid, const Complex* tensors, std::size_t threads) {
        const std::size_t points = grid.points();
        std::vector<Complex> out(3 * 4 * points);
        std::vector<double> flux(2 * points);
        quilmo::lab::solve_anisotropic({grid, tensors},
                                       {out.data(), out.data() + 4 * points, out.data() + 8 * points, flux.data()},
                                       threads);
        return std::make_pair(out, flux);
    };
    const auto one = run(shape, eps.data(), 1);
    for (const std::size_t threads : {2, 3, 4, 7}) {
        const auto many = run(shape, eps.data(), threads);
        EXPECT_EQ(std::memcmp(one.first.data(), many.first.data(), one.first.size() * sizeof(Complex)), 0) << threads;
        EXPECT_EQ(std::memcmp(one.second.data(), many.second.data(), one.second.size() * sizeof(double)), 0)
            << threads;
    }
    // Each stack solved on its own gives its piece of the whole grid.
    const std::size_t piece = angles * wavelengths, points = shape.points();
    for (std::size_t s = 0; s < stacks; ++s) {
        quilmo::lab::Grid alone = shape;
        alone.index_stacks = alone.stacks = 1;
        const auto part = run(alone, eps.data() + s * media * 9 * wavelengths, 3);
        // Outputs run point by point: four amplitudes, two fluxes each.
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_EQ(std::memcmp(&part.first[4 * k * piece], &one.first[4 * (k * points + s * piece)],
                                  4 * piece * sizeof(Complex)),
                      0);
        EXPECT_EQ(std::memcmp(part.second.data(), &one.second[2 * s * piece], 2 * piece * sizeof(double)), 0);
    }
}

}  // namespace
