// Shortcuts that must not change a bit: one sincos for both exponentials of a
// layer, and the values of constant media computed once for many wavelengths.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "optics/constant_media.hpp"
#include "optics/stack.hpp"
#include "optics/test_optics_support.hpp"

namespace quilmo::optics {
namespace {

using testing::SameBits;
using testing::Stack;

constexpr double inf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }
double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }

// What the shortcut assumes of the C library, over 10^7 arguments: every
// exponent of a positive finite double (subnormals and the largest included)
// in equal shares, then the phases a stack meets, |x| < 10^5.
TEST(SinCos, OddSineEvenCosineBitForBit) {
    if (!sin_cos_symmetric) GTEST_SKIP() << "not assumed for this C library";
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<std::uint64_t> exponent(0, 2046), mantissa(0, (std::uint64_t{1} << 52) - 1);
    std::uniform_real_distribution<double> phase(0.0, 1e5);
    std::size_t failures = 0;
    for (std::size_t k = 0; k < 10'000'000; ++k) {
        const double x = k % 2 ? from_bits(exponent(rng) << 52 | mantissa(rng)) : phase(rng);
        const SinCos up = sin_cos(x), down = sin_cos(-x);
        if (bits(down.sin) != bits(-up.sin) || bits(down.cos) != bits(up.cos)) {
            if (++failures < 5) ADD_FAILURE() << "x = " << testing::show(x);
        }
    }
    EXPECT_EQ(failures, 0u);
}

TEST(SinCos, ExpOfEitherZeroIsOne) {
    if (!exp_of_zero_is_one) GTEST_SKIP() << "not assumed for this C library";
    volatile double zeros[] = {0.0, -0.0};  // evaluated by the library, not folded
    for (double z : zeros) EXPECT_EQ(bits(std::exp(z)), bits(1.0));
}

// The shortcut against the two exponentials it replaces, for phases and
// thicknesses of every kind: finite, overflowing exp, signed zeros, huge
// angles, subnormals, and non-finite parts (which take the general path).
TEST(LayerMatrix, OneSinCosGivesTheBitsOfTwoExponentials) {
    std::mt19937_64 rng(5);
    const double special[] = {0.0, -0.0, 5e-324, -5e-324, 1e-310, 1e300, -1e300, inf, -inf,
                              std::numeric_limits<double>::quiet_NaN(), 709.0, -746.0, 1e17};
    auto draw = [&] {
        const int pick = std::uniform_int_distribution<int>(0, 19)(rng);
        if (pick < 13) return special[pick];
        return std::uniform_real_distribution<double>(-1.0, 1.0)(rng) * std::pow(10.0, pick - 13);
    };
    for (int k = 0; k < 200'000; ++k) {
        const Complex phase{draw(), draw()};
        const double t = k % 3 ? std::uniform_real_distribution<double>(0.0, 500.0)(rng) : draw();
        const TransferMatrix got = detail::phase_layer_matrix(phase, t);
        const Complex e_plus = cexp({-(phase.im) * t, phase.re * t});
        const Complex e_minus = cexp({phase.im * t, -(phase.re) * t});
        ASSERT_TRUE(SameBits(got, {e_minus, {0.0, 0.0}, {0.0, 0.0}, e_plus}))
            << "phase (" << testing::show(phase.re) << ", " << testing::show(phase.im) << "), t "
            << testing::show(t);
    }
}

// Rows of five kinds over `count` wavelengths.
enum class Row { constant, dispersive, last_ulp, zero_sign, nan_payload };

Stack stack_of(std::mt19937_64& rng, const std::vector<Row>& rows, std::size_t count, bool absorbing) {
    std::uniform_real_distribution<double> re(1.0, 3.0), im(0.0, absorbing ? 0.4 : 0.0), small(-0.1, 0.1);
    Stack s;
    s.media = rows.size();
    s.theta = std::uniform_real_distribution<double>(0.0, 1.4)(rng);
    for (std::size_t a = 0; a < count; ++a) s.wl.push_back(std::uniform_real_distribution<double>(350.0, 900.0)(rng));
    for (std::size_t j = 0; j + 2 < rows.size(); ++j) s.d.push_back(std::uniform_real_distribution<double>(0.0, 300.0)(rng));
    for (Row kind : rows) {
        const Complex base{re(rng), im(rng)};
        const std::size_t odd = std::uniform_int_distribution<std::size_t>(0, count - 1)(rng);
        for (std::size_t a = 0; a < count; ++a) {
            Complex z = base;
            if (kind == Row::dispersive) z = {base.re + small(rng), base.im};
            if (kind == Row::last_ulp && a == odd) z.re = std::nextafter(z.re, inf);
            if (kind == Row::zero_sign) z.im = a == odd ? -0.0 : 0.0;
            if (kind == Row::nan_payload) z.im = from_bits(a == odd ? 0x7ff8000000000001 : 0x7ff8000000000000);
            s.n.push_back(z);
        }
    }
    return s;
}

