// Helpers shared by the optics tests: bit and ulp comparisons, and small owned
// stacks that hand out the views the kernel reads.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::optics::testing {

inline std::string show(double x) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", x);
    return text;
}

inline std::array<Complex, 4> entries(const TransferMatrix& m) { return {m.m00, m.m10, m.m01, m.m11}; }

// Equal bit patterns; any NaN matches any NaN (payloads are not portable).
inline ::testing::AssertionResult SameBits(Complex got, Complex want) {
    auto same = [](double x, double y) {
        return std::isnan(x) || std::isnan(y) ? std::isnan(x) && std::isnan(y)
                                              : std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
    };
    if (same(got.re, want.re) && same(got.im, want.im)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << show(got.re) << ", " << show(got.im) << "), want ("
                                         << show(want.re) << ", " << show(want.im) << ")";
}

inline ::testing::AssertionResult SameBits(const TransferMatrix& got, const TransferMatrix& want) {
    for (int i = 0; i < 4; ++i) {
        if (auto r = SameBits(entries(got)[i], entries(want)[i]); !r) return r << " at entry " << i;
    }
    return ::testing::AssertionSuccess();
}

// Within `ulps` doubles of want (got finite).
inline ::testing::AssertionResult NearUlps(double got, double want, std::uint64_t ulps) {
    auto key = [](double v) {  // monotonic integer image of the doubles
        const auto bits = std::bit_cast<std::int64_t>(v);
        return bits < 0 ? std::int64_t{INT64_MIN} - bits : bits;
    };
    const std::int64_t a = key(got), b = key(want);
    const auto distance = a > b ? std::uint64_t(a) - std::uint64_t(b) : std::uint64_t(b) - std::uint64_t(a);
    if (std::isfinite(got) && distance <= ulps) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << show(got) << ", want " << show(want) << " within "
                                         << ulps << " ulp";
}

// A stack with its own storage, row-major n (rows = media, cols = wavelengths).
struct Stack {
    std::vector<double> d;
    std::vector<Complex> n;
    std::size_t media = 0;
    std::vector<double> wl;
    double theta = 0.0;

    View1<double> d_view() const { return {d.data(), d.size(), 1}; }
    View1<double> wl_view() const { return {wl.data(), wl.size(), 1}; }
    View2<Complex> n_view() const {
        const std::size_t cols = media == 0 ? 0 : n.size() / media;
        return {n.data(), media, cols, static_cast<std::ptrdiff_t>(cols), 1};
    }
    Complex index(std::size_t j, std::size_t a) const { return n_view().at(j, a); }
    TransferMatrix matrix(std::size_t a, int pol) const {
        return transfer_matrix(d_view(), n_view(), wl_view(), theta, a, pol);
    }
    MatrixPair pair(std::size_t a) const {
        return transfer_matrix_pair(make_stack_inputs(d_view(), n_view(), wl_view(), theta), a);
    }
};

// One wavelength; n given medium by medium.
inline Stack single(std::vector<Complex> media, std::vector<double> d, double wl, double theta) {
    const std::size_t count = media.size();
    return {std::move(d), std::move(media), count, {wl}, theta};
}

// Lossless: real indices 1..3 with +0 imaginary parts; absorbing: imaginary
// parts of either sign on the inner layers; wild: any value, now and then a
// signed zero, an infinity, a NaN or a huge or tiny magnitude.
enum class Material { lossless, absorbing, wild };

inline Stack random_stack(std::mt19937_64& rng, std::size_t media, std::size_t wavelengths, Material kind) {
    const bool wild = kind == Material::wild;
    auto draw = [&](double lo, double hi) {
        if (wild) {
            constexpr double inf = std::numeric_limits<double>::infinity();
            const double special[] = {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN()};
            const int pick = std::uniform_int_distribution<int>(0, 11)(rng);
            const double unit = std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
            return pick < 5 ? special[pick] : pick == 5 ? unit * 1e200 : pick == 6 ? unit * 1e-200 : unit * hi;
        }
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    Stack s{{}, {}, media, {}, draw(0.0, 1.5)};
    for (std::size_t a = 0; a < wavelengths; ++a) s.wl.push_back(draw(350.0, 900.0));
    for (std::size_t j = 0; j + 2 < media; ++j) s.d.push_back(draw(0.0, 300.0));
    for (std::size_t j = 0; j < media; ++j) {
        const bool inner = j > 0 && j + 1 < media;
        for (std::size_t a = 0; a < wavelengths; ++a) {
            s.n.push_back({draw(1.0, 3.0),  // a braced list evaluates left to right
                           wild ? draw(0.0, 1.0) : kind == Material::absorbing && inner ? draw(-0.3, 0.6) : 0.0});
        }
    }
    return s;
}

}  // namespace quilmo::optics::testing
