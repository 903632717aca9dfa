#include "lab/derivatives/mixed_gradient_point.hpp"

#include <array>

#include "lab/coherent/scaled_product.hpp"

namespace quilmo::lab {

PerPolarisation<RunFractions<>> run_gradient(const PointMedia& point, std::span<const MatrixLanes> interfaces,
                                             Run run, MixedGradientWorkspace& ws) {
    using optics::kernel::lane;
    auto medium = [&](std::size_t j) -> const Medium& { return point.media[j]; };
    auto interface = [&](std::size_t j) -> const MatrixLanes& { return interfaces[j]; };
    double removed = 0.0;
    const MatrixLanes acc =
        ws.products.forward(medium, interface, point.thickness, point.wavelength, run.first, run.last, removed);
    const ComplexLanes zero{{0.0, 0.0}, {0.0, 0.0}};
    const ComplexLanes inv = optics::reciprocal(acc.m00);
    const ComplexLanes r = acc.m10 * inv;
    const ComplexLanes r_back = zero - acc.m01 * inv;
    const Medium& in = point.media[run.first];
    const Medium& out = point.media[run.last];
    const Complex t_ratio = normal_index(out) / normal_index(in);
    const double w_in[2] = {flux_weight<pol_s>(in), flux_weight<pol_p>(in)};
    const double w_out[2] = {flux_weight<pol_s>(out), flux_weight<pol_p>(out)};
    PerPolarisation<RunFractions<>> values;
    for (const int pol : {pol_s, pol_p}) {
        const Complex t = unscale(lane(inv, pol), removed);
        values[pol] = run_fractions_of(lane(r, pol), t, lane(r_back, pol), t * t_ratio, w_in[pol], w_out[pol]);
    }
    ws.products.backward<2>(interface, run.first, run.last, [&](std::size_t j, const std::array<ColumnLanes, 2>& dm) {
        const ComplexLanes dr = (dm[0].bottom - r * dm[0].top) * inv;
        const ComplexLanes rel = dm[0].top * inv;  // dt/t = dt'/t' = -rel
        const ComplexLanes dr_back = zero - (dm[1].top + r_back * dm[0].top) * inv;
        PerPolarisation<RunFractions<>> d;
        for (const int pol : {pol_s, pol_p}) {
            const double rel_re = lane(rel, pol).re;
            d[pol] = {2.0 * re_times_conjugate(lane(dr, pol), lane(r, pol)), -2.0 * values[pol].T * rel_re,
                      2.0 * re_times_conjugate(lane(dr_back, pol), lane(r_back, pol)),
                      -2.0 * values[pol].T_back * rel_re};
        }
        ws.layer_derivatives[j - 1] = d;
    });
    return values;
}

}  // namespace quilmo::lab
