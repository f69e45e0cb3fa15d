#pragma once
// The WebSocket message loop of one connection, after the opening handshake.

namespace net {
class socket_stream;
}

// Serves frames until one cannot be read or written, or its opcode or size
// ends the connection. Never sends a close frame.
void RunWebSocketSession(net::socket_stream& stream);
