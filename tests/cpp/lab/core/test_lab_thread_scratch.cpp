// The scratch a thread keeps between calls carries nothing from one grid to
// the next: after grids of other sizes, roughness, dispersion and angles,
// each gives the bits a thread that never ran before gives.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "lab/coherent/coherent_grid.hpp"
#include "lab/core/grid.hpp"
#include "lab/incoherent/incoherent_grid.hpp"

namespace quilmo::lab {
namespace {

struct Case {
    std::vector<Complex> n;  // media x columns
    std::size_t columns;
    std::vector<double> d, wl, angle, roughness;
    Complex complex_angle{0.0, 0.0};
    bool complex_angled = false;

    Grid grid() const {
        Grid g{n.data(), 1, n.size() / columns, columns, d.data(), 1, wl.data(), wl.size(),
               complex_angled ? nullptr : angle.data(), complex_angled ? 1 : angle.size(), 1};
        if (complex_angled) {
            g.complex_angles = &complex_angle;
        }
        if (!roughness.empty()) {
            g.roughness = roughness.data();
        }
        return g;
    }
};

// Amplitudes, powers, power entering and per-medium values, as raw bytes.
std::vector<unsigned char> solved(const Case& c) {
    const Grid grid = c.grid();
    const std::size_t points = grid.points();
    std::vector<Complex> amplitudes(4 * points), normal(2 * points * grid.media), waves(4 * points * grid.media);
    std::vector<double> powers(4 * points), entering(2 * points);
    solve_coherent_waves(grid, {amplitudes.data(), powers.data()}, entering.data(), normal.data(), waves.data(), 1);
    std::vector<Complex> plain_amplitudes(4 * points);
    std::vector<double> plain_powers(4 * points);
    solve_coherent(grid, {plain_amplitudes.data(), plain_powers.data()}, 1);
    std::vector<unsigned char> bytes;
    const auto add = [&bytes](const auto& v) {
        const auto* first = reinterpret_cast<const unsigned char*>(v.data());
        bytes.insert(bytes.end(), first, first + v.size() * sizeof(v[0]));
    };
    add(amplitudes), add(powers), add(entering), add(normal), add(waves), add(plain_amplitudes), add(plain_powers);
    return bytes;
}

TEST(ThreadScratch, AGridGivesAFreshThreadsBitsAfterOtherGrids) {
    const std::vector<Case> cases{
        // rough, 2 wavelengths of one index column, 2 angles
        {{{1.0, 0.0}, {2.1, 0.2}, {1.4, 0.0}, {1.5, 0.0}, {3.6, 0.05}}, 1, {50.0, 120.0, 30.0}, {450.0, 650.0},
         {0.0, 0.8}, {2.0, 0.0, 1.5, 3.0}},
        // smooth, the same media count: the roughness must not linger
        {{{1.0, 0.0}, {2.1, 0.2}, {1.4, 0.0}, {1.5, 0.0}, {3.6, 0.05}}, 1, {50.0, 120.0, 30.0}, {450.0, 650.0},
         {0.0, 0.8}, {}},
        // fewer media, dispersive indices (one column per wavelength), a lossy incidence medium's complex angle
        {{{1.5, 0.1}, {1.5, 0.12}, {2.0, 0.5}, {2.2, 0.4}, {1.0, 0.0}, {1.0, 0.0}}, 2, {40.0}, {500.0, 700.0},
         {}, {}, {0.3, -0.02}, true},
        // a periodic stack whose plan reuses layers, then no inner layer at all
        {{{1.0, 0.0}, {2.3, 0.0}, {1.38, 0.0}, {2.3, 0.0}, {1.38, 0.0}, {2.3, 0.0}, {1.38, 0.0}, {1.52, 0.0}}, 1,
         {60.0, 100.0, 60.0, 100.0, 60.0, 100.0}, {550.0}, {0.4}, {}},
        {{{1.5, 0.0}, {1.0, 0.0}}, 1, {}, {600.0}, {1.2}, {}},
    };
    std::vector<std::vector<unsigned char>> fresh(cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::thread([&, i] { fresh[i] = solved(cases[i]); }).join();  // a new thread: new scratch
    }
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            EXPECT_EQ(solved(cases[i]), fresh[i]) << "case " << i << ", round " << round;
        }
    }
}

}  // namespace
}  // namespace quilmo::lab
