#pragma once
// Byte buffers and the text forms a page sees them in: Base64 (standard
// alphabet, padded, no line breaks) and hexadecimal.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ref {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

inline ByteView AsBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}
inline std::string AsString(ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string Base64Encode(ByteView bytes);

// Strict decoding: only the standard alphabet, correct padding; ASCII blanks
// and line breaks (as PEM bodies and pasted texts carry them) are skipped.
// Empty input decodes to an empty buffer. nullopt when malformed.
std::optional<Bytes> Base64Decode(std::string_view text);

// Upper-case hexadecimal, no separators.
std::string HexEncode(ByteView bytes);

// Hex digits in any case; ':' and blanks between byte pairs are allowed.
// nullopt when malformed or of odd length.
std::optional<Bytes> HexDecode(std::string_view text);

// A certificate serial number as compared by value: upper-case hex without
// separators or leading zeros ("0" for zero). nullopt when not hex.
std::optional<std::string> NormalizeSerial(std::string_view text);

}  // namespace ref
