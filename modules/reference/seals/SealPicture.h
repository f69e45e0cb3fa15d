#pragma once
// What kind of picture or data a seal holds, told from its first bytes, and
// the BMP pictures of seal data (no image decoder is linked: other formats
// are not converted).

#include <cstdint>
#include <string>

#include "core/Bytes.h"

namespace ref {

// "png", "bmp", "gif", "der", or "" when unknown.
std::string SniffFormat(ByteView data);

// The index-th picture (0 the first) of seal data as BMP bytes. The data is
// a picture itself, a seal record (JSON), or a JSON array of records.
// Throws Failure: kBadParam (no such picture), kUnsupported (a picture in
// another format, GB/T 38540 seal data), kMalformed (a truncated BMP).
Bytes BmpPicture(ByteView data, uint32_t index);

}  // namespace ref
