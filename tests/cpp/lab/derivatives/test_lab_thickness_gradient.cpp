// Thickness derivatives of the amplitudes and powers against central finite
// differences on random coherent stacks (lossless, absorbing, past the
// critical angle), s and p, the kernel's amplitudes, energy conservation of
// lossless stacks, and the opaque-layer limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "lab/derivatives/coherent_gradient_point.hpp"
#include "lab/lab_point.hpp"
#include "optics/stack.hpp"

namespace quilmo::lab {
namespace {

using optics::Complex;

struct Point {
    std::vector<Complex> n;
    std::vector<double> d;
    double wavelength;
    double theta;
};

struct Evaluation {
    CoherentResult values;
    std::vector<ThicknessDerivative> grad[2];  // by inner layer, from 0
};

Evaluation evaluate(const Point& p) {
    Evaluation e;
    GradientProducts ws;
    const std::size_t layers = p.n.size() - 2;
    e.grad[0].resize(layers);
    e.grad[1].resize(layers);
    const testing::OwnedPoint owned(p.n, p.d, p.wavelength, p.theta);
    e.values = coherent_gradient(owned.view(), owned.interfaces, ws,
                                 [&](std::size_t j, const ThicknessDerivative& s, const ThicknessDerivative& pp) {
                                     e.grad[0][j - 1] = s;
                                     e.grad[1][j - 1] = pp;
                                 });
    return e;
}

Point random_point(std::mt19937_64& rng, bool absorbing, double theta) {
    std::uniform_int_distribution<int> count(3, 9);
    std::uniform_real_distribution<double> re(1.2, 3.0), im(0.0, 0.4), thick(5.0, 300.0), wl(380.0, 1000.0);
    Point p;
    const int media = count(rng);
    for (int j = 0; j < media; ++j) {
        const bool lossy = absorbing && j > 0;  // the incidence medium stays lossless
        p.n.push_back({re(rng), lossy ? im(rng) : 0.0});
    }
    for (int j = 0; j + 2 < media; ++j) p.d.push_back(thick(rng));
    p.wavelength = wl(rng);
    p.theta = theta;
    return p;
}

// Re r, Im r, Re t, Im t, R, T and their derivatives in the same order.
std::array<double, 6> flat(const CoherentResult& v, int pol) {
    const Amplitudes& a = v.amplitudes[pol];
    return {a.r.re, a.r.im, a.t.re, a.t.im, v.powers[pol].R, v.powers[pol].T};
}
std::array<double, 6> flat(const ThicknessDerivative& g) { return {g.dr.re, g.dr.im, g.dt.re, g.dt.im, g.dR, g.dT}; }

// Fourth-order central differences (Richardson on steps h and 2h), so that
// strongly resonant stacks do not need a step near the rounding floor; the
// tolerance's floor keeps derivatives that happen to be near zero from
// demanding more digits than the differences have.
void check_against_differences(const Point& point) {
    static const char* const names[6] = {"Re dr", "Im dr", "Re dt", "Im dt", "dR", "dT"};
    const Evaluation e = evaluate(point);
    const double h = 1e-3;
    for (std::size_t l = 0; l < point.d.size(); ++l) {
        std::array<double, 6> at[4][2];  // d + 2h, d + h, d - h, d - 2h; s and p
        const double steps[4] = {2 * h, h, -h, -2 * h};
        for (int k = 0; k < 4; ++k) {
            Point moved = point;
            moved.d[l] += steps[k];
            const Evaluation x = evaluate(moved);
            for (int pol = 0; pol < 2; ++pol) at[k][pol] = flat(x.values, pol);
        }
        for (int pol = 0; pol < 2; ++pol) {
            const std::array<double, 6> got = flat(e.grad[pol][l]);
            for (int q = 0; q < 6; ++q) {
                const double want =
                    (8.0 * (at[1][pol][q] - at[2][pol][q]) - (at[0][pol][q] - at[3][pol][q])) / (12.0 * h);
                EXPECT_NEAR(got[q], want, 1e-6 * std::max(std::fabs(want), 1e-4))
                    << names[q] << " layer " << l << " pol " << pol;
            }
        }
    }
}

// The kernel's amplitudes, and for lossless stacks R + T = 1 and dR + dT = 0.
void check_values(const Point& p, bool absorbing) {
    const Evaluation e = evaluate(p);
    const View1<double> wl{&p.wavelength, 1, 1};
    for (int pol = 0; pol < 2; ++pol) {
        const optics::TransferMatrix m = optics::transfer_matrix({p.d.data(), p.d.size(), 1},
                                                                 {p.n.data(), p.n.size(), 1, 1, 1}, wl, p.theta, 0, pol);
        const Complex r = m.m10 / m.m00, t = optics::reciprocal(m.m00);
        const std::array<double, 6> got = flat(e.values, pol);
        const double want[4] = {r.re, r.im, t.re, t.im};
        for (int q = 0; q < 4; ++q) EXPECT_NEAR(got[q], want[q], 1e-13) << "pol " << pol << " " << q;
        if (!absorbing) {
            EXPECT_NEAR(e.values.powers[pol].R + e.values.powers[pol].T, 1.0, 1e-12) << "pol " << pol;
            for (const auto& g : e.grad[pol]) EXPECT_NEAR(g.dR + g.dT, 0.0, 1e-12) << "pol " << pol;
        }
    }
}

class AgainstDifferences : public ::testing::TestWithParam<std::tuple<bool, double>> {};

TEST_P(AgainstDifferences, RandomStacks) {
    const auto [absorbing, theta] = GetParam();
    std::mt19937_64 rng(1234 + static_cast<unsigned>(theta * 100) + (absorbing ? 7 : 0));
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(trial);
        const Point p = random_point(rng, absorbing, theta);
        check_values(p, absorbing);
        check_against_differences(p);
    }
}

INSTANTIATE_TEST_SUITE_P(Stacks, AgainstDifferences,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(0.0, 0.4, 0.9, 1.45)));

