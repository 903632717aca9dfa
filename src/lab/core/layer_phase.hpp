// The phase a wave gathers crossing a layer, with the kernel's operations, so
// that the engine's routines agree bit for bit with its layer matrices.
#pragma once

#include <cmath>

#include "lab/core/kernel_names.hpp"

namespace quilmo::lab {

// delta / t = 2 pi n c / wavelength, as the kernel's layer matrix computes it.
inline Complex layer_wavenumber(const Medium& m, double wavelength) noexcept {
    return optics::kernel::phase_numerator(m) / wavelength;
}

// e^{i delta} for a pass through thickness t, delta = 2 pi n c t / wavelength:
// the operations of the kernel's layer matrix for its e+ entry, so the two
// agree bit for bit. |e^{i delta}| <= 1 wherever Im(n c) >= 0.
inline Complex phase_factor(const Medium& m, double wavelength, double t) noexcept {
    const Complex phase = layer_wavenumber(m, wavelength);
    return optics::cexp({-(phase.im) * t, phase.re * t});
}

// The fraction of power left after one pass through thickness t, |e^{i delta}|^2
// written as one real exponential: it may underflow to 0, never overflow.
inline double pass_transmission(const Medium& m, double wavelength, double t) noexcept {
    return std::exp(-2.0 * (layer_wavenumber(m, wavelength).im * t));
}

}  // namespace quilmo::lab
