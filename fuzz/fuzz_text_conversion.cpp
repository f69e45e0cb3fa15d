// The UTF-8 and UTF-16 conversions: never a crash, always well-formed
// output, exact round trips for well-formed input, and U+FFFD exactly where
// the input is ill-formed. The same bytes are read as UTF-8 and as UTF-16LE
// code units; the charset conversions behind the locale ones get them too.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "support/CharsetConversion.h"
#include "support/TextConversion.h"

namespace {

// Well-formed UTF-8 by the table of well-formed byte sequences.
bool WellFormedUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t length = 1;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c == 0xE0) {
            length = 3;
            low = 0xA0;
        } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
            length = 3;
        } else if (c == 0xED) {
            length = 3;
            high = 0x9F;
        } else if (c == 0xF0) {
            length = 4;
            low = 0x90;
        } else if (c >= 0xF1 && c <= 0xF3) {
            length = 4;
        } else if (c == 0xF4) {
            length = 4;
            high = 0x8F;
        } else {
            return false;
        }
        if (i + length > s.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if (t < (k == 1 ? low : 0x80) || t > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

bool IsHigh(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLow(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Each lone surrogate replaced by U+FFFD.
std::u16string Repaired(std::u16string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
            out.append(text.substr(i, 2));
            ++i;
        } else if (IsHigh(text[i]) || IsLow(text[i])) {
            out.push_back(u'\uFFFD');
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool WellFormedUtf16(std::u16string_view text) {
    return Repaired(text) == text;
}

void CheckUtf8Input(std::string_view bytes) {
    const std::string_view toNul = bytes.substr(0, bytes.find('\0'));
    const std::u16string wide = zqt::Utf8ToUtf16(bytes);
    FUZZ_CHECK(wide.find(u'\0') == std::u16string::npos);
    FUZZ_CHECK(WellFormedUtf16(wide));
    FUZZ_CHECK(wide == zqt::detail::DecodeUtf8(toNul));

    const std::string clean = zqt::SanitizeUtf8(bytes);
    FUZZ_CHECK(WellFormedUtf8(clean));
    FUZZ_CHECK(zqt::SanitizeUtf8(clean) == clean);
    FUZZ_CHECK(zqt::Utf16ToUtf8(wide) == zqt::SanitizeUtf8(toNul));
    FUZZ_CHECK(zqt::Utf16ToUtf8(zqt::detail::DecodeUtf8(bytes)) == clean);

    if (WellFormedUtf8(bytes)) {
        FUZZ_CHECK(clean == bytes);
        FUZZ_CHECK(zqt::Utf16ToUtf8(wide) == toNul);
    } else {
        FUZZ_CHECK(clean != bytes);
        FUZZ_CHECK(clean.find("\xEF\xBF\xBD") != std::string::npos);
    }
}

void CheckUtf16Input(std::string_view bytes) {
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    const std::string utf8 = zqt::Utf16ToUtf8(units);
    FUZZ_CHECK(WellFormedUtf8(utf8));
    const std::u16string repaired = Repaired(units);
    FUZZ_CHECK(zqt::detail::DecodeUtf8(utf8) == repaired);
    FUZZ_CHECK(zqt::Utf8ToUtf16(utf8) == repaired.substr(0, repaired.find(u'\0')));
    if (WellFormedUtf16(units)) {
        FUZZ_CHECK(zqt::detail::DecodeUtf8(utf8) == units);
    }

    // The charset conversions: Latin-1 maps each byte to one character and
    // back; a charset with multi-byte sequences must not crash either way.
    FUZZ_CHECK(zqt::detail::Utf16ToCharset(zqt::detail::CharsetToUtf16(bytes, "ISO-8859-1"),
                                           "ISO-8859-1") == bytes);
    const std::u16string fromGb = zqt::detail::CharsetToUtf16(bytes, "GB18030");
    FUZZ_CHECK(WellFormedUtf16(fromGb));
    zqt::detail::Utf16ToCharset(units, "GB18030");
    zqt::detail::Utf16ToCharset(units, "ISO-8859-1");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckUtf8Input(bytes);
    CheckUtf16Input(bytes);
    return 0;
}
