#include "controls/ListReadError.h"

#include <cstring>

#include "support/DiagnosticLog.h"

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
    // Where a desktop would show a message box, the service's log gets the
    // same text and nothing waits for anyone.
    try {
        log::error4("ListReadError", __LINE__, __func__, "有异常%.*s",
                    static_cast<int>(ShownLength(message)), message);
    } catch (...) {
        // Out of memory while reporting: the read still gives the empty text.
    }
}

}  // namespace zqt
