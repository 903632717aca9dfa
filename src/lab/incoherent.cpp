#include "lab/incoherent.hpp"

#include "lab/polarisation.hpp"

namespace quilmo::lab {

void split_runs(const StackMedia& stack, std::vector<Run>& runs) {
    runs.clear();
    std::size_t first = 0;
    for (std::size_t j = 1; j < stack.media.size(); ++j) {
        if (stack.incoherent(j)) {
            runs.push_back({first, j});
            first = j;
        }
    }
}

PowerSplit power_transfer(std::span<const RunPowers> powers, std::span<const double> passes,
                          std::span<double> behind, std::span<RunLight> runs_light,
                          std::span<SlabLight> slabs_light) noexcept {
    const std::size_t count = powers.size();
    // behind[k]: reflectance of everything after the medium that ends run k,
    // seen from inside that medium at its back end.
    double reflect_ahead = 0.0;
    for (std::size_t k = count; k-- > 0;) {
        behind[k] = reflect_ahead;
        const RunPowers& run = powers[k];
        const double rho = passes[k] * passes[k] * reflect_ahead;
        const double round_trips = 1.0 - run.R_back * rho;
        // A run that lets nothing through couples nothing back, even where
        // the multiple-reflection sum has no finite value (0/0 between two
        // total reflections).
        const double coupled = run.T * run.T_back == 0.0 ? 0.0 : run.T * run.T_back * rho / round_trips;
        reflect_ahead = run.R + coupled;
    }
    const double reflectance = reflect_ahead;
    double arriving = 1.0;
    double transmitted = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const RunPowers& run = powers[k];
        const double rho = passes[k] * passes[k] * behind[k];
        const double forward = run.T == 0.0 ? 0.0 : arriving * run.T / (1.0 - run.R_back * rho);
        const double backward = forward * passes[k] * behind[k];
        if (!runs_light.empty()) {
            runs_light[k] = {arriving, backward * passes[k]};
        }
        if (!slabs_light.empty()) {
            slabs_light[k] = {forward, backward};
        }
        arriving = forward * passes[k];
        transmitted = forward;
    }
    return {reflectance, transmitted};
}

PolPair<PowerSplit> mixed_powers(const StackMedia& stack, std::span<const optics::detail::MatrixLanes> interfaces,
                                 Workspace& work) {
    split_runs(stack, work.runs);
    const std::size_t count = work.runs.size();
    work.powers_s.resize(count);
    work.powers_p.resize(count);
    work.passes.resize(count);
    work.behind.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        const Run run = work.runs[k];
        const PolPair<RunPowers> powers = run_powers(stack, run, interfaces);
        work.powers_s[k] = powers.s;
        work.powers_p[k] = powers.p;
        work.passes[k] = run_pass(stack, work.runs, k);
    }
    return {power_transfer(work.powers_s, work.passes, work.behind, {}, {}),
            power_transfer(work.powers_p, work.passes, work.behind, {}, {})};
}

}  // namespace quilmo::lab
