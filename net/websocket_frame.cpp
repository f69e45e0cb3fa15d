#include "net/websocket_frame.h"

namespace net {

namespace {

constexpr unsigned char kFinBit = 0x80;
constexpr unsigned char kReservedBits = 0x70;
constexpr unsigned char kOpcodeBits = 0x0f;
constexpr unsigned char kMaskBit = 0x80;
constexpr unsigned char kLengthBits = 0x7f;
constexpr unsigned char kLength16 = 126;
constexpr unsigned char kLength64 = 127;

bool allowed(bool fin, unsigned char opcode, uint64_t payload_len) {
    if (payload_len >> 63 != 0) {
        return false;
    }
    if (is_control_opcode(opcode) && !fin) {
        return false;
    }
    if (opcode == kCloseOpcode && payload_len > kMaxControlPayload) {
        return false;
    }
    return true;
}

}  // namespace

size_t frame_head_size(const unsigned char first_two[2]) {
    size_t size = 2;
    const unsigned char length = first_two[1] & kLengthBits;
    if (length == kLength16) {
        size += 2;
    } else if (length == kLength64) {
        size += 8;
    }
    if ((first_two[1] & kMaskBit) != 0) {
        size += 4;
    }
    return size;
}

bool parse_frame_head(const unsigned char* data, size_t size, websocket_frame_head& head) {
    if (size < 2 || size != frame_head_size(data)) {
        return false;
    }
    if ((data[0] & kReservedBits) != 0) {
        return false;
    }
    websocket_frame_head parsed;
    parsed.fin = (data[0] & kFinBit) != 0;
    parsed.opcode = data[0] & kOpcodeBits;
    parsed.masked = (data[1] & kMaskBit) != 0;

    const unsigned char length = data[1] & kLengthBits;
    size_t pos = 2;
    if (length < kLength16) {
        parsed.payload_len = length;
    } else {
        const size_t bytes = length == kLength16 ? 2 : 8;
        for (size_t i = 0; i < bytes; ++i) {
            parsed.payload_len = parsed.payload_len << 8 | data[pos++];
        }
    }
    if (parsed.masked) {
        for (unsigned char& m : parsed.mask) {
            m = data[pos++];
        }
    }
    if (!allowed(parsed.fin, parsed.opcode, parsed.payload_len)) {
        return false;
    }
    head = parsed;
    return true;
}

size_t encode_frame_head(bool fin, unsigned char opcode, uint64_t payload_len, unsigned char* out) {
    if (opcode > kOpcodeBits || !allowed(fin, opcode, payload_len)) {
        return 0;
    }
    out[0] = static_cast<unsigned char>((fin ? kFinBit : 0) | opcode);
    size_t bytes = 0;
    if (payload_len < kLength16) {
        out[1] = static_cast<unsigned char>(payload_len);
    } else if (payload_len <= 0xffff) {
        out[1] = kLength16;
        bytes = 2;
    } else {
        out[1] = kLength64;
        bytes = 8;
    }
    for (size_t i = 0; i < bytes; ++i) {
        out[2 + i] = static_cast<unsigned char>(payload_len >> (8 * (bytes - 1 - i)));
    }
    return 2 + bytes;
}

void apply_frame_mask(unsigned char* data, size_t len, const unsigned char mask[4],
                      uint64_t offset) {
    for (size_t i = 0; i < len; ++i) {
        data[i] ^= mask[(offset + i) & 3];
    }
}

}  // namespace net
