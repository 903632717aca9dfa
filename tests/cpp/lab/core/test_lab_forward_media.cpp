// The media of complex angles: a complex tangential term takes each normal
// component forward (tmm's rule), a real one leaves the kernel's root as it
// is, and complex angles with no imaginary part give the bits of real ones.
#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <vector>

#include "lab/coherent/coherent_grid.hpp"
#include "lab/core/grid.hpp"
#include "lab/core/point_builder.hpp"

namespace quilmo::lab {
namespace {

TEST(ForwardMedia, ComplexTangentialTurnsABackwardRootForward) {
    // a lossless medium under the complex U of a lossy incidence medium at 0.6 rad
    const std::complex<double> u = std::pow(std::complex<double>(1.5, 0.2) * std::sin(0.6), 2.0);
    const Complex tangential{u.real(), u.imag()};
    const Medium principal = optics::kernel::medium({1.0, 0.0}, tangential);
    ASSERT_LT(principal.k.im, 0.0);
    const Medium forward = forward_medium({1.0, 0.0}, tangential);
    EXPECT_EQ(forward.k.re, -principal.k.re);
    EXPECT_EQ(forward.k.im, -principal.k.im);
    EXPECT_EQ(forward.c.im, -principal.c.im);
}

TEST(ForwardMedia, RealTangentialKeepsTheKernelsRoot) {
    // total internal reflection: k purely imaginary, decaying
    for (const Complex n : {Complex{1.0, 0.0}, Complex{1.5, 0.3}}) {
        const Medium kernel = optics::kernel::medium(n, {2.0, 0.0});
        const Medium ours = forward_medium(n, {2.0, 0.0});
        EXPECT_EQ(std::memcmp(&kernel, &ours, sizeof(Medium)), 0);
        EXPECT_GE(ours.k.im, 0.0);
    }
}

TEST(ForwardMedia, ComplexAnglesWithoutImaginaryPartGiveTheBitsOfRealOnes) {
    const std::vector<Complex> n{{1.0, 0.0}, {2.1, 0.05}, {1.38, 0.0}, {1.52, 0.0}};
    const std::vector<double> d{120.0, 95.0};
    const std::vector<double> wl{400.0, 550.0, 700.0};
    const std::vector<double> real_angles{0.0, 0.4, 1.2};
    const std::vector<Complex> complex_angles{{0.0, 0.0}, {0.4, 0.0}, {1.2, 0.0}};
    Grid grid{n.data(), 1, n.size(), 1, d.data(), 1, wl.data(), wl.size(), real_angles.data(), 3, 1};
    const std::size_t points = grid.points();
    std::vector<Complex> amplitudes_real(4 * points), amplitudes_complex(4 * points);
    std::vector<double> powers_real(4 * points), powers_complex(4 * points);
    solve_coherent(grid, {amplitudes_real.data(), powers_real.data()}, 1);
    grid.angles = nullptr;
    grid.complex_angles = complex_angles.data();
    solve_coherent(grid, {amplitudes_complex.data(), powers_complex.data()}, 1);
    EXPECT_EQ(std::memcmp(amplitudes_real.data(), amplitudes_complex.data(), amplitudes_real.size() * sizeof(Complex)), 0);
    EXPECT_EQ(std::memcmp(powers_real.data(), powers_complex.data(), powers_real.size() * sizeof(double)), 0);
}

}  // namespace
}  // namespace quilmo::lab
