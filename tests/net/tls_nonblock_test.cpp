#include <gtest/gtest.h>

#include <unistd.h>
#include <thread>

#include "net/socket_stream.h"
#include "net/sslbase_io.h"
#include "tls_test_support.h"

namespace {

// In nonblock mode a handshake that must wait reports success without
// being complete, and is taken up again by the next call.
TEST(tls_nonblock, HandshakeTakesStepsUntilComplete) {
    auto conf = net::test::server_conf();
    int port = 0;
    const int listenFd = net::test::listen_loopback(port);
    net::test::tls_client client(port);
    const int fd = net::test::accept_within(listenFd);
    ASSERT_GE(fd, 0);
    net::socket_stream stream(fd);
    stream.set_rw_timeout(1);
    net::sslbase_io* layer = conf->create(true);
    ASSERT_EQ(stream.setup_hook(layer), nullptr);

    EXPECT_TRUE(layer->handshake()) << "nothing has arrived yet: wait, not fail";
    EXPECT_FALSE(layer->handshake_ok());
    char byte;
    EXPECT_EQ(layer->read(&byte, 1), -1) << "no data before the handshake";

    int clientResult = -1;
    std::thread peer([&] {
        clientResult = client.handshake();
        if (clientResult == 0) {
            client.write_all("x");
        }
    });
    int calls = 0;
    while (!layer->handshake_ok() && calls < 100 && layer->handshake()) {
        ++calls;
    }
    EXPECT_TRUE(layer->handshake_ok());
    EXPECT_GE(calls, 1);
    peer.join();
    EXPECT_EQ(clientResult, 0);
    ssize_t n = -1;
    for (int tries = 0; tries < 20 && n < 0; ++tries) {
        n = layer->read(&byte, 1);
    }
    EXPECT_EQ(n, 1);
    EXPECT_EQ(byte, 'x');
    ::close(listenFd);
}

}  // namespace
