// The derivatives of a stack matrix by every inner-layer thickness, at one
// point: prefix and suffix products, shared by the coherent stack and by the
// coherent runs between incoherent layers.
//
// With M = D(first) P(first+1) D(first+1) ... P(last-1) D(last-1)
// (optics/stack.hpp), a thickness d_j enters only P(j), so
//
//   dM/dd_j = L_j P'(j) R_j,  L_j = D(first) ... D(j-1),  R_j = D(j) ... D(last-1)
//
// with P'(j) = diag(-i S_j e-, +i S_j e+). One pass forward stores every L_j,
// one pass backward carries the columns of the suffix R_j that the caller
// reads (the first for r and t; both for the back side r', t'), so all layers
// cost O(N).
//
// Each layer matrix, and its derivative, is divided by e^{|Im S_j d_j|}, its
// growing exponential, so that opaque layers do not overflow: the products
// are then M e^{-g} and dM/dd_j e^{-g}, g the sum of the growths, which the
// caller takes back where it needs it (t = e^{-g} / M00 through unscale).
// s and p run together in the kernel's two lanes.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "lab/core/kernel_names.hpp"
#include "lab/core/layer_phase.hpp"

namespace quilmo::lab {

// A column of a matrix in lanes.
struct ColumnLanes {
    ComplexLanes top;
    ComplexLanes bottom;
};

// e^{-i delta} and e^{+i delta}, delta = S t, both divided by e^{|Im delta|}:
// one exponential and one sine-cosine pair serve both, as the larger of the
// two moduli becomes exactly 1 and the smaller e^{-2 |Im delta|}.
struct ScaledPhase {
    Complex e_minus;
    Complex e_plus;
    double growth;  // |Im delta|
};

inline ScaledPhase scaled_phase(Complex wavenumber, double t) noexcept {
    const double x = wavenumber.im * t;
    const double growth = std::fabs(x);
    const double decay = std::exp(-(growth + growth));
    const optics::SinCos turn = optics::sin_cos(wavenumber.re * t);
    const double plus = x >= 0.0 ? decay : 1.0;
    const double minus = x >= 0.0 ? 1.0 : decay;
    return {{minus * turn.cos, -(minus * turn.sin)}, {plus * turn.cos, plus * turn.sin}, growth};
}

// Re(a conj(b)).
inline double re_times_conjugate(Complex a, Complex b) noexcept { return a.re * b.re + a.im * b.im; }

// m diag(a, b).
inline MatrixLanes times_diagonal(const MatrixLanes& m, Complex a, Complex b) noexcept {
    const ComplexLanes la = optics::kernel::both(a);
    const ComplexLanes lb = optics::kernel::both(b);
    return {m.m00 * la, m.m10 * la, m.m01 * lb, m.m11 * lb};
}

// m diag(a, b) v, for a column v.
inline ColumnLanes times_diagonal_column(const MatrixLanes& m, Complex a, Complex b, const ColumnLanes& v) noexcept {
    const ComplexLanes x = optics::kernel::both(a) * v.top;
    const ComplexLanes y = optics::kernel::both(b) * v.bottom;
    return {m.m00 * x + m.m01 * y, m.m10 * x + m.m11 * y};
}

// Scratch space of the two passes, reused from point to point by one thread.
struct GradientProducts {
    std::vector<MatrixLanes> prefixes;  // L_j, by inner layer j
    std::vector<Complex> e_minus, e_plus, wavenumber;

    // The product M e^{-removed} over media first .. last, storing every
    // prefix. medium(j) and interface(j) as in scaled_product; inner layer j
    // has thickness[j - 1].
    template <class MediumOf, class InterfaceOf>
    MatrixLanes forward(const MediumOf& medium, const InterfaceOf& interface, std::span<const double> thickness,
                        double wavelength, std::size_t first, std::size_t last, double& removed) {
        prefixes.resize(last);
        e_minus.resize(last);
        e_plus.resize(last);
        wavenumber.resize(last);
        removed = 0.0;
        MatrixLanes acc = interface(first);
        for (std::size_t j = first + 1; j < last; ++j) {
            const Complex k = layer_wavenumber(medium(j), wavelength);
            const ScaledPhase phase = scaled_phase(k, thickness[j - 1]);
            wavenumber[j] = k;
            e_minus[j] = phase.e_minus;
            e_plus[j] = phase.e_plus;
            removed += phase.growth;
            prefixes[j] = acc;
            acc = times_diagonal(acc, phase.e_minus, phase.e_plus) * interface(j);
        }
        return acc;
    }

    // Calls emit(j, dM) for j = last - 1 down to first + 1 with the first
    // `Columns` columns of dM/dd_j e^{-removed}, after forward over the same
    // media.
    template <int Columns, class InterfaceOf, class Emit>
    void backward(const InterfaceOf& interface, std::size_t first, std::size_t last, const Emit& emit) const {
        const MatrixLanes& end = interface(last - 1);
        std::array<ColumnLanes, Columns> suffix;
        suffix[0] = {end.m00, end.m10};
        if constexpr (Columns == 2) {
            suffix[1] = {end.m01, end.m11};
        }
        for (std::size_t j = last - 1; j > first; --j) {
            const Complex ds_minus = Complex{0.0, -1.0} * (wavenumber[j] * e_minus[j]);
            const Complex ds_plus = Complex{0.0, 1.0} * (wavenumber[j] * e_plus[j]);
            std::array<ColumnLanes, Columns> dm;
            for (int c = 0; c < Columns; ++c) {
                dm[c] = times_diagonal_column(prefixes[j], ds_minus, ds_plus, suffix[c]);
            }
            emit(j, dm);
            for (int c = 0; c < Columns; ++c) {
                suffix[c] = times_diagonal_column(interface(j - 1), e_minus[j], e_plus[j], suffix[c]);
            }
        }
    }
};

}  // namespace quilmo::lab
