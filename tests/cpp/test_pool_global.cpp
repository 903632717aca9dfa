// The process-wide pool. It is built once per process, so every test runs its
// body in a forked child (this test process itself never builds it) and the
// child reports back through its exit status and a pipe.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "common/internal_error.hpp"
#include "driver/pool.hpp"
#include "driver/thread_count.hpp"

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define QUILMO_SANITIZED 1
#endif

namespace {

using quilmo::InternalError;
using quilmo::driver::global_pool;
using quilmo::driver::parallel_collect;

std::size_t thread_count_now() {
    std::size_t count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        closedir(dir);
    }
    return count;
}

struct ChildResult {
    int status = -1;     // exit status, or -1 when the child did not exit normally
    std::string output;  // what the child wrote to the pipe
};

// Runs `body` in a child process with its stderr silenced (unless a
// sanitizer is watching); `body` writes its
// findings to the FILE and returns the exit status. A child that hangs is
// killed after `seconds`.
ChildResult run_in_child(const std::function<int(FILE*)>& body, unsigned seconds = 60) {
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(seconds);
#ifndef QUILMO_SANITIZED  // a sanitizer's report must stay visible
        if (FILE* null = std::fopen("/dev/null", "w")) {
            dup2(fileno(null), STDERR_FILENO);
        }
#endif
        // ThreadSanitizer starts a helper thread along with the process's first
        // new thread; have that happen before any thread count is taken.
        std::thread([] {}).join();
        FILE* out = fdopen(fds[1], "w");
        int status = 1;
        try {
            status = body(out);
        } catch (...) {
            std::fputs("uncaught exception", out);
        }
        std::fflush(out);
        _exit(status);
    }
    close(fds[1]);
    ChildResult result;
    char buffer[512];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void set_env(const char* name, const char* value) {
    if (value == nullptr) {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
}

// Builds the global pool under the given environment; writes
// "<size> <threads started>".
ChildResult pool_size_with(const char* num_threads, const char* rs_num_cpus) {
    return run_in_child([=](FILE* out) {
        set_env("RAYON_NUM_THREADS", num_threads);
        set_env("RAYON_RS_NUM_CPUS", rs_num_cpus);
        std::size_t before = thread_count_now();
        std::size_t size = global_pool().size();
        std::size_t after = thread_count_now();
        std::fprintf(out, "%zu %zu", size, after - before);
        return 0;
    });
}

struct EnvCase {
    const char* num_threads;  // nullptr: unset
    const char* rs_num_cpus;
    std::size_t expected;     // 0: the default count
};

class GlobalPoolEnv : public ::testing::TestWithParam<EnvCase> {};

TEST_P(GlobalPoolEnv, WorkerCountFollowsTheEnvironment) {
    const EnvCase& c = GetParam();
    std::size_t expected = c.expected != 0 ? c.expected : quilmo::driver::default_thread_count();
    ChildResult child = pool_size_with(c.num_threads, c.rs_num_cpus);
    ASSERT_EQ(child.status, 0) << child.output;
    std::string want = std::to_string(expected) + " " + std::to_string(expected);
    EXPECT_EQ(child.output, want) << "RAYON_NUM_THREADS=" << (c.num_threads ? c.num_threads : "(unset)")
                                  << " RAYON_RS_NUM_CPUS=" << (c.rs_num_cpus ? c.rs_num_cpus : "(unset)");
}

INSTANTIATE_TEST_SUITE_P(
    Table, GlobalPoolEnv,
    ::testing::Values(EnvCase{nullptr, nullptr, 0},
                      EnvCase{"3", nullptr, 3},
                      EnvCase{"3", "5", 3},
                      EnvCase{"+8", nullptr, 8},
                      EnvCase{"0", "5", 0},       // "0" is the default; the second is not read
                      EnvCase{nullptr, "5", 5},
                      EnvCase{nullptr, "0", 0},
                      EnvCase{" 8", "5", 5},
                      EnvCase{"8 ", "5", 5},
                      EnvCase{"-1", "5", 5},
                      EnvCase{"eight", "5", 5},
                      EnvCase{"", "5", 5},
                      EnvCase{"\xff", "5", 5},
                      EnvCase{"18446744073709551616", "5", 5},
                      EnvCase{"eight", "-1", 0},
                      EnvCase{"18446744073709551615", nullptr, 255},
                      EnvCase{"1000", nullptr, 255},
                      EnvCase{nullptr, "1000", 255},
                      EnvCase{"255", nullptr, 255},
                      EnvCase{"256", nullptr, 255}));

TEST(GlobalPool, EmptyAndSingleCollectsStillBuildThePool) {
    for (std::size_t count : {0ul, 1ul}) {
        ChildResult child = run_in_child([count](FILE* out) {
            setenv("RAYON_NUM_THREADS", "3", 1);
            std::size_t before = thread_count_now();
            auto caller = std::this_thread::get_id();
            bool on_caller = true;
            auto result = parallel_collect<int>(count, [&](std::size_t i) {
                on_caller = on_caller && std::this_thread::get_id() == caller;
                return static_cast<int>(i) + 7;
            });
            std::fprintf(out, "%zu %zu %d %d", thread_count_now() - before, result.size(),
                         count == 1 ? result[0] : -1, on_caller ? 1 : 0);
            return 0;
        });
        ASSERT_EQ(child.status, 0) << child.output;
        EXPECT_EQ(child.output, count == 0 ? "3 0 -1 1" : "3 1 7 1");
    }
}

TEST(GlobalPool, BuiltOnceAndReused) {
    ChildResult child = run_in_child([](FILE* out) {
        setenv("RAYON_NUM_THREADS", "2", 1);
        auto first = parallel_collect<std::size_t>(5000, [](std::size_t i) { return i * i; });
        std::size_t threads = thread_count_now();
        setenv("RAYON_NUM_THREADS", "7", 1);  // read only when the pool is built
        auto second = parallel_collect<std::size_t>(5000, [](std::size_t i) { return i + 1; });
        bool right = true;
        for (std::size_t i = 0; i < 5000; ++i) {
            right = right && first[i] == i * i && second[i] == i + 1;
        }
        std::fprintf(out, "%zu %d %d", global_pool().size(), thread_count_now() == threads, right);
        return 0;
    });
    ASSERT_EQ(child.status, 0) << child.output;
    EXPECT_EQ(child.output, "2 1 1");
}

TEST(GlobalPool, ChildForkedAfterThePoolStartedBuildsItsOwn) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer does not follow threads started after a fork of a "
                    "process with running threads (glibc hands the vanished workers' "
                    "thread ids out again)";
#endif
    ChildResult child = run_in_child([](FILE* out) {
        setenv("RAYON_NUM_THREADS", "2", 1);
        auto before_fork = parallel_collect<std::size_t>(1000, [](std::size_t i) { return i; });
        // A grandchild: the parent's two workers do not exist there.
        ChildResult grandchild = run_in_child(
            [](FILE* inner) {
                std::size_t before = thread_count_now();
                auto values = parallel_collect<std::size_t>(3000, [](std::size_t i) { return 3 * i; });
                bool right = values.size() == 3000;
                for (std::size_t i = 0; right && i < 3000; ++i) {
                    right = values[i] == 3 * i;
                }
                std::fprintf(inner, "%d %zu", right ? 1 : 0, thread_count_now() - before);
                return 0;
            },
            20);
        // The parent's pool still works after the fork.
        auto after_fork = parallel_collect<std::size_t>(1000, [](std::size_t i) { return i + 1; });
        std::fprintf(out, "%d [%s] %d", grandchild.status, grandchild.output.c_str(),
                     before_fork[999] == 999 && after_fork[999] == 1000 ? 1 : 0);
        return 0;
    });
    ASSERT_EQ(child.status, 0) << child.output;
    EXPECT_EQ(child.output, "0 [1 2] 1");
}

