// The lab's per-point passes: the exact one against the kernel bit for bit
// (with repeated and constant media reused), the scaled one against the exact
// one where both are finite, and the scaled one where the exact one overflows.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "lab/coherent.hpp"
#include "optics/stack.hpp"
#include "test_optics_support.hpp"

namespace {

using quilmo::View2;
using quilmo::lab::CoherentSolver;
using quilmo::optics::Complex;
using quilmo::optics::MatrixPair;
using quilmo::optics::testing::SameBits;
using quilmo::optics::testing::Stack;

// Kinds of rows: a fresh random index per column, one constant index, or a
// copy of an earlier row.
Stack make_stack(std::mt19937_64& rng, std::size_t media, std::size_t columns, bool repeats) {
    std::uniform_real_distribution<double> re(1.0, 2.6), im(0.0, 0.2), thick(5.0, 300.0), wave(350.0, 1000.0);
    Stack s;
    s.media = media;
    s.n.resize(media * columns);
    for (std::size_t a = 0; a < columns; ++a) s.wl.push_back(wave(rng));
    for (std::size_t j = 0; j < media; ++j) {
        const int kind = repeats && j >= 3 ? static_cast<int>(rng() % 3) : static_cast<int>(rng() % 2);
        const Complex constant{re(rng), j == 0 ? 0.0 : im(rng)};
        for (std::size_t a = 0; a < columns; ++a) {
            Complex& z = s.n[j * columns + a];
            if (kind == 2) {
                z = s.n[(j - 2) * columns + a];
            } else if (kind == 1 || j == 0) {
                z = constant;
            } else {
                z = {re(rng), im(rng)};
            }
        }
    }
    for (std::size_t j = 0; j + 2 < media; ++j) {
        s.d.push_back(repeats && j >= 2 && rng() % 2 ? s.d[j - 2] : thick(rng));
    }
    return s;
}

TEST(ExactPass, KernelBitsWithRepeatsAndConstantRows) {
    std::mt19937_64 rng(2026);
    for (int trial = 0; trial < 60; ++trial) {
        const std::size_t media = 2 + rng() % 14;
        Stack s = make_stack(rng, media, 5, trial % 3 != 0);
        CoherentSolver solver;
        solver.set_stack(s.n_view(), s.d_view(), 0, s.wl.size());
        for (const double theta : {0.0, 0.4, 1.3}) {
            solver.set_angle(std::sin(theta));
            s.theta = theta;
            for (std::size_t a = 0; a < s.wl.size(); ++a) {
                const MatrixPair want = s.pair(a);
                const auto got = solver.exact_matrix(a, s.wl[a]).m;
                ASSERT_TRUE(SameBits(quilmo::optics::detail::lane(got, 0), want.s) &&
                            SameBits(quilmo::optics::detail::lane(got, 1), want.p))
                    << trial << " " << a << " " << theta;
            }
        }
    }
}

double relative(Complex got, Complex want) {
    return std::hypot(got.re - want.re, got.im - want.im) / std::hypot(want.re, want.im);
}

TEST(ScaledPass, AgreesWithTheExactPassWhereBothAreFinite) {
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 40; ++trial) {
        const Stack s = make_stack(rng, 2 + rng() % 10, 3, false);
        CoherentSolver solver;
        solver.set_stack(s.n_view(), s.d_view(), 0, s.wl.size());
        solver.set_angle(std::sin(0.5));
        for (std::size_t a = 0; a < s.wl.size(); ++a) {
            const auto exact = quilmo::lab::amplitudes(solver.exact_matrix(a, s.wl[a]));
            const quilmo::lab::StackPoint point{s.n_view(), a, s.d_view(), s.wl[a], std::sin(0.5)};
            const auto scaled = quilmo::lab::amplitudes(quilmo::lab::scaled_stack_matrix(point));
            const Complex got[4] = {scaled.r_s, scaled.r_p, scaled.t_s, scaled.t_p};
            const Complex want[4] = {exact.r_s, exact.r_p, exact.t_s, exact.t_p};
            for (int k = 0; k < 4; ++k) EXPECT_LT(relative(got[k], want[k]), 1e-12) << trial << " " << a << " " << k;
        }
    }
}

TEST(ScaledPass, KeepsTenDigitsOfATransmissionNear1e250) {
    // air | slab of 1.5 + 0.01i | air at 500 nm, thick enough for T ~ 1e-250: the exact
    // product is still finite there, so the two passes can be compared.
    const std::vector<Complex> n{{1.0, 0.0}, {1.5, 0.01}, {1.0, 0.0}};
    const std::vector<double> d{250.0 * std::log(10.0) * 500.0 / (4.0 * std::numbers::pi * 0.01)};
    const quilmo::lab::StackPoint point{{n.data(), n.size(), 1, 1, 1}, 0, {d.data(), 1, 1}, 500.0, 0.0};
    CoherentSolver solver;
    solver.set_stack(point.n, point.d, 0, 1);
    solver.set_angle(0.0);
    const auto exact = quilmo::lab::amplitudes(solver.exact_matrix(0, 500.0));
    const auto scaled = quilmo::lab::amplitudes(quilmo::lab::scaled_stack_matrix(point));
    ASSERT_GT(std::hypot(exact.t_s.re, exact.t_s.im), 1e-130);
    EXPECT_LT(relative(scaled.t_s, exact.t_s), 1e-10);
    EXPECT_LT(relative(scaled.r_p, exact.r_p), 1e-12);
}

TEST(ScaledPass, TakesOverWhereTheExactProductOverflows) {
    // air | 50 nm | 1 mm of 3 + 4i | 80 nm | glass at 500 nm: e^{|Im delta|} ~ e^{50000}.
    const std::vector<Complex> n{{1.0, 0.0}, {1.46, 0.0}, {3.0, 4.0}, {2.1, 0.0}, {1.52, 0.0}};
    const std::vector<double> d{50.0, 1e6, 80.0};
    const View2<Complex> view{n.data(), n.size(), 1, 1, 1};
    CoherentSolver solver;
    solver.set_stack(view, {d.data(), d.size(), 1}, 0, 1);
    solver.set_angle(std::sin(0.3));
    const auto exact = quilmo::lab::amplitudes(solver.exact_matrix(0, 500.0));
    EXPECT_FALSE(std::isfinite(exact.r_s.re) && std::isfinite(exact.t_s.re));
    const auto result = solver.solve(0, 500.0);
    for (const Complex z : {result.amplitudes.r_s, result.amplitudes.r_p}) {
        EXPECT_TRUE(std::isfinite(z.re) && std::isfinite(z.im));
    }
    EXPECT_EQ(result.powers.T_s, 0.0);
    EXPECT_EQ(result.powers.T_p, 0.0);
    EXPECT_GT(result.powers.R_s, 0.0);
    EXPECT_LT(result.powers.R_s, 1.0);
}

TEST(ScaledPass, UnscaleKeepsPrecisionDownToTheSubnormals) {
    // (3 + 4i) e^{-700}: exp(-700) alone is 9.86e-305, the product stays in range.
    const Complex got = quilmo::lab::unscale({3.0e10, 4.0e10}, 700.0 + 10.0 * std::log(10.0));
    EXPECT_NEAR(got.re / (3.0 * std::exp(-700.0)), 1.0, 1e-12);
    EXPECT_NEAR(got.im / (4.0 * std::exp(-700.0)), 1.0, 1e-12);
    const Complex gone = quilmo::lab::unscale({1.0, 1.0}, 1e5);
    EXPECT_EQ(gone.re, 0.0);
    EXPECT_EQ(gone.im, 0.0);
}

}  // namespace
