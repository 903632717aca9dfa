// Thickness derivatives of R and T of a stack with layers treated by
// intensity (incoherent.hpp), at one point.
//
// Each coherent run is known by four power fractions R, T (lit from its first
// medium) and R', T' (lit from its last); a coherent layer changes only the
// fractions of its run, an incoherent layer only the pass fraction P = e^{-a d}
// of its own medium, with dP/dd = -a P. The run fractions and their
// derivatives come from the run's transfer matrix as for a coherent stack
// (thickness_gradient.hpp), with the full suffix matrix carried backwards
// because R', T' read the second column: r' = -M01/M00, so
// dr' = -(dM01 + r' dM00)/M00, and t'/t is a constant. The change of the
// runs is then carried through the power transfer of incoherent.cpp in
// forward mode (value and derivative of every quantity), one pass over the
// runs per layer.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "lab/coherent_run.hpp"
#include "lab/incoherent.hpp"
#include "lab/kernel_ops.hpp"
#include "lab/opaque.hpp"
#include "lab/polarisation.hpp"
#include "lab/stack_media.hpp"
#include "lab/thickness_gradient.hpp"

namespace quilmo::lab {

// A number with its derivative in one direction.
struct Tangent {
    double v;
    double d;
};

constexpr Tangent operator+(Tangent a, Tangent b) noexcept { return {a.v + b.v, a.d + b.d}; }
constexpr Tangent operator-(Tangent a, Tangent b) noexcept { return {a.v - b.v, a.d - b.d}; }
constexpr Tangent operator*(Tangent a, Tangent b) noexcept { return {a.v * b.v, a.d * b.v + a.v * b.d}; }
constexpr Tangent operator/(Tangent a, Tangent b) noexcept {
    const double q = a.v / b.v;
    return {q, (a.d - q * b.d) / b.v};
}

struct RunTangent {
    Tangent R, T, R_back, T_back;
};

struct TangentSplit {
    Tangent R;
    Tangent T;
};

// R and T of the whole stack and their derivatives, for run fractions and
// pass fractions that carry derivatives: the recursion of power_transfer,
// term for term. `behind` is scratch of the runs' length.
inline TangentSplit tangent_transfer(std::span<const RunTangent> runs, std::span<const Tangent> passes,
                                         std::span<Tangent> behind) noexcept {
    const std::size_t count = runs.size();
    const Tangent zero{0.0, 0.0};
    Tangent reflect_ahead = zero;
    for (std::size_t k = count; k-- > 0;) {
        behind[k] = reflect_ahead;
        const RunTangent& run = runs[k];
        const Tangent rho = passes[k] * passes[k] * reflect_ahead;
        const Tangent round_trips = Tangent{1.0, 0.0} - run.R_back * rho;
        const Tangent coupled = run.T.v * run.T_back.v == 0.0 ? zero : run.T * run.T_back * rho / round_trips;
        reflect_ahead = run.R + coupled;
    }
    Tangent arriving{1.0, 0.0};
    Tangent transmitted = zero;
    for (std::size_t k = 0; k < count; ++k) {
        const RunTangent& run = runs[k];
        const Tangent rho = passes[k] * passes[k] * behind[k];
        const Tangent forward = run.T.v == 0.0 ? zero : arriving * run.T / (Tangent{1.0, 0.0} - run.R_back * rho);
        arriving = forward * passes[k];
        transmitted = forward;
    }
    return {reflect_ahead, transmitted};
}

// Scratch space reused from point to point by one thread.
struct MixedWorkspace {
    std::vector<Medium> media;
    std::vector<optics::detail::MatrixLanes> interfaces;
    std::vector<Run> runs;
    std::vector<optics::detail::MatrixLanes> prefixes;
    std::vector<Complex> e_minus, e_plus, wavenumber;
    std::vector<PolPair<RunPowers>> values;
    std::vector<PolPair<RunPowers>> layer_derivatives;  // by inner layer, of its run's fractions
    std::vector<double> passes, pass_derivatives;       // by run: the medium that ends it
    std::vector<RunTangent> tangents;
    std::vector<Tangent> pass_tangents, behind;
};

namespace detail {

inline RunPowers run_fractions(Complex r, Complex t, Complex r_back, Complex t_back, double w_in,
                               double w_out) noexcept {
    return {optics::norm(r), carried_fraction(optics::norm(t), w_out, w_in), optics::norm(r_back),
            carried_fraction(optics::norm(t_back), w_in, w_out)};
}

// The run's fractions (returned) and, in ws.layer_derivatives[j - 1], their
// derivatives by each inner layer j of the run.
inline PolPair<RunPowers> run_gradient(const StackMedia& stack, Run run, MixedWorkspace& ws) noexcept {
    using optics::detail::both;
    using optics::detail::ComplexLanes;
    using optics::detail::lane;
    using optics::detail::MatrixLanes;
    const auto& media = stack.media;
    double removed = 0.0;
    MatrixLanes acc = ws.interfaces[run.first];
    for (std::size_t j = run.first + 1; j < run.last; ++j) {
        const Medium& m = media[j];
        const Complex wavenumber = layer_wavenumber(m, stack.wavelength);
        const double t = stack.thickness[j - 1];
        const lab::detail::ScaledPhase phase = lab::detail::scaled_phase(wavenumber, t);
        ws.wavenumber[j] = wavenumber;
        ws.e_minus[j] = phase.e_minus;
        ws.e_plus[j] = phase.e_plus;
        removed += phase.growth;
        ws.prefixes[j] = acc;
        acc = lab::detail::times_diagonal(acc, ws.e_minus[j], ws.e_plus[j]) * ws.interfaces[j];
    }
    const ComplexLanes inv = optics::reciprocal(acc.m00);
    const ComplexLanes r = acc.m10 * inv;
    const ComplexLanes r_back = ComplexLanes{{0.0, 0.0}, {0.0, 0.0}} - acc.m01 * inv;
    const Medium& in = media[run.first];
    const Medium& out = media[run.last];
    const Complex t_ratio = normal_index(out) / normal_index(in);
    const double w_in[2] = {flux_weight<pol_s>(in), flux_weight<pol_p>(in)};
    const double w_out[2] = {flux_weight<pol_s>(out), flux_weight<pol_p>(out)};
    RunPowers values[2];
    for (int p = 0; p < 2; ++p) {
        const Complex t = unscale(lane(inv, p), removed);
        values[p] = run_fractions(lane(r, p), t, lane(r_back, p), t * t_ratio, w_in[p], w_out[p]);
    }
    // backwards: the suffix D(j) P(j+1) ... D(last-1), both columns
    MatrixLanes suffix = ws.interfaces[run.last - 1];
    for (std::size_t j = run.last - 1; j > run.first; --j) {
        const Complex ds_minus = Complex{0.0, -1.0} * (ws.wavenumber[j] * ws.e_minus[j]);
        const Complex ds_plus = Complex{0.0, 1.0} * (ws.wavenumber[j] * ws.e_plus[j]);
        const MatrixLanes dm = ws.prefixes[j] * lab::detail::diagonal_times(ds_minus, ds_plus, suffix);
        const ComplexLanes dr = (dm.m10 - r * dm.m00) * inv;
        const ComplexLanes rel = dm.m00 * inv;  // dt/t = dt'/t' = -rel
        const ComplexLanes dr_back = ComplexLanes{{0.0, 0.0}, {0.0, 0.0}} - (dm.m01 + r_back * dm.m00) * inv;
        RunPowers d[2];
        for (int p = 0; p < 2; ++p) {
            const double rel_re = lane(rel, p).re;
            d[p] = {2.0 * lab::detail::re_times_conjugate(lane(dr, p), lane(r, p)),
                    -2.0 * values[p].T * rel_re,
                    2.0 * lab::detail::re_times_conjugate(lane(dr_back, p), lane(r_back, p)),
                    -2.0 * values[p].T_back * rel_re};
        }
        ws.layer_derivatives[j - 1] = {d[0], d[1]};
        suffix = ws.interfaces[j - 1] * lab::detail::diagonal_times(ws.e_minus[j], ws.e_plus[j], suffix);
    }
    return {values[0], values[1]};
}

inline RunTangent constant_tangent(const RunPowers& v) noexcept {
    return {{v.R, 0.0}, {v.T, 0.0}, {v.R_back, 0.0}, {v.T_back, 0.0}};
}

}  // namespace detail

// dR, dT of both polarisations by every inner layer of a point whose inner
// layers may be incoherent. `emit(pol, j, dR, dT)` receives polarisation pol
// (0 s, 1 p) and inner layer j (1 .. media - 2). ws.media and ws.interfaces must hold the point's
// media and the kernel's interface matrices.
template <class Emit>
void mixed_gradient(const StackMedia& stack, MixedWorkspace& ws, Emit emit) {
    const std::size_t media = stack.media.size();
    split_runs(stack, ws.runs);
    const std::size_t count = ws.runs.size();
    ws.prefixes.resize(media);
    ws.e_minus.resize(media);
    ws.e_plus.resize(media);
    ws.wavenumber.resize(media);
    ws.layer_derivatives.resize(media - 2);
    ws.values.resize(count);
    ws.passes.resize(count);
    ws.pass_derivatives.resize(count);
    ws.tangents.resize(count);
    ws.pass_tangents.resize(count);
    ws.behind.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        const Run run = ws.runs[k];
        ws.values[k] = detail::run_gradient(stack, run, ws);
        ws.passes[k] = run_pass(stack, ws.runs, k);
        // dP/dt = -2 Im(delta / t) P for the incoherent layer; the exit medium has no thickness.
        ws.pass_derivatives[k] =
            k + 1 == count ? 0.0
                           : -(2.0 * layer_wavenumber(stack.media[run.last], stack.wavelength).im) * ws.passes[k];
    }
    for (int p = 0; p < 2; ++p) {
        for (std::size_t k = 0; k < count; ++k) ws.pass_tangents[k] = {ws.passes[k], 0.0};
        for (std::size_t k = 0; k < count; ++k) {
            const Run run = ws.runs[k];
            for (std::size_t i = 0; i < count; ++i) {
                ws.tangents[i] = detail::constant_tangent(p == 0 ? ws.values[i].s : ws.values[i].p);
            }
            for (std::size_t j = run.first + 1; j < run.last; ++j) {
                const RunPowers& d = p == 0 ? ws.layer_derivatives[j - 1].s : ws.layer_derivatives[j - 1].p;
                RunTangent& t = ws.tangents[k];
                t.R.d = d.R;
                t.T.d = d.T;
                t.R_back.d = d.R_back;
                t.T_back.d = d.T_back;
                const TangentSplit total = tangent_transfer(ws.tangents, ws.pass_tangents, ws.behind);
                emit(p, j, total.R.d, total.T.d);
            }
            if (k + 1 < count) {  // the incoherent medium that ends run k
                ws.tangents[k] = detail::constant_tangent(p == 0 ? ws.values[k].s : ws.values[k].p);
                ws.pass_tangents[k].d = ws.pass_derivatives[k];
                const TangentSplit total = tangent_transfer(ws.tangents, ws.pass_tangents, ws.behind);
                emit(p, run.last, total.R.d, total.T.d);
                ws.pass_tangents[k].d = 0.0;
            }
        }
    }
}

}  // namespace quilmo::lab
