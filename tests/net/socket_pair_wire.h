#pragma once
// A fixture whose stream writes into one end of a socket pair; the test
// reads what was sent from the other.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "net/socket_stream.h"

namespace net::test {

class SocketPairWire : public ::testing::Test {
  protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        stream_ = std::make_unique<net::socket_stream>(fds[0]);
        peer_ = fds[1];
    }
    void TearDown() override { ::close(peer_); }

    // Everything sent so far, without waiting for more.
    std::string sent() {
        std::string out;
        char buf[65536];
        pollfd p{peer_, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0) {
            const ssize_t n = ::recv(peer_, buf, sizeof buf, 0);
            if (n <= 0) {
                break;
            }
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

    std::unique_ptr<net::socket_stream> stream_;
    int peer_ = -1;
};

}  // namespace net::test
