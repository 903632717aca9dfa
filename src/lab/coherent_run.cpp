#include "lab/coherent_run.hpp"

#include "lab/opaque.hpp"
#include "optics/layer_scaling.hpp"

namespace quilmo::lab {
namespace {

using optics::detail::lane;

template <int Pol>
RunPowers powers_of(const MatrixLanes& m, double log_scale, const Medium& in, const Medium& out) noexcept {
    const Complex m00 = lane(m.m00, Pol);
    const Complex r = lane(m.m10, Pol) / m00;
    const Complex t = unscale(optics::reciprocal(m00), log_scale);
    const Complex r_back = Complex{0.0, 0.0} - lane(m.m01, Pol) / m00;
    const Complex t_back = t * (normal_index(out) / normal_index(in));
    const double w_in = flux_weight<Pol>(in);
    const double w_out = flux_weight<Pol>(out);
    return {optics::norm(r), carried_fraction(optics::norm(t), w_out, w_in), optics::norm(r_back),
            carried_fraction(optics::norm(t_back), w_in, w_out)};
}

}  // namespace

void interface_matrices(const StackMedia& stack, std::vector<MatrixLanes>& out) {
    const auto& media = stack.media;
    out.resize(media.size() - 1);
    for (std::size_t j = 0; j + 1 < media.size(); ++j) {
        out[j] = optics::detail::interface_sp(media[j], media[j + 1], optics::twice(media[j].n) * media[j].c);
    }
}

// The scaled pass of opaque.hpp over media first .. last.
PolPair<RunPowers> run_powers(const StackMedia& stack, Run run, std::span<const MatrixLanes> interfaces) noexcept {
    const auto& media = stack.media;
    MatrixLanes m = interfaces[run.first];
    double log_scale = 0.0;
    int binary_scale = 0;
    for (std::size_t j = run.first + 1; j < run.last; ++j) {
        const optics::detail::ScaledLayerMatrix layer =
            optics::detail::scaled_layer_matrix(media[j], stack.wavelength, stack.thickness[j - 1]);
        log_scale += layer.log_scale;
        m = (m * optics::detail::widen_both(layer.matrix)) * interfaces[j];
        binary_scale += detail::rebalance(m);
    }
    log_scale += binary_scale * detail::ln2;
    const Medium& in = media[run.first];
    const Medium& out = media[run.last];
    return {powers_of<pol_s>(m, log_scale, in, out), powers_of<pol_p>(m, log_scale, in, out)};
}

}  // namespace quilmo::lab
