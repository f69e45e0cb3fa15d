#pragma once
// A socketpair with a socket_stream on one end and raw bytes on the other,
// and a frame encoder of the tests' own to feed it.

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "net/socket_stream.h"

namespace net::test {

struct raw_frame {
    bool fin = true;
    unsigned char rsv = 0;  // the three reserved bits, 0..7
    unsigned char opcode = 1;
    bool masked = true;
    unsigned char mask[4] = {0x37, 0xfa, 0x21, 0x3d};
    std::string payload;
    // Forces the 64-bit length form and sets these top length bits; for
    // heads that no valid frame has.
    uint64_t extra_length_bits = 0;
};

// The frame's bytes on the wire, masked as asked.
std::string encode_raw_frame(const raw_frame& frame);

// A payload whose bytes all differ from their neighbours.
std::string pattern_payload(size_t len);

class stream_pair {
  public:
    stream_pair();
    ~stream_pair();

    socket_stream& stream() { return *stream_; }
    int peer_fd() const { return peer_; }

    // Writes everything on a thread of its own, so payloads larger than
    // the socket buffer do not block the test.
    void send_from_peer(std::string bytes);
    // Reads exactly len bytes from the peer end ("" on failure).
    std::string read_at_peer(size_t len);
    // Reads until the stream's end is closed.
    std::string read_all_at_peer();
    void close_peer();
    void close_stream();
    void join_sender();

  private:
    std::unique_ptr<socket_stream> stream_;
    int peer_ = -1;
    std::thread sender_;
};

}  // namespace net::test
