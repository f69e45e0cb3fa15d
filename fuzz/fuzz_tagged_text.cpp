// The tagged-text readers and ValueToInt against straightforward models of
// the same rules. Input: a key on the first line, then the text (UTF-8, NUL
// bytes kept, so that the readers' NUL rule is exercised too).

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "functions/TaggedText.h"
#include "fuzz/FuzzCheck.h"
#include "support/CharsetConversion.h"

namespace {

// Walks every position instead of searching, but passes over an occurrence
// the same way: the next one may start only behind it.
std::u16string ModelValue(std::u16string_view key, std::u16string_view text, char16_t open,
                          char16_t close) {
    if (text.empty() || key.empty()) {
        return {};
    }
    const std::u16string_view visible = text.substr(0, text.find(u'\0'));
    size_t allowedFrom = 0;
    for (size_t i = allowedFrom; i + key.size() <= visible.size(); ++i) {
        if (i < allowedFrom || visible.substr(i, key.size()) != key) {
            continue;
        }
        const size_t q = i + key.size();
        if (q < visible.size() && visible[q] == open) {
            for (size_t j = q + 1; j < visible.size(); ++j) {
                if (visible[j] == close) {
                    return std::u16string(visible.substr(q + 1, j - q - 1));
                }
            }
            return {};
        }
        allowedFrom = q;
    }
    return {};
}

// strtol on the ASCII form (anything else becomes a byte that is neither
// blank, sign nor digit), saturated to 32 bits.
int32_t ModelInt(std::u16string_view value) {
    std::string narrow;
    for (char16_t c : value) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '\x01');
    }
    const long parsed = std::strtol(narrow.c_str(), nullptr, 10);
    if (parsed > INT32_MAX) {
        return INT32_MAX;
    }
    if (parsed < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(parsed);
}

void CheckKey(std::u16string_view key, std::u16string_view text) {
    const std::u16string bracket = ExtractBracketValue(key, text);
    const std::u16string brace = ExtractBraceValue(key, text);
    FUZZ_CHECK(bracket == ModelValue(key, text, u'[', u']'));
    FUZZ_CHECK(brace == ModelValue(key, text, u'{', u'}'));
    FUZZ_CHECK(ValueToInt(bracket) == ModelInt(bracket));
    FUZZ_CHECK(ValueToInt(brace) == ModelInt(brace));
}

constexpr std::u16string_view kKeys[] = {
    u"ProcessNum",   u"ProcessEntity-1", u"ProcessEntity-12", u"ProcessCallBackName",
    u"FunctionType", u"Param1",          u"Param7",           u"TrueNext",
    u"FalseNext"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string input =
        zqt::detail::DecodeUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    const size_t newline = input.find(u'\n');
    const std::u16string_view whole(input);
    if (newline != std::u16string::npos) {
        CheckKey(whole.substr(0, newline), whole.substr(newline + 1));
    }
    for (std::u16string_view key : kKeys) {
        CheckKey(key, whole);
    }
    FUZZ_CHECK(ValueToInt(whole) == ModelInt(whole));
    return 0;
}
