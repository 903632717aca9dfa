// How every function of quilmo_lab._engine runs its grid: with the
// interpreter lock released, the calling thread asking meanwhile whether a
// signal is pending (Ctrl-C), and the engine's failures raised in our words.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>
#include <new>
#include <optional>
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

// Whether the calling thread is the one that runs signal handlers (the main
// thread); the lock is held.
inline bool runs_signal_handlers() {
    const nb::module_ threading = nb::module_::import_("threading");
    return threading.attr("current_thread")().is(threading.attr("main_thread")());
}

// "2 stacks x 3 angles x 1000 wavelengths of 5 media".
inline std::string grid_text(const Grid& grid) {
    return std::to_string(grid.stacks) + " stacks x " + std::to_string(grid.angle_count) + " angles x " +
           std::to_string(grid.wavelength_count) + " wavelengths of " + std::to_string(grid.media) + " media";
}

inline void set_memory_error(const Grid& grid) {
    PyErr_SetString(PyExc_MemoryError,
                    ("the working memory of a grid of " + grid_text(grid) + " could not be allocated").c_str());
}

// Runs work() without the lock. A signal handler's exception (KeyboardInterrupt)
// abandons the grid within a piece of work and is raised; memory that ran out
// is a MemoryError naming the grid. Only the main thread probes: on any other
// (a Dask worker's task threads) no handler can run, and the probe would take
// the lock every period for nothing, waiting for it while an event loop holds it.
template <class Work>
void run_released(const Grid& grid, const Work& work) {
    bool interrupted = false;
    bool exhausted = false;
    const bool probed = runs_signal_handlers();
    {
        nb::gil_scoped_release released;
        std::optional<InterruptProbe> probe;
        if (probed) {
            probe.emplace(&signal_raised, nullptr);
        }
        try {
            work();
        } catch (const Interrupted&) {
            interrupted = true;
        } catch (const std::bad_alloc&) {
            exhausted = true;
        }
    }
    if (exhausted) {
        set_memory_error(grid);
    }
    if (interrupted || exhausted) {
        throw nb::python_error();
    }
}

// Stacks of at least this many media make one point long enough (tens of
// microseconds) for other threads to gain from the lock released meanwhile.
inline constexpr std::size_t point_released_media = 1024;

// Runs the work of a grid of one point. The grid loop looks for an interrupt
// only between pieces of work, and one point is one piece, so there is no
// probe; a short point keeps the lock, whose release and the look for the
// main thread would cost more than the point itself.
template <class Work>
void run_point(const Grid& grid, const Work& work) {
    if (grid.media >= point_released_media) {
        run_released(grid, work);
        return;
    }
    try {
        work();
    } catch (const std::bad_alloc&) {
        set_memory_error(grid);
        throw nb::python_error();
    }
}

}  // namespace quilmo::lab::bind
