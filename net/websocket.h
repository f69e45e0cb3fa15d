#pragma once
// WebSocket frames over one connection: the head and payload of the frame
// being read, and the head of the frame being sent.

#include <sys/types.h>
#include <cstddef>
#include <cstdint>

#include "net/websocket_frame.h"

namespace net {

class socket_stream;

class websocket {
  public:
    static constexpr unsigned char FRAME_CONTINUATION = 0x00;
    static constexpr unsigned char FRAME_TEXT = 0x01;
    static constexpr unsigned char FRAME_BINARY = 0x02;
    static constexpr unsigned char FRAME_CLOSE = 0x08;
    static constexpr unsigned char FRAME_PING = 0x09;
    static constexpr unsigned char FRAME_PONG = 0x0a;

    explicit websocket(socket_stream& stream);
    websocket(const websocket&) = delete;
    websocket& operator=(const websocket&) = delete;

    // Reading. Frames are accepted masked or not; a server that holds its
    // clients to masking calls require_masked(true), and then an unmasked
    // frame fails read_frame_head.
    websocket& require_masked(bool on);

    // Reads the next frame head; what is left of the previous frame's
    // payload is skipped first. False on a closed peer, a time-out, a
    // truncated head or a head no valid frame has (see parse_frame_head);
    // after such a failure the stream is out of step and every later read
    // fails too.
    bool read_frame_head();
    bool is_frame_fin() const { return in_.fin; }
    unsigned char get_frame_opcode() const { return in_.opcode; }
    bool is_frame_masked() const { return in_.masked; }
    uint64_t get_frame_payload_len() const { return in_.payload_len; }

    // Up to size bytes of the payload, unmasked: > 0 bytes read, 0 when the
    // payload has been read to its end (or size is 0), -1 when the peer
    // closed before its end, on a time-out or without a frame head.
    ssize_t read_frame_data(void* buf, size_t size);

    // Writing an unmasked frame: reset(), the three setters, then
    // send_frame_data() once or in pieces.
    websocket& reset();
    websocket& set_frame_fin(bool fin);
    websocket& set_frame_opcode(unsigned char opcode);
    websocket& set_frame_payload_len(uint64_t len);

    // Sends the frame head before the first piece only, then the piece.
    // False when the stream fails, when the pieces would exceed the payload
    // length, or when the head is not allowed (a control frame that is not
    // final or longer than 125 bytes, a length with its top bit set).
    bool send_frame_data(const void* data, size_t len);

    // A whole, final pong frame of at most 125 bytes; the frame being sent
    // with send_frame_data is left as it was.
    bool send_frame_pong(const void* data = nullptr, size_t len = 0);

  private:
    bool skip_rest_of_payload();
    bool send_with_head(const unsigned char* head, size_t headSize, const void* data, size_t len);

    socket_stream& stream_;

    websocket_frame_head in_;
    bool haveHead_ = false;
    uint64_t inRead_ = 0;
    bool inBroken_ = false;
    bool requireMasked_ = false;

    bool outFin_ = false;
    unsigned char outOpcode_ = FRAME_CONTINUATION;
    uint64_t outLen_ = 0;
    uint64_t outSent_ = 0;
    bool outHeadSent_ = false;
};

}  // namespace net
