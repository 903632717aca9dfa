// The light between the runs of a mixed point: tmm's VW_list, stackFB_list
// and power_entering_list of a worked stack, the balance of power across each
// incoherent medium, and the grazing limit.
#include <gtest/gtest.h>

#include <numbers>
#include <vector>

#include "lab/incoherent/fields_point.hpp"
#include "lab/lab_point.hpp"

namespace quilmo::lab {
namespace {

using testing::OwnedPoint;

struct Light {
    PerPolarisation<Powers<>> split;
    PerPolarisation<std::vector<RunIllumination>> runs;
};

Light light_of(const OwnedPoint& owned, std::size_t runs) {
    FieldWorkspace work;
    Light out{{}, {std::vector<RunIllumination>(runs), std::vector<RunIllumination>(runs)}};
    out.split = run_illumination(owned.view(), work, {out.runs.s, out.runs.p});
    return out;
}

// n = [1, 1.5, 2+0.1i, 1.3, 1], d = [inf, 1e4, 50, 1e5, inf], c = i i c i i,
// theta = 0.3, lambda = 500: three runs, the middle one a coherent stack.
const OwnedPoint worked({{1.0, 0.0}, {1.5, 0.0}, {2.0, 0.1}, {1.3, 0.0}, {1.0, 0.0}}, {1e4, 50.0, 1e5}, 500.0, 0.3,
                        {false, true, false});

TEST(RunLight, MatchesTmmIntensities) {
    const Light got = light_of(worked, 3);
    // per run: front (F of stackFB), back (W of VW at the medium ending it), forward (its V), entering
    const double want_s[3][4] = {{1.0, 0.10674180285535884, 0.9597024642312623, 0.8529606613759035},
                                 {0.9597024642312623, 0.014627649414180679, 0.7480084846481367, 0.733380835233956},
                                 {0.7480084846481367, 0.0, 0.7333808352339563, 0.7333808352339563}};
    const double want_p[3][4] = {{1.0, 0.09380639693122006, 0.9681288984231531, 0.8743225014919332},
                                 {0.9681288984231531, 0.011212147252029424, 0.7657390332967057, 0.7545268860446762},
                                 {0.7657390332967057, 0.0, 0.7545268860446761, 0.7545268860446762}};
    for (std::size_t k = 0; k < 3; ++k) {
        const RunIllumination& s = got.runs.s[k];
        const RunIllumination& p = got.runs.p[k];
        EXPECT_NEAR(s.front, want_s[k][0], 1e-14) << k;
        EXPECT_NEAR(s.back, want_s[k][1], 1e-14) << k;
        EXPECT_NEAR(s.forward, want_s[k][2], 1e-14) << k;
        EXPECT_NEAR(s.entering, want_s[k][3], 1e-14) << k;
        EXPECT_NEAR(p.front, want_p[k][0], 1e-14) << k;
        EXPECT_NEAR(p.back, want_p[k][1], 1e-14) << k;
        EXPECT_NEAR(p.forward, want_p[k][2], 1e-14) << k;
        EXPECT_NEAR(p.entering, want_p[k][3], 1e-14) << k;
    }
    EXPECT_EQ(got.runs.s[2].forward, got.split.s.T);
    EXPECT_EQ(got.runs.p[2].entering, got.split.p.T);
}

// What enters an incoherent medium leaves it into the next run or is absorbed
// in it, and in that run's coherent layers; absorbing media on both sides.
TEST(RunLight, PowerBalancesAcrossEachIncoherentMedium) {
    const OwnedPoint owned({{1.4, 0.0}, {1.8, 0.002}, {2.2, 0.3}, {1.6, 0.0}, {2.5, 0.001}, {1.9, 0.05}, {1.5, 0.0}},
                           {2e4, 40.0, 90.0, 3e4, 70.0}, 633.0, 0.6, {false, true, true, false, true});
    const Light got = light_of(owned, 3);
    const testing::Absorbed absorbed = testing::absorbed(owned);
    for (const int pol : {pol_s, pol_p}) {
        const std::vector<double>& lost = pol == pol_s ? absorbed.s : absorbed.p;
        const std::vector<RunIllumination>& runs = pol == pol_s ? got.runs.s : got.runs.p;
        // runs: media 0-1, 1-4 (coherent 2, 3), 4-6 (coherent 5); lost[j - 1] is medium j's
        EXPECT_NEAR(1.0 - got.split[pol].R, runs[0].entering, 1e-13);
        EXPECT_NEAR(runs[0].entering, lost[0] + lost[1] + lost[2] + runs[1].entering, 1e-13);
        EXPECT_NEAR(runs[1].entering, lost[3] + lost[4] + runs[2].entering, 1e-13);
        EXPECT_DOUBLE_EQ(runs[2].entering, got.split[pol].T);
        EXPECT_EQ(runs[2].back, 0.0);
    }
}

TEST(RunLight, GrazingLightEntersNothing) {
    const OwnedPoint owned({{1.0, 0.0}, {1.5, 0.0}, {2.0, 0.1}, {1.0, 0.0}}, {1e4, 50.0}, 500.0, std::numbers::pi / 2,
                           {false, true});
    const Light got = light_of(owned, 2);
    for (const auto* runs : {&got.runs.s, &got.runs.p}) {
        EXPECT_EQ((*runs)[0].front, 1.0);
        EXPECT_EQ((*runs)[0].entering, 0.0);
        EXPECT_EQ((*runs)[1].front, 0.0);
        EXPECT_EQ((*runs)[1].forward, 0.0);
    }
    EXPECT_EQ(got.split.s.R, 1.0);
}

}  // namespace
}  // namespace quilmo::lab
