#pragma once
// The WebSocket message loop of one connection, after the opening handshake.

namespace net {
class socket_stream;
}
class request_dispatch;
struct request_caller;

// Serves frames until one cannot be read or written, or its opcode or size
// ends the connection. Never sends a close frame. Each text or binary
// message runs as a request text through `dispatch`, on behalf of `caller`.
void RunWebSocketSession(net::socket_stream& stream, const request_dispatch& dispatch,
                         const request_caller& caller);
