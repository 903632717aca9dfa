#include "lab/coherent/coherent_grid.hpp"

#include "lab/core/grid_loop.hpp"
#include "lab/core/thread_scratch.hpp"

namespace quilmo::lab {

namespace {

// Points below this many stay on one thread: waking a worker costs about as
// much as computing them.
constexpr std::size_t grain = 128;

}  // namespace

void solve_coherent(const Grid& grid, const CoherentOutputs& out, std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const CoherentPlanes planes(out, grid.points());
    struct Scratch {
        PointBuilder builder;
        CoherentPoint solver;
    };
    for_each_point(grid, threads, grain, [&](Columns columns) {
        ScratchHold<Scratch> hold(grid.media);
        Scratch& s = hold.get();
        s.builder.reset(grid, sines, columns);
        return [&, &s = s, hold = std::move(hold)](std::size_t p, const Grid::Place& at) {
            s.builder.move_to(at);
            planes.write(p, s.solver.solve(s.builder));
        };
    });
}

}  // namespace quilmo::lab
