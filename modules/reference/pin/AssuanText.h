#pragma once
// Text on Assuan lines: %-escaping what we send (so no text can end a line
// and start a command), fitting it into one line, and unescaping the data
// pinentry sends straight into a Secret.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/Secret.h"

namespace ref::pinentry {

// "<command> <escaped text>" as one Assuan line (at most kMaxLine bytes with
// its LF). Too long a text is cut on a UTF-8 character boundary, so never
// inside a %XX escape, and ends with "…".
std::string CommandLine(std::string_view command, std::string_view text);

// Appends %-unescaped `data` to `secret`, byte by byte, while it stays
// within `limit` bytes; false (and the rest dropped) when it would not.
// Give `secret` room for `limit` bytes first: a reallocation would leave
// an unwiped copy behind.
bool UnescapeOnto(std::string_view data, Secret& secret, size_t limit);

}  // namespace ref::pinentry
