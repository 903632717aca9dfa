#include "lab/coherent_run.hpp"

namespace quilmo::lab {
namespace {

// The kernel's operators live beside its types' namespace, not in it.
using optics::operator*;
using optics::detail::both;
using optics::detail::lane;
using optics::detail::MatrixLanes;

template <int Pol>
RunPowers powers_of(const MatrixLanes& m, Complex carry, const Medium& in, const Medium& out) noexcept {
    const Complex m00 = lane(m.m00, Pol);
    const Complex r = lane(m.m10, Pol) / m00;
    const Complex t = carry / m00;
    const Complex r_back = Complex{0.0, 0.0} - lane(m.m01, Pol) / m00;
    const Complex t_back = t * (normal_index(out) / normal_index(in));
    const double w_in = flux_weight<Pol>(in);
    const double w_out = flux_weight<Pol>(out);
    return {optics::norm(r), carried_fraction(optics::norm(t), w_out, w_in), optics::norm(r_back),
            carried_fraction(optics::norm(t_back), w_in, w_out)};
}

}  // namespace

PolPair<RunPowers> run_powers(const StackMedia& stack, Run run) noexcept {
    const auto& media = stack.media;
    auto interface = [&](std::size_t j) {
        return optics::detail::interface_sp(media[j], media[j + 1], optics::twice(media[j].n) * media[j].c);
    };
    MatrixLanes m = interface(run.first);
    Complex carry{1.0, 0.0};
    for (std::size_t j = run.first + 1; j < run.last; ++j) {
        const Complex e = phase_factor(media[j], stack.wavelength, stack.thickness[j - 1]);
        carry = carry * e;
        const auto e2 = both(optics::square(e));
        m.m01 = m.m01 * e2;
        m.m11 = m.m11 * e2;
        m = m * interface(j);
    }
    const Medium& in = media[run.first];
    const Medium& out = media[run.last];
    return {powers_of<pol_s>(m, carry, in, out), powers_of<pol_p>(m, carry, in, out)};
}

}  // namespace quilmo::lab