TEST(GlobalPool, FailedBuildIsReportedAndNeverRetried) {
#ifdef QUILMO_SANITIZED
    GTEST_SKIP() << "an address-space limit cannot be combined with a sanitizer's shadow memory";
#else
    ChildResult child = run_in_child([](FILE* out) {
        setenv("RAYON_NUM_THREADS", "255", 1);
        // Room for a few 2 MiB stacks, not for 255 of them.
        std::size_t before = thread_count_now();
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        FILE* status = std::fopen("/proc/self/statm", "r");
        unsigned long pages = 0;
        if (status == nullptr || std::fscanf(status, "%lu", &pages) != 1) {
            return 2;
        }
        std::fclose(status);
        limit.rlim_cur = pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) + (24ul << 20);
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            return 3;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                parallel_collect<int>(1000, [](std::size_t) { return 0; });
                std::fputs("built|", out);
            } catch (const InternalError& error) {
                std::fprintf(out, "%s|", error.what());
            }
        }
        std::fprintf(out, "%zu", thread_count_now() - before);
        return 0;
    });
    ASSERT_EQ(child.status, 0) << child.output;
    const std::string prefix = "The global thread pool has not been initialized.: ";
    auto bar = child.output.find('|');
    ASSERT_NE(bar, std::string::npos) << child.output;
    std::string first = child.output.substr(0, bar);
    EXPECT_EQ(first.rfind(prefix + "ThreadPoolBuildError { kind: IOError(", 0), 0u) << first;
    std::string rest = child.output.substr(bar + 1);
    EXPECT_EQ(rest, prefix + "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }|0")
        << "the second call names the kind and the started workers were stopped";
#endif
}

}  // namespace
