#include "lab/incoherent/run_point.hpp"

#include "lab/coherent/scaled_product.hpp"
#include "lab/core/layer_phase.hpp"

namespace quilmo::lab {
namespace {

using optics::kernel::lane;

template <int Pol>
RunFractions<> fractions_of(const ScaledProduct& product, const Medium& in, const Medium& out) noexcept {
    const MatrixLanes& m = product.m;
    const Complex m00 = lane(m.m00, Pol);
    const Complex r = lane(m.m10, Pol) / m00;
    const Complex t = unscale(optics::reciprocal(m00), product.log_scale);
    const Complex r_back = Complex{0.0, 0.0} - lane(m.m01, Pol) / m00;
    const Complex t_back = t * (normal_index(out) / normal_index(in));
    return run_fractions_of(r, t, r_back, t_back, flux_weight<Pol>(in), flux_weight<Pol>(out));
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
    const ScaledProduct product = scaled_product([&](std::size_t j) -> const Medium& { return point.media[j]; },
                                                 [&](std::size_t j) -> const MatrixLanes& { return interfaces[j]; },
                                                 point.thickness, point.wavelength, run.first, run.last);
    const Medium& in = point.media[run.first];
    const Medium& out = point.media[run.last];
    return {fractions_of<pol_s>(product, in, out), fractions_of<pol_p>(product, in, out)};
}

}  // namespace quilmo::lab
