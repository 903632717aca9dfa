// The one loop over a grid's points that every grid driver runs its
// per-point function in.
//
// The points are cut into consecutive pieces spread over the threads
// (core/pools.hpp), none so long that the calling thread waits long to see
// an interrupt between two of them; each piece makes its own per-point function, with its own
// scratch space and point builder, from the wavelengths it visits, and calls
// it for its points in grid order. A point's result depends on nothing but
// its inputs, so any cut gives the same bits.
#pragma once

#include <algorithm>
#include <cstddef>

#include "lab/core/grid.hpp"
#include "lab/core/pools.hpp"

namespace quilmo::lab {

// Calls body(p, place) for every point p of `grid`, where each piece of work
// gets body = make_body(columns it visits). `threads` 0 means
// default_threads(); pieces are no shorter than `grain` points, a size at
// which waking a worker costs less than the work it takes.
// Throws Interrupted when the calling thread's InterruptProbe asks to abandon
// the grid.
template <class MakeBody>
void for_each_point(const Grid& grid, std::size_t threads, std::size_t grain, const MakeBody& make_body) {
    // Media of points in one piece: some milliseconds of the costliest solver.
    constexpr std::size_t piece_media = std::size_t{1} << 16;
    const std::size_t points = grid.points();
    if (points == 0) {
        return;
    }
    const std::size_t longest = std::max<std::size_t>(1, piece_media / std::max<std::size_t>(grid.media, 1));
    parallel_ranges(points, threads == 0 ? default_threads() : threads, grain, longest,
                    [&](std::size_t begin, std::size_t end) {
                        auto body = make_body(columns_of(begin, end, grid.wavelength_count));
                        Grid::Place at = grid.place(begin);
                        for (std::size_t p = begin; p < end; ++p, grid.advance(at)) {
                            body(p, at);
                        }
                    });
}

}  // namespace quilmo::lab
