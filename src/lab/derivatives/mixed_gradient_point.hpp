// Thickness derivatives of R and T of a stack with layers treated by
// intensity, at one point.
//
// Each coherent run is known by four power fractions R, T (lit from its first
// medium) and R', T' (lit from its last); a coherent layer changes only the
// fractions of its run, an incoherent layer only the pass fraction P = e^{-a d}
// of its own medium, with dP/dd = -a P. The run fractions and their
// derivatives come from the run's transfer matrix as for a coherent stack
// (derivatives/gradient_product.hpp), with both columns of the suffix carried
// backwards because R', T' read the second: r' = -M01/M00, so
// dr' = -(dM01 + r' dM00)/M00, and t'/t is a constant. The change of the runs
// is then carried through the one power transfer (incoherent/power_transfer.hpp)
// with Tangent numbers, one pass over the runs per layer.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "lab/coherent/coherent_point.hpp"
#include "lab/core/point_media.hpp"
#include "lab/core/polarisation.hpp"
#include "lab/derivatives/gradient_product.hpp"
#include "lab/derivatives/tangent.hpp"
#include "lab/incoherent/mixed_point.hpp"
#include "lab/incoherent/power_transfer.hpp"

namespace quilmo::lab {

// Scratch space reused from point to point by one thread.
struct MixedGradientWorkspace {
    RunsWorkspace runs;
    GradientProducts products;
    std::vector<PerPolarisation<RunFractions<>>> layer_derivatives;  // by inner layer, of its run's fractions
    std::vector<double> pass_derivatives;                            // by run: the medium that ends it
    std::vector<RunFractions<Tangent>> tangents;
    std::vector<Tangent> pass_tangents, behind;
};

// The run's fractions (returned) and, in ws.layer_derivatives[j - 1], their
// derivatives by each inner layer j of the run.
PerPolarisation<RunFractions<>> run_gradient(const PointMedia& point, std::span<const MatrixLanes> interfaces,
                                             Run run, MixedGradientWorkspace& ws);

// dR, dT of both polarisations by every inner layer of a point whose inner
// layers may be incoherent. `emit(pol, j, dR, dT)` receives polarisation pol
// and inner layer j (1 .. media - 2). Interface j joins media j and j + 1.
template <class Emit>
void mixed_gradient(const PointMedia& point, std::span<const MatrixLanes> interfaces, MixedGradientWorkspace& ws,
                    const Emit& emit) {
    if (coherent_formulas::grazing_limit(point)) {
        // R = 1 and T = 0 whatever the thicknesses.
        for (const int pol : {pol_s, pol_p}) {
            for (std::size_t j = 1; j + 1 < point.media.size(); ++j) {
                emit(pol, j, 0.0, 0.0);
            }
        }
        return;
    }
    RunsWorkspace& runs = ws.runs;
    runs.split(point);
    const std::size_t count = runs.runs.size();
    ws.layer_derivatives.resize(point.media.size() - 2);
    ws.pass_derivatives.resize(count);
    ws.tangents.resize(count);
    ws.pass_tangents.resize(count);
    ws.behind.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        const Run run = runs.runs[k];
        const PerPolarisation<RunFractions<>> values = run_gradient(point, interfaces, run, ws);
        runs.fractions.s[k] = values.s;
        runs.fractions.p[k] = values.p;
        // dP/dt = -2 Im(delta / t) P for the incoherent layer; the exit medium has no thickness.
        ws.pass_derivatives[k] =
            k + 1 == count ? 0.0
                           : -(2.0 * layer_wavenumber(point.media[run.last], point.wavelength).im) * runs.passes[k];
    }
    auto constant = [](const RunFractions<>& v) -> RunFractions<Tangent> {
        return {{v.R, 0.0}, {v.T, 0.0}, {v.R_back, 0.0}, {v.T_back, 0.0}};
    };
    for (const int pol : {pol_s, pol_p}) {
        const std::vector<RunFractions<>>& values = runs.fractions[pol];
        for (std::size_t k = 0; k < count; ++k) ws.pass_tangents[k] = {runs.passes[k], 0.0};
        for (std::size_t k = 0; k < count; ++k) {
            const Run run = runs.runs[k];
            for (std::size_t i = 0; i < count; ++i) ws.tangents[i] = constant(values[i]);
            for (std::size_t j = run.first + 1; j < run.last; ++j) {
                const RunFractions<>& d = ws.layer_derivatives[j - 1][pol];
                RunFractions<Tangent>& t = ws.tangents[k];
                t.R.d = d.R;
                t.T.d = d.T;
                t.R_back.d = d.R_back;
                t.T_back.d = d.T_back;
                const Powers<Tangent> total = power_transfer<Tangent>(ws.tangents, ws.pass_tangents, ws.behind);
                emit(pol, j, total.R.d, total.T.d);
            }
            if (k + 1 < count) {  // the incoherent medium that ends run k
                ws.tangents[k] = constant(values[k]);
                ws.pass_tangents[k].d = ws.pass_derivatives[k];
                const Powers<Tangent> total = power_transfer<Tangent>(ws.tangents, ws.pass_tangents, ws.behind);
                emit(pol, run.last, total.R.d, total.T.d);
                ws.pass_tangents[k].d = 0.0;
            }
        }
    }
}

}  // namespace quilmo::lab
