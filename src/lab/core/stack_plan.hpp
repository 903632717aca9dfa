// Which media, interfaces and layers of a stack repeat earlier ones, and
// which media keep one index at every wavelength.
//
// Every quantity of a point is a pure function of its inputs' bits: a medium's
// k and c of (its index, the incidence term), an interface's matrix of its
// two media, a layer's matrix of its medium, the wavelength and its thickness.
// Where the inputs are the same bits, computing once and reusing gives the
// bits of computing again. A Bragg mirror of 42 media thus needs 4 media, 4
// interfaces and 2 layer matrices per point instead of 42, 41 and 40; a
// medium whose index is the same at every wavelength (and an interface
// between two such) is the same at every wavelength of one angle, when the
// incidence medium is such a medium too. "The same" is decided on bit
// patterns: -0.0 against 0.0, or two NaN payloads, count as different.
//
// The search looks back a bounded way (the last few distinct media, the last
// few interfaces and layers), so planning stays linear in the number of media:
// it finds the repeats of periodic stacks up to that period, and a missed
// repeat only costs time.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/owned_array.hpp"
#include "lab/core/kernel_names.hpp"

namespace quilmo::lab {

struct StackPlan {
    // source[j] <= j: the first entry equal to entry j (j itself when none is).
    std::vector<std::size_t> medium_source;     // media
    std::vector<std::size_t> interface_source;  // media - 1: interface j joins media j and j + 1
    std::vector<std::size_t> layer_source;      // media: entry j for inner layer j (0 and last unused)
    std::vector<unsigned char> layer_reused;    // media: inner layer j is the source of a later one
    std::vector<unsigned char> constant;        // media: one index at every column
    std::vector<std::size_t> distinct;          // the media that are their own source, in order
};

// How far back the search looks for repeats: distinct media, and media,
// interfaces and layers (one period of a periodic stack).
inline constexpr std::size_t distinct_media_searched = 16;
inline constexpr std::size_t period_searched = 8;

inline bool same_bits(double x, double y) noexcept {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
}

inline bool same_bits(Complex x, Complex y) noexcept {
    return same_bits(x.re, y.re) && same_bits(x.im, y.im);
}

// Bit differences of z from (re, im): zero when z has exactly those bits.
inline std::uint64_t bit_difference(Complex z, std::uint64_t re, std::uint64_t im) noexcept {
    return (std::bit_cast<std::uint64_t>(z.re) ^ re) | (std::bit_cast<std::uint64_t>(z.im) ^ im);
}

// Rows are compared in blocks without a branch per element, so that the
// comparison runs at the speed of memory; the first differing block ends it.
inline constexpr std::size_t compared_per_block = 64;

inline bool same_row(const View2<Complex>& n, std::size_t i, std::size_t j) noexcept {
    for (std::size_t a = 0; a < n.cols; a += compared_per_block) {
        const std::size_t end = std::min(n.cols, a + compared_per_block);
        std::uint64_t differences = 0;
        for (std::size_t k = a; k < end; ++k) {
            const Complex z = n.at(i, k);
            differences |= bit_difference(n.at(j, k), std::bit_cast<std::uint64_t>(z.re),
                                      std::bit_cast<std::uint64_t>(z.im));
        }
        if (differences != 0) {
            return false;
        }
    }
    return true;
}

inline bool constant_row(const View2<Complex>& n, std::size_t j) noexcept {
    const std::uint64_t re = std::bit_cast<std::uint64_t>(n.at(j, 0).re);
    const std::uint64_t im = std::bit_cast<std::uint64_t>(n.at(j, 0).im);
    for (std::size_t a = 1; a < n.cols; a += compared_per_block) {
        const std::size_t end = std::min(n.cols, a + compared_per_block);
        std::uint64_t differences = 0;
        for (std::size_t k = a; k < end; ++k) {
            differences |= bit_difference(n.at(j, k), re, im);
        }
        if (differences != 0) {
            return false;
        }
    }
    return true;
}

// The layers of `plan` for the thicknesses `d`; its media must be planned.
inline void plan_layers(StackPlan& plan, const View1<double>& d) {
    const std::size_t media = plan.medium_source.size();
    plan.layer_source.assign(media, 0);
    plan.layer_reused.assign(media, 0);
    for (std::size_t j = 1; j + 1 < media; ++j) {
        std::size_t source = j;
        for (std::size_t i = std::max<std::size_t>(1, j - std::min(j, period_searched)); i < j; ++i) {
            if (plan.medium_source[i] == plan.medium_source[j] && same_bits(d[i - 1], d[j - 1])) {
                source = plan.layer_source[i];
                break;
            }
        }
        plan.layer_source[j] = source;
        plan.layer_reused[source] |= source != j;
    }
}

// Fills `plan` for the media of `n` (rows, over all its columns: pass the
// columns that will be solved) and the inner thicknesses `d` (n.rows - 2 of
// them). Reuses the plan's storage.
inline void plan_stack(StackPlan& plan, const View2<Complex>& n, const View1<double>& d) {
    const std::size_t media = n.rows;
    plan.medium_source.assign(media, 0);
    plan.interface_source.assign(media - 1, 0);
    plan.constant.assign(media, 0);
    plan.distinct.clear();
    for (std::size_t j = 0; j < media; ++j) {
        plan.constant[j] = constant_row(n, j);
        std::size_t source = j;
        const std::size_t searched = std::min(plan.distinct.size(), distinct_media_searched);
        for (std::size_t k = plan.distinct.size() - searched; k < plan.distinct.size(); ++k) {
            const std::size_t i = plan.distinct[k];
            // Rows differ mostly in their first column: a cheap test first.
            if (same_bits(n.at(i, 0), n.at(j, 0)) && same_row(n, i, j)) {
                source = i;
                break;
            }
        }
        plan.medium_source[j] = source;
        if (source == j) {
            plan.distinct.push_back(j);
        }
    }
    for (std::size_t j = 0; j + 1 < media; ++j) {
        std::size_t source = j;
        for (std::size_t i = j - std::min(j, period_searched); i < j; ++i) {
            if (plan.medium_source[i] == plan.medium_source[j] &&
                plan.medium_source[i + 1] == plan.medium_source[j + 1]) {
                source = plan.interface_source[i];
                break;
            }
        }
        plan.interface_source[j] = source;
    }
    plan_layers(plan, d);
}

}  // namespace quilmo::lab
