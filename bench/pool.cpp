// Speed of parallel_collect against a plain loop, and the fixed cost of one
// call. Prints figures; checks nothing.
//
//   bench_pool           full run
//   bench_pool --quick   a short smoke run
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/owned_array.hpp"
#include "driver/pool.hpp"

namespace {

using quilmo::Buffer;
using quilmo::driver::parallel_collect;
using quilmo::driver::ThreadPool;
using Clock = std::chrono::steady_clock;

// As large as one matrix pair.
struct Block {
    double v[8];
};

// About a microsecond of dependent floating-point work, like one stack
// evaluation: a chain of complex multiplications and divisions.
Block kernel(std::size_t i) {
    double re = 1.0 + 1e-7 * static_cast<double>(i), im = 0.25;
    double ar = 0.999, ai = 0.01 * static_cast<double>(i % 17);
    for (int step = 0; step < 48; ++step) {
        double r = re * ar - im * ai;
        double m = re * ai + im * ar;
        double scale = 1.0 / std::sqrt(r * r + m * m);
        re = r * scale + 1e-3;
        im = m * scale;
    }
    Block out;
    for (int k = 0; k < 8; ++k) {
        out.v[k] = re * (k + 1) - im;
    }
    return out;
}

Block trivial(std::size_t i) {
    Block out{};
    out.v[0] = static_cast<double>(i);
    return out;
}

double checksum(const Buffer<Block>& values) {
    double sum = 0;
    for (std::size_t i = 0; i < values.size(); i += 97) {
        sum += values[i].v[0];
    }
    return sum;
}

volatile double g_sink;

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Timing {
    double wall;  // best of the repetitions
    double busy;  // processor time over wall time in that repetition: the
                  // cores actually working (below K when the machine is shared)
};

template <class F>
Timing best_of(int reps, F&& run) {
    Timing best{1e300, 0};
    for (int r = 0; r < reps; ++r) {
        double cpu0 = cpu_seconds();
        auto start = Clock::now();
        run();
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        if (wall < best.wall) {
            best = Timing{wall, (cpu_seconds() - cpu0) / wall};
        }
    }
    return best;
}

Buffer<Block> sequential(std::size_t count, Block (*f)(std::size_t)) {
    auto out = Buffer<Block>::with_capacity(count);
    for (std::size_t i = 0; i < count; ++i) {
        ::new (static_cast<void*>(out.data() + i)) Block(f(i));
    }
    out.set_size(count);
    return out;
}

void speedups(const std::vector<std::size_t>& worker_counts, std::size_t count, int reps,
              const char* name, Block (*f)(std::size_t)) {
    double seq = best_of(reps, [&] { g_sink = checksum(sequential(count, f)); }).wall;
    std::printf("%-8s W=%-8zu sequential %9.3f ms  (%.3f us/element)\n", name, count, seq * 1e3,
                seq * 1e6 / static_cast<double>(count));
    for (std::size_t k : worker_counts) {
        ThreadPool pool(k);
        g_sink = checksum(parallel_collect<Block>(pool, count, f));  // warm up
        Timing par = best_of(reps, [&] {
            g_sink = checksum(parallel_collect<Block>(pool, count, f));
        });
        std::printf("%-8s W=%-8zu K=%-3zu     %9.3f ms  speed-up %.2f  (cores busy %.2f)\n", name,
                    count, k, par.wall * 1e3, seq / par.wall, par.busy);
    }
}

void overhead(const std::vector<std::size_t>& worker_counts, int calls) {
    for (std::size_t k : worker_counts) {
        ThreadPool pool(k);
        for (int i = 0; i < 100; ++i) {
            g_sink = checksum(parallel_collect<Block>(pool, 101, trivial));
        }
        // Back to back: the workers are still looking for work.
        auto start = Clock::now();
        for (int i = 0; i < calls; ++i) {
            g_sink = checksum(parallel_collect<Block>(pool, 101, trivial));
        }
        double hot = std::chrono::duration<double>(Clock::now() - start).count() / calls;
        // After a pause: the workers have gone to sleep and must be woken.
        double cold = 0;
        int cold_calls = std::max(calls / 50, 5);
        for (int i = 0; i < cold_calls; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            auto t0 = Clock::now();
            g_sink = checksum(parallel_collect<Block>(pool, 101, trivial));
            cold += std::chrono::duration<double>(Clock::now() - t0).count();
        }
        cold /= cold_calls;
        std::printf("overhead W=101 K=%-3zu  back-to-back %7.2f us/call   after idle %7.2f us/call\n",
                    k, hot * 1e6, cold * 1e6);
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    std::vector<std::size_t> workers = {1, 2};
    std::size_t cores = std::thread::hardware_concurrency();
    for (std::size_t k = 4; k <= cores; k *= 2) {
        workers.push_back(k);
    }
    if (cores > 2 && std::find(workers.begin(), workers.end(), cores) == workers.end()) {
        workers.push_back(cores);
    }
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("pool benchmark (%u hardware threads, load average %.2f)%s\n",
                std::thread::hardware_concurrency(), load[0], quick ? ", quick" : "");
    int reps = quick ? 2 : 7;
    std::vector<std::size_t> sizes = quick ? std::vector<std::size_t>{100000}
                                           : std::vector<std::size_t>{100000, 1000000};
    for (std::size_t count : sizes) {
        speedups(workers, count, reps, "kernel", kernel);
        speedups(workers, count, reps, "trivial", trivial);
    }
    overhead(workers, quick ? 200 : 5000);
    return 0;
}
