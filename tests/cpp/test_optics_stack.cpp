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
#include "test_optics_support.hpp"

namespace quilmo::optics {
namespace {

using testing::NearUlps;
using testing::SameBits;
using testing::Stack;
using testing::single;

TransferMatrix conj(const TransferMatrix& m) {
    return {{m.m00.re, -m.m00.im}, {m.m10.re, -m.m10.im}, {m.m01.re, -m.m01.im}, {m.m11.re, -m.m11.im}};
}

TEST(TwoMedia, NormalIncidenceExactBits) {
    const Stack s = single({{1.0, 0.0}, {1.5, 0.0}}, {}, 500.0, 0.0);
    const double inv_tau = 1.2499999999999998;
    EXPECT_TRUE(SameBits(s.matrix(0, pol_s), {{inv_tau, 0.0}, {-0.25, 0.0}, {-0.25, 0.0}, {inv_tau, 0.0}}));
    EXPECT_TRUE(SameBits(s.matrix(0, pol_p), {{inv_tau, 0.0}, {0.25, 0.0}, {0.25, 0.0}, {inv_tau, 0.0}}));
    const MatrixPair pair = s.pair(0);
    EXPECT_TRUE(SameBits(pair.s, s.matrix(0, pol_s)));
    EXPECT_TRUE(SameBits(pair.p, s.matrix(0, pol_p)));
}

TEST(QuarterWave, ApproximateValues) {
    const Stack s = single({{1.0, 0.0}, {2.0, 0.0}, {1.5, 0.0}}, {75.0}, 600.0, 0.0);
    const TransferMatrix ms = s.matrix(0, pol_s);
    const TransferMatrix mp = s.matrix(0, pol_p);
    const double want_s[4] = {-1.375, 0.625, -0.625, 1.375};
    const double want_p[4] = {-1.375, -0.625, 0.625, 1.375};
    const Complex got_s[4] = {ms.m00, ms.m10, ms.m01, ms.m11};
    const Complex got_p[4] = {mp.m00, mp.m10, mp.m01, mp.m11};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(NearUlps(got_s[i].im, want_s[i], 8)) << "s entry " << i;
        EXPECT_TRUE(NearUlps(got_p[i].im, want_p[i], 8)) << "p entry " << i;
        EXPECT_LT(std::fabs(got_s[i].re), 1e-15) << "s entry " << i;
        EXPECT_LT(std::fabs(got_p[i].re), 1e-15) << "p entry " << i;
    }
    const Complex r = ms.m10 / ms.m00;
    EXPECT_NEAR(r.re, -5.0 / 11.0, 1e-15);
    EXPECT_LT(std::fabs(r.im), 1e-15);
}

TEST(TotalInternalReflection, ExitRootOnPositiveImaginaryAxis) {
    const double theta = std::numbers::pi / 3.0;
    const Stack s = single({{1.5, 0.0}, {1.0, 0.0}}, {}, 500.0, theta);
    const TransferMatrix m = s.matrix(0, pol_s);
    // 1/tau = (A + B)/1.5 with A = 0.75, B = i sqrt(1 - 2.25 * 3/4)
    const double x = std::sqrt(0.6875) / 1.5;
    const double want_im[4] = {x, -x, -x, x};
    const Complex got[4] = {m.m00, m.m10, m.m01, m.m11};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(NearUlps(got[i].re, 0.5, 4)) << "entry " << i;
        EXPECT_TRUE(NearUlps(got[i].im, want_im[i], 4)) << "entry " << i;
    }
    EXPECT_NEAR(abs(m.m10 / m.m00), 1.0, 1e-15);

    // an exit index with imaginary part -0 takes the root below the cut
    const Stack below = single({{1.5, 0.0}, {1.0, -0.0}}, {}, 500.0, theta);
    EXPECT_TRUE(SameBits(below.matrix(0, pol_s), conj(m)));
    EXPECT_TRUE(SameBits(below.matrix(0, pol_p), conj(s.matrix(0, pol_p))));
}

TEST(StrongAbsorption, OverflowOfTheLayerExponentialGivesNan) {
    const Stack finite = single({{1.0, 0.0}, {2.0, 0.5}, {1.5, 0.0}}, {225.0}, 1.0, 0.0);
    const Stack over = single({{1.0, 0.0}, {2.0, 0.5}, {1.5, 0.0}}, {226.0}, 1.0, 0.0);
    for (int pol : {pol_s, pol_p}) {
        const TransferMatrix m = finite.matrix(0, pol);
        const Complex got[4] = {m.m00, m.m10, m.m01, m.m11};
        for (const Complex& z : got) {
            EXPECT_TRUE(std::isfinite(z.re) && std::isfinite(z.im)) << testing::show(z);
            EXPECT_GT(abs(z), 1e300);
        }
        const TransferMatrix n = over.matrix(0, pol);
        for (const Complex& z : {n.m00, n.m10, n.m01, n.m11}) {
            EXPECT_TRUE(std::isnan(z.re) && std::isnan(z.im)) << testing::show(z);
        }
    }
}

