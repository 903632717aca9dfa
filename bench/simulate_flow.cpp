// Compares the simulate flow as built (read-only views of the stored arrays,
// one parallel pass computing each wavelength's s and p matrices and from
// them its R and T, with the values of constant media computed once per call)
// with the literal flow (deep copies of the three arrays, an s run followed by
// a p run, then pairing, then the R and T passes). Both give the same bits;
// this prints their times, for stacks of constant indices and for their
// dispersive twins.
//
//     bench_simulate_flow [--quick]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>

#include "driver/pool.hpp"
#include "driver/simulate.hpp"
#include "optics/power.hpp"
#include "optics/stack.hpp"

using namespace quilmo;
using optics::Complex;
using optics::MatrixPair;
using optics::TransferMatrix;

namespace {

struct Stack {
    Buffer<double> d;
    Buffer<Complex> n;  // row-major, media x count
    Buffer<double> wl;
    std::size_t media;
    std::size_t count;

    driver::RunContext context() const {
        return {View1<double>{d.data(), d.size(), 1},
                View2<Complex>{n.data(), media, count, static_cast<std::ptrdiff_t>(count), 1},
                View1<double>{wl.data(), wl.size(), 1}, 0.3, 0.4};
    }
};

template <class T>
Buffer<T> filled(std::size_t size) {
    Buffer<T> out = Buffer<T>::with_capacity(size);
    out.set_size(size);
    return out;
}

// Every index the same at every wavelength, or (dispersive) raised by 1e-9
// per wavelength, which leaves the work the same and rules out any reuse.
Stack absorbing_stack(std::size_t media, std::size_t count, bool dispersive) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> real(1.3, 2.5), imag(0.0, 0.05), thick(40.0, 200.0);
    Stack s{filled<double>(media - 2), filled<Complex>(media * count), filled<double>(count), media, count};
    for (std::size_t j = 0; j + 2 < media; ++j) s.d[j] = thick(rng);
    for (std::size_t j = 0; j < media; ++j) {
        Complex index{real(rng), j == 0 || j + 1 == media ? 0.0 : imag(rng)};
        for (std::size_t a = 0; a < count; ++a) {
            const double step = dispersive ? 1e-9 * static_cast<double>(a) : 0.0;
            s.n[j * count + a] = {index.re + step, index.im};
        }
    }
    for (std::size_t a = 0; a < count; ++a) s.wl[a] = 400.0 + 600.0 * static_cast<double>(a) / static_cast<double>(count);
    return s;
}

template <class T>
Buffer<T> deep_copy(const Buffer<T>& source) {
    Buffer<T> copy = filled<T>(source.size());
    if (source.size() != 0) std::memcpy(copy.data(), source.data(), source.size() * sizeof(T));
    return copy;
}

// The flow step by step as first described: copies, s run, p run, pairing.
driver::Spectra literal_flow(const Stack& stack) {
    Stack copy{deep_copy(stack.d), deep_copy(stack.n), deep_copy(stack.wl), stack.media, stack.count};
    driver::RunContext c = copy.context();
    auto run = [&](int pol) {
        return driver::parallel_collect<TransferMatrix>(c.wl.len, [&](std::size_t i) {
            return optics::transfer_matrix(c.d, c.n, c.wl, c.theta, i, pol);
        });
    };
    Buffer<TransferMatrix> s = run(0);
    Buffer<TransferMatrix> p = run(1);
    Buffer<MatrixPair> pairs = filled<MatrixPair>(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) pairs[i] = MatrixPair{s[i], p[i]};
    s = Buffer<TransferMatrix>();
    p = Buffer<TransferMatrix>();
    Buffer<double> r = filled<double>(pairs.size());
    Buffer<double> t = filled<double>(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) r[i] = optics::reflectance(pairs[i], c.phi);
    for (std::size_t i = 0; i < pairs.size(); ++i)
        t[i] = optics::transmittance(pairs[i], c.n.at(0, i), c.n.at(c.n.rows - 1, i), c.theta, c.phi);
    return {std::move(t), std::move(r)};
}

template <class F>
double best_seconds(F f, int repeats) {
    double best = 1e300;
    for (int k = 0; k < repeats; ++k) {
        auto start = std::chrono::steady_clock::now();
        driver::Spectra out = f();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (out.reflectance.size() == 0) std::puts("empty");
        best = seconds < best ? seconds : best;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    struct Case { std::size_t media, count; } cases[] = {{3, 1000000}, {12, 100000}, {42, 100000}, {42, 1000000}};
    std::printf("pool threads: %zu\n", driver::global_pool().size());
    std::printf("%6s %9s %10s %14s %14s %8s %s\n", "media", "W", "index", "literal us/wl", "built us/wl", "ratio",
                "same bits");
    for (int k = 0; k < 2 * static_cast<int>(std::size(cases)); ++k) {
        Case c = cases[k / 2];
        const bool dispersive = k % 2 == 1;
        if (quick && c.count > 1000) c.count = 1000;
        Stack stack = absorbing_stack(c.media, c.count, dispersive);
        const int repeats = quick ? 1 : (c.count >= 1000000 ? 3 : 7);
        double literal = best_seconds([&] { return literal_flow(stack); }, repeats);
        double built = best_seconds([&] { return driver::run_simulation(stack.context()); }, repeats);
        driver::Spectra a = literal_flow(stack), b = driver::run_simulation(stack.context());
        bool same = std::memcmp(a.reflectance.data(), b.reflectance.data(), c.count * 8) == 0 &&
                    std::memcmp(a.transmittance.data(), b.transmittance.data(), c.count * 8) == 0;
        std::printf("%6zu %9zu %10s %14.3f %14.3f %8.2f %s\n", c.media, c.count,
                    dispersive ? "dispersive" : "constant", literal / c.count * 1e6,
                    built / c.count * 1e6, literal / built, same ? "yes" : "NO");
    }
    return 0;
}
