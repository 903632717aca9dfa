#include "lab/incoherent/run_point.hpp"

#include <cmath>

#include "lab/coherent/scaled_product.hpp"
#include "lab/core/layer_phase.hpp"

namespace quilmo::lab {
namespace {

using optics::kernel::lane;

// A run's amplitudes from its first medium (r, t) and from its last (r', t').
struct RunAmplitudes {
    Complex r, t, r_back, t_back;
};

template <int Pol>
RunAmplitudes amplitudes_of(const ScaledProduct& product, const Medium& in, const Medium& out) noexcept {
    const MatrixLanes& m = product.m;
    const Complex m00 = lane(m.m00, Pol);
    const Complex t = unscale(optics::reciprocal(m00), product.log_scale);
    return {lane(m.m10, Pol) / m00, t, Complex{0.0, 0.0} - lane(m.m01, Pol) / m00,
            t * (normal_index(out) / normal_index(in))};
}

template <int Pol>
RunFractions<> fractions_of(const ScaledProduct& product, const Medium& in, const Medium& out) noexcept {
    const RunAmplitudes a = amplitudes_of<Pol>(product, in, out);
    return run_fractions_of(a.r, a.t, a.r_back, a.t_back, flux_weight<Pol>(in), flux_weight<Pol>(out));
}

ScaledProduct product_of(const PointMedia& point, Run run, std::span<const MatrixLanes> interfaces) noexcept {
    return scaled_product([&](std::size_t j) -> const Medium& { return point.media[j]; },
                          [&](std::size_t j) -> const MatrixLanes& { return interfaces[j]; }, point.thickness,
                          point.wavelength, run.first, run.last);
}

// a_s conj(a_p) with each amplitude carried from a medium of flux weights
// (s, p) `from` into one of `to`; 0 where a weight is 0, as carried_fraction.
Complex carried_cross(Complex s, Complex p, const double (&to)[2], const double (&from)[2]) noexcept {
    if (to[0] == 0.0 || to[1] == 0.0 || from[0] == 0.0 || from[1] == 0.0) {
        return {0.0, 0.0};
    }
    return std::sqrt((to[0] / from[0]) * (to[1] / from[1])) * (s * conj(p));
}

}  // namespace

void split_runs(const PointMedia& point, std::vector<Run>& runs) {
    runs.clear();
    std::size_t first = 0;
    for (std::size_t j = 1; j < point.media.size(); ++j) {
        if (point.incoherent(j)) {
            runs.push_back({first, j});
            first = j;
        }
    }
}

double run_pass(const PointMedia& point, std::span<const Run> runs, std::size_t k) noexcept {
    if (k + 1 == runs.size()) {
        return 1.0;
    }
    const std::size_t last = runs[k].last;
    return pass_transmission(point.media[last], point.wavelength, point.thickness[last - 1]);
}

PerPolarisation<RunFractions<>> run_fractions(const PointMedia& point, Run run,
                                              std::span<const MatrixLanes> interfaces) noexcept {
    const ScaledProduct product = product_of(point, run, interfaces);
    const Medium& in = point.media[run.first];
    const Medium& out = point.media[run.last];
    return {fractions_of<pol_s>(product, in, out), fractions_of<pol_p>(product, in, out)};
}

RunFractions<Complex> run_cross_fractions(const PointMedia& point, Run run,
                                          std::span<const MatrixLanes> interfaces) noexcept {
    const ScaledProduct product = product_of(point, run, interfaces);
    const Medium& in = point.media[run.first];
    const Medium& out = point.media[run.last];
    const RunAmplitudes s = amplitudes_of<pol_s>(product, in, out);
    const RunAmplitudes p = amplitudes_of<pol_p>(product, in, out);
    const double w_in[2] = {flux_weight<pol_s>(in), flux_weight<pol_p>(in)};
    const double w_out[2] = {flux_weight<pol_s>(out), flux_weight<pol_p>(out)};
    return {s.r * conj(p.r), carried_cross(s.t, p.t, w_out, w_in), s.r_back * conj(p.r_back),
            carried_cross(s.t_back, p.t_back, w_in, w_out)};
}

}  // namespace quilmo::lab
