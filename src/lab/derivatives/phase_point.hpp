// Phase, group delay, group-delay dispersion and third-order dispersion of
// the reflected or transmitted amplitude of a coherent stack, at one point.
//
// The stack matrix is evaluated with every quantity a Taylor jet in the
// angular frequency w (rad/fs) around w0 = 2 pi c / wavelength: each medium's
// index n(w) comes from its value and first three wavelength derivatives,
// composed with wavelength(w) = 2 pi c / w; the angle in the incidence medium
// is held fixed. The layer phase is k_j w d_j / c with k_j = sqrt(n_j^2 - U).
// The interfaces and matrix products are the kernel's own templated formulas
// carried over jets. The phase of the result as a jet gives
//
//   phase = phi(w0), GD = phi'(w0), GDD = phi''(w0), TOD = phi'''(w0)
//
// in fs, fs^2, fs^3 when wavelengths and thicknesses are in nanometres.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

#include "lab/coherent/coherent_point.hpp"
#include "lab/coherent/scaled_product.hpp"
#include "lab/core/kernel_names.hpp"
#include "lab/derivatives/jet.hpp"

namespace quilmo::lab {

using JetMatrix = optics::kernel::MatrixOf<ComplexJet>::type;

// Speed of light in vacuum, nm/fs.
inline constexpr double light_speed_nm_per_fs = 299.792458;

inline constexpr int side_reflection = 0;
inline constexpr int side_transmission = 1;

// A medium's index and its first three derivatives by vacuum wavelength (nm).
using IndexSeries = std::array<optics::Complex, jet_terms>;

struct PhaseDerivatives {
    double phase;  // rad
    double gd;     // fs
    double gdd;    // fs^2
    double tod;    // fs^3
};

// n(w) from n(lambda) and its lambda-derivatives, lambda(w) given as a jet.
inline ComplexJet index_jet(const IndexSeries& series, const Jet& wavelength) noexcept {
    std::array<double, jet_terms> re{}, im{};
    double factorial = 1.0;
    for (int k = 0; k < jet_terms; ++k) {
        if (k > 0) factorial *= k;
        re[k] = series[k].re / factorial;
        im[k] = series[k].im / factorial;
    }
    return {compose(re, wavelength), compose(im, wavelength)};
}

// For rebalance (coherent/scaled_product.hpp): over every coefficient.
inline double largest_part(const JetMatrix& m) noexcept {
    double big = 0.0;
    for (const ComplexJet* z : {&m.m00, &m.m10, &m.m01, &m.m11}) {
        for (int k = 0; k < jet_terms; ++k) {
            big = std::max({big, std::fabs(z->re.c[k]), std::fabs(z->im.c[k])});
        }
    }
    return big;
}

inline void scale_parts(JetMatrix& m, double factor) noexcept {
    for (ComplexJet* z : {&m.m00, &m.m10, &m.m01, &m.m11}) {
        z->re = factor * z->re;
        z->im = factor * z->im;
    }
}

struct MediumJet {
    ComplexJet n, k, c;
};

inline MediumJet medium_jet(const ComplexJet& n, const ComplexJet& tangential) noexcept {
    const ComplexJet k = csqrt(n * n - tangential);
    return {n, k, k / n};
}

inline JetMatrix interface_jet(const MediumJet& m, const MediumJet& next, int pol) noexcept {
    const ComplexJet numerator = optics::twice(m.n) * m.c;
    if (pol == optics::pol_s) {
        return optics::kernel::interface_matrix(m.c * m.n, next.c * next.n, numerator);
    }
    return optics::kernel::interface_matrix(m.c * next.n, next.c * m.n, numerator);
}

// `series_of(j)` gives medium j's IndexSeries, `d[j-1]` inner layer j's
// thickness in nm; `side` is side_reflection or side_transmission, `pol`
// optics::pol_s or pol_p.
template <class SeriesOf>
PhaseDerivatives phase_derivatives(std::size_t media, SeriesOf series_of, const double* d,
                                   double wavelength, double sin_theta, int side, int pol) {
    const double w0 = optics::two_pi * light_speed_nm_per_fs / wavelength;
    const Jet w = Jet::variable(w0);
    const Jet lambda = Jet::constant(optics::two_pi * light_speed_nm_per_fs) / w;

    const ComplexJet n0 = index_jet(series_of(0), lambda);
    const ComplexJet sin_n0 = scale(Jet::constant(sin_theta), n0);
    const ComplexJet tangential = sin_n0 * sin_n0;
    MediumJet m = medium_jet(n0, tangential);
    const MediumJet incidence = m;
    auto inputs_finite = [&] {
        for (std::size_t j = 0; j < media; ++j) {
            for (const optics::Complex& term : series_of(j)) {
                if (!std::isfinite(term.re) || !std::isfinite(term.im)) return false;
            }
            if (j + 2 < media && !std::isfinite(d[j])) return false;
        }
        return std::isfinite(wavelength);
    };
    MediumJet next = medium_jet(index_jet(series_of(1), lambda), tangential);
    JetMatrix acc = interface_jet(m, next, pol);
    for (std::size_t j = 1; j + 1 < media; ++j) {
        m = next;
        next = medium_jet(index_jet(series_of(j + 1), lambda), tangential);
        const ComplexJet phase = scale(w * (d[j - 1] / light_speed_nm_per_fs), m.k);
        // The kernel's scaled layer: the growing exponential of an absorbing
        // layer taken out inside the exponent, so that an opaque layer's
        // entries are 1 and 0 rather than 0 times infinity. A positive real
        // factor leaves every phase unchanged; its scale is not needed.
        const auto layer = optics::kernel::scaled_diagonal(phase);
        const ComplexJet zero{};
        acc = (acc * JetMatrix{layer.e_minus, zero, zero, layer.e_plus}) * interface_jet(m, next, pol);
        rebalance(acc);
    }
    const ComplexJet amplitude = side == side_reflection ? acc.m10 / acc.m00 : optics::reciprocal(acc.m00);
    const Jet phi = arg(amplitude);
    if (side == side_reflection && !std::isfinite(phi.c[0]) && coherent_formulas::grazing(incidence) &&
        inputs_finite()) {
        // r = -1 at every frequency: phase pi, no delay. (t = 0 has no phase.)
        return {std::atan2(0.0, -1.0), 0.0, 0.0, 0.0};
    }
    return {phi.c[0], phi.c[1], 2.0 * phi.c[2], 6.0 * phi.c[3]};
}

}  // namespace quilmo::lab
