// The grids over threads: every thread count and every cut of a grid give the
// same bits, points land where their (stack, angle, layer, wavelength) says
// with the bits of the per-point functions, for indices shared by the batch or
// per stack, per wavelength or constant (also constant over part of the range
// only, so that a piece of work may find them constant where the whole grid
// does not), and inconsistent shapes are refused before anything runs.
// The tools/tsan_pool.sh leg runs this file under ThreadSanitizer.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "lab/coherent/coherent_grid.hpp"
#include "lab/core/grid.hpp"
#include "lab/derivatives/coherent_gradient_point.hpp"
#include "lab/derivatives/dispersion_grid.hpp"
#include "lab/derivatives/jacobian_grid.hpp"
#include "lab/derivatives/phase_point.hpp"
#include "lab/incoherent/incoherent_grid.hpp"
#include "lab/lab_point.hpp"

namespace quilmo::lab {
namespace {

using testing::same_bytes;

// Random per wavelength, the same at every wavelength, changing smoothly, or
// constant over each half of the wavelengths.
enum class Indices { random, constant, dispersive, halves };

struct Problem {
    std::size_t stacks, media, angles, wavelengths = 97, index_stacks, columns;
    std::vector<Complex> n;  // (index_stacks, media, columns)
    std::vector<double> d;   // (stacks, media - 2)
    std::vector<double> wl, theta;

    // slab > 0: inner layer 1 is lossless and about `slab` nm thick, for masks
    // that treat it by intensity.
    Problem(std::size_t stacks_, std::size_t media_, std::vector<double> theta_, Indices kind,
            std::size_t index_stacks_ = 1, double slab = 0.0)
        : stacks(stacks_), media(media_), angles(theta_.size()), index_stacks(index_stacks_),
          columns(kind == Indices::constant ? 1 : wavelengths), theta(std::move(theta_)) {
        std::mt19937_64 rng(15);
        std::uniform_real_distribution<double> re(1.0, 2.5), im(0.0, 0.2), thin(10.0, 200.0);
        for (std::size_t row = 0; row < index_stacks * media; ++row) {
            const bool lossless = row % media == 0 || (slab > 0 && row % media == 2);
            const Complex base{re(rng), lossless ? 0.0 : im(rng)};
            for (std::size_t w = 0; w < columns; ++w) {
                const double step = kind == Indices::halves ? (2 * w < columns ? 0.0 : 1e-3) : 1e-4 * w;
                n.push_back(kind == Indices::random ? Complex{re(rng), lossless ? 0.0 : im(rng)}
                                                    : Complex{base.re + step, base.im});
            }
        }
        for (std::size_t b = 0; b < stacks; ++b) {
            for (std::size_t j = 0; j + 2 < media; ++j) d.push_back(slab > 0 && j == 1 ? slab + b : thin(rng));
        }
        for (std::size_t w = 0; w < wavelengths; ++w) wl.push_back(400.0 + 4.0 * w);
    }

    Grid grid() const {
        return {n.data(), index_stacks, media, columns, d.data(), stacks, wl.data(), wavelengths,
                theta.data(), angles, stacks};
    }
    Complex index(std::size_t b, std::size_t j, std::size_t w) const {
        return n[((index_stacks == 1 ? 0 : b) * media + j) * columns + (columns == 1 ? 0 : w)];
    }
    std::size_t cells() const { return stacks * angles * (media - 2) * wavelengths; }
};

// The raw bytes of results, so that runs compare bit for bit.
template <class... T>
std::string bytes(const std::vector<T>&... v) {
    std::string out;
    (out.append(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T)), ...);
    return out;
}

void expect_same_for_threads(const std::function<std::string(std::size_t)>& run,
                             std::initializer_list<std::size_t> threads) {
    const std::string reference = run(1);
    for (const std::size_t count : threads) EXPECT_TRUE(run(count) == reference) << count << " threads";
}

struct CoherentRun {
    std::vector<Complex> amplitudes;
    std::vector<double> powers;
};

CoherentRun coherent(const Grid& grid, std::size_t threads) {
    CoherentRun run{std::vector<Complex>(4 * grid.points()), std::vector<double>(4 * grid.points())};
    solve_coherent(grid, {run.amplitudes.data(), run.powers.data()}, threads);
    return run;
}

TEST(CoherentGrid, EveryThreadCountAndEveryStackOnItsOwnGiveTheSameBits) {
    const Problem problem(9, 7, {0.0, 0.6, 1.2}, Indices::random);
    const Grid whole = problem.grid();
    check_grid(whole);
    expect_same_for_threads(
        [&](std::size_t threads) {
            const CoherentRun run = coherent(whole, threads);
            return bytes(run.amplitudes, run.powers);
        },
        {2, 3, 4, 7});
    const CoherentRun all = coherent(whole, 2);
    const std::size_t piece = problem.angles * problem.wavelengths, points = whole.points();
    for (std::size_t b = 0; b < problem.stacks; ++b) {
        Grid one = whole;
        one.thicknesses = problem.d.data() + b * (problem.media - 2);
        one.thickness_stacks = one.stacks = 1;
        const CoherentRun alone = coherent(one, 3);
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_TRUE(same_bytes(&alone.amplitudes[k * piece], &all.amplitudes[k * points + b * piece], piece));
            EXPECT_TRUE(same_bytes(&alone.powers[k * piece], &all.powers[k * points + b * piece], piece));
        }
    }
}

