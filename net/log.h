#pragma once
// Diagnostic lines on standard error: local time, level, source file and
// line, function name, message. Each line is written whole, in one call.

namespace net {

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

}  // namespace net
