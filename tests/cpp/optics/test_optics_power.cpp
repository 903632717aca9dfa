// Reflectance and transmittance: the bare interface, the phi weighting,
// degenerate matrices, and energy balance over random stacks, total internal
// reflection included.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "optics/power.hpp"
#include "optics/stack.hpp"
#include "optics/test_optics_support.hpp"

namespace quilmo::optics {
namespace {

using testing::NearUlps;
using testing::Stack;
using testing::single;

constexpr double half_pi = std::numbers::pi / 2;

double reflectance_of(const Stack& s, double phi) { return reflectance(s.pair(0), phi); }
double transmittance_of(const Stack& s, double phi) {
    return transmittance(s.pair(0), s.index(0, 0), s.index(s.media - 1, 0), s.theta, phi);
}

TEST(BareInterface, NormalIncidenceFresnelValues) {
    for (auto [n1, n2] : {std::pair{1.0, 1.5}, {1.5, 1.0}, {1.0, 3.2}, {2.4, 1.33}}) {
        const Stack s = single({{n1, 0.0}, {n2, 0.0}}, {}, 633.0, 0.0);
        const double r = (n1 - n2) / (n1 + n2);
        for (double phi : {0.0, 0.4, half_pi, -2.0}) {
            SCOPED_TRACE(testing::show(n1) + " | " + testing::show(n2) + ", phi " + testing::show(phi));
            EXPECT_TRUE(NearUlps(reflectance_of(s, phi), r * r, 16));
            EXPECT_TRUE(NearUlps(transmittance_of(s, phi), 4.0 * n1 * n2 / ((n1 + n2) * (n1 + n2)), 8));
        }
    }
}

// s: r = 1/2, tau = 1/2; p: r = 1, tau = 1.
const MatrixPair synthetic{{{2.0, 0.0}, {1.0, 0.0}, {0.0, 0.0}, {2.0, 0.0}},
                           {{1.0, 0.0}, {1.0, 0.0}, {0.0, 0.0}, {1.0, 0.0}}};
constexpr Complex vacuum{1.0, 0.0};

TEST(SyntheticPair, PhiMixesSAndPAndGFactorIsShared) {
    EXPECT_EQ(reflectance(synthetic, 0.0), 0.25);
    EXPECT_EQ(transmittance(synthetic, vacuum, vacuum, 0.0, 0.0), 0.25);
    // sin(pi/2) is exactly 1 and cos(pi/2)^2 vanishes against 1
    EXPECT_EQ(reflectance(synthetic, half_pi), 1.0);
    EXPECT_EQ(transmittance(synthetic, vacuum, vacuum, 0.0, half_pi), 1.0);
    EXPECT_TRUE(NearUlps(reflectance(synthetic, std::numbers::pi / 4), 0.625, 2));
    // g = Re(sqrt(n_out^2 - n_in^2 sin^2) / (n_in cos)) = 2 at normal incidence, for both
    EXPECT_EQ(transmittance(synthetic, vacuum, {2.0, 0.0}, 0.0, 0.0), 0.5);
    EXPECT_EQ(transmittance(synthetic, vacuum, {2.0, 0.0}, 0.0, half_pi), 2.0);
    // n_out^2 - n_in^2 sin^2(pi/2) is exactly (0, 0): w = (0, 0) and no transmission
    EXPECT_EQ(transmittance(synthetic, vacuum, vacuum, half_pi, 0.3), 0.0);
}

TEST(Degenerate, ZeroM00OrGrazingOnEqualMediaIsNotFinite) {
    for (bool zero_s : {true, false}) {
        MatrixPair pair = synthetic;
        (zero_s ? pair.s : pair.p).m00 = {0.0, 0.0};
        EXPECT_FALSE(std::isfinite(reflectance(pair, 0.5))) << "zero_s " << zero_s;
        EXPECT_FALSE(std::isfinite(transmittance(pair, vacuum, vacuum, 0.2, 0.5))) << "zero_s " << zero_s;
    }
    // A + B = 0 at theta = pi/2 between equal media: 0/0 in every matrix entry
    const Stack s = single({{1.0, 0.0}, {1.0, 0.0}}, {}, 500.0, half_pi);
    EXPECT_TRUE(std::isnan(reflectance_of(s, 0.3)));
    EXPECT_TRUE(std::isnan(transmittance_of(s, 0.3)));
}

// Lossless stacks, many of them past the critical angle, keep R + T = 1 for
// any phi (T exactly 0 under total internal reflection); stacks with only
// absorbing layers lose energy.
TEST(EnergyBalance, RandomStacks) {
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<std::size_t> media(2, 14);
    std::uniform_real_distribution<double> phi(-3.2, 3.2);
    int below = 0, above = 0;  // the critical angle
    for (int i = 0; i < 5000; ++i) {
        const bool lossless = i < 3000;
        Stack s = testing::random_stack(rng, media(rng), 1,
                                        lossless ? testing::Material::lossless : testing::Material::absorbing);
        for (Complex& n : s.n) n.im = std::fabs(n.im);
        const double p = phi(rng), R = reflectance_of(s, p), T = transmittance_of(s, p);
        SCOPED_TRACE("stack " + std::to_string(i) + " R " + testing::show(R) + " T " + testing::show(T));
        if (!lossless) {
            ASSERT_TRUE(R >= 0.0 && T >= 0.0 && R + T <= 1.0 + 1e-12);
            continue;
        }
        ASSERT_NEAR(R + T, 1.0, 1e-12);
        if (s.index(0, 0).re * std::sin(s.theta) > s.index(s.media - 1, 0).re) {
            ++above;
            ASSERT_EQ(T, 0.0);
        } else {
            ++below;
        }
    }
    EXPECT_GT(below, 500);
    EXPECT_GT(above, 500);
}

}  // namespace
}  // namespace quilmo::optics
