// Per-medium waves and fields of coherent points: the waves carry r and t of
// the coherent product, the tangential field is continuous across every
// interface, and the Poynting flux stays constant through lossless media and
// drops by each absorbing layer's share.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "lab/coherent/coherent_grid.hpp"
#include "lab/core/grid.hpp"
#include "lab/incoherent/incoherent_grid.hpp"

namespace quilmo::lab {
namespace {

double distance(Complex a, Complex b) { return std::hypot(a.re - b.re, a.im - b.im); }

struct Stack {
    std::vector<Complex> n{{1.0, 0.0}, {2.2, 0.3}, {1.45, 0.0}, {3.5, 0.01}};
    std::vector<double> d{60.0, 110.0};
    std::vector<double> wl{550.0};
    std::vector<double> angle{0.7};
    Grid grid() const { return {n.data(), 1, n.size(), 1, d.data(), 1, wl.data(), 1, angle.data(), 1, 1}; }
};

TEST(LayerFields, WavesCarryTheProductsAmplitudes) {
    const Stack stack;
    const Grid grid = stack.grid();
    std::vector<Complex> amplitudes(4);
    std::vector<double> powers(4);
    solve_coherent(grid, {amplitudes.data(), powers.data()}, 1);
    const std::size_t media = grid.media;
    std::vector<Complex> normal(2 * media), waves(4 * media);
    solve_layer_waves(grid, normal.data(), waves.data(), 1);
    for (const int pol : {0, 1}) {
        const Complex* v = waves.data() + 2 * pol * media;
        const Complex* w = v + media;
        EXPECT_EQ(v[0].re, 1.0);
        EXPECT_LT(distance(w[0], amplitudes[pol]), 1e-14);              // r
        EXPECT_LT(distance(v[media - 1], amplitudes[2 + pol]), 1e-14);  // t
        EXPECT_EQ(w[media - 1].re, 0.0);
    }
    for (std::size_t j = 0; j < media; ++j) {
        EXPECT_GE(normal[j].im, 0.0);  // k_z forward
    }
}

TEST(LayerFields, TangentialFieldIsContinuousAndFluxFallsByWhatLayersAbsorb) {
    const Stack stack;
    const Grid grid = stack.grid();
    // both sides of each interface: the end of one medium, the front of the next
    const std::vector<std::size_t> media{0, 1, 1, 2, 2, 3};
    const std::vector<double> z{0.0, 0.0, 60.0, 0.0, 110.0, 0.0};
    const std::size_t count = media.size();
    std::vector<Complex> fields(6 * count);
    std::vector<double> powers(6 * count);
    solve_fields(grid, media.data(), z.data(), count, fields.data(), powers.data(), 1);
    std::vector<double> absorbed_powers(4), absorbed(2 * grid.layers());
    const bool coherent[2] = {true, true};
    solve_absorbed(grid, coherent, absorbed_powers.data(), absorbed.data(), 1);
    for (const int pol : {0, 1}) {
        const std::size_t tangential = pol == 0 ? 1 : 0;  // E_y for s, E_x for p
        const Complex* e = fields.data() + (3 * pol + tangential) * count;
        const double* flux = powers.data() + pol * count;
        for (std::size_t i = 0; i < count; i += 2) {
            EXPECT_LT(distance(e[i], e[i + 1]), 1e-13) << "interface " << i / 2;
            EXPECT_NEAR(flux[i], flux[i + 1], 1e-13);
        }
        EXPECT_NEAR(flux[1] - flux[2], absorbed[pol * 2], 1e-13);      // the absorbing first layer
        EXPECT_NEAR(flux[3], flux[4], 1e-13);                          // the lossless second
        EXPECT_NEAR(flux[5], absorbed_powers[2 + pol], 1e-13);          // T
    }
}

}  // namespace
}  // namespace quilmo::lab
