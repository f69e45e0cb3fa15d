#include "protocol/TaggedText.h"

#include <limits>

namespace {

// The readers see a text only up to its first NUL code unit.
std::u16string_view UpToNul(std::u16string_view text) {
    size_t nul = text.find(u'\0');
    return nul == std::u16string_view::npos ? text : text.substr(0, nul);
}

std::u16string ExtractValue(std::u16string_view key, std::u16string_view text, char16_t open,
                            char16_t close) {
    if (text.empty() || key.empty()) {
        return {};
    }
    std::u16string_view visible = UpToNul(text);
    size_t p = 0;
    for (;;) {
        size_t found = visible.find(key, p);
        if (found == std::u16string_view::npos) {
            return {};
        }
        size_t q = found + key.size();
        if (q < visible.size() && visible[q] == open) {
            // The value ends at the first closing character; no later
            // occurrence of the key is tried when there is none.
            size_t end = visible.find(close, q + 1);
            if (end == std::u16string_view::npos) {
                return {};
            }
            return std::u16string(visible.substr(q + 1, end - q - 1));
        }
        p = q;
    }
}

// The white space that wcstol skips before a number.
bool IsBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

}  // namespace

std::u16string ExtractBracketValue(std::u16string_view key, std::u16string_view text) {
    return ExtractValue(key, text, u'[', u']');
}

std::u16string ExtractBraceValue(std::u16string_view key, std::u16string_view text) {
    return ExtractValue(key, text, u'{', u'}');
}

int32_t ValueToInt(std::u16string_view value) {
    size_t i = 0;
    while (i < value.size() && IsBlank(value[i])) {
        ++i;
    }
    bool negative = false;
    if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) {
        negative = value[i] == u'-';
        ++i;
    }
    // Past the 32-bit range the value saturates, as wcstol's does to long.
    constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
        if (magnitude <= kLimit) {
            magnitude = magnitude * 10 + (value[i] - u'0');
        }
    }
    if (negative) {
        return magnitude >= kLimit ? std::numeric_limits<int32_t>::min()
                                   : static_cast<int32_t>(-magnitude);
    }
    return magnitude >= kLimit ? std::numeric_limits<int32_t>::max()
                               : static_cast<int32_t>(magnitude);
}
