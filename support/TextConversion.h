#pragma once
// Conversions between the wire encodings and the wide (UTF-16) texts used
// everywhere inside the service. None of them fails: what cannot be
// converted becomes U+FFFD (Unicode) or "?" (the locale character set).

#include <string>
#include <string_view>

namespace zqt {

// UTF-8 to UTF-16. Each maximal subpart of an ill-formed sequence becomes one
// U+FFFD. The text ends at its first NUL byte.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Replaces each ill-formed UTF-8 sequence by U+FFFD (encoded as UTF-8), with
// the same subparts as Utf8ToUtf16; NUL bytes are kept.
std::string SanitizeUtf8(std::string_view bytes);

// The character set of the process locale (nl_langinfo(CODESET)) to UTF-16.
// An undecodable byte becomes U+FFFD.
std::u16string LocaleToUtf16(std::string_view bytes);

// UTF-16 to the locale character set; a character the set lacks becomes "?".
std::string Utf16ToLocale(std::u16string_view text);

}  // namespace zqt
