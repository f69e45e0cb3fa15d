#pragma once
// The WebSocket message loop of one connection, after the opening handshake.

namespace net {
class socket_stream;
}
class request_dispatch;

// Serves frames until one cannot be read or written, or its opcode or size
// ends the connection. Never sends a close frame. Each text or binary
// message runs as a request text through `dispatch`.
void RunWebSocketSession(net::socket_stream& stream, const request_dispatch& dispatch);
