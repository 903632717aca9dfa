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

// Two wavelengths and three angles, the last exactly grazing.
struct Scan : Stack {
    Scan() {
        wl = {450.0, 700.0};
        angle = {0.0, 1.1, std::acos(-1.0) / 2};
    }
    Grid grid() const { return {n.data(), 1, n.size(), 1, d.data(), 1, wl.data(), 2, angle.data(), 3, 1}; }
};

TEST(LayerFields, OnePassGivesBothPassesBitsAndThePowerEntering) {
    const Scan scan;
    const Grid grid = scan.grid();
    const std::size_t points = grid.points();
    const std::size_t per_medium = points * grid.media;
    std::vector<Complex> amplitudes(4 * points), normal(2 * per_medium), waves(4 * per_medium);
    std::vector<double> powers(4 * points);
    solve_coherent(grid, {amplitudes.data(), powers.data()}, 1);
    solve_layer_waves(grid, normal.data(), waves.data(), 1);
    std::vector<Complex> amplitudes_1(4 * points), normal_1(2 * per_medium), waves_1(4 * per_medium);
    std::vector<double> powers_1(4 * points), entering(2 * points);
    solve_coherent_waves(grid, {amplitudes_1.data(), powers_1.data()}, entering.data(), normal_1.data(),
                         waves_1.data(), 2);
    const auto same = [](Complex a, Complex b) { return a.re == b.re && a.im == b.im; };
    for (std::size_t i = 0; i < 4 * points; ++i) {
        EXPECT_TRUE(same(amplitudes[i], amplitudes_1[i])) << i;
        EXPECT_EQ(powers[i], powers_1[i]) << i;
    }
    for (std::size_t i = 0; i < 4 * per_medium; ++i) {
        EXPECT_TRUE(same(waves[i], waves_1[i])) << i;
        EXPECT_TRUE(i >= 2 * per_medium || same(normal[i], normal_1[i])) << i;
    }
    // what enters the stack leaves it or is absorbed in it; at grazing nothing enters
    std::vector<double> absorbed_powers(4 * points), absorbed(2 * points * grid.layers());
    const bool coherent[2] = {true, true};
    solve_absorbed(grid, coherent, absorbed_powers.data(), absorbed.data(), 1);
    for (std::size_t p = 0; p < points; ++p) {
        for (const int pol : {0, 1}) {
            const std::size_t a = p / grid.wavelength_count;
            const std::size_t w = p % grid.wavelength_count;
            double lost = 0.0;
            for (std::size_t j = 0; j < grid.layers(); ++j) {
                lost += absorbed[((pol * grid.angle_count + a) * grid.layers() + j) * grid.wavelength_count + w];
            }
            EXPECT_NEAR(entering[pol * points + p], powers[(2 + pol) * points + p] + lost, 1e-13);
            EXPECT_NEAR(entering[pol * points + p], 1.0 - powers[pol * points + p], 1e-13);  // lossless incidence
        }
    }
    EXPECT_EQ(entering[points - 1], 0.0);
    EXPECT_EQ(entering[2 * points - 1], 0.0);
}

TEST(LayerFields, PowerEnteringFromALossyIncidenceMediumIsTheNetFluxAtItsEnd) {
    Stack stack;
    stack.n[0] = {1.5, 0.2};
    const Complex angle{0.6, -0.05};
    Grid grid = stack.grid();
    grid.angles = nullptr;
    grid.complex_angles = &angle;
    std::vector<Complex> amplitudes(4), normal(2 * grid.media), waves(4 * grid.media);
    std::vector<double> powers(4), entering(2);
    solve_coherent_waves(grid, {amplitudes.data(), powers.data()}, entering.data(), normal.data(), waves.data(), 1);
    // the Poynting flux just inside the incidence medium, from the fields at its end
    const std::vector<std::size_t> media{0};
    const std::vector<double> z{0.0};
    std::vector<Complex> fields(6);
    std::vector<double> flux(6);
    solve_fields(grid, media.data(), z.data(), 1, fields.data(), flux.data(), 1);
    for (const int pol : {0, 1}) {
        EXPECT_NEAR(entering[pol], flux[pol], 1e-13);
        EXPECT_GT(std::abs(entering[pol] - (1.0 - powers[pol])), 1e-3);  // not 1 - R with a lossy incidence
    }
}

}  // namespace
}  // namespace quilmo::lab