TEST(MatchedLayer, ZeroSignsComeFromTheFullProducts) {
    // r = 0 at both interfaces. M * P(1) adds M(x,1) * (0, 0) to M(x,0) * e-,
    // which decides the signs of the zero entries; scaling the columns of M by
    // e- and e+ would give (+0, +0) and (+0, -0) instead.
    const Stack s = single({{1.5, 0.0}, {1.5, -0.0}, {-1.5, 0.0}}, {90.0}, 500.0, 0.0);
    const TransferMatrix m = s.matrix(0, pol_p);
    EXPECT_TRUE(SameBits(m.m10, {-0.0, 0.0}));
    EXPECT_TRUE(SameBits(m.m01, {0.0, 0.0}));
    // 1/tau = 1 at the first interface and -1 at the second (c_2 = -1), so
    // M = -diag(e^{-i delta}, e^{+i delta}) with delta = 2 pi 1.5 * 90 / 500
    const double delta = 2 * std::numbers::pi * 1.5 * 90.0 / 500.0;
    EXPECT_NEAR(m.m00.re, -std::cos(delta), 1e-15);
    EXPECT_NEAR(m.m00.im, std::sin(delta), 1e-15);
    EXPECT_NEAR(m.m11.re, -std::cos(delta), 1e-15);
    EXPECT_NEAR(m.m11.im, -std::sin(delta), 1e-15);
}

// ---- index failures -------------------------------------------------------

struct BadShape {
    const char* name;
    std::size_t media;
    std::size_t columns;
    std::size_t wavelengths;
    std::size_t thicknesses;
    std::size_t a;
};

void PrintTo(const BadShape& c, std::ostream* out) { *out << c.name; }

class IndexFailure : public ::testing::TestWithParam<BadShape> {
protected:
    // Storage for the shape; every value finite so that only the shape fails.
    void SetUp() override {
        const BadShape& c = GetParam();
        n_.assign(c.media * c.columns, Complex{1.5, 0.1});
        d_.assign(c.thicknesses, 100.0);
        wl_.assign(c.wavelengths, 500.0);
        n_view_ = {n_.data(), c.media, c.columns, static_cast<std::ptrdiff_t>(c.columns), 1};
        d_view_ = {d_.data(), d_.size(), 1};
        wl_view_ = {wl_.data(), wl_.size(), 1};
    }

    std::vector<Complex> n_;
    std::vector<double> d_;
    std::vector<double> wl_;
    View2<Complex> n_view_;
    View1<double> d_view_;
    View1<double> wl_view_;
};

