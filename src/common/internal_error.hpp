// Internal errors: the report of a broken invariant.
//
// An internal error abandons the current call. It unwinds as the C++ exception
// `InternalError`, releasing everything the call holds on the way out, until the
// entry wrapper at the Python boundary turns it into `PanicException`. This file
// knows nothing of Python so that the kernel and the pool can raise it too.
#pragma once

#include <exception>
#include <source_location>
#include <string>
#include <string_view>

namespace quilmo {

class InternalError : public std::exception {
public:
    explicit InternalError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// A memory request that cannot be met. The boundary raises it as MemoryError;
// nothing that throws it has been half-built.
class OutOfMemory : public std::exception {
public:
    const char* what() const noexcept override { return "out of memory"; }
};

// Writes the report (thread, source position, text, backtrace hint) to standard
// error, then throws InternalError carrying `message`.
[[noreturn]] void panic(std::string message,
                        std::source_location where = std::source_location::current());

// Writes the report of an internal error to standard error without throwing.
void report_internal_error(std::string_view message,
                           std::source_location where = std::source_location::current());

// Throws InternalError without writing a report: for an internal error that was
// already reported once (a PanicException coming back from Python).
[[noreturn]] void resume_panic(std::string message);

// Ends the process: writes `line` and a newline to standard error, then aborts.
// For failures that cannot be carried anywhere.
[[noreturn]] void fatal(std::string_view line) noexcept;

}  // namespace quilmo
