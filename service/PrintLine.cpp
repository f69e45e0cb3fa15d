#include "service/PrintLine.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

void PrintLine(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string large;
    const char* text = small;
    if (size >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<size_t>(size) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        text = large.data();
    }
    va_end(again);
    if (size <= 0) {
        return;
    }
    size_t left = static_cast<size_t>(size);
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, text, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        text += n;
        left -= static_cast<size_t>(n);
    }
}
