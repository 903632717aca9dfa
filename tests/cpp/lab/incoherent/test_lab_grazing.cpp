// Grazing incidence on the mixed routines: R = 1, T = 0, no absorption, no
// field and no thickness derivative, where the plain formulas give 0/0; a NaN
// layer still reaches the results.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "lab/derivatives/mixed_gradient_point.hpp"
#include "lab/incoherent/fields_point.hpp"
#include "lab/incoherent/mixed_point.hpp"
#include "lab/lab_point.hpp"

namespace quilmo::lab {
namespace {

using testing::OwnedPoint;

const std::vector<double> thicknesses{60.0, 2000.0, 90.0};
const std::vector<bool> mask{true, false, true};

OwnedPoint grazing_point(Complex layer) {
    return OwnedPoint({{1.33, 0.0}, layer, {1.5, 0.0}, {2.0, 0.5}, {3.0, 4.0}}, thicknesses, 500.0,
                      std::numbers::pi / 2, mask);
}

TEST(GrazingMixed, PowersAbsorptionFieldsAndDerivativesAreTheLimit) {
    const OwnedPoint owned = grazing_point({2.0, 0.5});
    RunsWorkspace runs;
    const PerPolarisation<Powers<>> powers = mixed_powers(owned.view(), owned.interfaces, runs);
    const testing::Absorbed fields = testing::absorbed(owned);
    for (const int pol : {pol_s, pol_p}) {
        EXPECT_EQ(powers[pol].R, 1.0);
        EXPECT_EQ(powers[pol].T, 0.0);
        EXPECT_EQ(fields.split[pol].R, 1.0);
        EXPECT_EQ(fields.split[pol].T, 0.0);
    }
    EXPECT_EQ(fields.s, std::vector<double>(3, 0.0));
    EXPECT_EQ(fields.p, std::vector<double>(3, 0.0));

    const std::vector<double> depths{-40.0, 0.0, 30.0, 1000.0, 2100.0, 3000.0};
    std::vector<DepthPlace> places(depths.size());
    place_depths(owned.thickness, depths, places);
    std::vector<double> density_s(depths.size(), -1.0), density_p = density_s, field_s = density_s,
                                                         field_p = density_s;
    FieldWorkspace work;
    profile_row(owned.view(), places, work, {{density_s, density_p}, {field_s, field_p}});
    for (const std::vector<double>* row : {&density_s, &density_p, &field_s, &field_p}) {
        EXPECT_EQ(*row, std::vector<double>(depths.size(), 0.0));
    }

    MixedGradientWorkspace ws;
    int emitted = 0;
    mixed_gradient(owned.view(), owned.interfaces, ws, [&](int, std::size_t, double dR, double dT) {
        EXPECT_EQ(dR, 0.0);
        EXPECT_EQ(dT, 0.0);
        ++emitted;
    });
    EXPECT_EQ(emitted, 6);  // both polarisations, every inner layer
}

TEST(GrazingMixed, NanLayerIsNotTheLimit) {
    const OwnedPoint owned = grazing_point({std::nan(""), 0.0});
    RunsWorkspace runs;
    const PerPolarisation<Powers<>> powers = mixed_powers(owned.view(), owned.interfaces, runs);
    EXPECT_TRUE(std::isnan(powers.s.R));
    EXPECT_TRUE(std::isnan(powers.p.R));
}

}  // namespace
}  // namespace quilmo::lab