// Every wavelength of [first, count) gets the bits of the full pass.
::testing::AssertionResult full_pass_bits(const StackInputs& in, std::size_t first, std::size_t count) {
    const ConstantMedia shared(in, first, count);
    for (std::size_t a = first; a < count; ++a) {
        const MatrixPair got = shared.matrix_pair(in, a);
        const MatrixPair want = detail::stack_pass_pair(in.d, in.n, in.wl[a], in.sin_theta, a);
        if (!SameBits(got.s, want.s) || !SameBits(got.p, want.p)) return ::testing::AssertionFailure() << "index " << a;
    }
    return ::testing::AssertionSuccess();
}

// Which rows count as constant, and that every wavelength of the range gets
// the bits of the full pass, for stacks mixing all five kinds of row, with
// the incidence medium constant or not, over the whole range or part of it.
TEST(ConstantMedia, SameBitsAsThePassOfEachWavelength) {
    std::mt19937_64 rng(3);
    const Row kinds[] = {Row::constant, Row::constant, Row::dispersive, Row::last_ulp, Row::zero_sign,
                         Row::nan_payload};
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t media = 2 + trial % 13;
        const std::size_t count = 2 + static_cast<std::size_t>(trial % 7) * 5;
        std::vector<Row> rows;
        for (std::size_t j = 0; j < media; ++j) rows.push_back(kinds[std::uniform_int_distribution<int>(0, 5)(rng)]);
        if (trial % 4 == 0) rows[0] = Row::constant;
        const Stack s = stack_of(rng, rows, count, trial % 2 == 1);
        const StackInputs in = make_stack_inputs(s.d_view(), s.n_view(), s.wl_view(), s.theta);
        const std::size_t first = trial % 3 == 0 ? 1 : 0;
        const ConstantMedia shared(in, first, count);
        for (std::size_t j = 0; j < media; ++j) {
            const bool row_constant = constant_row(in.n, j, first, count);
            if (first == 0) {
                EXPECT_EQ(row_constant, rows[j] == Row::constant) << "row " << j;
            }
            EXPECT_EQ(shared.constant(j), row_constant && constant_row(in.n, 0, first, count)) << "row " << j;
        }
        ASSERT_TRUE(full_pass_bits(in, first, count)) << "trial " << trial;
    }
}

// Periodic stacks: kinds of layer (index, thickness) repeated in turn, some
// sharing the index but not the thickness or the reverse, fewer kinds than
// ConstantMedia keeps apart and more; a dispersive row in some of them.
TEST(ConstantMedia, RepeatedLayersGiveTheBitsOfEachLayer) {
    std::mt19937_64 rng(8);
    std::uniform_real_distribution<double> re(1.2, 2.6), im(0.0, 0.2), thick(20.0, 200.0);
    for (std::size_t kinds : {1u, 2u, 3u, 9u, 12u}) {
        for (int variant = 0; variant < 4; ++variant) {
            std::vector<Complex> index(kinds);
            std::vector<double> thickness(kinds);
            for (std::size_t k = 0; k < kinds; ++k) {
                index[k] = {re(rng), variant == 1 ? im(rng) : 0.0};
                thickness[k] = thick(rng);
            }
            if (kinds >= 3) {
                index[2] = index[0];          // same index, other thickness
                thickness[1] = thickness[0];  // same thickness, other index
            }
            const std::size_t count = 9, layers = kinds * 3 + 1;
            Stack s;
            s.media = layers + 2;
            s.theta = 0.4;
            for (std::size_t a = 0; a < count; ++a) s.wl.push_back(400.0 + 50.0 * static_cast<double>(a));
            auto row = [&](Complex z, bool dispersive) {
                for (std::size_t a = 0; a < count; ++a) s.n.push_back({z.re + (dispersive ? 1e-3 * a : 0.0), z.im});
            };
            row({1.0, 0.0}, variant == 3);  // a dispersive incidence medium leaves nothing constant
            for (std::size_t j = 0; j < layers; ++j) {
                row(index[j % kinds], variant == 2 && j == 4);
                s.d.push_back(thickness[j % kinds]);
            }
            row({1.5, 0.0}, false);
            const StackInputs in = make_stack_inputs(s.d_view(), s.n_view(), s.wl_view(), s.theta);
            ASSERT_TRUE(full_pass_bits(in, 0, count)) << kinds << " kinds, variant " << variant;
        }
    }
}

}  // namespace
}  // namespace quilmo::optics
