#pragma once
// Conversions by character-set name, behind the locale conversions of
// TextConversion.h; tests reach them with charsets the machine has no locale for.

#include <string>
#include <string_view>

namespace zqt::detail {

// UTF-8 to UTF-16 over the whole input, NUL bytes included.
std::u16string DecodeUtf8(std::string_view utf8);

// The charset (an iconv name) to UTF-16; each byte that cannot be decoded
// becomes one U+FFFD and decoding goes on after it.
std::u16string CharsetToUtf16(std::string_view bytes, const char* charset);

// UTF-16 to the charset; a character it lacks, or a lone surrogate, becomes "?".
std::string Utf16ToCharset(std::u16string_view text, const char* charset);

}  // namespace zqt::detail
