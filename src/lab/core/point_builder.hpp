// One point's media and interface matrices, built in grid order with what
// stays the same computed once: the one place where every grid driver gets
// the media of its points.
//
// A stack's plan (core/stack_plan.hpp, over the wavelengths its piece of work
// visits) says which media, interfaces and layers repeat earlier ones and
// which media have one index at every wavelength. A repeat is computed once
// per point; when the incidence medium has one index at every wavelength, the
// media of constant rows and the interfaces between two of them are computed
// once per angle. Every value is a pure function of its inputs' bits, so
// reusing it gives the bits of computing it again. Stacks of a batch that
// share their indices share the plan of their media; their layers are
// planned again where their thicknesses differ. A rough interface
// (core/roughness.hpp) depends on the wavelength and on its roughness, so it
// is computed at every point and neither repeats nor is repeated.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "lab/core/grid.hpp"
#include "lab/core/point_media.hpp"
#include "lab/core/stack_plan.hpp"

namespace quilmo::lab {

// Medium of index n under the tangential term U = (n_0 sin theta_0)^2, its
// normal component k = n cos theta taken forward (tmm's forward-angle rule):
// a wave that decays decays along +z (Im k > 0), and one whose Im k is within
// 100 machine epsilons of 0 propagates along +z (Re k >= 0). The kernel's
// principal root already is the forward one wherever U is real and the
// medium passive; a complex U (a lossy incidence medium at an oblique or
// complex angle) can turn it backward, and then k and cos theta change sign.
inline constexpr double forward_tolerance = 100.0 * 2.220446049250313e-16;

inline Medium forward_medium(Complex n, Complex tangential) noexcept {
    Medium m = optics::kernel::medium(n, tangential);
    if (tangential.im != 0.0 && m.k.im < -forward_tolerance) {
        m.k = {-m.k.re, -m.k.im};
        m.c = {-m.c.re, -m.c.im};
    }
    return m;
}

class PointBuilder {
public:
    // `sines` from angle_sines(grid); `columns` the wavelengths this builder
    // will be asked for. Both must outlive the builder.
    PointBuilder(const Grid& grid, const std::vector<Complex>& sines, Columns columns) {
        reset(grid, sines, columns);
    }
    // A builder for reset() to aim.
    PointBuilder() = default;
    // Aims the builder at another grid (the same meaning as the constructor's
    // arguments), keeping the storage it has: a builder kept between calls
    // builds small points without allocating.
    void reset(const Grid& grid, const std::vector<Complex>& sines, Columns columns);

    // Moves to the point at `at` and computes its media. Points must come in
    // grid order within one stack and angle (any order of stacks is fine).
    void move_to(const Grid::Place& at) {
        if (at.stack != stack_) {
            plan(at.stack);
            stack_ = at.stack;
            angle_ = none;
        }
        if (at.angle != angle_) {
            angle_ = at.angle;
            if (fixed_) {
                prepare_angle();
            }
        }
        column_ = grid_->column(at);
        wavelength_ = grid_->wavelengths[at.wavelength];
        if (!fixed_) {
            tangential_ = tangential_of(n_.at(0, column_));
        }
        for (const std::size_t j : per_point_.media) {
            media_[j] = forward_medium(n_.at(j, column_), tangential_);
        }
    }

    // Medium j of the point: its own entry, or the one it repeats.
    const Medium& medium(std::size_t j) const noexcept { return media_[plan_.medium_source[j]]; }

    // Computes the point's interface matrices; then interface(j) joins media
    // j and j + 1 (s and p in lanes).
    void compute_interfaces() noexcept {
        for (const std::size_t j : per_point_.interfaces) {
            interfaces_[j] = interface_of(j);
        }
    }
    const MatrixLanes& interface(std::size_t j) const noexcept { return interfaces_[plan_.interface_source[j]]; }
    // dD/dsigma of interface j (computed first), zero where it is smooth.
    MatrixLanes interface_slope(std::size_t j) const noexcept {
        if (!rough(j)) {
            const ComplexLanes zero = optics::kernel::both(Complex{0.0, 0.0});
            return {zero, zero, zero, zero};
        }
        const Medium& m = media_[plan_.medium_source[j]];
        const Medium& next = media_[plan_.medium_source[j + 1]];
        return rough_slope(interface(j), rough_log_slopes(grid_->roughness_model, m, next, sigma_[j], wavelength_));
    }

    // Every medium in its own place, for routines that read them as a span;
    // `coherent` is the point's mask (one flag per inner layer, or empty).
    PointMedia media(std::span<const bool> coherent) noexcept;
    // Every interface in its own place; computes them first.
    std::span<const MatrixLanes> interfaces() noexcept;

    const StackPlan& plan() const noexcept { return plan_; }
    std::span<const double> thicknesses() const noexcept { return {d_, grid_->layers()}; }
    double wavelength() const noexcept { return wavelength_; }
    Complex sin_theta() const noexcept { return (*sines_)[angle_]; }
    Complex tangential() const noexcept { return tangential_; }

private:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    // Media and interfaces to compute, and copies to make, at one time.
    struct Steps {
        std::vector<std::size_t> media, media_copies, interfaces, interface_copies;

        void clear() noexcept {
            media.clear();
            media_copies.clear();
            interfaces.clear();
            interface_copies.clear();
        }
    };

    // U = (n_0 sin theta_0)^2; a real sine multiplies as the kernel does.
    Complex tangential_of(Complex n0) const noexcept {
        const Complex sine = (*sines_)[angle_];
        return optics::square(sine.im == 0.0 ? sine.re * n0 : sine * n0);
    }
    MatrixLanes interface_of(std::size_t j) const noexcept {
        const Medium& m = media_[plan_.medium_source[j]];
        const Medium& next = media_[plan_.medium_source[j + 1]];
        const MatrixLanes smooth = optics::kernel::interface_sp(m, next, optics::twice(m.n) * m.c);
        if (!rough(j)) {
            return smooth;
        }
        return roughen(smooth, rough_factors(grid_->roughness_model, m, next, sigma_[j], wavelength_));
    }
    bool rough(std::size_t j) const noexcept { return sigma_ != nullptr && sigma_[j] != 0.0; }
    void plan(std::size_t stack);
    void prepare_angle();

    const Grid* grid_ = nullptr;
    const std::vector<Complex>* sines_ = nullptr;
    Columns columns_{};
    View2<Complex> n_{};
    const double* d_ = nullptr;
    const double* sigma_ = nullptr;  // the stack's roughness per interface; null when all are smooth
    StackPlan plan_;
    bool fixed_ = false;  // the incidence medium is constant: so is U at one angle
    Steps per_point_, per_angle_;
    std::size_t stack_ = none;
    std::size_t angle_ = none;
    std::size_t column_ = 0;
    double wavelength_ = 0.0;
    Complex tangential_{0.0, 0.0};
    std::vector<Medium> media_;
    std::vector<MatrixLanes> interfaces_;
};

}  // namespace quilmo::lab
