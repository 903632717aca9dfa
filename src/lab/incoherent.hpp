// Power transfer through a stack with layers treated by intensity.
//
// The stack is cut at every medium treated by intensity into coherent runs
// (coherent_run.hpp); each run is known by its four power fractions, each
// incoherent inner layer by the fraction of power one pass leaves, P = e^{-alpha d}
// with alpha = 4 pi Im(n c)/wavelength. Light inside an incoherent layer adds by
// power, no phase (Katsidis & Siapkas, Appl. Opt. 41, 3978 (2002); Centurioni,
// Appl. Opt. 44, 7532 (2005); Byrnes, arXiv:1603.02720).
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
#include <vector>

#include "lab/coherent_run.hpp"
#include "lab/polarisation.hpp"
#include "lab/stack_media.hpp"

namespace quilmo::lab {

// Cuts the point at its incoherent media; `runs` is cleared first. Run k ends
// where run k + 1 starts; the first starts at medium 0, the last ends at the
// exit medium.
void split_runs(const StackMedia& stack, std::vector<Run>& runs);

// The pass fraction P of the medium that ends run k of `runs`: 1 for the exit
// medium, one pass through the incoherent layer otherwise.
inline double run_pass(const StackMedia& stack, std::span<const Run> runs, std::size_t k) noexcept {
    if (k + 1 == runs.size()) {
        return 1.0;
    }
    const std::size_t last = runs[k].last;
    return pass_transmission(stack.media[last], stack.wavelength, stack.thickness[last - 1]);
}

// Power arriving at a run from its first and from its last medium, per unit
// power incident on the stack.
struct RunLight {
    double front;
    double back;
};

// Fluxes in the incoherent medium that ends a run: forward at its front end,
// backward at its back end, per unit power incident on the stack.
struct SlabLight {
    double forward;
    double backward;
};

struct PowerSplit {
    double R;
    double T;
};

// One polarisation. `powers[k]` are run k's fractions, `passes[k]` the pass
// fraction P of the medium that ends run k (1 for the exit medium). `behind`
// is scratch of the same length; `runs_light` and `slabs_light`, when not
// empty, receive each run's illumination and each ending medium's fluxes.
PowerSplit power_transfer(std::span<const RunPowers> powers, std::span<const double> passes,
                          std::span<double> behind, std::span<RunLight> runs_light,
                          std::span<SlabLight> slabs_light) noexcept;

// Reusable storage for the per-point routines, so that a worker allocates
// once per piece of the grid and not once per point.
struct Workspace {
    std::vector<Run> runs;
    std::vector<RunPowers> powers_s, powers_p;
    std::vector<double> passes, behind;
};

// R and T of both polarisations of a point whose inner layers may be
// incoherent; a point with none is one run, and this gives its coherent
// result. `interfaces` as interface_matrices gives them.
PolPair<PowerSplit> mixed_powers(const StackMedia& stack, std::span<const optics::detail::MatrixLanes> interfaces,
                                 Workspace& work);

}  // namespace quilmo::lab
