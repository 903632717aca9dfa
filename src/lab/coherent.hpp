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

// R = |r|^2 with |r| as hypot, as optics::reflectance squares it (R(phi) is
// DataPy's r bit for bit); T = |t|^2 (as re^2 + im^2, which DataPy's t does
// not share anyway) times the ratio of the normal Poynting fluxes: Re(n cos)
// for s, Re(n conj(cos)) for p polarisation, exit over incidence medium.
inline Powers powers(const Amplitudes& a, const Medium& incidence, const Medium& exit) noexcept {
    const double r_s = optics::abs(a.r_s);
    const double r_p = optics::abs(a.r_p);
    const double flux_s = exit.k.re / incidence.k.re;
    const double flux_p = detail::real_of_product_with_conjugate(exit.n, exit.c) /
                          detail::real_of_product_with_conjugate(incidence.n, incidence.c);
    return {r_s * r_s, r_p * r_p, optics::norm(a.t_s) * flux_s, optics::norm(a.t_p) * flux_p};
}

// Solves the points of one stack, one angle of incidence at a time. Holds
// scratch space for one point and what stays the same between its points;
// one solver per thread.
class CoherentSolver {
public:
    // Starts a stack: media are the rows of n (at least two), d holds
    // n.rows - 2 thicknesses; solve will be asked for columns in [first,
    // last) only, and the plan looks at those alone. A batch that shares its
    // indices passes the same n again: only its layers are planned anew.
    void set_stack(const View2<Complex>& n, const View1<double>& d, std::size_t first, std::size_t last) {
        const bool same_media = planned_ && n.data == n_.data && n.rows == n_.rows && n.cols == n_.cols &&
                                n.stride0 == n_.stride0 && n.stride1 == n_.stride1 && first == first_ &&
                                last == last_;
        n_ = n;
        d_ = d;
        first_ = first;
        last_ = last;
        if (same_media) {
            plan_layers(plan_, d);
        } else {
            View2<Complex> columns = n;
            columns.data = &n.at(0, first);
            columns.cols = last - first;
            plan_stack(plan_, columns, d);
            planned_ = true;
        }
        const std::size_t media = n.rows;
        media_.resize(media);
        interfaces_.resize(media - 1);
        layers_.resize(media);
        // With a constant incidence medium the tangential term is the same at
        // every column, and so are the media of constant rows and the
        // interfaces between two of them: those are computed once per angle.
        fixed_angle_ = plan_.constant[0];
        auto fixed_medium = [&](std::size_t j) { return fixed_angle_ && plan_.constant[j]; };
        // What each step of the pass does: what is used again later is kept.
        std::vector<unsigned char> reused_medium(media, 0), reused_interface(media, 0), reused_layer(media, 0);
        for (std::size_t j = 0; j < media; ++j) {
            reused_medium[plan_.medium_source[j]] |= plan_.medium_source[j] != j;
            reused_layer[plan_.layer_source[j]] |= plan_.layer_source[j] != j;
        }
        for (std::size_t j = 0; j + 1 < media; ++j) {
            reused_interface[plan_.interface_source[j]] |= plan_.interface_source[j] != j;
        }
        auto step = [](bool source, bool fixed, bool reused) {
            return !source || fixed ? Step::load : reused ? Step::compute_and_keep : Step::compute;
        };
        medium_steps_.assign(media, Step::compute);
        interface_steps_.assign(media, Step::compute);
        layer_steps_.assign(media, Step::compute);
        for (std::size_t j = 0; j < media; ++j) {
            medium_steps_[j] = step(plan_.medium_source[j] == j, fixed_medium(j), reused_medium[j]);
            layer_steps_[j] = step(plan_.layer_source[j] == j, false, reused_layer[j]);
        }
        for (std::size_t j = 0; j + 1 < media; ++j) {
            interface_steps_[j] = step(plan_.interface_source[j] == j, fixed_medium(j) && fixed_medium(j + 1),
                                       reused_interface[j]);
        }
        angle_ready_ = false;
    }

