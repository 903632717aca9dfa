#include "lab/coherent/coherent_grid.hpp"

#include "lab/coherent/coherent_point.hpp"
#include "lab/core/grid_loop.hpp"
#include "lab/core/output_planes.hpp"

namespace quilmo::lab {

namespace {

// Points below this many stay on one thread: waking a worker costs about as
// much as computing them.
constexpr std::size_t grain = 128;

}  // namespace

void solve_coherent(const Grid& grid, const CoherentOutputs& out, std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const PointPlanes<Complex> amplitudes{out.amplitudes, grid.points()};
    const PointPlanes<double> powers{out.powers, grid.points()};
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), solver = CoherentPoint()](
                   std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            const CoherentResult r = solver.solve(builder);
            for (const int pol : {pol_s, pol_p}) {
                amplitudes(pol, p) = r.amplitudes[pol].r;
                amplitudes(2 + pol, p) = r.amplitudes[pol].t;
                powers(pol, p) = r.powers[pol].R;
                powers(2 + pol, p) = r.powers[pol].T;
            }
        };
    });
}

}  // namespace quilmo::lab
