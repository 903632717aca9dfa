// Complex arithmetic: special cases of the root and the exponential with their
// signs of zero, the unscaled product, quotient and reciprocal, and a guard
// against a product and a sum fused into one rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "optics/complex.hpp"
#include "optics/test_optics_support.hpp"

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

using Op = Complex (*)(Complex, Complex);
constexpr Op Sqrt = [](Complex z, Complex) { return csqrt(z); };
constexpr Op Exp = [](Complex z, Complex) { return cexp(z); };
constexpr Op Inv = [](Complex z, Complex) { return reciprocal(z); };
constexpr Op Div = [](Complex z, Complex w) { return z / w; };
constexpr Op Mul = [](Complex z, Complex w) { return z * w; };
constexpr Op Sq = [](Complex z, Complex) { return square(z); };
constexpr Op Twice = [](Complex z, Complex) { return twice(z); };

struct Case {
    const char* name;
    Op op;
    Complex z, want;
    Complex w = {};  // second operand
    int ulps = 0;    // 0: the same bits
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const double e1 = std::exp(1.0);
const Case cases[] = {
    // csqrt with a zero imaginary part: the sign of x picks the axis, the sign of y the half
    {"sqrt_neg_plus0", Sqrt, {-4.0, 0.0}, {0.0, 2.0}}, {"sqrt_neg_minus0", Sqrt, {-4.0, -0.0}, {0.0, -2.0}},
    {"sqrt_minus0_plus0", Sqrt, {-0.0, 0.0}, {0.0, 0.0}}, {"sqrt_minus0_minus0", Sqrt, {-0.0, -0.0}, {0.0, -0.0}},
    {"sqrt_plus0_minus0", Sqrt, {0.0, -0.0}, {0.0, -0.0}}, {"sqrt_pos_minus0", Sqrt, {4.0, -0.0}, {2.0, -0.0}},
    {"sqrt_inf_plus0", Sqrt, {inf, 0.0}, {inf, 0.0}}, {"sqrt_neg_inf_minus0", Sqrt, {-inf, -0.0}, {0.0, -inf}},
    {"sqrt_nan_plus0", Sqrt, {nan, 0.0}, {nan, 0.0}},
    // zero real part: exact halves, never through atan2
    {"sqrt_imag_up", Sqrt, {0.0, 8.0}, {2.0, 2.0}}, {"sqrt_imag_down", Sqrt, {0.0, -8.0}, {2.0, -2.0}},
    {"sqrt_minus0_imag", Sqrt, {-0.0, 8.0}, {2.0, 2.0}},
    // the polar form: NaN through, principal root in the right half-plane, sign of y kept
    {"sqrt_nan_imag", Sqrt, {1.0, nan}, {nan, nan}}, {"sqrt_nan_nan", Sqrt, {nan, nan}, {nan, nan}},
    {"sqrt_q1", Sqrt, {3.0, 4.0}, {2.0, 1.0}, {}, 2}, {"sqrt_q2", Sqrt, {-3.0, 4.0}, {1.0, 2.0}, {}, 2},
    {"sqrt_q3", Sqrt, {-3.0, -4.0}, {1.0, -2.0}, {}, 2},
    // cexp at -inf with a finite angle: zeros signed like cos y and sin y; at
    // +inf with a non-zero one: infinities signed so
    {"exp_ninf_inf", Exp, {-inf, inf}, {0.0, 0.0}}, {"exp_ninf_nan", Exp, {-inf, nan}, {0.0, 0.0}},
    {"exp_ninf_1", Exp, {-inf, 1.0}, {0.0, 0.0}}, {"exp_ninf_3", Exp, {-inf, 3.0}, {-0.0, 0.0}},
    {"exp_ninf_minus3", Exp, {-inf, -3.0}, {-0.0, -0.0}}, {"exp_inf_plus0", Exp, {inf, 0.0}, {inf, 0.0}},
    {"exp_inf_minus0", Exp, {inf, -0.0}, {inf, -0.0}}, {"exp_inf_inf", Exp, {inf, inf}, {inf, nan}},
    {"exp_inf_nan", Exp, {inf, nan}, {inf, nan}}, {"exp_inf_3", Exp, {inf, 3.0}, {-inf, inf}},
    {"exp_nan_plus0", Exp, {nan, 0.0}, {nan, 0.0}}, {"exp_nan_minus0", Exp, {nan, -0.0}, {nan, -0.0}},
    {"exp_nan_1", Exp, {nan, 1.0}, {nan, nan}}, {"exp_zero", Exp, {0.0, 0.0}, {1.0, 0.0}},
    // exp overflows before the multiplication: inf * sin(0) is NaN
    {"exp_overflow", Exp, {710.0, 0.0}, {inf, nan}},
    {"exp_general", Exp, {1.0, 2.0}, {e1 * std::cos(2.0), e1 * std::sin(2.0)}, {}, 2},
    // (1*0.8 + 0*0) / (0.8*0.8 + 0*0): q rounds up, so not 1.25
    {"inv_rounding", Inv, {0.8, 0.0}, {1.2499999999999998, 0.0}},
    {"div_rounding", Div, {1.0, 0.0}, {1.2499999999999998, 0.0}, {0.8, 0.0}},
    {"inv_imag", Inv, {0.0, 2.0}, {0.0, -0.5}},
    // 0*inf in the numerators: no 1/inf = 0 shortcut; a zero divisor gives NaN, no error
    {"inv_inf", Inv, {inf, 0.0}, {nan, nan}}, {"inv_inf_imag", Inv, {1.0, inf}, {nan, nan}},
    {"inv_zero", Inv, {0.0, 0.0}, {nan, nan}}, {"div_zero", Div, {1.0, 0.0}, {nan, nan}, {0.0, 0.0}},
    // no scaling: q overflows (a scaled division gives (1, 0)) or underflows to zero
    {"div_overflow", Div, {1e300, 0.0}, {nan, 0.0}, {1e300, 0.0}},
    {"div_underflow", Div, {1e-200, 1e-200}, {nan, nan}, {1e-200, 1e-200}},
    // (inf*1 - 0*0, inf*0 + 0*1): no recovery of the NaN into an infinity
    {"mul_inf", Mul, {inf, 0.0}, {inf, nan}, {1.0, 0.0}}, {"mul_inf_inf", Mul, {inf, inf}, {nan, inf}, {1.0, 1.0}},
    {"square_minus0", Sq, {1.5, -0.0}, {2.25, -0.0}}, {"square_neg", Sq, {-1.5, 0.0}, {2.25, -0.0}},
    {"square_general", Sq, {3.0, 2.0}, {5.0, 12.0}}, {"twice_signed", Twice, {-0.0, inf}, {-0.0, inf}},
};

class Arithmetic : public ::testing::TestWithParam<Case> {};

TEST_P(Arithmetic, GivesTheWorkedValue) {
    const Case& c = GetParam();
    const Complex got = c.op(opaque(c.z), opaque(c.w));
    if (c.ulps == 0) {
        EXPECT_TRUE(SameBits(got, c.want));
    } else {
        EXPECT_TRUE(NearUlps(got.re, c.want.re, c.ulps));
        EXPECT_TRUE(NearUlps(got.im, c.want.im, c.ulps));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Arithmetic, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

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
