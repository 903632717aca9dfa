// Derivatives of the amplitudes and powers of a coherent stack with respect to
// the RMS roughness of every interface, at one point.
//
// With M = A_i D(i) B_i, A_i = D(0) P(1) ... D(i-1) P(i) and
// B_i = P(i+1) D(i+1) ... D(last-1), roughness sigma_i enters only D(i):
// dM/dsigma_i = A_i D'(i) B_i. The prefixes come from the thickness pass's
// forward product (derivatives/gradient_product.hpp, scaled alike), the first
// column of B_i from one pass backward, so all interfaces cost O(N); r and t
// follow from the first column of dM as in coherent_gradient_point.hpp.
#pragma once

#include <cstddef>
#include <span>

#include "lab/coherent/coherent_point.hpp"
#include "lab/core/point_media.hpp"
#include "lab/derivatives/coherent_gradient_point.hpp"
#include "lab/derivatives/gradient_product.hpp"

namespace quilmo::lab {

// Calls emit(i, s, p) for interface i = media - 2 down to 0 with the
// derivatives by sigma_i; slope(i) is dD(i)/dsigma_i (zero for a smooth
// interface). Returns the point's amplitudes and powers.
template <class SlopeOf, class Emit>
CoherentResult coherent_roughness_gradient(const PointMedia& point, std::span<const MatrixLanes> interfaces,
                                           const SlopeOf& slope, GradientProducts& ws, const Emit& emit) {
    using optics::kernel::both;
    const std::size_t last = point.media.size() - 1;
    if (coherent_formulas::grazing_limit(point)) {
        // r and t are constant (-1 and 0) in every roughness there.
        const ThicknessDerivative none{};
        for (std::size_t i = last; i-- > 0;) {
            emit(i, none, none);
        }
        return coherent_formulas::grazing_result();
    }
    auto medium = [&](std::size_t j) -> const Medium& { return point.media[j]; };
    auto interface = [&](std::size_t j) -> const MatrixLanes& { return interfaces[j]; };
    double removed = 0.0;
    const MatrixLanes acc = ws.forward(medium, interface, point.thickness, point.wavelength, 0, last, removed);

    const GradientBase base(point, acc, removed);

    const ComplexLanes one = both(Complex{1.0, 0.0});
    const ComplexLanes zero = both(Complex{0.0, 0.0});
    ColumnLanes behind{one, zero};  // first column of B_i
    for (std::size_t i = last; i-- > 0;) {
        const MatrixLanes d = slope(i);
        ColumnLanes dm{d.m00 * behind.top + d.m01 * behind.bottom, d.m10 * behind.top + d.m11 * behind.bottom};
        const MatrixLanes& here = interface(i);
        behind = {here.m00 * behind.top + here.m01 * behind.bottom, here.m10 * behind.top + here.m11 * behind.bottom};
        if (i > 0) {
            dm = times_diagonal_column(ws.prefixes[i], ws.e_minus[i], ws.e_plus[i], dm);
            behind = {both(ws.e_minus[i]) * behind.top, both(ws.e_plus[i]) * behind.bottom};
        }
        const PerPolarisation<ThicknessDerivative> derivative = base.derivatives(dm);
        emit(i, derivative.s, derivative.p);
    }
    return base.values;
}

}  // namespace quilmo::lab
