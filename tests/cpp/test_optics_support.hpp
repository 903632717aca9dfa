// Helpers shared by the optics tests: bit comparisons, ulp distances and
// small owned stacks that hand out the views the kernel reads.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <cstdio>
#include <string>
#include <vector>

#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::optics::testing {

// Equal bit patterns; any NaN matches any NaN (payloads are not portable).
inline bool same_bits(double x, double y) {
    if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
}

inline std::string show(double x) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", x);
    return text;
}

inline std::string show(Complex z) {
    char text[90];
    std::snprintf(text, sizeof text, "(%.17g, %.17g)", z.re, z.im);
    return text;
}

inline ::testing::AssertionResult SameBits(Complex got, Complex want) {
    if (same_bits(got.re, want.re) && same_bits(got.im, want.im)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got " << show(got) << ", want " << show(want);
}

inline ::testing::AssertionResult SameBits(const TransferMatrix& got, const TransferMatrix& want) {
    const Complex g[4] = {got.m00, got.m10, got.m01, got.m11};
    const Complex w[4] = {want.m00, want.m10, want.m01, want.m11};
    for (int i = 0; i < 4; ++i) {
        if (!same_bits(g[i].re, w[i].re) || !same_bits(g[i].im, w[i].im)) {
            return ::testing::AssertionFailure()
                   << "entry " << i << ": got " << show(g[i]) << ", want " << show(w[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// Number of doubles between x and y (both finite).
inline std::uint64_t ulp_distance(double x, double y) {
    auto key = [](double v) {
        const auto bits = std::bit_cast<std::int64_t>(v);
        return bits < 0 ? std::int64_t{INT64_MIN} - bits : bits;
    };
    const std::int64_t a = key(x);
    const std::int64_t b = key(y);
    return a > b ? static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b)
                 : static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
}

inline ::testing::AssertionResult NearUlps(double got, double want, std::uint64_t ulps) {
    if (std::isfinite(got) && ulp_distance(got, want) <= ulps) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << show(got) << ", want " << show(want)
                                         << " within " << ulps << " ulp";
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
        const std::size_t cols = media == 0 ? wl.size() : n.size() / media;
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
    Stack s;
    s.media = media.size();
    s.n = std::move(media);
    s.d = std::move(d);
    s.wl = {wl};
    s.theta = theta;
    return s;
}

enum class Material { lossless, absorbing, wild };

// A random value for the wild stacks: mostly ordinary, sometimes a signed
// zero, an infinity, a NaN or a huge or tiny magnitude.
inline double wild_value(std::mt19937_64& rng, double typical) {
    std::uniform_int_distribution<int> pick(0, 11);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    switch (pick(rng)) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return std::numeric_limits<double>::infinity();
        case 3: return -std::numeric_limits<double>::infinity();
        case 4: return std::numeric_limits<double>::quiet_NaN();
        case 5: return unit(rng) * 1e200;
        case 6: return unit(rng) * 1e-200;
        default: return unit(rng) * typical;
    }
}

// A stack of `media` media over `wavelengths` columns. Lossless: real indices
// 1..3 with +0 imaginary parts; absorbing: imaginary parts of either sign on
// the inner layers; wild: anything, non-finite values included.
inline Stack random_stack(std::mt19937_64& rng, std::size_t media, std::size_t wavelengths,
                          Material kind) {
    std::uniform_real_distribution<double> index(1.0, 3.0);
    std::uniform_real_distribution<double> loss(-0.3, 0.6);
    std::uniform_real_distribution<double> thickness(0.0, 300.0);
    std::uniform_real_distribution<double> wavelength(350.0, 900.0);
    std::uniform_real_distribution<double> angle(0.0, 1.5);
    Stack s;
    s.media = media;
    s.theta = kind == Material::wild ? wild_value(rng, 1.5) : angle(rng);
    for (std::size_t a = 0; a < wavelengths; ++a) {
        s.wl.push_back(kind == Material::wild ? wild_value(rng, 900.0) : wavelength(rng));
    }
    for (std::size_t j = 0; j + 2 < media; ++j) {
        s.d.push_back(kind == Material::wild ? wild_value(rng, 300.0) : thickness(rng));
    }
    for (std::size_t j = 0; j < media; ++j) {
        const bool inner = j > 0 && j + 1 < media;
        for (std::size_t a = 0; a < wavelengths; ++a) {
            switch (kind) {
                case Material::lossless: s.n.push_back({index(rng), 0.0}); break;
                case Material::absorbing:
                    s.n.push_back({index(rng), inner ? loss(rng) : 0.0});
                    break;
                case Material::wild:
                    s.n.push_back({wild_value(rng, 3.0), wild_value(rng, 1.0)});
                    break;
            }
        }
    }
    return s;
}

}  // namespace quilmo::optics::testing