    // Starts an angle: the sine of the angle of incidence in medium 0.
    void set_angle(double sin_theta) noexcept {
        sin_theta_ = sin_theta;
        angle_ready_ = false;
    }

    // The stack matrix of the kernel at one column of n and one wavelength:
    // accumulate's loop, each step computed, computed and kept for later, or
    // taken from where it was kept.
    StackMatrix exact_matrix(std::size_t column, double wavelength) noexcept {
        const std::size_t media = n_.rows;
        if (fixed_angle_ && !angle_ready_) {
            prepare_angle();
        }
        const Complex tangential = fixed_angle_ ? tangential_ : optics::square(sin_theta_ * n_.at(0, column));
        auto medium = [&](std::size_t j) {
            if (medium_steps_[j] == Step::load) {
                return media_[plan_.medium_source[j]];
            }
            const Medium m = optics::detail::medium(n_.at(j, column), tangential);
            if (medium_steps_[j] == Step::compute_and_keep) {
                media_[j] = m;
            }
            return m;
        };
        auto interface = [&](std::size_t j, const Medium& m, const Medium& next) {
            if (interface_steps_[j] == Step::load) {
                return interfaces_[plan_.interface_source[j]];
            }
            const MatrixLanes d = optics::detail::interface_sp(m, next, optics::twice(m.n) * m.c);
            if (interface_steps_[j] == Step::compute_and_keep) {
                interfaces_[j] = d;
            }
            return d;
        };
        Medium m = medium(0);
        const Medium incidence = m;
        Medium next = medium(1);
        MatrixLanes out = interface(0, m, next);
        for (std::size_t j = 1; j + 1 < media; ++j) {
            m = next;
            next = medium(j + 1);
            optics::TransferMatrix layer;
            if (layer_steps_[j] == Step::load) {
                layer = layers_[plan_.layer_source[j]];
            } else {
                layer = optics::detail::layer_matrix(m, wavelength, d_[j - 1]);
                if (layer_steps_[j] == Step::compute_and_keep) {
                    layers_[j] = layer;
                }
            }
            out = (out * optics::detail::widen_both(layer)) * interface(j, m, next);
        }
        return {out, 0.0, incidence, next};
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
    enum class Step : unsigned char { compute, compute_and_keep, load };

    // The media of constant rows and the interfaces between two of them, at
    // this angle: kept where the pass loads them.
    void prepare_angle() noexcept {
        tangential_ = optics::square(sin_theta_ * n_.at(0, first_));
        for (std::size_t j = 0; j < n_.rows; ++j) {
            if (medium_steps_[j] == Step::load && plan_.medium_source[j] == j) {
                media_[j] = optics::detail::medium(n_.at(j, first_), tangential_);
            }
        }
        for (std::size_t j = 0; j + 1 < n_.rows; ++j) {
            if (interface_steps_[j] == Step::load && plan_.interface_source[j] == j) {
                const Medium& m = media_[plan_.medium_source[j]];
                const Medium& next = media_[plan_.medium_source[j + 1]];
                interfaces_[j] = optics::detail::interface_sp(m, next, optics::twice(m.n) * m.c);
            }
        }
        angle_ready_ = true;
    }

    View2<Complex> n_{};
    View1<double> d_{};
    std::size_t first_ = 0;  // the columns planned: [first_, last_)
    std::size_t last_ = 0;
    double sin_theta_ = 0.0;
    StackPlan plan_;
    bool planned_ = false;      // plan_ holds the media of n_
    bool fixed_angle_ = false;  // the incidence medium is constant
    bool angle_ready_ = false;  // the fixed media and interfaces of this angle are computed
    std::vector<Step> medium_steps_, interface_steps_, layer_steps_;  // per medium, interface, layer
    Complex tangential_{0.0, 0.0};
    std::vector<Medium> media_;                   // kept media, by index
    std::vector<MatrixLanes> interfaces_;         // kept interfaces, by index
    std::vector<optics::TransferMatrix> layers_;  // kept layer matrices, by index
};

}  // namespace quilmo::lab
