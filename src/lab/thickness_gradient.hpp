// Derivatives of the amplitudes and powers of a coherent stack with respect to
// every inner-layer thickness, at one (wavelength, angle) point.
//
// With M = D(0) P(1) D(1) ... P(N-2) D(N-2) (optics/stack.hpp), a thickness
// d_j enters only P(j), so
//
//   dM/dd_j = L_j P'(j) R_j,  L_j = D(0) P(1) ... D(j-1),  R_j = D(j) P(j+1) ... D(N-2)
//
// with P'(j) = diag(-i S_j e-, +i S_j e+). Only the first column of M is read
// (r = M10/M00, t = 1/M00), so the suffix is carried backwards as a column
// vector: one pass forward storing L_j, one backward, O(N) for all layers.
//
// Each layer matrix, and its derivative, is divided by e^{|Im S_j d_j|}, its
// growing exponential, so that opaque layers do not overflow: the products
// then are M e^{-g} and dM/dd_j e^{-g}, g the sum of the growths. The factor
// cancels in r, in dr = (dM10 - r dM00) / M00 and in dt/t = -dM00 / M00;
// t = e^{-g} / M00 takes it back through the engine's unscale (one rounding).
//
// s and p run together in the kernel's two lanes (s lane 0, p lane 1).
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "lab/kernel_ops.hpp"
#include "lab/opaque.hpp"
#include "lab/polarisation.hpp"
#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::lab {

// One polarisation's amplitudes and powers at a point. T uses the Poynting
// factor Re(n_out conj(cos_out)) / Re(n_in conj(cos_in)) for p and
// Re(n_out cos_out) / Re(n_in cos_in) for s.
struct PointPowers {
    optics::Complex r, t;
    double R, T;
};

// One polarisation's derivatives with respect to one thickness.
struct ThicknessDerivative {
    optics::Complex dr, dt;
    double dR, dT;
};

// Scratch space reused from point to point by one thread.
struct GradientWorkspace {
    std::vector<optics::detail::Medium> media;
    std::vector<optics::detail::MatrixLanes> interfaces;  // D(0) .. D(N-2)
    std::vector<optics::detail::MatrixLanes> prefixes;    // L_1 .. L_{N-2}
    std::vector<optics::Complex> e_minus, e_plus, wavenumber;  // per inner layer, scaled
};

namespace detail {

using optics::detail::ComplexLanes;
using optics::detail::MatrixLanes;

struct ColumnLanes {
    ComplexLanes v0, v1;
};

inline ColumnLanes times(const MatrixLanes& m, const ColumnLanes& v) noexcept {
    return {m.m00 * v.v0 + m.m01 * v.v1, m.m10 * v.v0 + m.m11 * v.v1};
}

inline MatrixLanes times_diagonal(const MatrixLanes& m, optics::Complex a, optics::Complex b) noexcept {
    const ComplexLanes la = optics::detail::both(a);
    const ComplexLanes lb = optics::detail::both(b);
    return {m.m00 * la, m.m10 * la, m.m01 * lb, m.m11 * lb};
}

// e^{-i delta} and e^{+i delta}, delta = S t, both divided by e^{|Im delta|}:
// one exponential and one sine-cosine pair serve both, as the larger of the
// two moduli becomes exactly 1 and the smaller e^{-2 |Im delta|}.
struct ScaledPhase {
    optics::Complex e_minus;
    optics::Complex e_plus;
    double growth;  // |Im delta|
};

inline ScaledPhase scaled_phase(optics::Complex wavenumber, double t) noexcept {
    const double x = wavenumber.im * t;
    const double growth = std::fabs(x);
    const double decay = std::exp(-(growth + growth));
    const optics::SinCos turn = optics::sin_cos(wavenumber.re * t);
    const double plus = x >= 0.0 ? decay : 1.0;
    const double minus = x >= 0.0 ? 1.0 : decay;
    return {{minus * turn.cos, -(minus * turn.sin)}, {plus * turn.cos, plus * turn.sin}, growth};
}

inline MatrixLanes diagonal_times(optics::Complex a, optics::Complex b, const MatrixLanes& m) noexcept {
    const ComplexLanes la = optics::detail::both(a);
    const ComplexLanes lb = optics::detail::both(b);
    return {la * m.m00, lb * m.m10, la * m.m01, lb * m.m11};
}

inline double re_times_conjugate(optics::Complex a, optics::Complex b) noexcept {
    return a.re * b.re + a.im * b.im;  // Re(a conj(b))
}

}  // namespace detail

