// Amplitudes and per-polarisation powers of a coherent stack at one point.
//
// The exact pass is the kernel's own accumulation (optics::detail::accumulate
// with the shared s/p interfaces), so its matrices are those of
// quilmo.DataPy bit for bit; it only records the two end media on the way.
// Where that product overflows (a layer so thick or absorbing that e^{|Im
// delta|} leaves the range of doubles), the point is computed again by the
// scaled pass of opaque.hpp. Points with a NaN or infinite input keep the
// exact pass's result, so that they flow through as in DataPy.
#pragma once

#include <cmath>
#include <cstddef>

#include "lab/opaque.hpp"
#include "lab/stack_point.hpp"
#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::lab {

inline StackMatrix exact_stack_matrix(const StackPoint& point) noexcept {
    Medium incidence{};
    Medium exit{};
    bool first = true;
    auto interface = [&](const Medium& m, const Medium& next, Complex tau_numerator) {
        if (first) {
            incidence = m;
            first = false;
        }
        exit = next;
        return optics::detail::interface_sp(m, next, tau_numerator);
    };
    const MatrixLanes m = optics::detail::accumulate<MatrixLanes>(
        point.d, point.n, point.wavelength, point.sin_theta, point.column, interface,
        [](const optics::TransferMatrix& layer) { return detail::widen(layer); });
    return {m, 0.0, incidence, exit};
}

// r = M10 / M00 and t = 1 / M00 with the kernel's operations (those of
// optics::reflectance and optics::transmittance), t unscaled.
inline Amplitudes amplitudes(const StackMatrix& stack) noexcept {
    using optics::detail::lane;
    const Complex s00 = lane(stack.m.m00, optics::pol_s);
    const Complex p00 = lane(stack.m.m00, optics::pol_p);
    Amplitudes out{lane(stack.m.m10, optics::pol_s) / s00, lane(stack.m.m10, optics::pol_p) / p00,
                   optics::reciprocal(s00), optics::reciprocal(p00)};
    if (stack.log_scale != 0.0) {
        out.t_s = unscale(out.t_s, stack.log_scale);
        out.t_p = unscale(out.t_p, stack.log_scale);
    }
    return out;
}

namespace detail {

// Re(x * conj(y)).
inline double real_of_product_with_conjugate(Complex x, Complex y) noexcept {
    return x.re * y.re + x.im * y.im;
}

}  // namespace detail

// R = |r|^2 (|r| as hypot, as in optics::reflectance); T = |t|^2 times the
// ratio of the normal Poynting fluxes: Re(n cos) for s, Re(n conj(cos)) for p
// polarisation, exit over incidence medium.
inline Powers powers(const Amplitudes& a, const Medium& incidence, const Medium& exit) noexcept {
    const double r_s = optics::abs(a.r_s);
    const double r_p = optics::abs(a.r_p);
    const double t_s = optics::abs(a.t_s);
    const double t_p = optics::abs(a.t_p);
    const double flux_s = exit.k.re / incidence.k.re;
    const double flux_p = detail::real_of_product_with_conjugate(exit.n, exit.c) /
                          detail::real_of_product_with_conjugate(incidence.n, incidence.c);
    return {r_s * r_s, r_p * r_p, (t_s * t_s) * flux_s, (t_p * t_p) * flux_p};
}

namespace detail {

inline bool finite(Complex z) noexcept { return std::isfinite(z.re) && std::isfinite(z.im); }

inline bool finite(const Amplitudes& a) noexcept {
    return finite(a.r_s) && finite(a.r_p) && finite(a.t_s) && finite(a.t_p);
}

inline bool inputs_finite(const StackPoint& point) noexcept {
    if (!std::isfinite(point.wavelength) || !std::isfinite(point.sin_theta)) {
        return false;
    }
    for (std::size_t j = 0; j < point.n.rows; ++j) {
        if (!finite(point.n.at(j, point.column))) {
            return false;
        }
    }
    for (std::size_t j = 0; j + 2 < point.n.rows; ++j) {
        if (!std::isfinite(point.d[j])) {
            return false;
        }
    }
    return true;
}

}  // namespace detail

// The point's amplitudes and powers: the exact pass, or the scaled one where
// the exact one overflows on finite inputs. Needs at least two media and
// n.rows - 2 thicknesses.
inline PointResult solve_point(const StackPoint& point) noexcept {
    StackMatrix stack = exact_stack_matrix(point);
    Amplitudes a = amplitudes(stack);
    if (!detail::finite(a) && detail::inputs_finite(point)) {
        stack = scaled_stack_matrix(point);
        a = amplitudes(stack);
    }
    return {a, powers(a, stack.incidence, stack.exit)};
}

}  // namespace quilmo::lab
