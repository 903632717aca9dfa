// The grids of mixed stacks, absorption and profiles over threads: every
// thread count gives the same bits, each point lands where its (stack, angle,
// layer, wavelength) says, and the media kept per angle for constant indices
// give the bits of computing them per point. The tools/tsan_pool.sh leg runs
// this file under ThreadSanitizer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lab/fields.hpp"
#include "lab/layered_grid.hpp"
#include "lab_point.hpp"

namespace quilmo::lab {
namespace {

struct Problem {
    std::size_t stacks = 3, media = 6, angles = 2, wavelengths = 97;
    std::size_t columns;
    std::vector<Complex> n;  // (1, media, columns)
    std::vector<double> d;   // (stacks, media - 2)
    std::vector<double> wl;
    std::vector<double> theta{0.2, 1.0};
    std::unique_ptr<bool[]> coherent{new bool[4]{true, false, true, true}};

    // Indices the same at every wavelength, changing with the wavelength, or
    // constant over each half of the wavelengths (so that a piece of work
    // may find them constant where the whole grid does not).
    enum class Indices { constant, dispersive, halves };

    explicit Problem(Indices kind) : columns(kind == Indices::constant ? 1 : wavelengths) {
        std::mt19937_64 rng(15);
        std::uniform_real_distribution<double> re(1.2, 2.5), im(0.0, 0.2), thin(10.0, 200.0);
        for (std::size_t j = 0; j < media; ++j) {
            const Complex base{re(rng), j == 0 || j == 2 ? 0.0 : im(rng)};
            for (std::size_t w = 0; w < columns; ++w) {
                const double step = kind == Indices::halves ? (2 * w < columns ? 0.0 : 1e-3) : 1e-4 * w;
                n.push_back({base.re + step, base.im});
            }
        }
        for (std::size_t b = 0; b < stacks; ++b) {
            for (std::size_t j = 0; j < media - 2; ++j) d.push_back(j == 1 ? 2e4 + b : thin(rng));
        }
        for (std::size_t w = 0; w < wavelengths; ++w) wl.push_back(400.0 + 4.0 * w);
    }

    Grid grid() const {
        return {n.data(), 1, media, columns, d.data(), stacks, wl.data(), wavelengths, theta.data(), angles, stacks};
    }

    // Point (b, a, w) on its own.
    testing::OwnedPoint point(std::size_t b, std::size_t a, std::size_t w) const {
        std::vector<Complex> column;
        for (std::size_t j = 0; j < media; ++j) column.push_back(n[j * columns + (columns == 1 ? 0 : w)]);
        return testing::OwnedPoint(column, {d.begin() + b * (media - 2), d.begin() + (b + 1) * (media - 2)}, wl[w],
                                   theta[a], {true, false, true, true});
    }
};

bool same_bytes(const std::vector<double>& x, const std::vector<double>& y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

class LayeredGrid : public ::testing::TestWithParam<Problem::Indices> {};

TEST_P(LayeredGrid, EveryThreadCountGivesTheSameBits) {
    const Problem problem(GetParam());
    const Grid grid = problem.grid();
    const std::size_t points = grid.points();
    const std::vector<double> depths{-5.0, 0.0, 40.0, 150.0, 1e4, 3e4, 4e4};
    std::vector<double> powers(4 * points), absorbed_powers(4 * points), layers(2 * points * 4);
    Grid one_stack = grid;
    one_stack.stacks = one_stack.thickness_stacks = 1;
    one_stack.angle_count = 1;
    std::vector<double> profile(4 * problem.wavelengths * depths.size());
    solve_incoherent(grid, problem.coherent.get(), powers.data(), 1);
    solve_absorbed(grid, problem.coherent.get(), absorbed_powers.data(), layers.data(), 1);
    solve_profile(one_stack, problem.coherent.get(), depths.data(), depths.size(), profile.data(), 1);
    for (const std::size_t threads : {2, 3, 7}) {
        std::vector<double> p(powers.size()), ap(powers.size()), l(layers.size()), pr(profile.size());
        solve_incoherent(grid, problem.coherent.get(), p.data(), threads);
        solve_absorbed(grid, problem.coherent.get(), ap.data(), l.data(), threads);
        solve_profile(one_stack, problem.coherent.get(), depths.data(), depths.size(), pr.data(), threads);
        EXPECT_TRUE(same_bytes(p, powers)) << threads;
        EXPECT_TRUE(same_bytes(ap, absorbed_powers)) << threads;
        EXPECT_TRUE(same_bytes(l, layers)) << threads;
        EXPECT_TRUE(same_bytes(pr, profile)) << threads;
    }
}

TEST_P(LayeredGrid, PointsLandInPlaceWithTheirOwnBits) {
    const Problem problem(GetParam());
    const Grid grid = problem.grid();
    const std::size_t points = grid.points(), layers = problem.media - 2, per_stack = 2 * problem.wavelengths;
    std::vector<double> powers(4 * points), absorbed(2 * points * layers);
    solve_absorbed(grid, problem.coherent.get(), powers.data(), absorbed.data(), 2);
    for (std::size_t b = 0; b < problem.stacks; ++b) {
        for (std::size_t a = 0; a < problem.angles; ++a) {
            for (std::size_t w = 0; w < problem.wavelengths; w += 16) {
                const testing::OwnedPoint owned = problem.point(b, a, w);
                FieldWorkspace work;
                std::vector<double> s(layers), p(layers);
                const PolPair<PowerSplit> want = absorption(owned.view(), work, s, p);
                const std::size_t at = b * per_stack + a * problem.wavelengths + w;
                EXPECT_EQ(powers[at], want.s.R);
                EXPECT_EQ(powers[3 * points + at], want.p.T);
                for (std::size_t j = 0; j < layers; ++j) {
                    const std::size_t cell = ((b * problem.angles + a) * layers + j) * problem.wavelengths + w;
                    EXPECT_EQ(absorbed[cell], s[j]) << b << a << j << w;
                    EXPECT_EQ(absorbed[points * layers + cell], p[j]) << b << a << j << w;
                }
            }
        }
    }
}

std::string name_of(const ::testing::TestParamInfo<Problem::Indices>& info) {
    switch (info.param) {
        case Problem::Indices::constant: return "constant";
        case Problem::Indices::dispersive: return "dispersive";
        default: return "halves";
    }
}

INSTANTIATE_TEST_SUITE_P(Indices, LayeredGrid,
                         ::testing::Values(Problem::Indices::constant, Problem::Indices::dispersive,
                                           Problem::Indices::halves),
                         name_of);

}  // namespace
}  // namespace quilmo::lab
