#include "net/websocket.h"

#include <algorithm>
#include <cstring>

#include "net/socket_stream.h"

namespace net {

namespace {
// Small pieces go out in one write with their head.
constexpr size_t kJoinedSendLimit = 4096;
}  // namespace

websocket::websocket(socket_stream& stream) : stream_(stream) {}

websocket& websocket::require_masked(bool on) {
    requireMasked_ = on;
    return *this;
}

bool websocket::skip_rest_of_payload() {
    unsigned char scratch[4096];
    for (;;) {
        const ssize_t n = read_frame_data(scratch, sizeof(scratch));
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            return false;
        }
    }
}

bool websocket::read_frame_head() {
    if (inBroken_ || (haveHead_ && !skip_rest_of_payload())) {
        inBroken_ = true;
        return false;
    }
    haveHead_ = false;
    in_ = websocket_frame_head{};
    inRead_ = 0;

    unsigned char raw[kMaxFrameHeadSize];
    if (!stream_.read_exact(raw, 2)) {
        inBroken_ = true;
        return false;
    }
    const size_t size = frame_head_size(raw);
    websocket_frame_head head;
    if (!stream_.read_exact(raw + 2, size - 2) || !parse_frame_head(raw, size, head) ||
        (requireMasked_ && !head.masked)) {
        inBroken_ = true;
        return false;
    }
    in_ = head;
    haveHead_ = true;
    return true;
}

ssize_t websocket::read_frame_data(void* buf, size_t size) {
    if (inBroken_ || !haveHead_) {
        return -1;
    }
    const uint64_t left = in_.payload_len - inRead_;
    if (left == 0 || size == 0) {
        return 0;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, size));
    const ssize_t n = stream_.read(buf, want);
    if (n <= 0) {
        inBroken_ = true;
        return -1;
    }
    if (in_.masked) {
        apply_frame_mask(static_cast<unsigned char*>(buf), static_cast<size_t>(n), in_.mask,
                         inRead_);
    }
    inRead_ += static_cast<uint64_t>(n);
    return n;
}

websocket& websocket::reset() {
    outFin_ = false;
    outOpcode_ = FRAME_CONTINUATION;
    outLen_ = 0;
    outSent_ = 0;
    outHeadSent_ = false;
    return *this;
}

websocket& websocket::set_frame_fin(bool fin) {
    outFin_ = fin;
    return *this;
}

websocket& websocket::set_frame_opcode(unsigned char opcode) {
    outOpcode_ = opcode;
    return *this;
}

websocket& websocket::set_frame_payload_len(uint64_t len) {
    outLen_ = len;
    return *this;
}

bool websocket::send_with_head(const unsigned char* head, size_t headSize, const void* data,
                               size_t len) {
    if (len <= kJoinedSendLimit) {
        unsigned char joined[kMaxFrameHeadSize + kJoinedSendLimit];
        std::memcpy(joined, head, headSize);
        if (len > 0) {
            std::memcpy(joined + headSize, data, len);
        }
        return stream_.write(joined, headSize + len);
    }
    return stream_.write(head, headSize) && stream_.write(data, len);
}

bool websocket::send_frame_data(const void* data, size_t len) {
    if (len > outLen_ - outSent_) {
        return false;
    }
    if (!outHeadSent_) {
        unsigned char head[kMaxFrameHeadSize];
        const size_t headSize = encode_frame_head(outFin_, outOpcode_, outLen_, head);
        if (headSize == 0) {
            return false;
        }
        // Counted as sent even on failure: a second head would corrupt the stream.
        outHeadSent_ = true;
        if (!send_with_head(head, headSize, data, len)) {
            return false;
        }
    } else if (len > 0 && !stream_.write(data, len)) {
        return false;
    }
    outSent_ += len;
    return true;
}

bool websocket::send_frame_pong(const void* data, size_t len) {
    unsigned char head[kMaxFrameHeadSize];
    const size_t headSize = encode_frame_head(true, FRAME_PONG, len, head);
    if (headSize == 0) {
        return false;
    }
    return send_with_head(head, headSize, data, len);
}

}  // namespace net
