#include "driver/simulate.hpp"

#include "driver/pool.hpp"
#include "optics/power.hpp"
#include "optics/stack.hpp"

namespace quilmo::driver {

namespace {

using optics::MatrixPair;

// The s and p matrices of every wavelength. The two polarisations of one
// wavelength share their roots and exponentials, so they are computed in one
// pass; the index checks do not depend on the polarisation, so the first
// failing index and its error are the same as for an s run followed by a p run.
Buffer<MatrixPair> matrix_pairs(const RunContext& context) {
    const std::size_t count = context.wl.len;
    const optics::StackInputs stack =
        optics::make_stack_inputs(context.d, context.n, context.wl, context.theta);
    if (count <= SEQUENTIAL_LIMIT) {
        Buffer<MatrixPair> pairs = Buffer<MatrixPair>::with_capacity(count);
        for (std::size_t i = 0; i < count; ++i) {
            pairs[i] = optics::transfer_matrix_pair(stack, i);
        }
        pairs.set_size(count);
        return pairs;
    }
    return parallel_collect<MatrixPair>(
        count, [&stack](std::size_t i) { return optics::transfer_matrix_pair(stack, i); });
}

}  // namespace

Spectra run_simulation(const RunContext& context) {
    Buffer<MatrixPair> pairs = matrix_pairs(context);
    const std::size_t count = pairs.size();
    const optics::Angles angles = optics::make_angles(context.theta, context.phi);

    Buffer<double> reflectance = Buffer<double>::with_capacity(count);
    for (std::size_t i = 0; i < count; ++i) {
        reflectance[i] = optics::reflectance(pairs[i], angles.phi);
    }
    reflectance.set_size(count);

    Buffer<double> transmittance = Buffer<double>::with_capacity(count);
    const std::size_t media = context.n.rows;
    for (std::size_t i = 0; i < count; ++i) {
        if (media == 0 || i >= context.n.cols) {
            panic("ndarray: index out of bounds");
        }
        transmittance[i] =
            optics::transmittance(pairs[i], context.n.at(0, i), context.n.at(media - 1, i), angles);
    }
    transmittance.set_size(count);
    return Spectra{std::move(transmittance), std::move(reflectance)};
}

}  // namespace quilmo::driver
