#include "functions/TaggedText.h"

#include <limits>

namespace {

// The readers see a text only up to its first NUL code unit. One pass does
// both: a scan stops at a NUL as at the end of the text, and a key (which
// holds no NUL) cannot match across one.

// Where `key` first starts at or after `from` in the visible text; npos when
// it does not.
size_t FindVisible(std::u16string_view text, std::u16string_view key, size_t from) {
    const char16_t first = key[0];
    for (size_t i = from; i < text.size() && text[i] != u'\0'; ++i) {
        if (text[i] == first && text.size() - i >= key.size() &&
            text.compare(i, key.size(), key) == 0) {
            return i;
        }
    }
    return std::u16string_view::npos;
}

// The first `wanted` at or after `from` in the visible text; npos when none.
size_t FindVisible(std::u16string_view text, char16_t wanted, size_t from) {
    for (size_t i = from; i < text.size() && text[i] != u'\0'; ++i) {
        if (text[i] == wanted) {
            return i;
        }
    }
    return std::u16string_view::npos;
}

std::u16string ExtractValue(std::u16string_view key, std::u16string_view text, char16_t open,
                            char16_t close) {
    // A key with a NUL in it can never lie in the visible text.
    if (text.empty() || key.empty() || key.find(u'\0') != std::u16string_view::npos) {
        return {};
    }
    size_t p = 0;
    for (;;) {
        size_t found = FindVisible(text, key, p);
        if (found == std::u16string_view::npos) {
            return {};
        }
        size_t q = found + key.size();
        if (q < text.size() && text[q] == open) {
            // The value ends at the first closing character; no later
            // occurrence of the key is tried when there is none.
            size_t end = FindVisible(text, close, q + 1);
            if (end == std::u16string_view::npos) {
                return {};
            }
            return std::u16string(text.substr(q + 1, end - q - 1));
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
