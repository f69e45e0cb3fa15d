#include "net/log_line.h"

#include <cstdio>

namespace net {

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

}  // namespace net
