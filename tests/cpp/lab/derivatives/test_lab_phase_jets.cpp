// Taylor jets: their arithmetic against known series, and the phase
// derivatives of stacks against closed forms and finite differences.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "lab/derivatives/jet.hpp"
#include "lab/derivatives/phase_point.hpp"

namespace quilmo::lab {
namespace {

using optics::Complex;

// The derivatives d^k/dx^k, k = 0..3, that a jet in x holds.
void expect_derivatives(const Jet& f, const std::array<double, 4>& want, double tol) {
    const double factorial[4] = {1, 1, 2, 6};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(factorial[k] * f.c[k], want[k], tol) << "order " << k;
}

TEST(Jets, RealQuotientAndCompose) {
    const Jet x = Jet::variable(0.7);
    const double q = 1.0 + 0.49;  // 1/(1+x^2) at 0.7, derivatives by hand
    expect_derivatives(Jet::constant(1.0) / (Jet::constant(1.0) + x * x),
                       {1.0 / q, -1.4 / (q * q), (6 * 0.49 - 2) / (q * q * q), 24 * 0.7 * (1 - 0.49) / (q * q * q * q)},
                       1e-14);
    // the series of exp around 0 applied to x gives exp(x - 0.7) derivatives, all 1
    expect_derivatives(compose({1.0, 1.0, 0.5, 1.0 / 6.0}, x), {1.0, 1.0, 1.0, 1.0}, 1e-15);
}

TEST(Jets, ComplexSqrtExpArg) {
    // sqrt(2 + i x) at 0.3 against the closed derivatives of (2 + i x)^(1/2)
    const ComplexJet s = csqrt({Jet::constant(2.0), Jet::variable(0.3)});
    const Complex z0{2.0, 0.3}, i{0.0, 1.0};
    const Complex s0 = optics::csqrt(z0);
    const Complex want[4] = {s0, 0.5 * (i / s0), -0.25 * ((i * i) / (s0 * z0)),
                             0.375 * ((i * i * i) / (s0 * z0 * z0))};
    expect_derivatives(s.re, {want[0].re, want[1].re, want[2].re, want[3].re}, 1e-14);
    expect_derivatives(s.im, {want[0].im, want[1].im, want[2].im, want[3].im}, 1e-14);
    // arg e^{i(x^3)} = x^3 (continuous through the cut at pi: x0 large)
    const Jet big = Jet::variable(1.6);
    expect_derivatives(arg(cexp({Jet::constant(-0.5), big * big * big})),
                       {std::remainder(1.6 * 1.6 * 1.6, 2 * M_PI), 3 * 1.6 * 1.6, 6 * 1.6, 6.0}, 1e-13);
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