TEST(CoherentGrid, InconsistentShapesAreRefused) {
    const Problem problem(9, 7, {0.0}, Indices::random);
    Grid one_medium = problem.grid(), batch = problem.grid(), columns = problem.grid();
    one_medium.media = 1;
    batch.index_stacks = 2;
    columns.index_columns = 5;
    for (const Grid& bad : {one_medium, batch, columns}) EXPECT_THROW(check_grid(bad), std::invalid_argument);
}

// Mixed stacks (a thick incoherent slab between coherent films), absorption
// and depth profiles.
class LayeredGrid : public ::testing::TestWithParam<Indices> {
protected:
    const Problem problem{3, 6, {0.2, 1.0}, GetParam(), 1, 2e4};
    const bool coherent[4] = {true, false, true, true};
};

TEST_P(LayeredGrid, EveryThreadCountGivesTheSameBits) {
    const Grid grid = problem.grid();
    Grid one_stack = grid;
    one_stack.stacks = one_stack.thickness_stacks = one_stack.angle_count = 1;
    const std::vector<double> depths{-5.0, 0.0, 40.0, 150.0, 1e4, 3e4, 4e4};
    expect_same_for_threads(
        [&](std::size_t threads) {
            std::vector<double> powers(4 * grid.points()), absorbed_powers(powers.size()), layers(2 * problem.cells()),
                profile(4 * problem.wavelengths * depths.size()), light_powers(powers.size()),
                light(8 * 2 * grid.points());  // two runs: one inner layer by intensity
            solve_incoherent(grid, coherent, powers.data(), threads);
            solve_absorbed(grid, coherent, absorbed_powers.data(), layers.data(), threads);
            solve_profile(one_stack, coherent, depths.data(), depths.size(), profile.data(), threads);
            solve_run_light(grid, coherent, light_powers.data(), light.data(), threads);
            EXPECT_TRUE(same_bytes(light_powers, absorbed_powers));
            return bytes(powers, absorbed_powers, layers, profile, light);
        },
        {2, 3, 7});
}

TEST_P(LayeredGrid, PointsLandInPlaceWithTheirOwnBits) {
    const Grid grid = problem.grid();
    const std::size_t points = grid.points(), layers = problem.media - 2, cells = problem.cells();
    std::vector<double> powers(4 * points), absorbed(2 * cells);
    solve_absorbed(grid, coherent, powers.data(), absorbed.data(), 2);
    for (std::size_t b = 0; b < problem.stacks; ++b) {
        for (std::size_t a = 0; a < problem.angles; ++a) {
            for (std::size_t w = 0; w < problem.wavelengths; w += 16) {
                std::vector<Complex> column;
                for (std::size_t j = 0; j < problem.media; ++j) column.push_back(problem.index(b, j, w));
                const testing::Absorbed want = testing::absorbed(
                    testing::OwnedPoint(column, {problem.d.begin() + b * layers, problem.d.begin() + (b + 1) * layers},
                                        problem.wl[w], problem.theta[a], {true, false, true, true}));
                const std::size_t at = (b * problem.angles + a) * problem.wavelengths + w;
                EXPECT_EQ(powers[at], want.split.s.R);
                EXPECT_EQ(powers[3 * points + at], want.split.p.T);
                for (std::size_t j = 0; j < layers; ++j) {
                    const std::size_t cell = ((b * problem.angles + a) * layers + j) * problem.wavelengths + w;
                    EXPECT_EQ(absorbed[cell], want.s[j]) << b << a << j << w;
                    EXPECT_EQ(absorbed[cells + cell], want.p[j]) << b << a << j << w;
                }
            }
        }
    }
}

