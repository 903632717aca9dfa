// Taylor jets: their arithmetic against known series, and the phase
// derivatives of stacks against closed forms and finite differences.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "lab/jet.hpp"
#include "lab/phase_jets.hpp"

namespace quilmo::lab {
namespace {

using optics::Complex;

// d^k/dx^k of f at x0 from a jet in x.
std::array<double, 4> derivatives(const Jet& f) { return {f.c[0], f.c[1], 2 * f.c[2], 6 * f.c[3]}; }

TEST(Jets, RealQuotientAndCompose) {
    const Jet x = Jet::variable(0.7);
    // 1/(1+x^2): derivatives at 0.7 by hand
    const auto f = derivatives(Jet::constant(1.0) / (Jet::constant(1.0) + x * x));
    const double q = 1.0 + 0.49;
    EXPECT_NEAR(f[0], 1.0 / q, 1e-15);
    EXPECT_NEAR(f[1], -1.4 / (q * q), 1e-15);
    EXPECT_NEAR(f[2], (6 * 0.49 - 2) / (q * q * q), 1e-14);
    EXPECT_NEAR(f[3], 24 * 0.7 * (1 - 0.49) / (q * q * q * q), 1e-14);
    // compose: the series of exp around 0 applied to x gives exp(x - 0.7) derivatives, all 1
    const auto g = derivatives(compose({1.0, 1.0, 0.5, 1.0 / 6.0}, x));
    for (double v : g) EXPECT_NEAR(v, 1.0, 1e-15);
}

TEST(Jets, ComplexSqrtExpArg) {
    const Jet x = Jet::variable(0.3);
    // sqrt(2 + i x): compare with the closed derivatives of (2 + i x)^(1/2)
    const ComplexJet z{Jet::constant(2.0), x};
    const ComplexJet s = csqrt(z);
    const Complex z0{2.0, 0.3}, i{0.0, 1.0};
    const Complex s0 = optics::csqrt(z0);
    const Complex want[4] = {s0, 0.5 * (i / s0), -0.25 * ((i * i) / (s0 * z0)),
                             0.375 * ((i * i * i) / (s0 * z0 * z0))};
    for (int k = 0; k < 4; ++k) {
        const double fact[4] = {1, 1, 2, 6};
        EXPECT_NEAR(fact[k] * s.re.c[k], want[k].re, 1e-14) << k;
        EXPECT_NEAR(fact[k] * s.im.c[k], want[k].im, 1e-14) << k;
    }
    // arg e^{i(x^3)} = x^3 (continuous through the cut at pi: x0 large)
    const Jet big = Jet::variable(1.6);
    const Jet phase = big * big * big;
    const auto a = derivatives(arg(cexp({Jet::constant(-0.5), phase})));
    EXPECT_NEAR(a[0], std::remainder(1.6 * 1.6 * 1.6, 2 * M_PI), 1e-13);
    EXPECT_NEAR(a[1], 3 * 1.6 * 1.6, 1e-13);
    EXPECT_NEAR(a[2], 6 * 1.6, 1e-13);
    EXPECT_NEAR(a[3], 6.0, 1e-13);
}

IndexSeries constant_index(Complex n) { return {n, Complex{0, 0}, Complex{0, 0}, Complex{0, 0}}; }

// n = a + b / lambda^2 and its wavelength derivatives.
IndexSeries cauchy(double a, double b, double lambda) {
    const double l3 = lambda * lambda * lambda;
    return {Complex{a + b / (lambda * lambda), 0.0}, Complex{-2 * b / l3, 0.0}, Complex{6 * b / (l3 * lambda), 0.0},
            Complex{-24 * b / (l3 * lambda * lambda), 0.0}};
}

TEST(PhaseDerivatives, IndexMatchedDispersiveSlab) {
    // no interfaces: t = e^{i n(w) w d / c}, the group delay of a slab
    const auto series = cauchy(1.45, 3600.0, 800.0);
    const double d[1] = {1000.0};
    const PhaseDerivatives p = phase_derivatives(
        3, [&](std::size_t) { return series; }, d, 800.0, 0.0, side_transmission, optics::pol_s);
    EXPECT_NEAR(p.gd, 4.89296832143789, 1e-12);
    EXPECT_NEAR(p.gdd, 0.0478126142151501, 1e-13);
    EXPECT_NEAR(p.tod, 0.0203063517881746, 1e-13);
}

TEST(PhaseDerivatives, QuarterWaveMirrorHasNoGddAtItsCentre) {
    const double centre = 800.0;
    std::vector<IndexSeries> media{constant_index({1.0, 0.0})};
    std::vector<double> d;
    for (int pair = 0; pair < 8; ++pair) {
        for (double n : {2.3, 1.45}) {
            media.push_back(constant_index({n, 0.0}));
            d.push_back(centre / (4 * n));
        }
    }
    media.push_back(constant_index({1.52, 0.0}));
    for (int pol : {optics::pol_s, optics::pol_p}) {
        const PhaseDerivatives p = phase_derivatives(
            media.size(), [&](std::size_t j) { return media[j]; }, d.data(), centre, 0.0, side_reflection, pol);
        EXPECT_NEAR(p.gdd, 0.0, 1e-9) << pol;
        EXPECT_GT(p.gd, 1.0) << pol;  // the penetration delay of the mirror, a few fs
        // and away from the centre the dispersion is not zero
        const PhaseDerivatives q = phase_derivatives(
            media.size(), [&](std::size_t j) { return media[j]; }, d.data(), 860.0, 0.0, side_reflection, pol);
        EXPECT_GT(std::fabs(q.gdd), 1.0) << pol;
    }
}

// Phase, GD and GDD of a random dispersive, absorbing stack at oblique
// incidence against central differences in w of the next-lower quantity.
TEST(PhaseDerivatives, AgainstDifferencesInFrequency) {
    const std::vector<std::array<double, 3>> models{{1.0, 0.0, 0.0}, {2.2, 2.0e4, 0.02}, {1.46, 3500.0, 0.0},
                                                    {1.9, 9.0e3, 0.05}, {1.52, 4200.0, 0.0}};
    const double d[3] = {180.0, 95.0, 240.0};
    auto series_at = [&](double lambda) {
        std::vector<IndexSeries> out;
        for (const auto& m : models) {
            IndexSeries s = cauchy(m[0], m[1], lambda);
            s[0].im = m[2];  // constant absorption
            out.push_back(s);
        }
        return out;
    };
    auto at = [&](double w, int side, int pol) {
        const double lambda = optics::two_pi * light_speed_nm_per_fs / w;
        const auto media = series_at(lambda);
        return phase_derivatives(
            media.size(), [&](std::size_t j) { return media[j]; }, d, lambda, std::sin(0.6), side, pol);
    };
    const double w0 = optics::two_pi * light_speed_nm_per_fs / 700.0, h = 2e-5;
    for (int side : {side_reflection, side_transmission}) {
        for (int pol : {optics::pol_s, optics::pol_p}) {
            const PhaseDerivatives c = at(w0, side, pol), up = at(w0 + h, side, pol), down = at(w0 - h, side, pol);
            const double dphase = std::remainder(up.phase - down.phase, 2 * M_PI) / (2 * h);
            EXPECT_NEAR(c.gd, dphase, 1e-6 * std::fabs(c.gd) + 1e-8) << side << pol;
            EXPECT_NEAR(c.gdd, (up.gd - down.gd) / (2 * h), 1e-6 * std::fabs(c.gdd) + 1e-8) << side << pol;
            EXPECT_NEAR(c.tod, (up.gdd - down.gdd) / (2 * h), 1e-6 * std::fabs(c.tod) + 1e-8) << side << pol;
        }
    }
}

}  // namespace
}  // namespace quilmo::lab
