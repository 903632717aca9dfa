// A coherent run: the media first .. last of a point, where the two ends are
// treated by intensity (the incidence and exit media, or incoherent inner
// layers) and every medium between them by amplitude. A run without inner
// layers is a single interface.
//
// The power fractions of a run lit from either end come from one transfer-
// matrix pass, the scaled pass of opaque.hpp (each layer's growing exponential
// carried beside the matrix as a logarithm), so an opaque layer makes t
// underflow to 0 instead of the matrix overflowing. With M the product:
// r = M10/M00, t = 1/M00, r' = -M01/M00, and t' = t (n c)_last / (n c)_first,
// since det M is the telescoping product of the interfaces' tau'/tau.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "lab/polarisation.hpp"
#include "lab/stack_media.hpp"
#include "optics/stack.hpp"

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

// The kernel's interface matrices of a stack, s and p in lanes: entry j joins
// media j and j + 1.
void interface_matrices(const StackMedia& stack, std::vector<optics::detail::MatrixLanes>& out);

// `interfaces` as interface_matrices gives them (a caller may keep those that
// stay the same from point to point).
PolPair<RunPowers> run_powers(const StackMedia& stack, Run run,
                              std::span<const optics::detail::MatrixLanes> interfaces) noexcept;

}  // namespace quilmo::lab
