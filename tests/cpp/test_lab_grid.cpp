// The grid over threads: every thread count and every cut of the grid give
// the same bits, and inconsistent shapes are refused before anything runs.
// The tools/tsan_pool.sh leg runs this file under ThreadSanitizer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "lab/grid.hpp"

namespace {

using quilmo::lab::CoherentOutputs;
using quilmo::lab::Grid;
using quilmo::optics::Complex;

struct Problem {
    std::size_t stacks = 9, media = 7, angles = 3, wavelengths = 101;
    std::vector<Complex> n;  // (1, media, wavelengths)
    std::vector<double> d;   // (stacks, media - 2)
    std::vector<double> wl;
    std::vector<double> theta;

    Problem() {
        std::mt19937_64 rng(99);
        std::uniform_real_distribution<double> re(1.0, 2.5), im(0.0, 0.1), thick(10.0, 200.0);
        for (std::size_t j = 0; j < media; ++j) {
            for (std::size_t w = 0; w < wavelengths; ++w) {
                n.push_back({re(rng), j == 0 ? 0.0 : im(rng)});
            }
        }
        for (std::size_t k = 0; k < stacks * (media - 2); ++k) d.push_back(thick(rng));
        for (std::size_t w = 0; w < wavelengths; ++w) wl.push_back(400.0 + 4.0 * w);
        theta = {0.0, 0.6, 1.2};
    }

    Grid grid() const {
        return {n.data(), 1, media, wavelengths, d.data(), stacks, wl.data(), wavelengths,
                theta.data(), angles, stacks};
    }
};

struct Outputs {
    std::vector<Complex> amplitudes;
    std::vector<double> powers;

    explicit Outputs(std::size_t points) : amplitudes(4 * points), powers(4 * points) {}
    CoherentOutputs view() { return {amplitudes.data(), powers.data()}; }
};

bool same_bytes(const Outputs& x, const Outputs& y) {
    return std::memcmp(x.amplitudes.data(), y.amplitudes.data(), x.amplitudes.size() * sizeof(Complex)) == 0 &&
           std::memcmp(x.powers.data(), y.powers.data(), x.powers.size() * sizeof(double)) == 0;
}

TEST(Grid, EveryThreadCountGivesTheSameBits) {
    const Problem problem;
    const Grid grid = problem.grid();
    quilmo::lab::check_grid(grid);
    Outputs reference(grid.points());
    quilmo::lab::solve_coherent(grid, reference.view(), 1);
    for (const std::size_t threads : {2, 3, 4, 7}) {
        Outputs out(grid.points());
        quilmo::lab::solve_coherent(grid, out.view(), threads);
        EXPECT_TRUE(same_bytes(out, reference)) << threads << " threads";
    }
}

TEST(Grid, OneStackAtATimeGivesTheSameBits) {
    const Problem problem;
    const Grid whole = problem.grid();
    Outputs reference(whole.points());
    quilmo::lab::solve_coherent(whole, reference.view(), 2);
    const std::size_t per_stack = problem.angles * problem.wavelengths;
    for (std::size_t b = 0; b < problem.stacks; ++b) {
        Grid one = whole;
        one.thicknesses = problem.d.data() + b * (problem.media - 2);
        one.thickness_stacks = 1;
        one.stacks = 1;
        Outputs out(per_stack);
        quilmo::lab::solve_coherent(one, out.view(), 3);
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_EQ(std::memcmp(&out.powers[k * per_stack], &reference.powers[k * whole.points() + b * per_stack],
                                  per_stack * sizeof(double)),
                      0);
        }
    }
}

TEST(Grid, InconsistentShapesAreRefused) {
    const Problem problem;
    Grid one_medium = problem.grid();
    one_medium.media = 1;
    Grid batch = problem.grid();
    batch.index_stacks = 2;
    Grid columns = problem.grid();
    columns.index_columns = 5;
    for (const Grid& bad : {one_medium, batch, columns}) {
        EXPECT_THROW(quilmo::lab::check_grid(bad), std::invalid_argument);
    }
}

}  // namespace
