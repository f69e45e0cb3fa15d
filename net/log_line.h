#pragma once
// The text of one log line, apart from where it goes.

#include <cstdarg>
#include <ctime>
#include <string>

namespace net {

// "2024-05-01 09:03:07.125 error master_services:42 thread_on_init: text\n".
// Line breaks inside the message become spaces, so one call is one line.
std::string format_log_line(const struct timespec& now, const char* level, const char* file,
                            int line, const char* function, const char* fmt, va_list args)
    __attribute__((format(printf, 6, 0)));

}  // namespace net
