// Amplitudes and powers of a coherent stack at one point.
//
// The exact pass evaluates the kernel's formulas (optics/stack.hpp: medium,
// interface_sp, layer_matrix and the full 2x2 products) in the order of the
// kernel's accumulation, so its matrices are those of quilmo.DataPy bit for
// bit; it takes the media and interfaces from the point builder and computes
// a layer matrix once per point where the stack's plan shows layers that
// repeat. Where that product overflows (a layer so thick or absorbing that
// e^{|Im delta|} leaves the range of doubles), the point is computed again by
// the scaled product. Points with a NaN or infinite input keep the exact
// pass's result, so that they flow through as in DataPy.
#pragma once

#include <vector>

#include "lab/core/point_builder.hpp"
#include "lab/core/polarisation.hpp"

namespace quilmo::lab {

struct CoherentResult {
    PerPolarisation<Amplitudes> amplitudes;
    PerPolarisation<Powers<>> powers;
};

// One thread's solver: scratch space for the layer matrices of one point.
class CoherentPoint {
public:
    // The point the builder was last moved to.
    CoherentResult solve(PointBuilder& builder);

private:
    std::vector<TransferMatrix> layers_;  // by inner layer, where the plan reuses them
};

}  // namespace quilmo::lab
