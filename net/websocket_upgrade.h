#pragma once
// Whether a request opens a WebSocket, and the answer that accepts it.

#include <string>
#include <string_view>

namespace net {

class HttpServletRequest;

enum class websocket_upgrade {
    none,         // not a WebSocket request
    accepted,     // a valid opening handshake
    bad_request,  // asks for a WebSocket but lacks what the handshake needs
    bad_version,  // a protocol version other than 13
};

// A GET with "Upgrade: websocket", "upgrade" among the Connection tokens,
// "Sec-WebSocket-Version: 13" and a Sec-WebSocket-Key of 16 bytes in
// Base64.
websocket_upgrade check_websocket_upgrade(const HttpServletRequest& request);

// Is `token` one of the comma-separated tokens of `list` (any case)?
bool has_token(std::string_view list, std::string_view token);

// A Base64 text of exactly 16 bytes.
bool is_websocket_key(std::string_view key);

// The "101 Switching Protocols" head for a client's key; empty when the
// accept value cannot be made.
std::string websocket_accept_head(std::string_view key);

// The refusal for a handshake that is not accepted.
std::string websocket_refusal_head(websocket_upgrade why);

}  // namespace net
