#include "support/TextConversion.h"

#include <cstddef>
#include <cstdint>

#include "support/CharsetConversion.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct DecodedChar {
    char32_t value;      // kReplacement for an ill-formed subpart
    std::size_t length;  // bytes consumed, at least 1
};

// One character or one maximal ill-formed subpart, the way browsers and
// Windows count replacements: a byte that cannot continue the sequence is
// not consumed, so it starts the next one.
DecodedChar DecodeNext(const unsigned char* p, std::size_t n) {
    const unsigned char lead = p[0];
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t trailing = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlongs
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlongs
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return {kReplacement, 1};
    }
    for (std::size_t i = 1; i <= trailing; ++i) {
        if (i >= n || p[i] < low || p[i] > high) {
            return {kReplacement, i};
        }
        value = (value << 6) | (p[i] & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return {value, trailing + 1};
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
        return;
    }
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// How many bytes at the start are ASCII.
std::size_t AsciiPrefix(std::string_view bytes) {
    std::size_t n = 0;
    while (n < bytes.size() && static_cast<unsigned char>(bytes[n]) < 0x80) {
        ++n;
    }
    return n;
}

template <typename Sink>
void ForEachUtf8Char(std::string_view utf8, Sink sink) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t left = utf8.size();
    while (left > 0) {
        const DecodedChar decoded = DecodeNext(p, left);
        sink(decoded.value);
        p += decoded.length;
        left -= decoded.length;
    }
}

}  // namespace

namespace zqt {

namespace detail {

std::u16string DecodeUtf8(std::string_view utf8) {
    // A leading run of ASCII, usually the whole text, is copied unit by unit.
    const std::size_t ascii = AsciiPrefix(utf8);
    std::u16string out(utf8.begin(), utf8.begin() + static_cast<std::ptrdiff_t>(ascii));
    if (ascii < utf8.size()) {
        out.reserve(utf8.size());
        ForEachUtf8Char(utf8.substr(ascii), [&out](char32_t c) { AppendUtf16(out, c); });
    }
    return out;
}

}  // namespace detail

std::u16string Utf8ToUtf16(std::string_view utf8) {
    return detail::DecodeUtf8(utf8.substr(0, utf8.find('\0')));
}

std::string SanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    ForEachUtf8Char(bytes, [&out](char32_t c) { AppendUtf8(out, c); });
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    // A leading run of ASCII, usually the whole text, is copied unit by unit.
    std::size_t i = 0;
    while (i < text.size() && text[i] < 0x80) {
        ++i;
    }
    std::string out(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(i));
    if (i == text.size()) {
        return out;
    }
    out.reserve(text.size());
    for (; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (high || low) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

}  // namespace zqt
