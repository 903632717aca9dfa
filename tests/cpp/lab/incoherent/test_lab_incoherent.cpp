// Power transfer through stacks with incoherent layers: tmm's inc_tmm values,
// the coherent limit, the closed form of one slab, phase averaging of a thick
// coherent slab, opaque slabs, and energy balance over random stacks.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "lab/derivatives/tangent.hpp"
#include "lab/incoherent/fields_point.hpp"
#include "lab/incoherent/mixed_point.hpp"
#include "lab/incoherent/power_transfer.hpp"
#include "lab/lab_point.hpp"
#include "optics/power.hpp"

namespace quilmo::lab {
namespace {

using testing::absorbed;
using testing::Absorbed;
using testing::OwnedPoint;

PerPolarisation<Powers<>> powers(const OwnedPoint& owned) {
    RunsWorkspace work;
    return mixed_powers(owned.view(), owned.interfaces, work);
}

// tmm.inc_tmm and inc_absorp_in_each_layer for
// n = [1, 2+0.1i, 1.5+1e-4i, 1.9, 2.5+0.3i, 1.3], d = [inf, 50, 1e5, 80, 30, inf],
// c = [i, c, i, c, c, i], theta = 0.5, lambda = 550.
TEST(IncoherentWorkedValues, MatchTmm) {
    const OwnedPoint owned({{1.0, 0.0}, {2.0, 0.1}, {1.5, 1e-4}, {1.9, 0.0}, {2.5, 0.3}, {1.3, 0.0}},
                           {50.0, 1e5, 80.0, 30.0}, 550.0, 0.5, {true, false, true, true});
    const struct {
        double R, T;
        double absorbed[4];
    } want[2] = {
        {0.22976604758626326, 0.38028649965819183,
         {0.0981759177956359, 0.15266040505513734, 0.0, 0.1391111299047715}},
        {0.14814152385000687, 0.43596985622736095,
         {0.10478525190854099, 0.16733982598012742, 0.0, 0.14376354203396402}},
    };
    const PerPolarisation<Powers<>> fast = powers(owned);
    const Absorbed b = absorbed(owned);
    for (int pol : {0, 1}) {
        const std::vector<double>& layers = pol ? b.p : b.s;
        for (const Powers<>& got : {pol ? fast.p : fast.s, pol ? b.split.p : b.split.s}) {
            EXPECT_NEAR(got.R, want[pol].R, 1e-13) << pol;
            EXPECT_NEAR(got.T, want[pol].T, 1e-13) << pol;
        }
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(layers[j], want[pol].absorbed[j], 1e-13) << pol << " layer " << j;
    }
}

// With no incoherent inner layer the power transfer is the coherent result:
// the kernel's R, and its T where the exit medium is lossless.
TEST(IncoherentLimits, CoherentFilmBetweenIncoherentMediaIsCoherent) {
    const std::vector<Complex> n{{1.0, 0.0}, {2.1, 0.05}, {1.4, 0.0}, {3.0, 0.2}, {1.52, 0.0}};
    const std::vector<double> d{73.0, 121.0, 18.0};
    for (double theta : {0.0, 0.4, 1.2}) {
        const OwnedPoint owned(n, d, 612.0, theta);
        const PerPolarisation<Powers<>> got = powers(owned);
        const Absorbed fields = absorbed(owned);
        const double wl = 612.0;
        const optics::MatrixPair pair = optics::transfer_matrix_pair(
            optics::make_stack_inputs({d.data(), d.size(), 1}, {n.data(), n.size(), 1, 1, 1}, {&wl, 1, 1}, theta), 0);
        for (const double psi : {0.0, std::numbers::pi / 2}) {
            const Powers<>& pol = psi == 0.0 ? got.s : got.p;
            EXPECT_NEAR(pol.R, optics::reflectance(pair, psi), 1e-14) << theta;
            EXPECT_NEAR(pol.T, optics::transmittance(pair, n.front(), n.back(), theta, psi), 1e-14) << theta;
        }
        EXPECT_NEAR(fields.split.s.R, got.s.R, 1e-14);
        EXPECT_NEAR(fields.split.p.T, got.p.T, 1e-14);
    }
}

double interface_reflectance(Complex a, Complex b, double theta, bool p) {
    const OwnedPoint owned({a, b}, {}, 500.0, theta);
    const PerPolarisation<Powers<>> got = powers(owned);
    return p ? got.p.R : got.s.R;
}

TEST(IncoherentLimits, LosslessSlabClosedForm) {
    const Complex air{1.0, 0.0}, glass{1.5, 0.0}, exit{1.33, 0.0};
    for (double theta : {0.0, 0.7}) {
        const OwnedPoint owned({air, glass, exit}, {2e6}, 633.0, theta, {false});
        const PerPolarisation<Powers<>> got = powers(owned);
        const double theta_glass = std::asin(std::sin(theta) / 1.5);
        for (bool p : {false, true}) {
            const double r01 = interface_reflectance(air, glass, theta, p);
            const double r12 = interface_reflectance(glass, exit, theta_glass, p);
            const double t01 = 1.0 - r01;
            const double want = r01 + r12 * t01 * t01 / (1.0 - r01 * r12);
            EXPECT_NEAR(p ? got.p.R : got.s.R, want, 1e-15) << theta << " " << p;
            EXPECT_NEAR(p ? got.p.T : got.s.T, t01 * (1.0 - r12) / (1.0 - r01 * r12), 1e-15);
        }
    }
}

// A lossless coherent slab averaged over one period of its round-trip phase
// (uniform samples of a trigonometric polynomial's ratio converge
// geometrically) gives the incoherent slab, coatings on both sides included.
TEST(IncoherentLimits, PhaseAveragedThickSlabIsIncoherent) {
    const std::vector<Complex> n{{1.0, 0.0}, {2.3, 0.0}, {1.5, 0.0}, {1.9, 0.0}, {1.0, 0.0}};
    const double wl = 550.0, theta = 0.3, base = 1e5;
    const double cos_glass = std::sqrt(1.0 - std::pow(std::sin(theta) / 1.5, 2));
    const double period = wl / (2.0 * 1.5 * cos_glass);
    const int samples = 4000;
    double sum_s = 0.0, sum_p = 0.0;
    for (int i = 0; i < samples; ++i) {
        const OwnedPoint coherent(n, {60.0, base + period * i / samples, 72.0}, wl, theta);
        const PerPolarisation<Powers<>> got = powers(coherent);
        sum_s += got.s.R;
        sum_p += got.p.R;
    }
    const PerPolarisation<Powers<>> slab = powers(OwnedPoint(n, {60.0, base, 72.0}, wl, theta, {true, false, true}));
    EXPECT_NEAR(sum_s / samples, slab.s.R, 1e-9);
    EXPECT_NEAR(sum_p / samples, slab.p.R, 1e-9);
}

// Carried with tangents, the power transfer keeps its values bit for bit;
// raising every run's T a little lets more light through.
TEST(IncoherentLimits, TangentsCarryThePowerTransfersValues) {
    // three runs: a lossy slab between two thin-film runs, and the exit
    const std::vector<RunFractions<>> runs{
        {0.04, 0.9, 0.05, 0.88}, {0.3, 0.6, 0.25, 0.65}, {0.01, 0.99, 0.01, 0.99}};
    const std::vector<double> passes{0.7, 0.2, 1.0};
    std::vector<double> behind(3);
    const Powers<> want = power_transfer<double>(runs, passes, behind);
    std::vector<RunFractions<Tangent>> tangents;
    std::vector<Tangent> pass_tangents, scratch(3);
    for (const auto& r : runs) tangents.push_back({{r.R, 0.0}, {r.T, 1.0}, {r.R_back, 0.0}, {r.T_back, 0.0}});
    for (double p : passes) pass_tangents.push_back({p, 0.0});
    const Powers<Tangent> got = power_transfer<Tangent>(tangents, pass_tangents, scratch);
    EXPECT_EQ(got.R.v, want.R);
    EXPECT_EQ(got.T.v, want.T);
    EXPECT_GT(got.T.d, 0.0);
}

// A millimetre of strongly absorbing material: its pass fraction underflows to
// 0 and the stack reflects as its front alone, with everything finite.
TEST(IncoherentOpaque, ThickAbsorberStopsTheLight) {
    const std::vector<Complex> n{{1.0, 0.0}, {1.8, 0.0}, {3.0, 4.0}, {1.5, 0.0}, {1.0, 0.0}};
    const OwnedPoint slab(n, {90.0, 1e6, 50.0}, 700.0, 0.6, {true, false, true});
    const OwnedPoint front({n[0], n[1], n[2]}, {90.0}, 700.0, 0.6);
    const PerPolarisation<Powers<>> got = powers(slab);
    const PerPolarisation<Powers<>> alone = powers(front);
    const Absorbed b = absorbed(slab);
    EXPECT_EQ(got.s.T, 0.0);
    EXPECT_EQ(got.p.T, 0.0);
    EXPECT_EQ(got.s.R, alone.s.R);
    EXPECT_EQ(got.p.R, alone.p.R);
    EXPECT_NEAR(b.s[1], 1.0 - alone.s.R - b.s[0], 1e-14);
    EXPECT_EQ(b.s[2], 0.0);
    EXPECT_EQ(b.p[2], 0.0);
}

// Random stacks with random masks: R + T + absorbed = 1, absorbed >= 0, and
// the transfer-matrix runs agree with the field sweep.
TEST(IncoherentBalance, RandomMixedStacks) {
    std::mt19937_64 rng(15);
    std::uniform_real_distribution<double> re(1.0, 3.5), im(0.0, 0.4), thin(5.0, 300.0), thick(1e4, 1e6);
    std::bernoulli_distribution lossy(0.5), coherent(0.6);
    for (int trial = 0; trial < 200; ++trial) {
        const std::size_t inner = 1 + trial % 7;
        std::vector<Complex> n{{1.0 + 0.5 * (trial % 2), 0.0}};
        std::vector<double> d;
        std::vector<bool> mask;
        for (std::size_t j = 0; j < inner; ++j) {
            const bool c = coherent(rng);
            mask.push_back(c);
            n.push_back({re(rng), lossy(rng) ? im(rng) * (c ? 1.0 : 1e-4) : 0.0});
            d.push_back(c ? thin(rng) : thick(rng));
        }
        n.push_back({re(rng), lossy(rng) ? im(rng) : 0.0});
        const double theta = 1.5 * trial / 200.0;
        const OwnedPoint owned(n, d, 400.0 + trial, theta, mask);
        const PerPolarisation<Powers<>> fast = powers(owned);
        const Absorbed b = absorbed(owned);
        for (int pol : {0, 1}) {
            const Powers<>& field = pol ? b.split.p : b.split.s;
            const Powers<>& matrices = pol ? fast.p : fast.s;
            double sum = field.R + field.T;
            for (const double layer : pol ? b.p : b.s) {
                EXPECT_GT(layer, -1e-14);
                sum += layer;
            }
            EXPECT_NEAR(sum, 1.0, 1e-12) << trial << " pol " << pol;
            EXPECT_NEAR(matrices.R, field.R, 1e-12) << trial << " pol " << pol;
            EXPECT_NEAR(matrices.T, field.T, 1e-12) << trial << " pol " << pol;
        }
    }
}

}  // namespace
}  // namespace quilmo::lab
