#include "net/websocket_handshake.h"

#include <array>

#include <mbedtls/base64.h>
#include <mbedtls/sha1.h>

namespace net {

namespace {
constexpr std::string_view kWebSocketGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
}

std::string websocket_accept_key(std::string_view key) {
    std::string input;
    input.reserve(key.size() + kWebSocketGuid.size());
    input.append(key).append(kWebSocketGuid);

    std::array<unsigned char, 20> digest{};
    if (mbedtls_sha1_ret(reinterpret_cast<const unsigned char*>(input.data()), input.size(),
                         digest.data()) != 0) {
        return {};
    }

    // 20 bytes give 28 Base64 characters; one more for the terminator.
    std::array<unsigned char, 32> encoded{};
    size_t written = 0;
    if (mbedtls_base64_encode(encoded.data(), encoded.size(), &written, digest.data(),
                              digest.size()) != 0) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(encoded.data()), written);
}

}  // namespace net
