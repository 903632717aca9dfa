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
//
// Within one wavelength, two layers of constant media with the same phase
// numerator and the same thickness (bit for bit) have the same layer matrix,
// as it is a pure function of those bits and the wavelength: the layers of a
// periodic stack (a Bragg mirror has two kinds of layer) compute it once per
// wavelength and kind, for up to `layer_kinds` kinds that occur more than once.
#pragma once

#include <algorithm>
#include <array>
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
    // Nothing shared: for calls that do not build one.
    ConstantMedia() noexcept = default;

    // The media of `in` constant over columns [first, last). Needs at least
    // two rows, a thickness for every inner layer, and first < last <= columns
    // of n; it reads nothing else. Allocates one entry per medium.
    ConstantMedia(const StackInputs& in, std::size_t first, std::size_t last)
        : media_(Buffer<Entry>::with_capacity(in.n.rows)) {
        const std::size_t rows = in.n.rows;
        // Without a constant incidence medium U changes, and with it every k.
        const bool incidence = constant_row(in.n, 0, first, last);
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
        find_repeated_layers(in);
    }

    bool empty() const noexcept { return media_.size() == 0; }
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
        TransferMatrix kinds[layer_kinds];  // this wavelength's matrix of each repeated kind
        Medium m = medium_at(0);
        Medium next = medium_at(1);
        MatrixLanes out = interface_at(0, m, next);
        for (std::size_t j = 1; j + 1 < rows; ++j) {
            m = next;
            next = medium_at(j + 1);
            const Entry& e = media_[j];
            TransferMatrix layer;
            if (e.kind != no_kind && !e.first_of_kind) {
                layer = kinds[e.kind];
            } else {
                const Complex numerator = e.constant ? e.phase_numerator : detail::phase_numerator(m);
                layer = detail::phase_layer_matrix(numerator / wavelength, in.d[j - 1]);
                if (e.kind != no_kind) {
                    kinds[e.kind] = layer;
                }
            }
            out = (out * detail::widen_both(layer)) * interface_at(j, m, next);
        }
        return {detail::lane(out, 0), detail::lane(out, 1)};
    }

    static constexpr std::size_t layer_kinds = 8;

private:
    static constexpr std::uint8_t no_kind = 0xff;

    struct Entry {
        detail::Medium medium;
        Complex phase_numerator;
        detail::MatrixLanes interface;  // D between this medium and the next
        bool constant;
        bool interface_constant;
        std::uint8_t kind;   // of a repeated layer, or no_kind
        bool first_of_kind;  // the layer that computes its kind's matrix
    };

    // Groups the constant inner layers by (numerator, thickness) bits, by a
    // sort so that long stacks stay O(N log N), and gives up to layer_kinds
    // groups of two or more layers a kind each.
    void find_repeated_layers(const StackInputs& in) {
        const std::size_t rows = in.n.rows;
        Buffer<std::size_t> order = Buffer<std::size_t>::with_capacity(rows);
        std::size_t count = 0;
        for (std::size_t j = 0; j < rows; ++j) {
            media_[j].kind = no_kind;
            media_[j].first_of_kind = false;
            if (j >= 1 && j + 1 < rows && media_[j].constant) {
                order[count++] = j;
            }
        }
        auto key = [&](std::size_t j) {
            const Complex z = media_[j].phase_numerator;
            return std::array<std::uint64_t, 3>{std::bit_cast<std::uint64_t>(z.re), std::bit_cast<std::uint64_t>(z.im),
                                                std::bit_cast<std::uint64_t>(in.d[j - 1])};
        };
        std::sort(order.data(), order.data() + count, [&](std::size_t x, std::size_t y) {
            const auto kx = key(x), ky = key(y);
            return kx != ky ? kx < ky : x < y;
        });
        // Which group gets which kind does not matter: they go in key order.
        std::uint8_t next_kind = 0;
        for (std::size_t begin = 0; begin < count && next_kind < layer_kinds;) {
            std::size_t end = begin + 1;
            while (end < count && key(order[end]) == key(order[begin])) {
                ++end;
            }
            if (end - begin >= 2) {
                for (std::size_t g = begin; g < end; ++g) {
                    media_[order[g]].kind = next_kind;
                }
                media_[order[begin]].first_of_kind = true;  // the lowest index of the group
                ++next_kind;
            }
            begin = end;
        }
    }

    Buffer<Entry> media_;
    Complex tangential_{0.0, 0.0};
};

}  // namespace quilmo::optics
