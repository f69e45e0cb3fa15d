#pragma once
// Readers of the tagged-text format: KEY{value} and KEY[value] items.
// Pure functions; every malformed case yields the empty string.

#include <cstdint>
#include <string>
#include <string_view>

std::u16string ExtractBracketValue(std::u16string_view key, std::u16string_view text);
std::u16string ExtractBraceValue(std::u16string_view key, std::u16string_view text);

// Reads a value as wcstol with base 10 does, saturated to 32 bits.
int32_t ValueToInt(std::u16string_view value);
