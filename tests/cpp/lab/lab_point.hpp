// Shared by the companion engine's tests: owned stacks (media and interface
// matrices built with the kernel's formulas at one wavelength and angle,
// handed out as PointMedia), the absorption of one point, and byte-for-byte
// comparison of results.
#pragma once

#include <cmath>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "lab/core/point_media.hpp"
#include "lab/incoherent/fields_point.hpp"

namespace quilmo::lab::testing {

struct OwnedPoint {
    std::vector<Medium> media;
    std::vector<MatrixLanes> interfaces;
    std::vector<double> thickness;
    std::unique_ptr<bool[]> mask;
    std::size_t mask_len;
    double wavelength;
    Complex tangential;

    OwnedPoint(const std::vector<Complex>& n, std::vector<double> d, double wl, double theta,
               std::vector<bool> coherent = {})
        : thickness(std::move(d)), wavelength(wl) {
        const double s = std::sin(theta);
        tangential = optics::square(s * n[0]);
        for (const Complex& index : n) {
            media.push_back(optics::kernel::medium(index, tangential));
        }
        for (std::size_t j = 0; j + 1 < media.size(); ++j) {
            interfaces.push_back(
                optics::kernel::interface_sp(media[j], media[j + 1], optics::twice(media[j].n) * media[j].c));
        }
        mask_len = coherent.size();
        mask = std::make_unique<bool[]>(mask_len);
        for (std::size_t i = 0; i < mask_len; ++i) {
            mask[i] = coherent[i];
        }
    }

    PointMedia view() const {
        return {media, thickness, std::span<const bool>(mask.get(), mask_len), wavelength, tangential};
    }
};

// R and T by the field sweep and the fraction absorbed in each inner layer.
struct Absorbed {
    PerPolarisation<Powers<>> split;
    std::vector<double> s, p;
};

inline Absorbed absorbed(const OwnedPoint& owned) {
    FieldWorkspace work;
    Absorbed out{{}, std::vector<double>(owned.thickness.size()), std::vector<double>(owned.thickness.size())};
    out.split = absorption(owned.view(), work, {out.s, out.p});
    return out;
}

// Bit-for-bit: -0.0 against 0.0 and NaN payloads count as differences.
template <class T>
bool same_bytes(const std::vector<T>& x, const std::vector<T>& y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(T)) == 0;
}

template <class T>
bool same_bytes(const T& x, const T& y) {
    return std::memcmp(&x, &y, sizeof(T)) == 0;
}

template <class T>
bool same_bytes(const T* x, const T* y, std::size_t count) {
    return std::memcmp(x, y, count * sizeof(T)) == 0;
}

}  // namespace quilmo::lab::testing
