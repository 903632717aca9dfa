#include "lab/incoherent/mixed_point.hpp"

#include "lab/coherent/coherent_point.hpp"
#include "lab/incoherent/power_transfer.hpp"

namespace quilmo::lab {

void RunsWorkspace::split(const PointMedia& point) {
    split_runs(point, runs);
    const std::size_t count = runs.size();
    fractions.s.resize(count);
    fractions.p.resize(count);
    passes.resize(count);
    behind.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        passes[k] = run_pass(point, runs, k);
    }
}

PerPolarisation<Powers<>> mixed_powers(const PointMedia& point, std::span<const MatrixLanes> interfaces,
                                       RunsWorkspace& work) {
    if (coherent_formulas::grazing_limit(point)) {
        return coherent_formulas::grazing_result().powers;
    }
    work.split(point);
    for (std::size_t k = 0; k < work.runs.size(); ++k) {
        const PerPolarisation<RunFractions<>> fractions = run_fractions(point, work.runs[k], interfaces);
        work.fractions.s[k] = fractions.s;
        work.fractions.p[k] = fractions.p;
    }
    return {power_transfer<double>(work.fractions.s, work.passes, work.behind),
            power_transfer<double>(work.fractions.p, work.passes, work.behind)};
}

Powers<Complex> mixed_cross(const PointMedia& point, std::span<const MatrixLanes> interfaces, RunsWorkspace& work,
                            std::vector<RunFractions<Complex>>& fractions, std::vector<Complex>& passes,
                            std::vector<Complex>& behind) {
    work.split(point);
    const std::size_t count = work.runs.size();
    fractions.resize(count);
    passes.resize(count);
    behind.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        fractions[k] = run_cross_fractions(point, work.runs[k], interfaces);
        passes[k] = {work.passes[k], 0.0};
    }
    return power_transfer<Complex>(fractions, passes, behind);
}

}  // namespace quilmo::lab
