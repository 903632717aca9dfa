// A coherent run: the media first .. last of a point, where the two ends are
// treated by intensity (the incidence and exit media, or incoherent inner
// layers) and every medium between them by amplitude. A run without inner
// layers is a single interface.
//
// The power fractions of a run lit from either end come from one transfer-
// matrix pass. Each layer's growing exponential is taken out of its matrix,
// diag(e^{-i delta}, e^{i delta}) = e^{-i delta} diag(1, e^{2i delta}), and the
// product of the factors e^{i delta} is carried beside the matrix, so an
// opaque layer makes t underflow to 0 instead of the matrix overflowing.
// With M the scaled product: r = M10/M00, t = (prod e^{i delta})/M00,
// r' = -M01/M00, and t' = t W_last/W_first with W = n c, since det M is the
// telescoping product of the interfaces' tau'/tau.
#pragma once

#include <cstddef>

#include "lab/polarisation.hpp"
#include "lab/stack_media.hpp"

namespace quilmo::lab {

struct Run {
    std::size_t first;
    std::size_t last;
};

// Fractions of incident power, from the front (first medium) and from the
// back (last medium), referred to the flux in the medium the light comes from.
struct RunPowers {
    double R;
    double T;
    double R_back;
    double T_back;
};

PolPair<RunPowers> run_powers(const StackMedia& stack, Run run) noexcept;

}  // namespace quilmo::lab
