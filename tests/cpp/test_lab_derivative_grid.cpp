// The thickness-derivative (coherent and mixed) and dispersion grids over
// threads: every thread count gives the bits of the per-point functions, with
// indices shared by the batch or per stack and per wavelength or constant. The tools/tsan_pool.sh
// leg runs this file under ThreadSanitizer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "lab/dispersion_grid.hpp"
#include "lab/grid.hpp"
#include "lab/incoherent.hpp"
#include "lab/mixed_gradient.hpp"
#include "lab/phase_jets.hpp"
#include "lab/thickness_gradient.hpp"
#include "lab/thickness_jacobian.hpp"

namespace {

using quilmo::lab::Grid;
using quilmo::optics::Complex;

struct Problem {
    std::size_t stacks = 5, media = 6, angles = 2, wavelengths = 97;
    std::size_t index_stacks, index_columns;
    std::vector<Complex> n;  // (index_stacks, media, index_columns)
    std::vector<double> d;   // (stacks, media - 2)
    std::vector<double> wl;
    std::vector<double> theta{0.0, 0.9};

    Problem(std::size_t index_stacks_, std::size_t index_columns_)
        : index_stacks(index_stacks_), index_columns(index_columns_) {
        std::mt19937_64 rng(17);
        std::uniform_real_distribution<double> re(1.0, 2.5), im(0.0, 0.1), thick(10.0, 200.0);
        for (std::size_t b = 0; b < index_stacks; ++b) {
            for (std::size_t j = 0; j < media; ++j) {
                for (std::size_t w = 0; w < index_columns; ++w) n.push_back({re(rng), j == 0 ? 0.0 : im(rng)});
            }
        }
        for (std::size_t k = 0; k < stacks * (media - 2); ++k) d.push_back(thick(rng));
        for (std::size_t w = 0; w < wavelengths; ++w) wl.push_back(400.0 + 5.0 * w);
    }

    Grid grid() const {
        return {n.data(), index_stacks, media, index_columns, d.data(), stacks, wl.data(), wavelengths,
                theta.data(), angles, stacks};
    }

    Complex index(std::size_t b, std::size_t j, std::size_t w) const {
        return n[((index_stacks == 1 ? 0 : b) * media + j) * index_columns + (index_columns == 1 ? 0 : w)];
    }
};

struct Jacobian {
    std::vector<Complex> amplitudes;
    std::vector<double> powers;
    std::size_t block;

    explicit Jacobian(std::size_t size) : amplitudes(4 * size), powers(4 * size), block(size) {}

