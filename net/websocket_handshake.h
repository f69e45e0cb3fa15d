#pragma once
// The server's answer to a WebSocket opening handshake.

#include <string>
#include <string_view>

namespace net {

// The Sec-WebSocket-Accept value for a client's Sec-WebSocket-Key:
// Base64(SHA-1(key + the protocol's fixed GUID)). Empty if hashing fails.
std::string websocket_accept_key(std::string_view key);

}  // namespace net
