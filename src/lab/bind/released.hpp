// How every function of quilmo_lab._engine runs its grid: with the
// interpreter lock released, the calling thread asking meanwhile whether a
// signal is pending (Ctrl-C), and the engine's failures raised in our words.
#pragma once

#include <nanobind/nanobind.h>

#include <new>
#include <string>

#include "lab/core/grid.hpp"
#include "lab/core/interrupts.hpp"

namespace quilmo::lab::bind {

namespace nb = nanobind;

// Runs the interpreter's signal handlers on the calling thread (the main
// thread's only); true when one raised, its exception left set.
inline bool signal_raised(void*) noexcept {
    nb::gil_scoped_acquire acquired;
    return PyErr_CheckSignals() != 0;
}

// "2 stacks x 3 angles x 1000 wavelengths of 5 media".
inline std::string grid_text(const Grid& grid) {
    return std::to_string(grid.stacks) + " stacks x " + std::to_string(grid.angle_count) + " angles x " +
           std::to_string(grid.wavelength_count) + " wavelengths of " + std::to_string(grid.media) + " media";
}

// Runs work() without the lock. A signal handler's exception (KeyboardInterrupt)
// abandons the grid within a piece of work and is raised; memory that ran out
// is a MemoryError naming the grid.
template <class Work>
void run_released(const Grid& grid, const Work& work) {
    bool interrupted = false;
    bool exhausted = false;
    {
        nb::gil_scoped_release released;
        InterruptProbe probe(&signal_raised, nullptr);
        try {
            work();
        } catch (const Interrupted&) {
            interrupted = true;
        } catch (const std::bad_alloc&) {
            exhausted = true;
        }
    }
    if (exhausted) {
        PyErr_SetString(PyExc_MemoryError,
                        ("the working memory of a grid of " + grid_text(grid) + " could not be allocated").c_str());
    }
    if (interrupted || exhausted) {
        throw nb::python_error();
    }
}

}  // namespace quilmo::lab::bind