    quilmo::lab::JacobianOutputs outputs() {
        Complex* a = amplitudes.data();
        double* p = powers.data();
        return {{a, a + block}, {a + 2 * block, a + 3 * block}, {p, p + block}, {p + 2 * block, p + 3 * block}};
    }
};

bool same_bits(const void* x, const void* y, std::size_t bytes) { return std::memcmp(x, y, bytes) == 0; }

class ThicknessJacobianGrid : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ThicknessJacobianGrid, EveryThreadCountGivesThePointsBits) {
    const auto [index_stacks, index_columns] = GetParam();
    const Problem problem(index_stacks == 1 ? 1 : 5, index_columns == 1 ? 1 : 97);
    const std::size_t layers = problem.media - 2;
    const std::size_t size = problem.stacks * problem.angles * layers * problem.wavelengths;
    Jacobian reference(size);
    quilmo::lab::thickness_jacobian(problem.grid(), reference.outputs(), 1);
    // one point by hand: stack 3, angle 1, wavelength 40
    quilmo::lab::GradientWorkspace ws;
    quilmo::lab::PointPowers powers[2];
    const std::size_t b = 3, a = 1, w = 40;
    quilmo::lab::thickness_gradient(
        problem.media, [&](std::size_t j) { return problem.index(b, j, w); }, problem.d.data() + b * layers,
        problem.wl[w], std::sin(problem.theta[a]), ws, powers,
        [&](std::size_t j, const quilmo::lab::ThicknessDerivative& s, const quilmo::lab::ThicknessDerivative& p) {
            const std::size_t at = ((b * problem.angles + a) * layers + (j - 1)) * problem.wavelengths + w;
            EXPECT_TRUE(same_bits(&reference.powers[at], &s.dR, sizeof(double))) << j;
            EXPECT_TRUE(same_bits(&reference.powers[reference.block + at], &p.dR, sizeof(double))) << j;
            EXPECT_TRUE(same_bits(&reference.amplitudes[3 * reference.block + at], &p.dt, sizeof(Complex))) << j;
        });
    for (std::size_t threads : {2, 3, 4}) {
        Jacobian other(size);
        quilmo::lab::thickness_jacobian(problem.grid(), other.outputs(), threads);
        EXPECT_TRUE(same_bits(other.amplitudes.data(), reference.amplitudes.data(), 4 * size * sizeof(Complex)));
        EXPECT_TRUE(same_bits(other.powers.data(), reference.powers.data(), 4 * size * sizeof(double)));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ThicknessJacobianGrid,
                         ::testing::Combine(::testing::Values(1, 5), ::testing::Values(1, 97)));

TEST(MixedJacobianGrid, EveryThreadCountGivesTheSameBits) {
    const Problem problem(1, 97);
    const std::size_t layers = problem.media - 2;
    const bool coherent[4] = {true, false, true, true};
    const std::size_t size = problem.stacks * problem.angles * layers * problem.wavelengths;
    auto run = [&](std::size_t threads) {
        std::vector<double> out(4 * size);
        double* const dR[2] = {out.data(), out.data() + size};
        double* const dT[2] = {out.data() + 2 * size, out.data() + 3 * size};
        quilmo::lab::mixed_thickness_jacobian(problem.grid(), coherent, dR, dT, threads);
        return out;
    };
    const std::vector<double> reference = run(1);
    for (std::size_t threads : {2, 3}) {
        const std::vector<double> other = run(threads);
        EXPECT_TRUE(same_bits(other.data(), reference.data(), reference.size() * sizeof(double)));
    }
}

TEST(MixedJacobianGrid, TangentTransferCarriesThePowerTransfersValues) {
    // three runs: a lossy slab between two thin-film runs, and the exit
    const std::vector<quilmo::lab::RunPowers> runs{{0.04, 0.9, 0.05, 0.88}, {0.3, 0.6, 0.25, 0.65},
                                                   {0.01, 0.99, 0.01, 0.99}};
    const std::vector<double> passes{0.7, 0.2, 1.0};
    std::vector<double> behind(3);
    const quilmo::lab::PowerSplit want = quilmo::lab::power_transfer(runs, passes, behind, {}, {});
    std::vector<quilmo::lab::RunTangent> tangents;
    std::vector<quilmo::lab::Tangent> pass_tangents, scratch(3);
    for (const auto& r : runs) tangents.push_back({{r.R, 0.0}, {r.T, 1.0}, {r.R_back, 0.0}, {r.T_back, 0.0}});
    for (double p : passes) pass_tangents.push_back({p, 0.0});
    const quilmo::lab::TangentSplit got = quilmo::lab::tangent_transfer(tangents, pass_tangents, scratch);
    EXPECT_EQ(got.R.v, want.R);
    EXPECT_EQ(got.T.v, want.T);
    EXPECT_GT(got.T.d, 0.0);  // every run's T raised a little: more light through
}

TEST(DispersionGrid, EveryThreadCountGivesThePointsBits) {
    const std::size_t media = 5, stacks = 3, W = 120;
    std::vector<Complex> series(4 * media * W);
    for (std::size_t j = 0; j < media; ++j) {
        for (std::size_t w = 0; w < W; ++w) {
            const double l = 500.0 + 3.0 * w, b = 3000.0 + 1000.0 * j;
            const double n = j == 0 ? 1.0 : 1.4 + 0.2 * j + b / (l * l);
            const double k[4] = {n, -2 * b / (l * l * l), 6 * b / (l * l * l * l), -24 * b / (l * l * l * l * l)};
            for (int order = 0; order < 4; ++order) {
                series[(order * media + j) * W + w] = {j == 0 && order > 0 ? 0.0 : k[order], 0.0};
            }
        }
    }
    std::vector<double> d{80.0, 120.0, 60.0, 95.0, 110.0, 70.0, 100.0, 100.0, 100.0};
    std::vector<double> wl(W);
    for (std::size_t w = 0; w < W; ++w) wl[w] = 500.0 + 3.0 * w;
    const quilmo::lab::DispersionGrid grid{series.data(), media, W,   d.data(), stacks, wl.data(), W, stacks, 0.4,
                                           quilmo::lab::side_reflection, quilmo::optics::pol_p};
    quilmo::lab::check_dispersion_grid(grid);
    auto run = [&](std::size_t threads) {
        std::vector<double> out(4 * stacks * W);
        double* o = out.data();
        quilmo::lab::dispersion(grid, {o, o + stacks * W, o + 2 * stacks * W, o + 3 * stacks * W}, threads);
        return out;
    };
    const std::vector<double> reference = run(1);
    const quilmo::lab::PhaseDerivatives point = quilmo::lab::phase_derivatives(
        media,
        [&](std::size_t j) {
            quilmo::lab::IndexSeries s;
            for (int order = 0; order < 4; ++order) s[order] = series[(order * media + j) * W + 77];
            return s;
        },
        d.data() + 2 * (media - 2), wl[77], std::sin(0.4), quilmo::lab::side_reflection, quilmo::optics::pol_p);
    EXPECT_TRUE(same_bits(&reference[2 * W + 77], &point.phase, sizeof(double)));
    EXPECT_TRUE(same_bits(&reference[3 * stacks * W + 2 * W + 77], &point.tod, sizeof(double)));
    for (std::size_t threads : {2, 4}) {
        const std::vector<double> other = run(threads);
        EXPECT_TRUE(same_bits(other.data(), reference.data(), reference.size() * sizeof(double)));
    }
}

TEST(DispersionGrid, InconsistentShapesAreRefused) {
    std::vector<Complex> series(4 * 3 * 2);
    std::vector<double> d(1), wl{500.0, 600.0, 700.0};
    quilmo::lab::DispersionGrid grid{series.data(), 3, 2, d.data(), 1, wl.data(), 3, 1, 0.0, 0, 0};
    EXPECT_THROW(quilmo::lab::check_dispersion_grid(grid), std::invalid_argument);  // 2 columns, 3 wavelengths
    grid.series_columns = 3;
    grid.side = 2;
    EXPECT_THROW(quilmo::lab::check_dispersion_grid(grid), std::invalid_argument);
}

}  // namespace