// Powers of both polarisations and their derivatives by every inner-layer
// thickness at one point. `index_of(j)` gives medium j's index (0 <= j <
// media), `d[j-1]` the thickness of inner layer j, all in the unit of
// `wavelength`. `emit(j, s, p)` receives inner layer j's derivatives (j from
// media-2 down to 1); the powers are returned, s then p. `same_media`: the
// indices and the angle are those of the previous call with `ws`, whose media
// and interface matrices are then used again.
template <class IndexOf, class Emit>
void thickness_gradient(std::size_t media, IndexOf index_of, const double* d, double wavelength,
                        double sin_theta, GradientWorkspace& ws, PointPowers (&powers)[2], Emit emit,
                        bool same_media = false) {
    using optics::Complex;
    using optics::detail::both;
    using optics::detail::ComplexLanes;
    using optics::detail::lane;
    using optics::detail::MatrixLanes;
    namespace od = optics::detail;

    const std::size_t layers = media - 2;
    ws.media.resize(media);
    ws.interfaces.resize(media - 1);
    ws.prefixes.resize(layers + 1);
    ws.e_minus.resize(layers + 1);
    ws.e_plus.resize(layers + 1);
    ws.wavenumber.resize(layers + 1);

    if (!same_media) {
        const Complex tangential = optics::square(sin_theta * index_of(0));
        for (std::size_t j = 0; j < media; ++j) ws.media[j] = od::medium(index_of(j), tangential);
        for (std::size_t j = 0; j + 1 < media; ++j) {
            const od::Medium& m = ws.media[j];
            ws.interfaces[j] = od::interface_sp(m, ws.media[j + 1], optics::twice(m.n) * m.c);
        }
    }

    double removed = 0.0;  // sum of the growths taken out: M = M_scaled e^{removed}
    MatrixLanes acc = ws.interfaces[0];
    for (std::size_t j = 1; j <= layers; ++j) {
        const od::Medium& m = ws.media[j];
        const Complex wavenumber = layer_wavenumber(m, wavelength);
        const double t = d[j - 1];
        const detail::ScaledPhase phase = detail::scaled_phase(wavenumber, t);
        ws.wavenumber[j] = wavenumber;
        ws.e_minus[j] = phase.e_minus;
        ws.e_plus[j] = phase.e_plus;
        removed += phase.growth;
        ws.prefixes[j] = acc;
        acc = detail::times_diagonal(acc, ws.e_minus[j], ws.e_plus[j]) * ws.interfaces[j];
    }

    const ComplexLanes m00 = acc.m00;
    const ComplexLanes inv_m00 = optics::reciprocal(m00);
    const ComplexLanes r = acc.m10 * inv_m00;

    const od::Medium& in = ws.media[0];
    const od::Medium& out = ws.media[media - 1];
    const double factor[2] = {
        (out.n * out.c).re / (in.n * in.c).re,
        detail::re_times_conjugate(out.n, out.c) / detail::re_times_conjugate(in.n, in.c)};
    for (int p = 0; p < 2; ++p) {
        const Complex rp = lane(r, p);
        const Complex tp = unscale(lane(inv_m00, p), removed);
        powers[p] = {rp, tp, optics::norm(rp), optics::norm(tp) * factor[p]};
    }

    // Backwards: v = R_j e_0 (first column of the suffix), starting at D(N-2).
    const MatrixLanes& last = ws.interfaces[media - 2];
    detail::ColumnLanes v{last.m00, last.m10};
    for (std::size_t j = layers; j >= 1; --j) {
        const Complex ds_minus = Complex{0.0, -1.0} * (ws.wavenumber[j] * ws.e_minus[j]);
        const Complex ds_plus = Complex{0.0, 1.0} * (ws.wavenumber[j] * ws.e_plus[j]);
        const detail::ColumnLanes w{both(ds_minus) * v.v0, both(ds_plus) * v.v1};
        const detail::ColumnLanes dm = detail::times(ws.prefixes[j], w);
        // dr = (dM10 - r dM00) / M00, dt/t = -dM00 / M00
        const ComplexLanes dr = (dm.v1 - r * dm.v0) * inv_m00;
        const ComplexLanes dt_rel = dm.v0 * inv_m00;
        ThicknessDerivative out_pol[2];
        for (int p = 0; p < 2; ++p) {
            const Complex drp = lane(dr, p);
            const Complex rel = lane(dt_rel, p);
            const Complex dtp = Complex{-1.0, 0.0} * (powers[p].t * rel);
            out_pol[p] = {drp, dtp, 2.0 * detail::re_times_conjugate(drp, powers[p].r),
                          -2.0 * powers[p].T * rel.re};
        }
        emit(j, out_pol[0], out_pol[1]);
        const detail::ColumnLanes pv{both(ws.e_minus[j]) * v.v0, both(ws.e_plus[j]) * v.v1};
        v = detail::times(ws.interfaces[j - 1], pv);
    }
}

}  // namespace quilmo::lab
