#include "lab/coherent/coherent_point.hpp"

#include <cmath>

#include "lab/coherent/scaled_product.hpp"

namespace quilmo::lab {
namespace {

using optics::kernel::lane;

bool finite(Complex z) noexcept { return std::isfinite(z.re) && std::isfinite(z.im); }

template <class T>
bool finite_amplitudes(const PerPolarisation<T>& a) noexcept {
    return finite(a.s.r) && finite(a.p.r) && finite(a.s.t) && finite(a.p.t);
}

bool inputs_finite(const PointBuilder& builder, std::size_t media) noexcept {
    if (!std::isfinite(builder.wavelength()) || !std::isfinite(builder.sin_theta())) {
        return false;
    }
    for (std::size_t j = 0; j < media; ++j) {
        if (!finite(builder.medium(j).n)) {
            return false;
        }
    }
    for (const double d : builder.thicknesses()) {
        if (!std::isfinite(d)) {
            return false;
        }
    }
    return true;
}

// r = M10 / M00 and t = 1 / M00 with the kernel's operations (those of
// optics::reflectance and optics::transmittance), t unscaled.
template <int Pol>
Amplitudes amplitudes(const ScaledProduct& product) noexcept {
    const Complex m00 = lane(product.m.m00, Pol);
    Amplitudes out{lane(product.m.m10, Pol) / m00, optics::reciprocal(m00)};
    if (product.log_scale != 0.0) {
        out.t = unscale(out.t, product.log_scale);
    }
    return out;
}

// Re(x * conj(y)).
double real_of_product_with_conjugate(Complex x, Complex y) noexcept { return x.re * y.re + x.im * y.im; }

// R = |r|^2 with |r| as hypot, as optics::reflectance squares it (R(phi) is
// DataPy's r bit for bit); T = |t|^2 (as re^2 + im^2, which DataPy's t does
// not share anyway) times the ratio of the normal Poynting fluxes: Re(k) =
// Re(n cos) for s, Re(n conj(cos)) for p, exit over incidence medium. These
// are the coherent stack's own formulas, kept apart from the runs' flux
// weights (core/polarisation.hpp) because each gives its results' bits.
CoherentResult result(const ScaledProduct& product, const Medium& incidence, const Medium& exit) noexcept {
    const PerPolarisation<Amplitudes> a{amplitudes<pol_s>(product), amplitudes<pol_p>(product)};
    const double r_s = optics::abs(a.s.r);
    const double r_p = optics::abs(a.p.r);
    const double flux_s = exit.k.re / incidence.k.re;
    const double flux_p = real_of_product_with_conjugate(exit.n, exit.c) /
                          real_of_product_with_conjugate(incidence.n, incidence.c);
    return {a, {{r_s * r_s, optics::norm(a.s.t) * flux_s}, {r_p * r_p, optics::norm(a.p.t) * flux_p}}};
}

}  // namespace

CoherentResult CoherentPoint::solve(PointBuilder& builder) {
    const StackPlan& plan = builder.plan();
    const std::size_t media = plan.medium_source.size();
    const std::span<const double> d = builder.thicknesses();
    const double wavelength = builder.wavelength();
    builder.compute_interfaces();
    layers_.resize(media);
    MatrixLanes out = builder.interface(0);
    for (std::size_t j = 1; j + 1 < media; ++j) {
        const std::size_t source = plan.layer_source[j];
        if (source == j) {
            layers_[j] = optics::kernel::layer_matrix(builder.medium(j), wavelength, d[j - 1]);
        }
        out = (out * optics::kernel::widen_both(layers_[source])) * builder.interface(j);
    }
    const Medium& incidence = builder.medium(0);
    const Medium& exit = builder.medium(media - 1);
    CoherentResult exact = result({out, 0.0}, incidence, exit);
    if (finite_amplitudes(exact.amplitudes) || !inputs_finite(builder, media)) {
        return exact;
    }
    const ScaledProduct scaled = scaled_product([&](std::size_t j) -> const Medium& { return builder.medium(j); },
                                                [&](std::size_t j) -> const MatrixLanes& { return builder.interface(j); },
                                                d, wavelength, 0, media - 1);
    return result(scaled, incidence, exit);
}

}  // namespace quilmo::lab
