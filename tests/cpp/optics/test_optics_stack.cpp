// Stack matrices: worked values, index failures, and the properties the driver
// relies on (shared s/p pass identical to separate calls, results independent
// of layout, of other columns and of unread thicknesses).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "common/internal_error.hpp"
#include "optics/stack.hpp"
#include "optics/test_optics_support.hpp"

namespace quilmo::optics {
namespace {

using testing::entries;
using testing::NearUlps;
using testing::SameBits;
using testing::Stack;
using testing::single;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(WorkedValues, TwoMediaExactBits) {
    const Stack s = single({{1.0, 0.0}, {1.5, 0.0}}, {}, 500.0, 0.0);
    const double inv_tau = 1.2499999999999998;
    EXPECT_TRUE(SameBits(s.matrix(0, pol_s), {{inv_tau, 0.0}, {-0.25, 0.0}, {-0.25, 0.0}, {inv_tau, 0.0}}));
    EXPECT_TRUE(SameBits(s.matrix(0, pol_p), {{inv_tau, 0.0}, {0.25, 0.0}, {0.25, 0.0}, {inv_tau, 0.0}}));
}

TEST(WorkedValues, QuarterWaveLayer) {
    const Stack s = single({{1.0, 0.0}, {2.0, 0.0}, {1.5, 0.0}}, {75.0}, 600.0, 0.0);
    const double want_im[2][4] = {{-1.375, 0.625, -0.625, 1.375}, {-1.375, -0.625, 0.625, 1.375}};  // s, p
    for (int pol : {pol_s, pol_p}) {
        const auto m = entries(s.matrix(0, pol));
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(NearUlps(m[i].im, want_im[pol][i], 8) && std::fabs(m[i].re) < 1e-15)
                << "pol " << pol << " entry " << i << ": " << testing::show(m[i].re);
        }
    }
}

TEST(WorkedValues, TotalInternalReflectionAndItsConjugate) {
    const double theta = std::numbers::pi / 3.0;
    const Stack s = single({{1.5, 0.0}, {1.0, 0.0}}, {}, 500.0, theta);
    // 1/tau = (A + B)/1.5 with A = 0.75, B = i sqrt(1 - 2.25 * 3/4)
    const double x = std::sqrt(0.6875) / 1.5;
    const double want_im[4] = {x, -x, -x, x};
    const auto m = entries(s.matrix(0, pol_s));
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(NearUlps(m[i].re, 0.5, 4) && NearUlps(m[i].im, want_im[i], 4)) << "entry " << i;
    }
    // an exit index with imaginary part -0 takes the root below the cut
    const Stack below = single({{1.5, 0.0}, {1.0, -0.0}}, {}, 500.0, theta);
    for (int pol : {pol_s, pol_p}) {
        const auto a = entries(s.matrix(0, pol)), b = entries(below.matrix(0, pol));
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(SameBits(b[i], {a[i].re, -a[i].im})) << "pol " << pol;
    }
}

TEST(WorkedValues, StrongAbsorptionOverflowsToNan) {
    for (double d : {225.0, 226.0}) {
        const Stack s = single({{1.0, 0.0}, {2.0, 0.5}, {1.5, 0.0}}, {d}, 1.0, 0.0);
        for (int pol : {pol_s, pol_p}) {
            for (const Complex& z : entries(s.matrix(0, pol))) {
                const bool finite = std::isfinite(z.re) && std::isfinite(z.im) && abs(z) > 1e300;
                EXPECT_TRUE(d == 225.0 ? finite : std::isnan(z.re) && std::isnan(z.im))
                    << "d " << d << ": " << testing::show(z.re) << ", " << testing::show(z.im);
            }
        }
    }
}

