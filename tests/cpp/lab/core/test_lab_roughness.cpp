// Rough interfaces in the engine: smooth factors of 1, the grid's rough
// interfaces against a point built by hand (repeats and constant media must
// not hand a rough interface the smooth one's matrix), and dD/dsigma against
// a central difference.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "lab/coherent/coherent_grid.hpp"
#include "lab/core/grid.hpp"
#include "lab/core/roughness.hpp"

namespace quilmo::lab {
namespace {

using optics::kernel::lane;

Medium medium_of(Complex n, double sin_theta) {
    return optics::kernel::medium(n, optics::square(sin_theta * Complex{1.0, 0.0}));
}

TEST(Roughness, ZeroSigmaFactorsAreOne) {
    const Medium a = medium_of({1.0, 0.0}, 0.4);
    const Medium b = medium_of({2.1, 0.3}, 0.4);
    for (const RoughnessModel model : {RoughnessModel::nevot_croce, RoughnessModel::debye_waller}) {
        const RoughFactors f = rough_factors(model, a, b, 0.0, 500.0);
        for (const Complex z : {f.reflect, f.reflect_back, f.pass}) {
            EXPECT_EQ(z.re, 1.0);
            EXPECT_EQ(z.im, 0.0);
        }
    }
}

// R_s of the stack by the Abeles recursion with rough r, in std::complex.
double abeles_rs(const std::vector<std::complex<double>>& n, const std::vector<double>& d,
                 const std::vector<double>& sigma, double wl, double theta) {
    const double k0 = 2 * M_PI / wl;
    const std::complex<double> u = std::pow(n[0] * std::sin(theta), 2);
    std::vector<std::complex<double>> k;
    for (const auto& index : n) {
        k.push_back(k0 * std::sqrt(index * index - u));
    }
    std::complex<double> gamma = 0.0;
    for (std::size_t j = n.size() - 1; j-- > 0;) {
        const std::complex<double> r =
            (k[j] - k[j + 1]) / (k[j] + k[j + 1]) * std::exp(-2.0 * k[j] * k[j + 1] * sigma[j] * sigma[j]);
        const std::complex<double> phase = j + 1 < n.size() - 1 ? std::exp(2.0 * std::complex<double>(0, 1) *
                                                                            k[j + 1] * d[j])
                                                                  : 1.0;
        gamma = phase * gamma;
        gamma = (r + gamma) / (1.0 + r * gamma);
    }
    return std::norm(gamma);
}

TEST(Roughness, GridMatchesTheAbelesRecursionOnAPeriodicStack) {
    // constant media and repeated interfaces: the builder's reuse must skip rough ones
    std::vector<std::complex<double>> n{1.0};
    for (int i = 0; i < 4; ++i) {
        n.push_back(2.3);
        n.push_back(1.45);
    }
    n.push_back(1.52);
    std::vector<double> d(n.size() - 2);
    for (std::size_t j = 0; j < d.size(); ++j) {
        d[j] = j % 2 == 0 ? 60.0 : 95.0;
    }
    std::vector<double> sigma(n.size() - 1, 0.0);
    sigma[3] = 4.0;
    sigma[7] = 2.0;
    std::vector<Complex> indices;
    for (const auto& z : n) {
        indices.push_back({z.real(), z.imag()});
    }
    const std::vector<double> wl{450.0, 520.0, 610.0};
    const std::vector<double> theta{0.0, 0.7};
    Grid grid{indices.data(), 1, n.size(), 1, d.data(), 1, wl.data(), wl.size(), theta.data(), theta.size(), 1};
    grid.roughness = sigma.data();
    check_grid(grid);
    std::vector<Complex> amplitudes(4 * grid.points());
    std::vector<double> powers(4 * grid.points());
    solve_coherent(grid, {amplitudes.data(), powers.data()}, 2);
    for (std::size_t a = 0; a < theta.size(); ++a) {
        for (std::size_t w = 0; w < wl.size(); ++w) {
            EXPECT_NEAR(powers[a * wl.size() + w], abeles_rs(n, d, sigma, wl[w], theta[a]), 1e-13);
        }
    }
}

TEST(Roughness, SlopeIsTheDerivativeOfTheRoughMatrix) {
    const Medium a = medium_of({1.2, 0.0}, 0.5);
    const Medium b = medium_of({2.0, 0.2}, 0.5);
    const MatrixLanes smooth = optics::kernel::interface_sp(a, b, optics::twice(a.n) * a.c);
    for (const RoughnessModel model : {RoughnessModel::nevot_croce, RoughnessModel::debye_waller}) {
        const double sigma = 3.0;
        const double h = 1e-4;
        const MatrixLanes rough = roughen(smooth, rough_factors(model, a, b, sigma, 480.0));
        const MatrixLanes slope = rough_slope(rough, rough_log_slopes(model, a, b, sigma, 480.0));
        const MatrixLanes up = roughen(smooth, rough_factors(model, a, b, sigma + h, 480.0));
        const MatrixLanes down = roughen(smooth, rough_factors(model, a, b, sigma - h, 480.0));
        for (int pol : {0, 1}) {
            const Complex got = lane(slope.m10, pol);
            const Complex expected = (lane(up.m10, pol) - lane(down.m10, pol)) / Complex{2 * h, 0.0};
            EXPECT_NEAR(got.re, expected.re, 1e-7);
            EXPECT_NEAR(got.im, expected.im, 1e-7);
            const Complex diagonal = (lane(up.m00, pol) - lane(down.m00, pol)) / Complex{2 * h, 0.0};
            EXPECT_NEAR(lane(slope.m00, pol).re, diagonal.re, 1e-7);
        }
    }
}

}  // namespace
}  // namespace quilmo::lab
