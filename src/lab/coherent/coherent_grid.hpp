// Amplitudes and powers of coherent stacks over the whole grid.
#pragma once

#include <cstddef>

#include "lab/coherent/coherent_point.hpp"
#include "lab/core/grid.hpp"
#include "lab/core/output_planes.hpp"

namespace quilmo::lab {

// Four arrays of shape (B, A, W) each, one after the other: r_s, r_p, t_s,
// t_p in `amplitudes`, R_s, R_p, T_s, T_p in `powers`.
struct CoherentOutputs {
    Complex* amplitudes;
    double* powers;
};

// Writes a point's CoherentResult into the planes of CoherentOutputs.
class CoherentPlanes {
public:
    CoherentPlanes(const CoherentOutputs& out, std::size_t points) noexcept
        : amplitudes_{out.amplitudes, points}, powers_{out.powers, points} {}

    void write(std::size_t p, const CoherentResult& r) const noexcept {
        for (const int pol : {pol_s, pol_p}) {
            amplitudes_(pol, p) = r.amplitudes[pol].r;
            amplitudes_(2 + pol, p) = r.amplitudes[pol].t;
            powers_(pol, p) = r.powers[pol].R;
            powers_(2 + pol, p) = r.powers[pol].T;
        }
    }

private:
    PointPlanes<Complex> amplitudes_;
    PointPlanes<double> powers_;
};

// Fills the outputs for every point on `threads` threads (0: default_threads()).
// The grid must have passed check_grid.
void solve_coherent(const Grid& grid, const CoherentOutputs& out, std::size_t threads);

}  // namespace quilmo::lab