TEST(WorkedValues, MatchedLayerZeroSignsComeFromTheFullProducts) {
    // r = 0 at both interfaces. M * P(1) adds M(x,1) * (0, 0) to M(x,0) * e-,
    // which decides the signs of the zero entries; scaling the columns of M by
    // e- and e+ would give (+0, +0) and (+0, -0) instead.
    const Stack s = single({{1.5, 0.0}, {1.5, -0.0}, {-1.5, 0.0}}, {90.0}, 500.0, 0.0);
    const TransferMatrix m = s.matrix(0, pol_p);
    EXPECT_TRUE(SameBits(m.m10, {-0.0, 0.0}));
    EXPECT_TRUE(SameBits(m.m01, {0.0, 0.0}));
    // 1/tau = 1, then -1 (c_2 = -1): M = -diag(e^{-i delta}, e^{+i delta})
    const double delta = 2 * std::numbers::pi * 1.5 * 90.0 / 500.0;
    EXPECT_NEAR(m.m00.re, -std::cos(delta), 1e-15);
    EXPECT_NEAR(m.m00.im, std::sin(delta), 1e-15);
    EXPECT_NEAR(m.m11.re, -std::cos(delta), 1e-15);
    EXPECT_NEAR(m.m11.im, -std::sin(delta), 1e-15);
}

// ---- index failures -------------------------------------------------------

struct BadShape {
    const char* name;
    std::size_t media, columns, wavelengths, thicknesses, a;
};
void PrintTo(const BadShape& c, std::ostream* out) { *out << c.name; }

class IndexFailure : public ::testing::TestWithParam<BadShape> {};

