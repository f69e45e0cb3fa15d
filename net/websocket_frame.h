#pragma once
// The byte layout of a WebSocket frame head, apart from any stream.

#include <cstddef>
#include <cstdint>

namespace net {

struct websocket_frame_head {
    bool fin = false;
    unsigned char opcode = 0;  // the four low bits of the first byte
    bool masked = false;
    unsigned char mask[4] = {};
    uint64_t payload_len = 0;
};

// 2 bytes, 8 more for a 64-bit length, 4 more for a masking key.
constexpr size_t kMaxFrameHeadSize = 14;
// Longest payload of a close frame. Pings and pongs may be of any length:
// their payload is read in pieces and answered piece by piece, and peers
// rely on that.
constexpr uint64_t kMaxControlPayload = 125;
constexpr unsigned char kCloseOpcode = 0x08;

constexpr bool is_control_opcode(unsigned char opcode) {
    return (opcode & 0x08) != 0;
}

// Size of the whole head, from its first two bytes.
size_t frame_head_size(const unsigned char first_two[2]);

// Reads a whole head of frame_head_size() bytes. False when the head cannot
// belong to a valid frame: reserved bits set (no extension is ever agreed),
// a 64-bit length with its top bit set, a control frame that is
// fragmented, or a close frame longer than kMaxControlPayload.
bool parse_frame_head(const unsigned char* data, size_t size, websocket_frame_head& head);

// Writes the head of an unmasked frame into out (kMaxFrameHeadSize bytes of
// room) with the shortest length form; returns its size, or 0 when such a
// frame is not allowed (see parse_frame_head).
size_t encode_frame_head(bool fin, unsigned char opcode, uint64_t payload_len, unsigned char* out);

// XORs payload bytes with the masking key; offset is the position of data[0]
// within the payload, so a payload can be unmasked piece by piece.
void apply_frame_mask(unsigned char* data, size_t len, const unsigned char mask[4],
                      uint64_t offset);

}  // namespace net
