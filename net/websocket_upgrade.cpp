#include "net/websocket_upgrade.h"

#include <strings.h>
#include <cstring>

#include "net/HttpServletRequest.h"
#include "net/text_trim.h"
#include "net/websocket_handshake.h"

namespace net {

namespace {

bool same_text(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool is_base64_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

}  // namespace

bool has_token(std::string_view list, std::string_view token) {
    while (true) {
        const size_t comma = list.find(',');
        if (same_text(trimmed(list.substr(0, comma)), token)) {
            return true;
        }
        if (comma == std::string_view::npos) {
            return false;
        }
        list.remove_prefix(comma + 1);
    }
}

// 16 bytes are 22 Base64 digits and "==".
bool is_websocket_key(std::string_view key) {
    key = trimmed(key);
    if (key.size() != 24 || key.substr(22) != "==") {
        return false;
    }
    for (size_t i = 0; i < 22; ++i) {
        if (!is_base64_char(key[i])) {
            return false;
        }
    }
    return true;
}

websocket_upgrade check_websocket_upgrade(const HttpServletRequest& request) {
    const char* upgrade = request.getHeader("Upgrade");
    if (std::strcmp(request.getMethod(), "GET") != 0 || upgrade == nullptr ||
        !has_token(upgrade, "websocket")) {
        return websocket_upgrade::none;
    }
    const char* connection = request.getHeader("Connection");
    const char* key = request.getHeader("Sec-WebSocket-Key");
    const char* version = request.getHeader("Sec-WebSocket-Version");
    if (connection == nullptr || !has_token(connection, "upgrade") || key == nullptr ||
        !is_websocket_key(key) || version == nullptr) {
        return websocket_upgrade::bad_request;
    }
    if (trimmed(version) != "13") {
        return websocket_upgrade::bad_version;
    }
    return websocket_upgrade::accepted;
}

std::string websocket_accept_head(std::string_view key) {
    const std::string accept = websocket_accept_key(trimmed(key));
    if (accept.empty()) {
        return {};
    }
    return "HTTP/1.1 101 Switching Protocols\r\n"
           "Upgrade: websocket\r\n"
           "Connection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " +
           accept + "\r\n\r\n";
}

std::string websocket_refusal_head(websocket_upgrade why) {
    if (why == websocket_upgrade::bad_version) {
        return "HTTP/1.1 426 Upgrade Required\r\n"
               "Sec-WebSocket-Version: 13\r\n"
               "Content-Length: 0\r\n"
               "Connection: close\r\n\r\n";
    }
    return "HTTP/1.1 400 Bad Request\r\n"
           "Content-Length: 0\r\n"
           "Connection: close\r\n\r\n";
}

}  // namespace net