// The calls stay in the test body: GCC 12 at -O3 drops a store made before a
// call through a cloned lambda that would overwrite it, even when the call
// throws, so a helper taking the call as a lambda reports false garbage.
TEST_P(IndexFailure, RaisesAndReturnsNothing) {
    const BadShape& c = GetParam();
    // every value finite, so that only the shape fails
    const Stack s{std::vector<double>(c.thicknesses, 100.0), std::vector<Complex>(c.media * c.columns, {1.5, 0.1}),
                  c.media, std::vector<double>(c.wavelengths, 500.0), 0.3};
    const TransferMatrix marker{{-7.0, -7.0}, {-7.0, -7.0}, {-7.0, -7.0}, {-7.0, -7.0}};
    for (int call : {pol_s, pol_p, -1}) {  // -1: the shared pass
        MatrixPair out{marker, marker};
        std::string message = "no internal error";
        try {
            if (call == -1) {
                out = s.pair(c.a);
            } else {
                out.s = s.matrix(c.a, call);
            }
        } catch (const InternalError& e) {
            message = e.message();
        }
        EXPECT_EQ(message, "ndarray: index out of bounds") << "call " << call;
        EXPECT_TRUE(SameBits(out.s, marker) && SameBits(out.p, marker)) << "call " << call;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, IndexFailure,
    ::testing::Values(BadShape{"index_past_wavelengths", 3, 4, 2, 1, 2}, BadShape{"no_media", 0, 0, 1, 0, 0},
                      BadShape{"index_past_columns", 3, 2, 4, 1, 2}, BadShape{"no_thickness", 3, 1, 1, 0, 0},
                      BadShape{"no_media_no_wavelengths", 0, 0, 0, 0, 0}, BadShape{"one_medium", 1, 1, 1, 0, 0},
                      BadShape{"one_thickness_short", 6, 1, 1, 3, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- properties over random stacks ----------------------------------------

// 600 stacks of 2 to 13 media (exactly N - 2 thicknesses, so the passing edge
// of the index checks is hit too), 3 wavelengths each. Every matrix equals, bit
// for bit: the shared pass, the stack with junk thicknesses appended, the
// column alone, and the same values read through reversed strides.
class RandomStacks : public ::testing::TestWithParam<testing::Material> {};

TEST_P(RandomStacks, EveryRouteGivesTheSameBits) {
    std::mt19937_64 rng(static_cast<unsigned>(GetParam()) + 1);
    std::uniform_int_distribution<std::size_t> media(2, 13);
    for (int i = 0; i < 600 && !HasFailure(); ++i) {
        const Stack s = testing::random_stack(rng, media(rng), 3, GetParam());
        const std::size_t cols = s.wl.size();
        Stack longer = s;
        longer.d.insert(longer.d.end(), {nan, 1e300, -5.0});
        // column-major copy read through negative strides on both axes
        std::vector<Complex> flipped(s.n.size());
        for (std::size_t k = 0; k < s.n.size(); ++k) {
            flipped[k] = s.index(s.media - 1 - k % s.media, cols - 1 - k / s.media);
        }
        const View2<Complex> n_flipped{&flipped.back(), s.media, cols, -1, -static_cast<std::ptrdiff_t>(s.media)};
        for (std::size_t a = 0; a < cols; ++a) {
            std::vector<Complex> column;
            for (std::size_t j = 0; j < s.media; ++j) column.push_back(s.index(j, a));
            const Stack alone = single(column, s.d, s.wl[a], s.theta);
            const MatrixPair pair = s.pair(a), longer_pair = longer.pair(a);
            for (int pol : {pol_s, pol_p}) {
                SCOPED_TRACE(::testing::Message() << "stack " << i << " a " << a << " pol " << pol);
                const TransferMatrix want = s.matrix(a, pol);
                EXPECT_TRUE(SameBits(pol == pol_s ? pair.s : pair.p, want));
                EXPECT_TRUE(SameBits(longer.matrix(a, pol), want));
                EXPECT_TRUE(SameBits(pol == pol_s ? longer_pair.s : longer_pair.p, want));
                EXPECT_TRUE(SameBits(alone.matrix(0, pol), want));
                EXPECT_TRUE(SameBits(transfer_matrix(s.d_view(), n_flipped, s.wl_view(), s.theta, a, pol), want));
            }
        }
    }
}

const char* const material_names[] = {"lossless", "absorbing", "wild"};
INSTANTIATE_TEST_SUITE_P(
    Materials, RandomStacks,
    ::testing::Values(testing::Material::lossless, testing::Material::absorbing, testing::Material::wild),
    [](const auto& info) { return std::string(material_names[info.index]); });

TEST(SharedPass, SignedZerosAndNonFiniteEntries) {
    // hand-picked values whose zero signs or NaN decide entries through the
    // full products: -0 imaginary parts, a vanishing index, infinite layers,
    // matched interfaces (r = 0, so zeros of M10 and M01 survive to the end)
    const std::vector<std::vector<Complex>> stacks = {
        {{1.0, -0.0}, {1.5, -0.0}, {1.2, 0.0}, {1.0, -0.0}}, {{-1.0, 0.0}, {-0.0, -0.0}, {2.0, 0.0}},
        {{1.0, 0.0}, {0.0, 0.0}, {1.5, 0.0}},                 {{1.0, 0.0}, {inf, 0.0}, {1.5, 0.0}},
        {{1.0, 0.0}, {2.0, nan}, {1.5, 0.0}},                 {{1.0, 0.0}, {2.0, 0.5}, {2.0, 0.5}, {1.5, 0.0}},
        {{1.5, 0.0}, {1.5, -0.0}, {-1.5, 0.0}},               {{-1.5, 0.0}, {1.5, 0.0}, {1.5, 0.0}, {1.5, -0.0}},
    };
    for (double theta : {0.0, -0.0, 0.7, std::numbers::pi / 2, inf}) {
        for (const auto& media : stacks) {
            for (double t : {0.0, -0.0, 50.0, 90.0, 248.0, 1e308, inf}) {
                const Stack s = single(media, std::vector<double>(media.size() - 2, t), 500.0, theta);
                const MatrixPair pair = s.pair(0);
                EXPECT_TRUE(SameBits(pair.s, s.matrix(0, pol_s))) << "theta " << theta << " t " << t;
                EXPECT_TRUE(SameBits(pair.p, s.matrix(0, pol_p))) << "theta " << theta << " t " << t;
            }
        }
    }
}

}  // namespace
}  // namespace quilmo::optics
