// The coherent point: the exact pass against the kernel bit for bit (with
// repeated and constant media and repeated layers reused by the point
// builder), the scaled product against the exact pass where both are finite,
// and the scaled product where the exact one overflows.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "lab/coherent/coherent_point.hpp"
#include "lab/coherent/scaled_product.hpp"
#include "optics/stack.hpp"
#include "optics/test_optics_support.hpp"

namespace quilmo::lab {
namespace {

using optics::MatrixPair;
using optics::testing::SameBits;
using optics::testing::Stack;

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

// One stack at `angles`, solved point after point in grid order by one
// builder and one solver.
struct PointRun {
    const Stack& stack;
    std::vector<double> angles;
    Grid grid;
    std::vector<Complex> sines;
    PointBuilder builder;
    CoherentPoint solver;

    PointRun(const Stack& s, std::vector<double> theta)
        : stack(s), angles(std::move(theta)),
          grid{s.n.data(), 1, s.media, s.wl.size(), s.d.data(), 1, s.wl.data(), s.wl.size(), angles.data(),
               angles.size(), 1},
          sines(angle_sines(grid)), builder(grid, sines, {0, s.wl.size()}) {}

    CoherentResult solve(std::size_t angle, std::size_t w) {
        builder.move_to({0, angle, w});
        return solver.solve(builder);
    }
    ScaledProduct scaled(std::size_t angle, std::size_t w) {
        builder.move_to({0, angle, w});
        builder.compute_interfaces();
        return scaled_product([&](std::size_t j) -> const Medium& { return builder.medium(j); },
                              [&](std::size_t j) -> const MatrixLanes& { return builder.interface(j); },
                              builder.thicknesses(), builder.wavelength(), 0, stack.media - 1);
    }
};

// r = M10 / M00 and t = 1 / M00 of a product, t unscaled.
Amplitudes amplitudes_of(const ScaledProduct& product, int pol) {
    const Complex m00 = optics::kernel::lane(product.m.m00, pol);
    return {optics::kernel::lane(product.m.m10, pol) / m00, unscale(optics::reciprocal(m00), product.log_scale)};
}

TEST(ExactPass, KernelBitsWithRepeatsAndConstantRows) {
    std::mt19937_64 rng(2026);
    for (int trial = 0; trial < 60; ++trial) {
        const std::size_t media = 2 + rng() % 14;
        Stack s = make_stack(rng, media, 5, trial % 3 != 0);
        PointRun run(s, {0.0, 0.4, 1.3});
        for (std::size_t angle = 0; angle < 3; ++angle) {
            s.theta = run.angles[angle];
            for (std::size_t a = 0; a < s.wl.size(); ++a) {
                const MatrixPair want = s.pair(a);
                const CoherentResult got = run.solve(angle, a);
                const optics::TransferMatrix* kernel[2] = {&want.s, &want.p};
                for (const int pol : {pol_s, pol_p}) {
                    ASSERT_TRUE(SameBits(got.amplitudes[pol].r, kernel[pol]->m10 / kernel[pol]->m00) &&
                                SameBits(got.amplitudes[pol].t, optics::reciprocal(kernel[pol]->m00)))
                        << trial << " " << a << " " << angle << " pol " << pol;
                }
            }
        }
    }
}

double relative(Complex got, Complex want) {
    return std::hypot(got.re - want.re, got.im - want.im) / std::hypot(want.re, want.im);
}

TEST(ScaledProduct, AgreesWithTheExactPassWhereBothAreFinite) {
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 40; ++trial) {
        const Stack s = make_stack(rng, 2 + rng() % 10, 3, false);
        PointRun run(s, {0.5});
        for (std::size_t a = 0; a < s.wl.size(); ++a) {
            const CoherentResult exact = run.solve(0, a);
            const ScaledProduct scaled = run.scaled(0, a);
            for (const int pol : {pol_s, pol_p}) {
                const Amplitudes got = amplitudes_of(scaled, pol);
                EXPECT_LT(relative(got.r, exact.amplitudes[pol].r), 1e-12) << trial << " " << a << " " << pol;
                EXPECT_LT(relative(got.t, exact.amplitudes[pol].t), 1e-12) << trial << " " << a << " " << pol;
            }
        }
    }
}

TEST(ScaledProduct, KeepsTenDigitsOfATransmissionNear1e250) {
    // air | slab of 1.5 + 0.01i | air at 500 nm, thick enough for T ~ 1e-250: the exact
    // product is still finite there, so the two passes can be compared.
    const Stack s = optics::testing::single({{1.0, 0.0}, {1.5, 0.01}, {1.0, 0.0}},
                                            {250.0 * std::log(10.0) * 500.0 / (4.0 * std::numbers::pi * 0.01)}, 500.0,
                                            0.0);
    PointRun run(s, {0.0});
    const CoherentResult exact = run.solve(0, 0);
    const ScaledProduct scaled = run.scaled(0, 0);
    ASSERT_GT(std::hypot(exact.amplitudes.s.t.re, exact.amplitudes.s.t.im), 1e-130);
    EXPECT_LT(relative(amplitudes_of(scaled, pol_s).t, exact.amplitudes.s.t), 1e-10);
    EXPECT_LT(relative(amplitudes_of(scaled, pol_p).r, exact.amplitudes.p.r), 1e-12);
}

TEST(ScaledProduct, TakesOverWhereTheExactProductOverflows) {
    // air | 50 nm | 1 mm of 3 + 4i | 80 nm | glass at 500 nm: e^{|Im delta|} ~ e^{50000}.
    Stack s = optics::testing::single({{1.0, 0.0}, {1.46, 0.0}, {3.0, 4.0}, {2.1, 0.0}, {1.52, 0.0}},
                                      {50.0, 1e6, 80.0}, 500.0, 0.3);
    const optics::MatrixPair kernel = s.pair(0);
    EXPECT_FALSE(std::isfinite(kernel.s.m00.re) && std::isfinite(kernel.s.m10.re));
    PointRun run(s, {0.3});
    const CoherentResult result = run.solve(0, 0);
    for (const int pol : {pol_s, pol_p}) {
        const Complex r = result.amplitudes[pol].r;
        EXPECT_TRUE(std::isfinite(r.re) && std::isfinite(r.im));
        EXPECT_EQ(result.powers[pol].T, 0.0);
        EXPECT_GT(result.powers[pol].R, 0.0);
        EXPECT_LT(result.powers[pol].R, 1.0);
    }
}

TEST(ScaledProduct, UnscaleKeepsPrecisionDownToTheSubnormals) {
    // (3 + 4i) e^{-700}: exp(-700) alone is 9.86e-305, the product stays in range.
    const Complex got = unscale({3.0e10, 4.0e10}, 700.0 + 10.0 * std::log(10.0));
    EXPECT_NEAR(got.re / (3.0 * std::exp(-700.0)), 1.0, 1e-12);
    EXPECT_NEAR(got.im / (4.0 * std::exp(-700.0)), 1.0, 1e-12);
    const Complex gone = unscale({1.0, 1.0}, 1e5);
    EXPECT_EQ(gone.re, 0.0);
    EXPECT_EQ(gone.im, 0.0);
}

}  // namespace
}  // namespace quilmo::lab
