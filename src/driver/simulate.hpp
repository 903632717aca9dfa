// The computation of one `simulate` call, free of Python: for every
// wavelength its two stack matrices and, from them at once, its reflectance
// and transmittance (on the calling thread up to SEQUENTIAL_LIMIT wavelengths,
// on the worker pool above). Values that constant media share between
// wavelengths are computed once per call.
#pragma once

#include <cstddef>

#include "common/owned_array.hpp"
#include "optics/complex.hpp"

namespace quilmo::driver {

inline constexpr std::size_t SEQUENTIAL_LIMIT = 100;

// Read-only views of a set-up's stored arrays. The owner keeps them alive and
// unchanged for the whole call (the caller holds a reference and a shared
// borrow of the object, whose arrays never change).
struct RunContext {
    View1<double> d;
    View2<optics::Complex> n;
    View1<double> wl;
    double theta;
    double phi;
};

struct Spectra {
    Buffer<double> transmittance;
    Buffer<double> reflectance;
};

// Throws InternalError ("ndarray: index out of bounds" for an inconsistent
// set-up, or a pool failure) and OutOfMemory; returns both spectra, W each.
Spectra run_simulation(const RunContext& context);

}  // namespace quilmo::driver
