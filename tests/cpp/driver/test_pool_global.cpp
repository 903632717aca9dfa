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
#include <string>
#include <thread>
#include <tuple>

#include "common/internal_error.hpp"
#include "driver/pool.hpp"
#include "driver/thread_count.hpp"

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define QUILMO_SANITIZED 1
#endif

namespace {

using quilmo::driver::global_pool;
using quilmo::driver::parallel_collect;

std::size_t thread_count_now() {
    std::size_t count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

struct ChildResult {
    int status = -1;     // exit status, or -1 when the child did not exit normally
    std::string output;  // what the child wrote to the pipe
};

// Runs `body` in a child process with its stderr silenced (unless a sanitizer
// is watching); `body` writes its findings to the FILE and returns the exit
// status. A child that hangs is killed after `seconds`.
ChildResult run_in_child(const std::function<int(FILE*)>& body, unsigned seconds = 60) {
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(seconds);
#ifndef QUILMO_SANITIZED  // a sanitizer's report must stay visible
        if (FILE* null = std::fopen("/dev/null", "w")) dup2(fileno(null), STDERR_FILENO);
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
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) result.output.append(buffer, std::size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

struct EnvCase {
    const char* num_threads;  // nullptr: unset
    const char* rs_num_cpus;
    std::size_t expected;  // 0: the default count
};

// With W = 0 or 1 (even these build the pool), the pool's size and the
// increase in the process's threads follow the environment; W = 1 computes
// its element on the calling thread.
class GlobalPoolEnv : public ::testing::TestWithParam<std::tuple<EnvCase, std::size_t>> {};

TEST_P(GlobalPoolEnv, WorkerCountFollowsTheEnvironment) {
    const auto& [c, count] = GetParam();
    const std::size_t expected = c.expected != 0 ? c.expected : quilmo::driver::default_thread_count();
    ChildResult child = run_in_child([&](FILE* out) {
        c.num_threads ? setenv("RAYON_NUM_THREADS", c.num_threads, 1) : unsetenv("RAYON_NUM_THREADS");
        c.rs_num_cpus ? setenv("RAYON_RS_NUM_CPUS", c.rs_num_cpus, 1) : unsetenv("RAYON_RS_NUM_CPUS");
        const std::size_t before = thread_count_now();
        const auto caller = std::this_thread::get_id();
        auto ids = parallel_collect<std::thread::id>(count, [](std::size_t) { return std::this_thread::get_id(); });
        std::fprintf(out, "%zu %zu %zu %d", global_pool().size(), thread_count_now() - before, ids.size(),
                     ids.size() == 0 || ids[0] == caller);
        return 0;
    });
    ASSERT_EQ(child.status, 0) << child.output;
    const std::string k = std::to_string(expected);
    EXPECT_EQ(child.output, k + " " + k + " " + std::to_string(count) + " 1")
        << "RAYON_NUM_THREADS=" << (c.num_threads ? c.num_threads : "(unset)")
        << " RAYON_RS_NUM_CPUS=" << (c.rs_num_cpus ? c.rs_num_cpus : "(unset)");
}

INSTANTIATE_TEST_SUITE_P(
    Table, GlobalPoolEnv,
    ::testing::Combine(
        ::testing::Values(
            EnvCase{nullptr, nullptr, 0}, EnvCase{"3", nullptr, 3}, EnvCase{"3", "5", 3}, EnvCase{"+8", nullptr, 8},
            EnvCase{"007", nullptr, 7},
            EnvCase{"0", "5", 0},  // "0" is the default; the second is not read
            EnvCase{nullptr, "5", 5}, EnvCase{nullptr, "0", 0}, EnvCase{"eight", "-1", 0},
            // not valid text, or past the machine word: the next variable is read
            EnvCase{" 8", "5", 5}, EnvCase{"8 ", "5", 5}, EnvCase{"-1", "5", 5}, EnvCase{"-0", "5", 5},
            EnvCase{"++8", "5", 5}, EnvCase{"+", "5", 5}, EnvCase{"8a", "5", 5}, EnvCase{"0x10", "5", 5},
            EnvCase{"eight", "5", 5}, EnvCase{"", "5", 5}, EnvCase{"\xff", "5", 5}, EnvCase{"8\xff", "5", 5},
            EnvCase{"18446744073709551616", "5", 5}, EnvCase{"99999999999999999999", "5", 5},
            // at most 255 workers
            EnvCase{"18446744073709551615", nullptr, 255}, EnvCase{"1000", nullptr, 255},
            EnvCase{nullptr, "1000", 255}, EnvCase{"255", nullptr, 255}, EnvCase{"256", nullptr, 255}),
        ::testing::Values(0, 1)));

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
                const std::size_t before = thread_count_now();
                auto values = parallel_collect<std::size_t>(3000, [](std::size_t i) { return 3 * i; });
                bool right = values.size() == 3000;
                for (std::size_t i = 0; right && i < 3000; ++i) right = values[i] == 3 * i;
                std::fprintf(inner, "%d %zu", right, thread_count_now() - before);
                return 0;
            },
            20);
        // The parent's pool still works after the fork, with the same workers:
        // the environment was read once, when the pool was built.
        setenv("RAYON_NUM_THREADS", "7", 1);
        const std::size_t threads = thread_count_now();
        auto after_fork = parallel_collect<std::size_t>(1000, [](std::size_t i) { return i + 1; });
        std::fprintf(out, "%d [%s] %d %zu %d", grandchild.status, grandchild.output.c_str(),
                     before_fork[999] == 999 && after_fork[999] == 1000, global_pool().size(),
                     thread_count_now() == threads);
        return 0;
    });
    ASSERT_EQ(child.status, 0) << child.output;
    EXPECT_EQ(child.output, "0 [1 2] 1 2 1");
}

TEST(GlobalPool, FailedBuildIsReportedAndNeverRetried) {
#ifdef QUILMO_SANITIZED
    GTEST_SKIP() << "an address-space limit cannot be combined with a sanitizer's shadow memory";
#else
    ChildResult child = run_in_child([](FILE* out) {
        setenv("RAYON_NUM_THREADS", "255", 1);
        const std::size_t before = thread_count_now();
        // Room for a few 2 MiB stacks, not for 255 of them.
        unsigned long pages = 0;
        FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%lu", &pages) != 1) return 2;
        std::fclose(statm);
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) + (24ul << 20);
        if (setrlimit(RLIMIT_AS, &limit) != 0) return 3;
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                parallel_collect<int>(1000, [](std::size_t) { return 0; });
                std::fputs("built|", out);
            } catch (const quilmo::InternalError& error) {
                std::fprintf(out, "%s|", error.what());
            }
        }
        std::fprintf(out, "%zu", thread_count_now() - before);
        return 0;
    });
    ASSERT_EQ(child.status, 0) << child.output;
    const std::string prefix = "The global thread pool has not been initialized.: ";
    const auto bar = child.output.find('|');
    ASSERT_NE(bar, std::string::npos) << child.output;
    EXPECT_EQ(child.output.rfind(prefix + "ThreadPoolBuildError { kind: IOError(", 0), 0u) << child.output;
    EXPECT_EQ(child.output.substr(bar + 1), prefix + "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }|0")
        << "the second call names the kind and the started workers were stopped";
#endif
}

}  // namespace
