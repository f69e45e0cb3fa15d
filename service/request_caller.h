#pragma once
// Who sent a request text: the page's origin and the way the text came.

#include <string>

struct request_caller {
    // The Origin header of the request (of the opening handshake, for a
    // WebSocket message); empty when there was none.
    std::string origin;
    // "http", "https", "ws" or "wss".
    const char* transport = "http";
};
