#include "websocket_test_peer.h"

#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <stdexcept>

namespace net::test {

std::string encode_raw_frame(const raw_frame& frame) {
    std::string out;
    out += static_cast<char>((frame.fin ? 0x80 : 0) | (frame.rsv << 4) | frame.opcode);
    const uint64_t len = frame.payload.size();
    const char maskBit = frame.masked ? char(0x80) : 0;
    if (len <= 125 && frame.extra_length_bits == 0) {
        out += static_cast<char>(maskBit | static_cast<char>(len));
    } else if (len <= 0xffff && frame.extra_length_bits == 0) {
        out += static_cast<char>(maskBit | 126);
        out += static_cast<char>(len >> 8);
        out += static_cast<char>(len & 0xff);
    } else {
        out += static_cast<char>(maskBit | 127);
        const uint64_t wire = len | frame.extra_length_bits;
        for (int shift = 56; shift >= 0; shift -= 8) {
            out += static_cast<char>((wire >> shift) & 0xff);
        }
    }
    if (frame.masked) {
        out.append(reinterpret_cast<const char*>(frame.mask), 4);
    }
    for (size_t i = 0; i < frame.payload.size(); ++i) {
        const unsigned char m = frame.masked ? frame.mask[i % 4] : 0;
        out += static_cast<char>(static_cast<unsigned char>(frame.payload[i]) ^ m);
    }
    return out;
}

std::string pattern_payload(size_t len) {
    std::string s(len, '\0');
    for (size_t i = 0; i < len; ++i) {
        s[i] = static_cast<char>((i * 31 + i / 251) & 0xff);
    }
    return s;
}

stream_pair::stream_pair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        throw std::runtime_error("socketpair");
    }
    stream_ = std::make_unique<socket_stream>(fds[0]);
    stream_->set_rw_timeout(5);
    peer_ = fds[1];
}

stream_pair::~stream_pair() {
    // Closing our end first ends a sender blocked on a full socket.
    stream_.reset();
    close_peer();
}

void stream_pair::send_from_peer(std::string bytes) {
    join_sender();
    sender_ = std::thread([fd = peer_, data = std::move(bytes)] {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            done += static_cast<size_t>(n);
        }
    });
}

std::string stream_pair::read_at_peer(size_t len) {
    std::string out(len, '\0');
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::recv(peer_, out.data() + done, len - done, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return {};
        }
        done += static_cast<size_t>(n);
    }
    return out;
}

std::string stream_pair::read_all_at_peer() {
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(peer_, buf, sizeof(buf), 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return out;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

void stream_pair::close_peer() {
    join_sender();
    if (peer_ >= 0) {
        ::close(peer_);
        peer_ = -1;
    }
}

void stream_pair::close_stream() {
    stream_.reset();
}

void stream_pair::join_sender() {
    if (sender_.joinable()) {
        sender_.join();
    }
}

}  // namespace net::test