// Glass | air gap | glass past the critical angle (the gap's wave is
// evanescent), and a thick absorber with e^{|Im S d|} of about e^60: large,
// still finite, derivatives still exact.
TEST(AgainstDifferences, EvanescentGapAndThickAbsorber) {
    for (const Point& p : {Point{{{1.5, 0.0}, {1.0, 0.0}, {1.7, 0.0}, {1.5, 0.0}}, {150.0, 80.0}, 633.0, 0.9},
                           Point{{{1.0, 0.0}, {1.38, 0.0}, {1.2, 0.5}, {1.5, 0.0}}, {110.0, 4500.0}, 600.0, 0.2}}) {
        check_against_differences(p);
    }
}

TEST(OpaqueLayer, FrontDerivativesAreThoseOfTheStackCutAfterIt) {
    // a millimetre of 3 + 4i would overflow the unscaled layer matrix
    const Complex metal{3.0, 4.0};
    const Point full{{{1.0, 0.0}, {1.46, 0.0}, {2.3, 0.01}, metal, {1.52, 0.0}}, {95.0, 60.0, 1e6}, 550.0, 0.6};
    const Point cut{{{1.0, 0.0}, {1.46, 0.0}, {2.3, 0.01}, metal}, {95.0, 60.0}, 550.0, 0.6};
    const Evaluation a = evaluate(full), b = evaluate(cut);
    for (int pol = 0; pol < 2; ++pol) {
        EXPECT_NEAR(a.values.powers[pol].R, b.values.powers[pol].R, 1e-14);
        EXPECT_EQ(a.values.powers[pol].T, 0.0);
        for (std::size_t l = 0; l < 2; ++l) {
            EXPECT_NEAR(a.grad[pol][l].dR, b.grad[pol][l].dR, 1e-14 * std::fabs(b.grad[pol][l].dR) + 1e-18);
            EXPECT_EQ(a.grad[pol][l].dT, 0.0);
        }
        // by the opaque layer's own thickness: zero up to the rounding of the
        // cancellation in dr = (dM10 - r dM00) / M00
        EXPECT_NEAR(a.grad[pol][2].dR, 0.0, 1e-12 * std::fabs(b.grad[pol][0].dR));
    }
}

}  // namespace
}  // namespace quilmo::lab
