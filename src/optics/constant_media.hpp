// Stack matrices of a range of wavelengths, with what does not change between
// them computed once.
//
// A medium whose index is the same double pair at every wavelength of the
// range has, when the incidence medium is such a medium too (so the tangential
// term U is the same), the same k and c at every wavelength; an interface
// between two such media has the same matrix D; a layer of such a medium has
// the same numerator n (2pi c) of its phase factor. Each of them is a pure
// function of bits that do not change, so computing it once gives the bits of
// computing it per wavelength; what is left per wavelength is the division by
// the wavelength, the exponentials and the products. "The same" is decided on
// bit patterns: -0.0 against 0.0, or two NaN payloads, make a row dispersive.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/owned_array.hpp"
#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::optics {

inline bool same_bits(Complex x, Complex y) noexcept {
    return std::bit_cast<std::uint64_t>(x.re) == std::bit_cast<std::uint64_t>(y.re) &&
           std::bit_cast<std::uint64_t>(x.im) == std::bit_cast<std::uint64_t>(y.im);
}

// Whether row j of n holds one bit pattern in columns [first, last).
inline bool constant_row(View2<Complex> n, std::size_t j, std::size_t first, std::size_t last) noexcept {
    const Complex head = n.at(j, first);
    for (std::size_t a = first + 1; a < last; ++a) {
        if (!same_bits(n.at(j, a), head)) {
            return false;
        }
    }
    return true;
}

class ConstantMedia {
public:
    // The media of `in` constant over columns [first, last). Needs at least
    // two rows, a thickness for every inner layer, and last <= columns of n;
    // reads nothing else. Allocates one entry per medium.
    ConstantMedia(const StackInputs& in, std::size_t first, std::size_t last)
        : media_(Buffer<Entry>::with_capacity(in.n.rows)) {
        const std::size_t rows = in.n.rows;
        // Without a constant incidence medium U changes, and with it every k.
        bool incidence = constant_row(in.n, 0, first, last);
        for (std::size_t j = 0; j < rows; ++j) {
            media_[j].constant = incidence && (j == 0 || constant_row(in.n, j, first, last));
        }
        if (incidence) {
            tangential_ = square(in.sin_theta * in.n.at(0, first));
        }
        for (std::size_t j = 0; j < rows; ++j) {
            Entry& e = media_[j];
            if (e.constant) {
                e.medium = detail::medium(in.n.at(j, first), tangential_);
                e.phase_numerator = detail::phase_numerator(e.medium);
            }
        }
        for (std::size_t j = 0; j + 1 < rows; ++j) {
            Entry& e = media_[j];
            e.interface_constant = e.constant && media_[j + 1].constant;
            if (e.interface_constant) {
                const detail::Medium& next = media_[j + 1].medium;
                e.interface = detail::interface_sp(e.medium, next, twice(e.medium.n) * e.medium.c);
            }
        }
        media_[rows - 1].interface_constant = false;
        media_.set_size(rows);
    }

    bool constant(std::size_t j) const noexcept { return media_[j].constant; }

    // transfer_matrix_pair for wavelength index a of the range, its checks
    // already passed: the same operations in the same order, with the values
    // that do not change taken from this object.
    MatrixPair matrix_pair(const StackInputs& in, std::size_t a) const noexcept {
        using detail::MatrixLanes;
        using detail::Medium;
        const std::size_t rows = in.n.rows;
        const double wavelength = in.wl[a];
        const Complex tangential = media_[0].constant ? tangential_ : square(in.sin_theta * in.n.at(0, a));
        auto medium_at = [&](std::size_t j) {
            const Entry& e = media_[j];
            return e.constant ? e.medium : detail::medium(in.n.at(j, a), tangential);
        };
        auto interface_at = [&](std::size_t j, const Medium& m, const Medium& next) {
            const Entry& e = media_[j];
            return e.interface_constant ? e.interface : detail::interface_sp(m, next, twice(m.n) * m.c);
        };
        Medium m = medium_at(0);
        Medium next = medium_at(1);
        MatrixLanes out = interface_at(0, m, next);
        for (std::size_t j = 1; j + 1 < rows; ++j) {
            m = next;
            next = medium_at(j + 1);
            const Complex numerator = media_[j].constant ? media_[j].phase_numerator : detail::phase_numerator(m);
            const TransferMatrix layer = detail::phase_layer_matrix(numerator / wavelength, in.d[j - 1]);
            out = (out * detail::widen_both(layer)) * interface_at(j, m, next);
        }
        return {detail::lane(out, 0), detail::lane(out, 1)};
    }

private:
    struct Entry {
        detail::Medium medium;
        Complex phase_numerator;
        detail::MatrixLanes interface;  // D between this medium and the next
        bool constant;
        bool interface_constant;
    };

    Buffer<Entry> media_;
    Complex tangential_{0.0, 0.0};
};

}  // namespace quilmo::optics
