// Derivatives of the amplitudes and powers of a coherent stack with respect to
// every inner-layer thickness, at one point (derivatives/gradient_product.hpp
// over the whole stack, first column of the suffix).
//
// Only the first column of M is read (r = M10/M00, t = 1/M00): with the
// product and its derivatives scaled alike, the scale cancels in r, in
// dr = (dM10 - r dM00) / M00 and in dt/t = -dM00 / M00; t = e^{-g} / M00 takes
// it back through the engine's unscale (one rounding).
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "lab/coherent/coherent_point.hpp"
#include "lab/coherent/scaled_product.hpp"
#include "lab/core/point_media.hpp"
#include "lab/derivatives/gradient_product.hpp"

namespace quilmo::lab {

// One polarisation's derivatives with respect to one thickness.
struct ThicknessDerivative {
    Complex dr, dt;
    double dR, dT;
};

// The first column of M e^{-g} read as the point's values: r = M10 / M00 and
// 1 / M00 in lanes, and the amplitudes and powers of both polarisations. T
// uses the Poynting factor Re(n_out conj(cos_out)) / Re(n_in conj(cos_in)) for
// p and Re(n_out cos_out) / Re(n_in cos_in) for s.
struct GradientBase {
    ComplexLanes r;
    ComplexLanes inv_m00;
    CoherentResult values;

    GradientBase(const PointMedia& point, const MatrixLanes& acc, double removed) noexcept
        : r{}, inv_m00(optics::reciprocal(acc.m00)) {
        using optics::kernel::lane;
        r = acc.m10 * inv_m00;
        const Medium& in = point.media.front();
        const Medium& out = point.media.back();
        const double factor[2] = {(out.n * out.c).re / (in.n * in.c).re,
                                  re_times_conjugate(out.n, out.c) / re_times_conjugate(in.n, in.c)};
        for (const int pol : {pol_s, pol_p}) {
            const Complex rp = lane(r, pol);
            const Complex tp = unscale(lane(inv_m00, pol), removed);
            values.amplitudes[pol] = {rp, tp};
            values.powers[pol] = {optics::norm(rp), optics::norm(tp) * factor[pol]};
        }
    }

    // The derivatives of both polarisations from the first column of dM
    // (scaled as M): dr = (dM10 - r dM00) / M00, dt/t = -dM00 / M00.
    PerPolarisation<ThicknessDerivative> derivatives(const ColumnLanes& dm) const noexcept {
        using optics::kernel::lane;
        const ComplexLanes dr = (dm.bottom - r * dm.top) * inv_m00;
        const ComplexLanes dt_rel = dm.top * inv_m00;
        PerPolarisation<ThicknessDerivative> d;
        for (const int pol : {pol_s, pol_p}) {
            const Complex drp = lane(dr, pol);
            const Complex rel = lane(dt_rel, pol);
            const Amplitudes& a = values.amplitudes[pol];
            const Complex dtp = Complex{-1.0, 0.0} * (a.t * rel);
            d[pol] = {drp, dtp, 2.0 * re_times_conjugate(drp, a.r), -2.0 * values.powers[pol].T * rel.re};
        }
        return d;
    }
};

// The amplitudes and powers of both polarisations at the point (returned),
// and their derivatives by every inner layer j, passed to emit(j, s, p) from
// j = media - 2 down to 1. Interface j joins media j and j + 1.
template <class Emit>
CoherentResult coherent_gradient(const PointMedia& point, std::span<const MatrixLanes> interfaces,
                                 GradientProducts& ws, const Emit& emit) {
    if (coherent_formulas::grazing_limit(point)) {
        // r and t are constant (-1 and 0) in every thickness there.
        const ThicknessDerivative none{};
        for (std::size_t j = point.media.size() - 2; j >= 1; --j) {
            emit(j, none, none);
        }
        return coherent_formulas::grazing_result();
    }
    const std::size_t last = point.media.size() - 1;
    auto medium = [&](std::size_t j) -> const Medium& { return point.media[j]; };
    auto interface = [&](std::size_t j) -> const MatrixLanes& { return interfaces[j]; };
    double removed = 0.0;
    const MatrixLanes acc = ws.forward(medium, interface, point.thickness, point.wavelength, 0, last, removed);
    const GradientBase base(point, acc, removed);
    ws.backward<1>(interface, 0, last, [&](std::size_t j, const std::array<ColumnLanes, 1>& dm) {
        const PerPolarisation<ThicknessDerivative> d = base.derivatives(dm[0]);
        emit(j, d.s, d.p);
    });
    return base.values;
}

}  // namespace quilmo::lab