// The calls stay in the test body: GCC 12 at -O3 drops a store made before a
// call through a cloned lambda that would overwrite it, even when the call
// throws, so a helper taking the call as a lambda reports false garbage.
TEST_P(IndexFailure, RaisesAndReturnsNothing) {
    const std::size_t a = GetParam().a;
    const Complex marker{-7.0, -7.0};
    const TransferMatrix untouched{marker, marker, marker, marker};
    const std::string index_error = "ndarray: index out of bounds";
    for (int pol : {pol_s, pol_p}) {
        TransferMatrix out = untouched;
        std::string message = "no internal error";
        try {
            out = transfer_matrix(d_view_, n_view_, wl_view_, 0.3, a, pol);
        } catch (const InternalError& e) {
            message = e.message();
        }
        EXPECT_EQ(message, index_error) << "pol " << pol;
        EXPECT_TRUE(SameBits(out, untouched)) << "pol " << pol;
    }
    MatrixPair pair{untouched, untouched};
    std::string message = "no internal error";
    try {
        pair = transfer_matrix_pair(make_stack_inputs(d_view_, n_view_, wl_view_, 0.3), a);
    } catch (const InternalError& e) {
        message = e.message();
    }
    EXPECT_EQ(message, index_error);
    EXPECT_TRUE(SameBits(pair.s, untouched));
    EXPECT_TRUE(SameBits(pair.p, untouched));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, IndexFailure,
    ::testing::Values(BadShape{"index_past_wavelengths", 3, 4, 2, 1, 2},
                      BadShape{"index_past_columns", 3, 2, 4, 1, 2},
                      BadShape{"no_media", 0, 0, 1, 0, 0},
                      BadShape{"no_media_no_wavelengths", 0, 0, 0, 0, 0},
                      BadShape{"one_medium", 1, 1, 1, 0, 0},
                      BadShape{"no_thickness", 3, 1, 1, 0, 0},
                      BadShape{"one_thickness_short", 6, 1, 1, 3, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IndexChecks, ExactlyEnoughPasses) {
    // boundaries of the checks above: last column, N = 2 without d, N - 2 thicknesses
    std::mt19937_64 rng(7);
    for (std::size_t media : {2u, 3u, 6u}) {
        const Stack s = testing::random_stack(rng, media, 3, testing::Material::absorbing);
        ASSERT_EQ(s.d.size(), media - 2);
        EXPECT_NO_THROW(s.matrix(2, pol_s));
        EXPECT_NO_THROW(s.pair(2));
    }
}

// ---- properties over random stacks ----------------------------------------

struct Population {
    const char* name;
    testing::Material kind;
    unsigned seed;
};

void PrintTo(const Population& c, std::ostream* out) { *out << c.name; }

class RandomStacks : public ::testing::TestWithParam<Population> {
protected:
    // 600 stacks of 2 to 13 media, 3 wavelengths each.
    template <class F>
    void for_each_stack(F check) {
        std::mt19937_64 rng(GetParam().seed);
        std::uniform_int_distribution<std::size_t> media(2, 13);
        for (int i = 0; i < 600; ++i) {
            const Stack s = testing::random_stack(rng, media(rng), 3, GetParam().kind);
            check(s);
            if (HasFailure()) return;
        }
    }
};

TEST_P(RandomStacks, SharedPassMatchesSeparateCalls) {
    for_each_stack([](const Stack& s) {
        for (std::size_t a = 0; a < s.wl.size(); ++a) {
            const MatrixPair pair = s.pair(a);
            EXPECT_TRUE(SameBits(pair.s, s.matrix(a, pol_s))) << "media " << s.media << " a " << a;
            EXPECT_TRUE(SameBits(pair.p, s.matrix(a, pol_p))) << "media " << s.media << " a " << a;
        }
    });
}

TEST_P(RandomStacks, ExtraThicknessesAreNotRead) {
    for_each_stack([](const Stack& s) {
        Stack longer = s;
        for (double junk : {std::numeric_limits<double>::quiet_NaN(), 1e300, -5.0}) {
            longer.d.push_back(junk);
        }
        for (std::size_t a = 0; a < s.wl.size(); ++a) {
            EXPECT_TRUE(SameBits(longer.matrix(a, pol_s), s.matrix(a, pol_s)));
            EXPECT_TRUE(SameBits(longer.pair(a).p, s.pair(a).p));
        }
    });
}

TEST_P(RandomStacks, ColumnAloneInAnyLayoutGivesSameBits) {
    for_each_stack([](const Stack& s) {
        const std::size_t cols = s.wl.size();
        // column-major copy read through reversed strides on both axes
        std::vector<Complex> flipped(s.n.size());
        for (std::size_t j = 0; j < s.media; ++j) {
            for (std::size_t a = 0; a < cols; ++a) {
                flipped[(cols - 1 - a) * s.media + (s.media - 1 - j)] = s.index(j, a);
            }
        }
        const auto media = static_cast<std::ptrdiff_t>(s.media);
        const View2<Complex> n_flipped{flipped.data() + flipped.size() - 1, s.media, cols, -1, -media};
        for (std::size_t a = 0; a < cols; ++a) {
            std::vector<Complex> column;
            for (std::size_t j = 0; j < s.media; ++j) column.push_back(s.index(j, a));
            const Stack alone = testing::single(column, s.d, s.wl[a], s.theta);
            for (int pol : {pol_s, pol_p}) {
                const TransferMatrix want = s.matrix(a, pol);
                EXPECT_TRUE(SameBits(alone.matrix(0, pol), want));
                EXPECT_TRUE(SameBits(transfer_matrix(s.d_view(), n_flipped, s.wl_view(), s.theta, a, pol), want));
            }
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Materials, RandomStacks,
                         ::testing::Values(Population{"lossless", testing::Material::lossless, 1},
                                           Population{"absorbing", testing::Material::absorbing, 2},
                                           Population{"wild", testing::Material::wild, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SharedPass, SignedZerosAndNonFiniteEntries) {
    // hand-picked values whose zero signs or NaN decide entries through the
    // full products: -0 imaginary parts, a vanishing index, infinite layers
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::vector<Complex>> stacks = {
        {{1.0, -0.0}, {1.5, -0.0}, {1.2, 0.0}, {1.0, -0.0}},
        {{-1.0, 0.0}, {-0.0, -0.0}, {2.0, 0.0}},
        {{1.0, 0.0}, {0.0, 0.0}, {1.5, 0.0}},
        {{1.0, 0.0}, {inf, 0.0}, {1.5, 0.0}},
        {{1.0, 0.0}, {2.0, nan}, {1.5, 0.0}},
        {{1.0, 0.0}, {2.0, 0.5}, {2.0, 0.5}, {1.5, 0.0}},
        // matched interfaces: r = 0, so zeros of M10 and M01 survive to the end
        {{1.5, 0.0}, {1.5, -0.0}, {-1.5, 0.0}},
        {{-1.5, 0.0}, {1.5, 0.0}, {1.5, 0.0}, {1.5, -0.0}},
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
