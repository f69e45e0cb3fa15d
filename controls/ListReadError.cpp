#include "controls/ListReadError.h"

#include <cstdio>
#include <cstring>

namespace zqt {
namespace {

constexpr size_t kMaxMessageBytes = 1023;

// Cuts at most kMaxMessageBytes without splitting a UTF-8 sequence.
size_t ShownLength(const char* message) {
    size_t length = std::strlen(message);
    if (length <= kMaxMessageBytes) {
        return length;
    }
    length = kMaxMessageBytes;
    while (length > 0 && (static_cast<unsigned char>(message[length]) & 0xC0) == 0x80) {
        --length;
    }
    return length;
}

}  // namespace

void ReportListReadError(const char* message) noexcept {
    if (message == nullptr) {
        message = "";
    }
    std::fprintf(stderr, "有异常%.*s\n", static_cast<int>(ShownLength(message)), message);
    std::fflush(stderr);
}

}  // namespace zqt
