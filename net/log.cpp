#include "net/log.h"

#include <unistd.h>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "net/adaptive_mutex.h"
#include "net/log_line.h"

namespace net {

namespace {

// Never destroyed, so that a line logged during exit still finds it.
adaptive_mutex& output_lock() {
    static adaptive_mutex* const lock = new adaptive_mutex;
    return *lock;
}

// The lock keeps lines whole even when the descriptor takes a line in parts.
void write_line(const char* level, const char* file, int line, const char* function,
                const char* fmt, va_list args) {
    const int savedErrno = errno;
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string text = format_log_line(now, level, file, line, function, fmt, args);
    std::lock_guard<adaptive_mutex> guard(output_lock());
    const char* at = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, at, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        at += n;
        left -= static_cast<size_t>(n);
    }
    errno = savedErrno;
}

}  // namespace

void log::msg4(const char* file, int line, const char* function, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    write_line("info", file, line, function, fmt, args);
    va_end(args);
}

void log::error4(const char* file, int line, const char* function, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    write_line("error", file, line, function, fmt, args);
    va_end(args);
}

void log::fatal4(const char* file, int line, const char* function, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    write_line("fatal", file, line, function, fmt, args);
    va_end(args);
    std::abort();
}

}  // namespace net
