#pragma once
// The text conversions of method arguments: a page's UTF-16 text becomes
// the bytes that are signed or encrypted, and results go back as UTF-16.

#include <string>
#include <string_view>

#include "core/Bytes.h"

namespace ref {

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16; ill-formed sequences become U+FFFD. Embedded NULs are kept.
std::u16string FromUtf8(std::string_view text);

// UTF-16 to GB18030 (for peers that signed the Windows code page).
std::string ToGb18030(std::u16string_view text);

// Lower-cases ASCII letters only.
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
std::string_view TrimBlanks(std::string_view text);

}  // namespace ref
