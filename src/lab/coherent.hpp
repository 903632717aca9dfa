// Amplitudes and per-polarisation powers of coherent stacks, point by point.
//
// The exact pass evaluates the kernel's formulas (optics/stack.hpp: medium,
// interface_sp, layer_matrix and the full 2x2 products) in the order of
// optics::detail::accumulate, so its matrices are those of quilmo.DataPy bit
// for bit; it only skips recomputing what the stack's plan shows to be the
// same bits (stack_plan.hpp), and records the two end media for the powers.
// Where that product overflows (a layer so thick or absorbing that
// e^{|Im delta|} leaves the range of doubles), the point is computed again by
// the scaled pass of opaque.hpp. Points with a NaN or infinite input keep the
// exact pass's result, so that they flow through as in DataPy.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "lab/opaque.hpp"
#include "lab/stack_plan.hpp"
#include "lab/stack_point.hpp"
#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::lab {

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

// Solves the points of one stack, one angle of incidence at a time. Holds
// scratch space for one point and what stays the same between its points;
// one solver per thread.
class CoherentSolver {
public:
    // Starts a stack: media are the rows of n (at least two), read at the
    // columns later passed to solve; d holds n.rows - 2 thicknesses.
    void set_stack(const View2<Complex>& n, const View1<double>& d) {
        n_ = n;
        d_ = d;
        plan_stack(plan_, n, d);
        media_.resize(n.rows);
        interfaces_.resize(n.rows - 1);
        layers_.resize(n.rows);
        angle_ready_ = false;
    }

    // Starts an angle: the sine of the angle of incidence in medium 0.
    void set_angle(double sin_theta) noexcept {
        sin_theta_ = sin_theta;
        angle_ready_ = false;
    }

    // The stack matrix of the kernel at one column of n and one wavelength.
    StackMatrix exact_matrix(std::size_t column, double wavelength) noexcept {
        const std::size_t media = n_.rows;
        const bool fixed_angle = plan_.constant[0];
        if (fixed_angle && !angle_ready_) {
            prepare_angle();
        }
        const Complex tangential = fixed_angle ? tangential_ : optics::square(sin_theta_ * n_.at(0, column));
        for (const std::size_t j : plan_.distinct) {
            if (!(fixed_angle && plan_.constant[j])) {
                media_[j] = optics::detail::medium(n_.at(j, column), tangential);
            }
        }
        for (std::size_t j = 0; j + 1 < media; ++j) {
            if (plan_.interface_source[j] == j && !fixed_interface(j)) {
                interfaces_[j] = interface(j);
            }
        }
        MatrixLanes out = interfaces_[plan_.interface_source[0]];
        for (std::size_t j = 1; j + 1 < media; ++j) {
            const std::size_t layer = plan_.layer_source[j];
            if (layer == j) {
                layers_[j] = optics::detail::layer_matrix(media_[plan_.medium_source[j]], wavelength, d_[j - 1]);
            }
            out = (out * detail::widen(layers_[layer])) * interfaces_[plan_.interface_source[j]];
        }
        return {out, 0.0, media_[plan_.medium_source[0]], media_[plan_.medium_source[media - 1]]};
    }

    // Amplitudes and powers at one column of n and one wavelength: the exact
    // pass, or the scaled one where the exact one overflows on finite inputs.
    PointResult solve(std::size_t column, double wavelength) noexcept {
        StackMatrix stack = exact_matrix(column, wavelength);
        Amplitudes a = amplitudes(stack);
        if (!detail::finite(a)) {
            const StackPoint point{n_, column, d_, wavelength, sin_theta_};
            if (detail::inputs_finite(point)) {
                stack = scaled_stack_matrix(point);
                a = amplitudes(stack);
            }
        }
        return {a, powers(a, stack.incidence, stack.exit)};
    }

private:
    // D(j) from media j and j + 1, as accumulate forms it.
    MatrixLanes interface(std::size_t j) const noexcept {
        const Medium& m = media_[plan_.medium_source[j]];
        const Medium& next = media_[plan_.medium_source[j + 1]];
        return optics::detail::interface_sp(m, next, optics::twice(m.n) * m.c);
    }

    bool fixed_interface(std::size_t j) const noexcept {
        return plan_.constant[0] && plan_.constant[j] && plan_.constant[j + 1];
    }

    // With a constant incidence medium the tangential term is the same at
    // every column, and so are the media of constant rows and the interfaces
    // between two of them.
    void prepare_angle() noexcept {
        tangential_ = optics::square(sin_theta_ * n_.at(0, 0));
        for (const std::size_t j : plan_.distinct) {
            if (plan_.constant[j]) {
                media_[j] = optics::detail::medium(n_.at(j, 0), tangential_);
            }
        }
        for (std::size_t j = 0; j + 1 < n_.rows; ++j) {
            if (plan_.interface_source[j] == j && fixed_interface(j)) {
                interfaces_[j] = interface(j);
            }
        }
        angle_ready_ = true;
    }

    View2<Complex> n_{};
    View1<double> d_{};
    double sin_theta_ = 0.0;
    StackPlan plan_;
    bool angle_ready_ = false;
    Complex tangential_{0.0, 0.0};
    std::vector<Medium> media_;                      // filled at the plan's distinct media
    std::vector<MatrixLanes> interfaces_;            // filled at the interfaces that are sources
    std::vector<optics::TransferMatrix> layers_;     // filled at the layers that are sources
};

}  // namespace quilmo::lab
