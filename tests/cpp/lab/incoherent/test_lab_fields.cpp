// Fields in a stack: tmm's absorp_in_each_layer and position_resolved values,
// the depth profile integrated over each layer against the layer's absorbed
// fraction, continuity of the s field, opaque layers, where depths fall, and
// the profile of a mixed stack against phase-averaged coherent profiles.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "lab/incoherent/fields_point.hpp"
#include "lab/lab_point.hpp"

namespace quilmo::lab {
namespace {

using testing::absorbed;
using testing::Absorbed;
using testing::OwnedPoint;

struct Profile {
    std::vector<double> absorbed_s, absorbed_p, field_s, field_p;
};

Profile profile(const OwnedPoint& owned, const std::vector<double>& depths) {
    const std::size_t count = depths.size();
    Profile out{std::vector<double>(count), std::vector<double>(count), std::vector<double>(count),
                std::vector<double>(count)};
    std::vector<DepthPlace> places(count);
    place_depths(owned.thickness, depths, places);
    FieldWorkspace work;
    profile_row(owned.view(), places, work, {{out.absorbed_s, out.absorbed_p}, {out.field_s, out.field_p}});
    return out;
}

// tmm's position_resolved test: n = [1, 2.2+0.2i, 3.3+0.3i, 1],
// d = [inf, 100, 300, inf], theta = pi/4, lambda = 400, layer 1, depth 37.
TEST(FieldWorkedValues, MatchTmm) {
    const OwnedPoint owned({{1.0, 0.0}, {2.2, 0.2}, {3.3, 0.3}, {1.0, 0.0}}, {100.0, 300.0}, 400.0,
                           std::numbers::pi / 4);
    const Profile at = profile(owned, {37.0});
    EXPECT_NEAR(at.absorbed_p[0], 0.005135049118053356, 1e-15);
    EXPECT_NEAR(at.absorbed_s[0], 0.004041912286816303, 1e-15);
    // |Ey|^2 and |Ex|^2 + |Ez|^2 of the same call
    EXPECT_NEAR(at.field_s[0], std::pow(0.15461823546068867, 2) + std::pow(0.4276149448424391, 2), 1e-14);
    EXPECT_NEAR(at.field_p[0],
                std::pow(0.15591534070574678, 2) + std::pow(0.464804514766685, 2) +
                    std::pow(0.08789525070290917, 2) + std::pow(0.1208371763840378, 2),
                1e-14);
    // absorp_in_each_layer of the same stack
    const Absorbed a = absorbed(owned);
    const std::pair<double, double> want[] = {
        {a.split.s.R, 0.324162389538051},   {a.split.s.T, 0.01118264294970672}, {a.s[0], 0.33682450001894854},
        {a.s[1], 0.32783046749329375},      {a.split.p.R, 0.10839060549108032}, {a.p[0], 0.44161789059680606},
        {a.p[1], 0.42911025831140154}};
    for (const auto& [got, value] : want) EXPECT_NEAR(got, value, 1e-14);
}

// Composite 8-point Gauss-Legendre rule over each inner layer.
double integral(const OwnedPoint& owned, std::size_t layer, bool p) {
    static const double x[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267, 0.9602898564975363};
    static const double w[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763};
    double start = 0.0;
    for (std::size_t j = 0; j < layer; ++j) start += owned.thickness[j];
    const double d = owned.thickness[layer];
    const int pieces = 400;
    const double h = d / pieces;
    std::vector<double> depths, weights;
    for (int i = 0; i < pieces; ++i) {
        const double mid = start + h * (i + 0.5);
        for (int k = 0; k < 4; ++k) {
            for (double sign : {-1.0, 1.0}) {
                depths.push_back(mid + sign * x[k] * h / 2);
                weights.push_back(w[k] * h / 2);
            }
        }
    }
    const Profile got = profile(owned, depths);
    double sum = 0.0;
    for (std::size_t i = 0; i < depths.size(); ++i) sum += weights[i] * (p ? got.absorbed_p[i] : got.absorbed_s[i]);
    return sum;
}

struct IntegralCase {
    std::vector<Complex> n;
    std::vector<double> d;
    std::vector<bool> coherent;
    double theta;
};

class DensityIntegral : public ::testing::TestWithParam<IntegralCase> {};

TEST_P(DensityIntegral, EqualsAbsorbedInEachLayer) {
    const IntegralCase& c = GetParam();
    const OwnedPoint owned(c.n, c.d, 520.0, c.theta, c.coherent);
    const Absorbed a = absorbed(owned);
    for (std::size_t j = 0; j < c.d.size(); ++j) {
        if (!c.coherent.empty() && !c.coherent[j]) {
            continue;  // an incoherent layer's profile has no phase for the interference at its faces
        }
        EXPECT_NEAR(integral(owned, j, false), a.s[j], 1e-9) << "s layer " << j;
        EXPECT_NEAR(integral(owned, j, true), a.p[j], 1e-9) << "p layer " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, DensityIntegral,
    ::testing::Values(
        // coherent, absorbing exit medium, oblique
        IntegralCase{{{1.0, 0.0}, {2.2, 0.2}, {1.46, 0.0}, {3.3, 0.3}, {3.9, 0.02}}, {100.0, 80.0, 300.0}, {}, 0.8},
        // a solar-cell-like mixed stack: glass slab, then coherent films lit from both sides
        IntegralCase{{{1.0, 0.0}, {1.52, 2e-6}, {1.9, 0.01}, {4.2, 0.3}, {2.0, 0.0}, {0.3, 4.0}},
                     {3e4, 80.0, 250.0, 60.0},
                     {false, true, true, true},
                     0.3},
        // incoherent layers between coherent runs, nearly grazing
        IntegralCase{{{1.0, 0.0}, {2.0, 0.05}, {1.5, 1e-4}, {2.5, 0.3}, {1.6, 1e-3}, {1.0, 0.0}},
                     {120.0, 5e3, 90.0, 7e3},
                     {true, false, true, false},
                     1.45}));

// Tangential E (the whole s field) is continuous across every interface.
TEST(FieldProfile, SFieldContinuousAcrossInterfaces) {
    const OwnedPoint owned({{1.0, 0.0}, {2.2, 0.2}, {1.46, 0.0}, {3.3, 0.3}, {1.5, 0.0}}, {100.0, 80.0, 300.0},
                           480.0, 0.5);
    for (double boundary : {0.0, 100.0, 180.0, 480.0}) {
        const Profile got = profile(owned, {std::nextafter(boundary, -1.0), boundary});
        EXPECT_NEAR(got.field_s[0], got.field_s[1], 1e-12 * got.field_s[1]) << boundary;
    }
}

TEST(FieldProfile, DepthsFallInTheRightMedium) {
    std::vector<DepthPlace> places(6);
    place_depths(std::vector<double>{10.0, 20.0}, std::vector<double>{-5.0, 0.0, 9.5, 10.0, 30.0, 42.0}, places);
    const std::size_t media[6] = {0, 1, 1, 2, 3, 3};
    const double z[6] = {-5.0, 0.0, 9.5, 0.0, 0.0, 12.0};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(places[i].medium, media[i]) << i;
        EXPECT_EQ(places[i].z, z[i]) << i;
    }
}

// 10^5 nm of 1 + 3i between thin layers: the amplitudes behind it underflow,
// everything stays finite, and the light that enters is absorbed.
TEST(FieldOpaque, ThickAbsorbingCoherentLayer) {
    const OwnedPoint owned({{1.0, 0.0}, {1.45, 0.0}, {1.0, 3.0}, {2.0, 0.0}, {1.5, 0.0}}, {90.0, 1e5, 40.0}, 600.0,
                           0.3);
    const Absorbed a = absorbed(owned);
    EXPECT_EQ(a.split.s.T, 0.0);
    EXPECT_TRUE(std::isfinite(a.split.s.R) && std::isfinite(a.split.p.R));
    EXPECT_NEAR(a.split.s.R + a.s[0] + a.s[1] + a.s[2], 1.0, 1e-13);
    EXPECT_NEAR(a.split.p.R + a.p[0] + a.p[1] + a.p[2], 1.0, 1e-13);
    const Profile got = profile(owned, {45.0, 90.0, 100.0, 5e4, 100089.0, 100120.0, 1e6});
    for (double v : got.absorbed_s) EXPECT_TRUE(std::isfinite(v));
    for (double v : got.field_p) EXPECT_TRUE(std::isfinite(v));
    EXPECT_GT(got.absorbed_s[1], got.absorbed_s[2]);
    EXPECT_EQ(got.field_s[4], 0.0);
    EXPECT_EQ(got.field_s[6], 0.0);
}

// Behind a lossless incoherent slab, |E|^2 is the average of the coherent
// stack's |E|^2 over one period of the slab's round-trip phase (with depths
// kept fixed relative to the films behind it).
TEST(FieldProfile, MixedProfileIsPhaseAveragedCoherentProfile) {
    const std::vector<Complex> n{{1.0, 0.0}, {2.1, 0.0}, {1.5, 0.0}, {2.4, 0.2}, {1.7, 0.0}, {1.0, 0.0}};
    const double wl = 500.0, theta = 0.4, base = 2e4;
    const double cos_glass = std::sqrt(1.0 - std::pow(std::sin(theta) / 1.5, 2));
    const double period = wl / (2.0 * 1.5 * cos_glass);
    const std::vector<double> behind{3.0, 40.0, 77.0, 130.0};  // into the films behind the slab
    const std::vector<double> in_front{-30.0, 20.0};           // before the slab
    const int samples = 2000;
    std::vector<double> mean_s(6, 0.0), mean_p(6, 0.0);
    for (int i = 0; i < samples; ++i) {
        const double slab = base + period * i / samples;
        std::vector<double> depths = in_front;
        for (double z : behind) depths.push_back(60.0 + slab + z);
        const Profile got = profile(OwnedPoint(n, {60.0, slab, 50.0, 90.0}, wl, theta), depths);
        for (int k = 0; k < 6; ++k) {
            mean_s[k] += got.field_s[k] / samples;
            mean_p[k] += got.field_p[k] / samples;
        }
    }
    std::vector<double> depths = in_front;
    for (double z : behind) depths.push_back(60.0 + base + z);
    const Profile mixed =
        profile(OwnedPoint(n, {60.0, base, 50.0, 90.0}, wl, theta, {true, false, true, true}), depths);
    for (int k = 0; k < 6; ++k) {
        EXPECT_NEAR(mixed.field_s[k], mean_s[k], 1e-9 * mean_s[k]) << k;
        EXPECT_NEAR(mixed.field_p[k], mean_p[k], 1e-9 * mean_p[k]) << k;
    }
}

}  // namespace
}  // namespace quilmo::lab
