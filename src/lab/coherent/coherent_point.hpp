// Amplitudes and powers of a coherent stack at one point.
//
// The exact pass evaluates the kernel's formulas (optics/stack.hpp: medium,
// interface_sp, layer_matrix and the full 2x2 products) in the order of the
// kernel's accumulation, so its matrices are those of quilmo.DataPy bit for
// bit; it takes the media and interfaces from the point builder and computes
// a layer matrix once per point where the stack's plan shows layers that
// repeat. Where that product overflows (a layer so thick or absorbing that
// e^{|Im delta|} leaves the range of doubles), the point is computed again by
// the scaled product; at exactly grazing incidence it is the limit of every
// stack. Points with a NaN or infinite input keep the exact pass's result, so
// that they flow through as in DataPy.
#pragma once

#include <vector>

#include <cmath>

#include "lab/coherent/scaled_product.hpp"
#include "lab/core/point_builder.hpp"
#include "lab/core/polarisation.hpp"

namespace quilmo::lab {

struct CoherentResult {
    PerPolarisation<Amplitudes> amplitudes;
    PerPolarisation<Powers<>> powers;
};

// The formulas of one point, apart from the solver that runs them.
namespace coherent_formulas {

inline bool finite(Complex z) noexcept { return std::isfinite(z.re) && std::isfinite(z.im); }

template <class T>
bool finite_amplitudes(const PerPolarisation<T>& a) noexcept {
    return finite(a.s.r) && finite(a.p.r) && finite(a.s.t) && finite(a.p.t);
}

inline bool inputs_finite(const PointMedia& point) noexcept {
    if (!std::isfinite(point.wavelength)) {
        return false;
    }
    for (const Medium& m : point.media) {
        if (!finite(m.n)) {
            return false;
        }
    }
    for (const double d : point.thickness) {
        if (!std::isfinite(d)) {
            return false;
        }
    }
    return true;
}

inline bool inputs_finite(PointBuilder& builder) noexcept {
    return finite(builder.sin_theta()) && inputs_finite(builder.media({}));
}

// r = M10 / M00 and t = 1 / M00 with the kernel's operations (those of
// optics::reflectance and optics::transmittance), t unscaled.
template <int Pol>
Amplitudes amplitudes(const ScaledProduct& product) noexcept {
    const Complex m00 = optics::kernel::lane(product.m.m00, Pol);
    Amplitudes out{optics::kernel::lane(product.m.m10, Pol) / m00, optics::reciprocal(m00)};
    if (product.log_scale != 0.0) {
        out.t = unscale(out.t, product.log_scale);
    }
    return out;
}

// Re(x * conj(y)).
inline double real_of_product_with_conjugate(Complex x, Complex y) noexcept { return x.re * y.re + x.im * y.im; }

// R = |r|^2 with |r| as hypot, as optics::reflectance squares it (R(phi) is
// DataPy's r bit for bit); T = |t|^2 (as re^2 + im^2, which DataPy's t does
// not share anyway) times the ratio of the normal Poynting fluxes: Re(k) =
// Re(n cos) for s, Re(n conj(cos)) for p, exit over incidence medium. These
// are the coherent stack's own formulas, kept apart from the runs' flux
// weights (core/polarisation.hpp) because each gives its results' bits.
inline CoherentResult coherent_result(const ScaledProduct& product, const Medium& incidence,
                                      const Medium& exit) noexcept {
    const PerPolarisation<Amplitudes> a{amplitudes<pol_s>(product), amplitudes<pol_p>(product)};
    const double r_s = optics::abs(a.s.r);
    const double r_p = optics::abs(a.p.r);
    const double flux_s = exit.k.re / incidence.k.re;
    const double flux_p = real_of_product_with_conjugate(exit.n, exit.c) /
                          real_of_product_with_conjugate(incidence.n, incidence.c);
    return {a, {{r_s * r_s, optics::norm(a.s.t) * flux_s}, {r_p * r_p, optics::norm(a.p.t) * flux_p}}};
}

// At exactly grazing incidence (the incidence medium's cosine 0: sin theta
// rounds to 1 within 1e-8 rad of pi/2) no light enters the stack; the limit
// theta -> pi/2 of every stack, which the plain formulas leave as 0/0, is
// r = -1 for s and p, t = 0: R = 1, T = 0. The medium's numbers are plain
// or carry derivatives (the dispersion's jets); their values decide.
template <class MediumOf>
bool grazing(const MediumOf& incidence) noexcept {
    using optics::kernel::leading_value;
    return leading_value(incidence.c.re) == 0.0 && leading_value(incidence.c.im) == 0.0;
}

// Whether the point takes that limit: its inputs finite (a NaN stays NaN in
// every output) and its incidence grazing. The fields vanish at every depth
// as the incident and reflected waves cancel, so no layer absorbs.
inline bool grazing_limit(const PointMedia& point) noexcept {
    return grazing(point.media[0]) && inputs_finite(point);
}

inline CoherentResult grazing_result() noexcept {
    const Amplitudes turned_back{{-1.0, 0.0}, {0.0, 0.0}};
    const Powers<> all_reflected{1.0, 0.0};
    return {{turned_back, turned_back}, {all_reflected, all_reflected}};
}

}  // namespace coherent_formulas

// One thread's solver: scratch space for the layer matrices of one point.
class CoherentPoint {
public:
    // The point the builder was last moved to.
    CoherentResult solve(PointBuilder& builder) {
        const StackPlan& plan = builder.plan();
        const std::size_t media = plan.medium_source.size();
        const std::span<const double> d = builder.thicknesses();
        const double wavelength = builder.wavelength();
        builder.compute_interfaces();
        layers_.resize(media);
        MatrixLanes out = builder.interface(0);
        for (std::size_t j = 1; j + 1 < media; ++j) {
            const std::size_t source = plan.layer_source[j];
            TransferMatrix layer;
            if (source == j) {
                layer = optics::kernel::layer_matrix(builder.medium(j), wavelength, d[j - 1]);
                if (plan.layer_reused[j]) {
                    layers_[j] = layer;
                }
            } else {
                layer = layers_[source];
            }
            out = (out * optics::kernel::widen_both(layer)) * builder.interface(j);
        }
        const Medium& incidence = builder.medium(0);
        const Medium& exit = builder.medium(media - 1);
        using namespace coherent_formulas;
        CoherentResult exact = coherent_result({out, 0.0}, incidence, exit);
        if (finite_amplitudes(exact.amplitudes) || !inputs_finite(builder)) {
            return exact;
        }
        if (grazing(incidence)) {
            return grazing_result();
        }
        const ScaledProduct scaled =
            scaled_product([&](std::size_t j) -> const Medium& { return builder.medium(j); },
                           [&](std::size_t j) -> const MatrixLanes& { return builder.interface(j); }, d, wavelength, 0,
                           media - 1);
        return coherent_result(scaled, incidence, exit);
    }

private:
    std::vector<TransferMatrix> layers_;  // by inner layer, where the plan reuses them
};

}  // namespace quilmo::lab
