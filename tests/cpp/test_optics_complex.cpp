// Complex arithmetic: special cases of the root and the exponential with their
// signs of zero, the unscaled quotient and reciprocal, and a guard against a
// product and a sum fused into one rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "optics/complex.hpp"
#include "test_optics_support.hpp"

namespace quilmo::optics {
namespace {

using testing::NearUlps;
using testing::SameBits;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Hides a value from constant folding, so that an expression built from it is
// compiled the way the kernel's own expressions are.
double opaque(double x) {
#if defined(__GNUC__)
    asm("" : "+m"(x));
#endif
    return x;
}

Complex opaque(Complex z) { return {opaque(z.re), opaque(z.im)}; }

struct Case {
    const char* name;
    Complex in;
    Complex want;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class CsqrtExact : public ::testing::TestWithParam<Case> {};

TEST_P(CsqrtExact, GivesExactBits) {
    const Case& c = GetParam();
    EXPECT_TRUE(SameBits(csqrt(opaque(c.in)), c.want));
}

INSTANTIATE_TEST_SUITE_P(
    SpecialCases, CsqrtExact,
    ::testing::Values(
        // zero imaginary part: the sign of x picks the axis, the sign of y the half
        Case{"neg_real_plus_zero", {-4.0, 0.0}, {0.0, 2.0}},
        Case{"neg_real_minus_zero", {-4.0, -0.0}, {0.0, -2.0}},
        Case{"neg_zero_plus_zero", {-0.0, 0.0}, {0.0, 0.0}},
        Case{"neg_zero_minus_zero", {-0.0, -0.0}, {0.0, -0.0}},
        Case{"pos_zero_minus_zero", {0.0, -0.0}, {0.0, -0.0}},
        Case{"pos_real_minus_zero", {4.0, -0.0}, {2.0, -0.0}},
        Case{"pos_inf_plus_zero", {inf, 0.0}, {inf, 0.0}},
        Case{"neg_inf_minus_zero", {-inf, -0.0}, {0.0, -inf}},
        Case{"nan_plus_zero", {nan, 0.0}, {nan, 0.0}},
        // zero real part: exact halves, never through atan2
        Case{"imag_axis_up", {0.0, 8.0}, {2.0, 2.0}},
        Case{"imag_axis_down", {0.0, -8.0}, {2.0, -2.0}},
        Case{"neg_zero_imag_axis", {-0.0, 8.0}, {2.0, 2.0}},
        // general rule: NaN and infinities in the polar form
        Case{"nan_imag", {1.0, nan}, {nan, nan}},
        Case{"nan_both", {nan, nan}, {nan, nan}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Csqrt, GeneralRuleIsPrincipalRoot) {
    const Complex w = csqrt(opaque(Complex{3.0, 4.0}));
    EXPECT_TRUE(NearUlps(w.re, 2.0, 2));
    EXPECT_TRUE(NearUlps(w.im, 1.0, 2));
    // second and third quadrant land in the right half-plane, sign of y kept
    const Complex up = csqrt(opaque(Complex{-3.0, 4.0}));
    EXPECT_TRUE(NearUlps(up.re, 1.0, 2));
    EXPECT_TRUE(NearUlps(up.im, 2.0, 2));
    const Complex down = csqrt(opaque(Complex{-3.0, -4.0}));
    EXPECT_TRUE(NearUlps(down.re, 1.0, 2));
    EXPECT_TRUE(NearUlps(down.im, -2.0, 2));
}

class CexpExact : public ::testing::TestWithParam<Case> {};

TEST_P(CexpExact, GivesExactBits) {
    const Case& c = GetParam();
    EXPECT_TRUE(SameBits(cexp(opaque(c.in)), c.want));
}

INSTANTIATE_TEST_SUITE_P(
    SpecialCases, CexpExact,
    ::testing::Values(
        Case{"minus_inf_inf", {-inf, inf}, {0.0, 0.0}},
        Case{"minus_inf_nan", {-inf, nan}, {0.0, 0.0}},
        // -inf with a finite angle: zeros signed like cos y and sin y
        Case{"minus_inf_one", {-inf, 1.0}, {0.0, 0.0}},
        Case{"minus_inf_three", {-inf, 3.0}, {-0.0, 0.0}},
        Case{"minus_inf_minus_three", {-inf, -3.0}, {-0.0, -0.0}},
        Case{"plus_inf_zero", {inf, 0.0}, {inf, 0.0}},
        Case{"plus_inf_minus_zero", {inf, -0.0}, {inf, -0.0}},
        Case{"plus_inf_inf", {inf, inf}, {inf, nan}},
        Case{"plus_inf_nan", {inf, nan}, {inf, nan}},
        // +inf with a finite non-zero angle: infinities signed like cos y, sin y
        Case{"plus_inf_three", {inf, 3.0}, {-inf, inf}},
        Case{"nan_zero", {nan, 0.0}, {nan, 0.0}},
        Case{"nan_minus_zero", {nan, -0.0}, {nan, -0.0}},
        Case{"nan_one", {nan, 1.0}, {nan, nan}},
        Case{"zero", {0.0, 0.0}, {1.0, 0.0}},
        // exp overflows before the multiplication: inf * sin(0) is NaN
        Case{"overflow", {710.0, 0.0}, {inf, nan}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Cexp, GeneralFormula) {
    const Complex e = cexp(opaque(Complex{1.0, 2.0}));
    EXPECT_TRUE(NearUlps(e.re, std::exp(1.0) * std::cos(2.0), 2));
    EXPECT_TRUE(NearUlps(e.im, std::exp(1.0) * std::sin(2.0), 2));
}

TEST(Reciprocal, KeepsTheRoundingOfTheQuotientRule) {
    // (1*0.8 + 0*0) / (0.8*0.8 + 0*0): q rounds up, so not 1.25
    EXPECT_TRUE(SameBits(reciprocal(opaque(Complex{0.8, 0.0})), {1.2499999999999998, 0.0}));
    EXPECT_TRUE(SameBits(opaque(Complex{1.0, 0.0}) / opaque(Complex{0.8, 0.0}),
                         {1.2499999999999998, 0.0}));
    EXPECT_TRUE(SameBits(reciprocal(opaque(Complex{0.0, 2.0})), {0.0, -0.5}));
}

TEST(Reciprocal, ZeroTermsTurnInfinityIntoNan) {
    // 0*inf in the numerators: no 1/inf = 0 shortcut
    EXPECT_TRUE(SameBits(reciprocal(opaque(Complex{inf, 0.0})), {nan, nan}));
    EXPECT_TRUE(SameBits(reciprocal(opaque(Complex{1.0, inf})), {nan, nan}));
}

TEST(Quotient, ZeroDivisorGivesNanNotError) {
    EXPECT_TRUE(SameBits(opaque(Complex{1.0, 0.0}) / opaque(Complex{0.0, 0.0}), {nan, nan}));
    EXPECT_TRUE(SameBits(reciprocal(opaque(Complex{0.0, 0.0})), {nan, nan}));
}

TEST(Quotient, IsNotScaled) {
    // q overflows: a scaled division would give (1, 0)
    EXPECT_TRUE(SameBits(opaque(Complex{1e300, 0.0}) / opaque(Complex{1e300, 0.0}), {nan, 0.0}));
    // q underflows to zero
    const Complex tiny = opaque(Complex{1e-200, 1e-200});
    EXPECT_TRUE(SameBits(tiny / tiny, {nan, nan}));
}

TEST(Product, InfinitiesFollowTheTextbookFormula) {
    // (inf*1 - 0*0, inf*0 + 0*1): no recovery of the NaN into an infinity
    EXPECT_TRUE(SameBits(opaque(Complex{inf, 0.0}) * opaque(Complex{1.0, 0.0}), {inf, nan}));
    EXPECT_TRUE(SameBits(opaque(Complex{inf, inf}) * opaque(Complex{1.0, 1.0}), {nan, inf}));
}

TEST(Square, SignedZerosAndValues) {
    EXPECT_TRUE(SameBits(square(opaque(Complex{1.5, -0.0})), {2.25, -0.0}));
    EXPECT_TRUE(SameBits(square(opaque(Complex{-1.5, 0.0})), {2.25, -0.0}));
    EXPECT_TRUE(SameBits(square(opaque(Complex{3.0, 2.0})), {5.0, 12.0}));
    EXPECT_TRUE(SameBits(twice(opaque(Complex{-0.0, inf})), {-0.0, inf}));
}

// a = 1 + 2^-30 and b = 1 + 2^-29: a*a = 1 + 2^-29 + 2^-60 rounds to b. An
// expression a*a - b therefore gives 0 with two roundings and 2^-60 when the
// multiplication is fused into the subtraction; a*a - 1 gives 2^-29 or
// 2^-29 + 2^-60. Each operation below has such a term.
TEST(NoContraction, ProductsAndSumsRoundSeparately) {
    const double a = opaque(1.0 + std::ldexp(1.0, -30));
    const double b = opaque(1.0 + std::ldexp(1.0, -29));
    const double one = opaque(1.0);
    // re = a*a - b*1
    EXPECT_TRUE(SameBits(Complex{a, b} * Complex{a, one}, {0.0, 2.0 + std::ldexp(1.0, -28)}))
        << "a product was fused into a sum";
    // numerator of re: a*a + (-1)*b
    EXPECT_EQ((Complex{a, -one} / Complex{a, b}).re, 0.0) << "a product was fused into a sum";
    // re = a*a - 1*1
    EXPECT_EQ(square(Complex{a, one}).re, std::ldexp(1.0, -29)) << "a product was fused into a sum";
}

}  // namespace
}  // namespace quilmo::optics
