#include "common/internal_error.hpp"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <execinfo.h>
#include <unistd.h>

namespace quilmo {

void report_internal_error(std::string_view message, std::source_location where) {
    char name[64] = "<unnamed>";
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) {
        name[0] = '\0';
    }
    std::fprintf(stderr, "\nthread '%s' hit an internal error at %s:%u:%u:\n%.*s\n", name,
                 where.file_name(), static_cast<unsigned>(where.line()),
                 static_cast<unsigned>(where.column()), static_cast<int>(message.size()),
                 message.data());
    const char* wanted = std::getenv("QUILMO_BACKTRACE");
    if (wanted != nullptr && wanted[0] != '\0' && wanted[0] != '0') {
        void* frames[64];
        int count = backtrace(frames, 64);
        std::fflush(stderr);
        backtrace_symbols_fd(frames, count, STDERR_FILENO);
    } else {
        std::fputs("note: set QUILMO_BACKTRACE=1 to print a backtrace\n", stderr);
    }
    std::fflush(stderr);
}

void panic(std::string message, std::source_location where) {
    report_internal_error(message, where);
    throw InternalError(std::move(message));
}

void resume_panic(std::string message) { throw InternalError(std::move(message)); }

void fatal(std::string_view line) noexcept {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    std::fflush(stderr);
    std::abort();
}

}  // namespace quilmo
