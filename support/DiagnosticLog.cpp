#include "support/DiagnosticLog.h"

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "support/AdaptiveMutex.h"

namespace zqt {

namespace {

const char* or_dash(const char* text) {
    return text != nullptr && *text != '\0' ? text : "-";
}

std::string format_message(const char* fmt, va_list args) {
    if (fmt == nullptr) {
        return {};
    }
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (size <= 0) {
        return {};
    }
    std::string text(static_cast<size_t>(size) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    text.resize(static_cast<size_t>(size));
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

std::string format_log_line(const struct timespec& now, const char* level, const char* file,
                            int line, const char* function, const char* fmt, va_list args) {
    struct tm local {};
    localtime_r(&now.tv_sec, &local);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  now.tv_nsec / 1000000L);
    std::string text = stamp;
    text += ' ';
    text += level;
    text += ' ';
    text += or_dash(file);
    text += ':';
    text += std::to_string(line);
    text += ' ';
    text += or_dash(function);
    text += ": ";
    text += format_message(fmt, args);
    text += '\n';
    return text;
}

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

}  // namespace zqt
