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
#include "optics/complex.hpp"

namespace quilmo::lab {

struct StackPlan {
    // source[j] <= j: the first entry equal to entry j (j itself when none is).
    std::vector<std::size_t> medium_source;     // media
    std::vector<std::size_t> interface_source;  // media - 1: interface j joins media j and j + 1
    std::vector<std::size_t> layer_source;      // media: entry j for inner layer j (0 and last unused)
    std::vector<bool> constant;                 // media: one index at every column
    std::vector<std::size_t> distinct;          // the media that are their own source, in order
};

namespace detail {

inline constexpr std::size_t distinct_media_searched = 16;
inline constexpr std::size_t period_searched = 8;

inline bool same_bits(double x, double y) noexcept {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
}

inline bool same_bits(optics::Complex x, optics::Complex y) noexcept {
    return same_bits(x.re, y.re) && same_bits(x.im, y.im);
}

inline bool same_row(const View2<optics::Complex>& n, std::size_t i, std::size_t j) noexcept {
    for (std::size_t a = 0; a < n.cols; ++a) {
        if (!same_bits(n.at(i, a), n.at(j, a))) {
            return false;
        }
    }
    return true;
}

inline bool constant_row(const View2<optics::Complex>& n, std::size_t j) noexcept {
    for (std::size_t a = 1; a < n.cols; ++a) {
        if (!same_bits(n.at(j, a), n.at(j, 0))) {
            return false;
        }
    }
    return true;
}

}  // namespace detail

// Fills `plan` for the media of `n` (rows, over all its columns) and the
// inner thicknesses `d` (n.rows - 2 of them). Reuses the plan's storage.
inline void plan_stack(StackPlan& plan, const View2<optics::Complex>& n, const View1<double>& d) {
    const std::size_t media = n.rows;
    plan.medium_source.assign(media, 0);
    plan.interface_source.assign(media - 1, 0);
    plan.layer_source.assign(media, 0);
    plan.constant.assign(media, false);
    plan.distinct.clear();
    for (std::size_t j = 0; j < media; ++j) {
        plan.constant[j] = detail::constant_row(n, j);
        std::size_t source = j;
        const std::size_t searched = std::min(plan.distinct.size(), detail::distinct_media_searched);
        for (std::size_t k = plan.distinct.size() - searched; k < plan.distinct.size(); ++k) {
            const std::size_t i = plan.distinct[k];
            // Rows differ mostly in their first column: a cheap test first.
            if (detail::same_bits(n.at(i, 0), n.at(j, 0)) && detail::same_row(n, i, j)) {
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
        for (std::size_t i = j - std::min(j, detail::period_searched); i < j; ++i) {
            if (plan.medium_source[i] == plan.medium_source[j] &&
                plan.medium_source[i + 1] == plan.medium_source[j + 1]) {
                source = plan.interface_source[i];
                break;
            }
        }
        plan.interface_source[j] = source;
    }
    for (std::size_t j = 1; j + 1 < media; ++j) {
        std::size_t source = j;
        for (std::size_t i = std::max<std::size_t>(1, j - std::min(j, detail::period_searched)); i < j; ++i) {
            if (plan.medium_source[i] == plan.medium_source[j] && detail::same_bits(d[i - 1], d[j - 1])) {
                source = plan.layer_source[i];
                break;
            }
        }
        plan.layer_source[j] = source;
    }
}

}  // namespace quilmo::lab
