// The WebSocket frame reader and writer over an in-memory connection, in a
// loop like the service's session: text and binary messages are echoed,
// pings answered with pongs, pongs read, anything else ends it. What was
// written is read back by a second reader and must be exactly the frames
// sent. Flag bit 0 makes the reader require masked frames.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/MemoryStream.h"
#include "net/websocket.h"
#include "net/websocket_frame.h"

namespace {

using net::websocket;

constexpr uint64_t kMessageBytes = 20480;
constexpr int kMaxFrames = 64;

struct Frame {
    unsigned char opcode;
    std::string payload;
};

// Reads the payload to its end in pieces of `piece` bytes; false when the
// connection ended first.
bool ReadPayload(websocket& reader, size_t piece, std::string& payload) {
    char buf[256];
    piece = piece == 0 || piece > sizeof buf ? sizeof buf : piece;
    for (;;) {
        const ssize_t n = reader.read_frame_data(buf, piece);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            FUZZ_CHECK(payload.size() == reader.get_frame_payload_len());
            return true;
        }
        FUZZ_CHECK(static_cast<size_t>(n) <= piece);
        payload.append(buf, static_cast<size_t>(n));
    }
}

// One frame in two pieces, as a long answer goes out.
bool Send(websocket& writer, unsigned char opcode, const std::string& payload,
          std::vector<Frame>& sent) {
    writer.reset().set_frame_fin(true).set_frame_opcode(opcode).set_frame_payload_len(
        payload.size());
    sent.push_back({opcode, payload});
    const size_t half = payload.size() / 2;
    if (!writer.send_frame_data(payload.data(), half) ||
        !writer.send_frame_data(payload.data() + half, payload.size() - half)) {
        return false;
    }
    FUZZ_CHECK(!writer.send_frame_data("x", 1));  // past the payload length
    return true;
}

void CheckHead(const websocket& reader, bool requireMasked) {
    const unsigned char opcode = reader.get_frame_opcode();
    FUZZ_CHECK(opcode <= 0x0f);
    FUZZ_CHECK(reader.get_frame_payload_len() >> 63 == 0);
    if (net::is_control_opcode(opcode)) {
        FUZZ_CHECK(reader.is_frame_fin());
        // Only a close frame is held to the short limit; pings and pongs
        // may be of any length.
        FUZZ_CHECK(opcode != net::kCloseOpcode ||
                   reader.get_frame_payload_len() <= net::kMaxControlPayload);
    }
    FUZZ_CHECK(!requireMasked || reader.is_frame_masked());
}

// Serves frames until a read or write fails, an opcode ends it, or enough.
void Serve(websocket& reader, websocket& writer, size_t piece, bool requireMasked,
           std::vector<Frame>& sent) {
    for (int frames = 0; frames < kMaxFrames; ++frames) {
        if (!reader.read_frame_head()) {
            // Out of step for good.
            char byte;
            FUZZ_CHECK(reader.read_frame_data(&byte, 1) == -1);
            FUZZ_CHECK(!reader.read_frame_head());
            return;
        }
        CheckHead(reader, requireMasked);
        const uint64_t length = reader.get_frame_payload_len();
        std::string payload;
        switch (reader.get_frame_opcode()) {
            case websocket::FRAME_TEXT:
            case websocket::FRAME_BINARY:
                if (length >= kMessageBytes) {
                    continue;  // left unread: the next head skips it
                }
                if (!ReadPayload(reader, piece, payload) ||
                    !Send(writer, websocket::FRAME_TEXT, payload, sent)) {
                    return;
                }
                break;
            case websocket::FRAME_PING:
                if (!ReadPayload(reader, piece, payload)) {
                    return;
                }
                sent.push_back({websocket::FRAME_PONG, payload});
                if (!writer.send_frame_pong(payload.data(), payload.size())) {
                    return;
                }
                break;
            case websocket::FRAME_PONG:
            case websocket::FRAME_CONTINUATION:
                // Half read: the next head skips the rest.
                if (length > 0) {
                    char buf[64];
                    if (reader.read_frame_data(buf, sizeof buf) < 0) {
                        return;
                    }
                }
                break;
            default:
                return;
        }
    }
}

// Every frame written, read back in order.
void CheckWritten(const std::string& output, const std::vector<Frame>& sent) {
    fuzz::MemoryConnection back(output, 0, 0);
    websocket reader(back.stream);
    for (const Frame& frame : sent) {
        FUZZ_CHECK(reader.read_frame_head());
        FUZZ_CHECK(reader.is_frame_fin() && !reader.is_frame_masked());
        FUZZ_CHECK(reader.get_frame_opcode() == frame.opcode);
        std::string payload;
        FUZZ_CHECK(ReadPayload(reader, 0, payload));
        FUZZ_CHECK(payload == frame.payload);
    }
    FUZZ_CHECK(back.hook.unread() == 0);
}

// The head encoder and parser agree on any fields the encoder accepts.
void CheckHeadRoundTrip(const uint8_t* data, size_t size) {
    if (size < 9) {
        return;
    }
    const bool fin = (data[0] & 0x80) != 0;
    const unsigned char opcode = data[0] & 0x1f;  // one bit too many on purpose
    uint64_t length = 0;
    for (size_t i = 1; i < 9; ++i) {
        length = length << 8 | data[i];
    }
    static constexpr int kShift[4] = {0, 16, 48, 57};  // short lengths as often as long ones
    length >>= kShift[(data[0] >> 5) & 3];
    unsigned char head[net::kMaxFrameHeadSize];
    const size_t headSize = net::encode_frame_head(fin, opcode, length, head);
    const bool allowed =
        opcode <= 0x0f && length >> 63 == 0 &&
        (!net::is_control_opcode(opcode) ||
         (fin && (opcode != net::kCloseOpcode || length <= net::kMaxControlPayload)));
    FUZZ_CHECK((headSize != 0) == allowed);
    if (headSize == 0) {
        return;
    }
    FUZZ_CHECK(net::frame_head_size(head) == headSize);
    net::websocket_frame_head parsed;
    FUZZ_CHECK(net::parse_frame_head(head, headSize, parsed));
    FUZZ_CHECK(parsed.fin == fin && parsed.opcode == opcode && parsed.payload_len == length &&
               !parsed.masked);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::IoOptions options = fuzz::SplitIoOptions(data, size);
    const bool requireMasked = (options.flags & 1) != 0;
    fuzz::MemoryConnection connection(options.traffic, options.piece, options.failWrite);
    websocket reader(connection.stream);
    websocket writer(connection.stream);
    reader.require_masked(requireMasked);
    std::vector<Frame> sent;
    Serve(reader, writer, options.piece, requireMasked, sent);
    fuzz::ShowOutput(connection.hook);
    if (!connection.hook.write_failed()) {
        CheckWritten(connection.hook.output(), sent);
    }
    CheckHeadRoundTrip(data, size);
    return 0;
}