std::string name_of(const ::testing::TestParamInfo<Indices>& info) {
    static const char* const names[] = {"random", "constant", "dispersive", "halves"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Indices, LayeredGrid,
                         ::testing::Values(Indices::constant, Indices::dispersive, Indices::halves), name_of);

// Coherent and mixed thickness Jacobians, indices shared or per stack, per
// wavelength or constant.
class JacobianGrid : public ::testing::TestWithParam<std::tuple<std::size_t, Indices>> {
protected:
    const Problem problem{5, 6, {0.0, 0.9}, std::get<1>(GetParam()), std::get<0>(GetParam())};
};

TEST_P(JacobianGrid, EveryThreadCountGivesThePointsBits) {
    const std::size_t size = problem.cells(), layers = problem.media - 2;
    std::vector<Complex> amplitudes(4 * size);
    std::vector<double> powers(4 * size);
    auto run = [&](std::size_t threads) {
        thickness_jacobian(problem.grid(), {amplitudes.data(), powers.data()}, threads);
        return bytes(amplitudes, powers);
    };
    expect_same_for_threads(run, {2, 3, 4});
    run(1);
    // one point by hand: stack 3, angle 1, wavelength 40
    GradientProducts ws;
    const std::size_t b = 3, a = 1, w = 40;
    std::vector<Complex> column;
    for (std::size_t j = 0; j < problem.media; ++j) column.push_back(problem.index(b, j, w));
    const testing::OwnedPoint point(column, {problem.d.begin() + b * layers, problem.d.begin() + (b + 1) * layers},
                                    problem.wl[w], problem.theta[a]);
    coherent_gradient(
        point.view(), point.interfaces, ws,
        [&](std::size_t j, const ThicknessDerivative& s, const ThicknessDerivative& p) {
            const std::size_t at = ((b * problem.angles + a) * layers + (j - 1)) * problem.wavelengths + w;
            EXPECT_TRUE(same_bytes(powers[at], s.dR)) << j;
            EXPECT_TRUE(same_bytes(powers[size + at], p.dR)) << j;
            EXPECT_TRUE(same_bytes(amplitudes[3 * size + at], p.dt)) << j;
        });
}

TEST_P(JacobianGrid, MixedEveryThreadCountGivesTheSameBits) {
    const bool coherent[4] = {true, false, true, true};
    const std::size_t size = problem.cells();
    expect_same_for_threads(
        [&](std::size_t threads) {
            std::vector<double> out(4 * size);
            mixed_thickness_jacobian(problem.grid(), coherent, out.data(), threads);
            return bytes(out);
        },
        {2, 3});
}

INSTANTIATE_TEST_SUITE_P(Layouts, JacobianGrid,
                         ::testing::Combine(::testing::Values(std::size_t{1}, std::size_t{5}),
                                            ::testing::Values(Indices::constant, Indices::random)),
                         [](const auto& info) {
                             return (std::get<0>(info.param) == 1 ? "shared_" : "per_stack_") +
                                    name_of({std::get<1>(info.param), 0});
                         });

TEST(DispersionGrid, EveryThreadCountGivesThePointsBits) {
    const std::size_t media = 5, stacks = 3, W = 120;
    std::vector<Complex> series(4 * media * W);
    std::vector<double> wl(W);
    for (std::size_t w = 0; w < W; ++w) {
        wl[w] = 500.0 + 3.0 * w;
        for (std::size_t j = 0; j < media; ++j) {
            const double l = wl[w], b = 3000.0 + 1000.0 * j;  // Cauchy n = a + b / l^2 and its derivatives
            const double k[4] = {1.4 + 0.2 * j + b / (l * l), -2 * b / (l * l * l), 6 * b / (l * l * l * l),
                                 -24 * b / (l * l * l * l * l)};
            for (std::size_t order = 0; order < 4; ++order) {
                series[(order * media + j) * W + w] = {j == 0 ? (order == 0 ? 1.0 : 0.0) : k[order], 0.0};
            }
        }
    }
    const std::vector<double> d{80.0, 120.0, 60.0, 95.0, 110.0, 70.0, 100.0, 100.0, 100.0};
    const double angle = 0.4;
    const Grid grid{series.data(), 1, media, W, d.data(), stacks, wl.data(), W, &angle, 1, stacks};
    check_grid(grid);
    check_dispersion(grid, side_reflection, pol_p);
    std::vector<double> out(4 * stacks * W);
    auto run = [&](std::size_t threads) {
        double* o = out.data();
        dispersion(grid, side_reflection, pol_p, {o, o + stacks * W, o + 2 * stacks * W, o + 3 * stacks * W},
                   threads);
        return bytes(out);
    };
    expect_same_for_threads(run, {2, 4});
    run(1);
    const PhaseDerivatives point = phase_derivatives(
        media,
        [&](std::size_t j) {
            IndexSeries s;
            for (std::size_t order = 0; order < 4; ++order) s[order] = series[(order * media + j) * W + 77];
            return s;
        },
        d.data() + 2 * (media - 2), wl[77], std::sin(0.4), side_reflection, optics::pol_p);
    EXPECT_TRUE(same_bytes(out[2 * W + 77], point.phase));
    EXPECT_TRUE(same_bytes(out[3 * stacks * W + 2 * W + 77], point.tod));
}

TEST(DispersionGrid, InconsistentChoicesAreRefused) {
    std::vector<Complex> series(4 * 3 * 3);
    std::vector<double> d(1), wl{500.0, 600.0, 700.0}, angles{0.0, 0.1};
    Grid grid{series.data(), 1, 3, 3, d.data(), 1, wl.data(), 3, angles.data(), 1, 1};
    EXPECT_NO_THROW(check_dispersion(grid, side_reflection, pol_s));
    EXPECT_THROW(check_dispersion(grid, 2, pol_s), std::invalid_argument);
    EXPECT_THROW(check_dispersion(grid, side_transmission, 2), std::invalid_argument);
    grid.angle_count = 2;
    EXPECT_THROW(check_dispersion(grid, side_reflection, pol_s), std::invalid_argument);
}

}  // namespace
}  // namespace quilmo::lab
