#pragma once
// The page that asks, as prompts name it. The host tells a control the
// origin of each request; the page chose that text, so before a prompt
// shows it, it is kept to what an origin can hold and to a sane length.

#include <cstdint>
#include <string>

namespace ref {

// At most this many bytes of an origin are kept; a longer one ends in "…".
inline constexpr size_t kMaxCallerBytes = 200;

// The origin (UTF-16 code units) as prompt text: printable ASCII only (a
// serialised origin is ASCII; anything else, a space or a control
// character, becomes '?'), cut to kMaxCallerBytes. Empty for none.
std::string CallerFromOrigin(const uint16_t* units, uint32_t length);

// Who a prompt says is asking: the origin, or "A local caller (no web page
// given)" when there is none. It starts the prompt's sentence: "<asker>
// asks to ...".
std::string Asker(const std::string& caller);

}  // namespace ref
