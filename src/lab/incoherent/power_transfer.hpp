// Power transfer through a stack with layers treated by intensity: the runs
// of one point combined by power, written once for every number type (plain
// powers, and powers that carry a derivative for the thickness gradients).
//
// The stack is cut at every medium treated by intensity into coherent runs
// (incoherent/run_point.hpp); each run is known by its four power fractions,
// each incoherent inner layer by the fraction of power one pass leaves,
// P = e^{-alpha d} with alpha = 4 pi Im(n c)/wavelength. Light inside an
// incoherent layer adds by power, no phase (Katsidis & Siapkas, Appl. Opt. 41,
// 3978 (2002); Centurioni, Appl. Opt. 44, 7532 (2005); Byrnes,
// arXiv:1603.02720).
//
// Rather than the products of power-transfer matrices, whose entries 1/T
// overflow behind an opaque layer, the runs are combined from the exit
// backwards (Rouard's recursion on powers): with rho = P^2 R_behind the
// return from everything behind a run,
//     R_total = R + T T' rho / (1 - R' rho),   gain = T / (1 - R' rho),
// every quantity a fraction between 0 and 1, so P may underflow to 0 and
// nothing overflows. A forward sweep then gives the power arriving at each
// run from either side and the fluxes in each incoherent layer.
#pragma once

#include <cstddef>
#include <span>

#include "lab/core/polarisation.hpp"
#include "lab/incoherent/run_point.hpp"

namespace quilmo::lab {

// The value of a plain number; number types that carry derivatives define
// their own value_of beside them.
constexpr double value_of(double x) noexcept { return x; }
// A complex number (the s-p cross terms of incoherent/run_point.hpp) is
// tested only for being zero.
constexpr double value_of(Complex z) noexcept { return z.re == 0.0 && z.im == 0.0 ? 0.0 : 1.0; }

// One in each number type; Complex spelt out, its aggregate gives im no default.
template <class Number>
constexpr Number one_of() noexcept {
    return Number{1.0};
}
template <>
constexpr Complex one_of<Complex>() noexcept {
    return {1.0, 0.0};
}

// Power arriving at a run from its first and from its last medium, per unit
// power incident on the stack.
template <class Number = double>
struct RunLight {
    Number front;
    Number back;
};

// Fluxes in the incoherent medium that ends a run: forward at its front end,
// backward at its back end, per unit power incident on the stack.
template <class Number = double>
struct SlabLight {
    Number forward;
    Number backward;
};

// One polarisation. `runs[k]` are run k's fractions, `passes[k]` the pass
// fraction P of the medium that ends run k (1 for the exit medium). `behind`
// is scratch of the same length; `runs_light` and `slabs_light`, when not
// empty, receive each run's illumination and each ending medium's fluxes.
template <class Number>
Powers<Number> power_transfer(std::span<const RunFractions<Number>> runs, std::span<const Number> passes,
                              std::span<Number> behind, std::span<RunLight<Number>> runs_light = {},
                              std::span<SlabLight<Number>> slabs_light = {}) noexcept {
    const std::size_t count = runs.size();
    const Number zero{};
    const Number one = one_of<Number>();
    // behind[k]: reflectance of everything after the medium that ends run k,
    // seen from inside that medium at its back end.
    Number reflect_ahead = zero;
    for (std::size_t k = count; k-- > 0;) {
        behind[k] = reflect_ahead;
        const RunFractions<Number>& run = runs[k];
        const Number rho = passes[k] * passes[k] * reflect_ahead;
        const Number round_trips = one - run.R_back * rho;
        // A run that lets nothing through couples nothing back, even where
        // the multiple-reflection sum has no finite value (0/0 between two
        // total reflections).
        const Number coupled =
            value_of(run.T * run.T_back) == 0.0 ? zero : run.T * run.T_back * rho / round_trips;
        reflect_ahead = run.R + coupled;
    }
    Number arriving = one;
    Number transmitted = zero;
    for (std::size_t k = 0; k < count; ++k) {
        const RunFractions<Number>& run = runs[k];
        const Number rho = passes[k] * passes[k] * behind[k];
        const Number forward = value_of(run.T) == 0.0 ? zero : arriving * run.T / (one - run.R_back * rho);
        if (!runs_light.empty() || !slabs_light.empty()) {
            const Number backward = forward * passes[k] * behind[k];
            if (!runs_light.empty()) {
                runs_light[k] = {arriving, backward * passes[k]};
            }
            if (!slabs_light.empty()) {
                slabs_light[k] = {forward, backward};
            }
        }
        arriving = forward * passes[k];
        transmitted = forward;
    }
    return {reflect_ahead, transmitted};
}

}  // namespace quilmo::lab
