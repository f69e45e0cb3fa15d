#pragma once
// Diagnostic lines on standard error: local time, level, source file and
// line, function name, message. Each line is written whole, in one call.
// Both the controls and the network library log here.

#include <cstdarg>
#include <ctime>
#include <string>

namespace zqt {

class log {
  public:
    static void msg4(const char* file, int line, const char* function, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));
    static void error4(const char* file, int line, const char* function, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));
    // Writes the line, then aborts the process.
    [[noreturn]] static void fatal4(const char* file, int line, const char* function,
                                    const char* fmt, ...) __attribute__((format(printf, 4, 5)));
};

// The text of one line, apart from where it goes:
// "2024-05-01 09:03:07.125 error master_services:42 thread_on_init: text\n".
// Line breaks inside the message become spaces, so one call is one line.
std::string format_log_line(const struct timespec& now, const char* level, const char* file,
                            int line, const char* function, const char* fmt, va_list args)
    __attribute__((format(printf, 6, 0)));

}  // namespace zqt
