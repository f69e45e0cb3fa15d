#include "pin/CallerText.h"

namespace ref {

std::string CallerFromOrigin(const uint16_t* units, uint32_t length) {
    std::string text;
    if (units == nullptr) {
        return text;
    }
    for (uint32_t i = 0; i < length; ++i) {
        if (text.size() == kMaxCallerBytes) {
            return text + "\xe2\x80\xa6";  // …
        }
        const uint16_t unit = units[i];
        text += unit > 0x20 && unit < 0x7f ? static_cast<char>(unit) : '?';
    }
    return text;
}

std::string Asker(const std::string& caller) {
    return caller.empty() ? "A local caller (no web page given)" : caller;
}

}  // namespace ref
