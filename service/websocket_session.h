#pragma once
// The WebSocket message loop of one connection, after the opening handshake.

namespace net {
class socket_stream;
}
class request_dispatch;
struct request_caller;

// Serves one frame, then more while the stream already holds bytes for
// them; true when the connection goes on (the next frame is still to come),
// false once a frame cannot be read or written, or its opcode or size ends
// the connection. Never sends a close frame. Each text or binary message
// runs as a request text through `dispatch`, on behalf of `caller`.
bool ServeWebSocketFrames(net::socket_stream& stream, const request_dispatch& dispatch,
                          const request_caller& caller);

// Serves frames, waiting for each, until the connection ends.
void RunWebSocketSession(net::socket_stream& stream, const request_dispatch& dispatch,
                         const request_caller& caller);
