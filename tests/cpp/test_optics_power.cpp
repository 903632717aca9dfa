// Reflectance and transmittance: the bare interface, the phi weighting, total
// internal reflection, degenerate matrices, and energy balance over random
// stacks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "optics/power.hpp"
#include "optics/stack.hpp"
#include "test_optics_support.hpp"

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

struct Interface {
    double n1;
    double n2;
};

void PrintTo(const Interface& c, std::ostream* out) { *out << c.n1 << " | " << c.n2; }

class BareInterface : public ::testing::TestWithParam<Interface> {};

TEST_P(BareInterface, NormalIncidenceFresnelValues) {
    const auto [n1, n2] = GetParam();
    const Stack s = single({{n1, 0.0}, {n2, 0.0}}, {}, 633.0, 0.0);
    const double r = (n1 - n2) / (n1 + n2);
    for (double phi : {0.0, 0.4, half_pi, -2.0}) {
        const double R = reflectance_of(s, phi);
        const double T = transmittance_of(s, phi);
        EXPECT_TRUE(NearUlps(R, r * r, 16)) << "phi " << phi;
        EXPECT_TRUE(NearUlps(T, 4.0 * n1 * n2 / ((n1 + n2) * (n1 + n2)), 8)) << "phi " << phi;
        EXPECT_NEAR(R + T, 1.0, 1e-15) << "phi " << phi;
    }
}

INSTANTIATE_TEST_SUITE_P(Indices, BareInterface,
                         ::testing::Values(Interface{1.0, 1.5}, Interface{1.5, 1.0},
                                           Interface{1.0, 3.2}, Interface{2.4, 1.33}));

// s: r = 1/2, tau = 1/2; p: r = 1, tau = 1.
const MatrixPair synthetic{{{2.0, 0.0}, {1.0, 0.0}, {0.0, 0.0}, {2.0, 0.0}},
                           {{1.0, 0.0}, {1.0, 0.0}, {0.0, 0.0}, {1.0, 0.0}}};
constexpr Complex vacuum{1.0, 0.0};

TEST(PolarisationWeights, ZeroPhiIsPureS) {
    EXPECT_EQ(reflectance(synthetic, 0.0), 0.25);
    EXPECT_EQ(transmittance(synthetic, vacuum, vacuum, 0.0, 0.0), 0.25);
    // sin(pi/2) is exactly 1 and cos(pi/2)^2 vanishes against 1
    EXPECT_EQ(reflectance(synthetic, half_pi), 1.0);
    EXPECT_EQ(transmittance(synthetic, vacuum, vacuum, 0.0, half_pi), 1.0);
    EXPECT_TRUE(NearUlps(reflectance(synthetic, std::numbers::pi / 4), 0.625, 2));
}

TEST(PolarisationWeights, GFactorIsShared) {
    // g = Re(sqrt(n_out^2 - n_in^2 sin^2) / (n_in cos)) = 2 at normal incidence
    const Complex n_out{2.0, 0.0};
    EXPECT_EQ(transmittance(synthetic, vacuum, n_out, 0.0, 0.0), 0.5);
    EXPECT_EQ(transmittance(synthetic, vacuum, n_out, 0.0, half_pi), 2.0);
}

TEST(TotalInternalReflection, TransmittanceExactlyZero) {
    const double theta = std::numbers::pi / 3;
    const Stack bare = single({{1.5, 0.0}, {1.0, 0.0}}, {}, 500.0, theta);
    const Stack coated = single({{1.5, 0.0}, {2.1, 0.0}, {1.3, 0.0}, {1.0, 0.0}}, {80.0, 120.0}, 500.0, theta);
    for (const Stack* s : {&bare, &coated}) {
        for (double phi : {0.0, 0.7, half_pi}) {
            EXPECT_EQ(transmittance_of(*s, phi), 0.0);
            EXPECT_NEAR(reflectance_of(*s, phi), 1.0, 1e-14);
        }
    }
}

TEST(TotalInternalReflection, ZeroExitRootGivesZero) {
    // n_out^2 - n_in^2 sin^2(pi/2) is exactly (0, 0): w = (0, 0)
    EXPECT_EQ(transmittance(synthetic, vacuum, vacuum, half_pi, 0.3), 0.0);
}

TEST(Degenerate, ZeroM00GivesNonFinite) {
    for (bool zero_s : {true, false}) {
        MatrixPair pair = synthetic;
        (zero_s ? pair.s : pair.p).m00 = {0.0, 0.0};
        EXPECT_FALSE(std::isfinite(reflectance(pair, 0.5))) << "zero_s " << zero_s;
        EXPECT_FALSE(std::isfinite(transmittance(pair, vacuum, vacuum, 0.2, 0.5))) << "zero_s " << zero_s;
    }
}

TEST(Degenerate, GrazingIncidenceOnEqualMediaIsNan) {
    // A + B = 0 at theta = pi/2 between equal media: 0/0 in every matrix entry
    const Stack s = single({{1.0, 0.0}, {1.0, 0.0}}, {}, 500.0, half_pi);
    EXPECT_TRUE(std::isnan(reflectance_of(s, 0.3)));
    EXPECT_TRUE(std::isnan(transmittance_of(s, 0.3)));
}

// ---- energy balance over random stacks ------------------------------------

TEST(EnergyBalance, LosslessStacksConserveEnergy) {
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<std::size_t> media(2, 14);
    std::uniform_real_distribution<double> phi(-3.2, 3.2);
    int below = 0;
    int above = 0;
    for (int i = 0; i < 3000; ++i) {
        const Stack s = testing::random_stack(rng, media(rng), 1, testing::Material::lossless);
        const bool tir = s.index(0, 0).re * std::sin(s.theta) > s.index(s.media - 1, 0).re;
        ++(tir ? above : below);
        const double p = phi(rng);
        const double R = reflectance_of(s, p);
        const double T = transmittance_of(s, p);
        ASSERT_NEAR(R + T, 1.0, 1e-12) << "stack " << i << " R " << R << " T " << T;
        if (tir) {
            ASSERT_EQ(T, 0.0) << "stack " << i;
        }
    }
    EXPECT_GT(below, 500);
    EXPECT_GT(above, 500);
}

TEST(EnergyBalance, AbsorbingLayersLoseEnergy) {
    std::mt19937_64 rng(12);
    std::uniform_int_distribution<std::size_t> media(3, 10);
    std::uniform_real_distribution<double> phi(-3.2, 3.2);
    for (int i = 0; i < 2000; ++i) {
        Stack s = testing::random_stack(rng, media(rng), 1, testing::Material::absorbing);
        for (Complex& n : s.n) n.im = std::fabs(n.im);
        const double p = phi(rng);
        const double R = reflectance_of(s, p);
        const double T = transmittance_of(s, p);
        ASSERT_GE(R, 0.0) << "stack " << i;
        ASSERT_GE(T, 0.0) << "stack " << i;
        ASSERT_LE(R + T, 1.0 + 1e-12) << "stack " << i;
    }
}

}  // namespace
}  // namespace quilmo::optics
