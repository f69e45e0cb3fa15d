#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>

#include "net/socket_stream.h"

namespace {

// A connected loopback TCP pair: the server end and the client end.
struct tcp_pair {
    int server = -1;
    int client = -1;
    int serverPort = 0;
    int clientPort = 0;

    tcp_pair() {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size);
        serverPort = ntohs(addr.sin_port);
        client = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        server = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        ::getsockname(client, reinterpret_cast<sockaddr*>(&addr), &size);
        clientPort = ntohs(addr.sin_port);
    }
    ~tcp_pair() {
        if (client >= 0) {
            ::close(client);
        }
    }
    void send_client(const std::string& bytes) const {
        ASSERT_EQ(::send(client, bytes.data(), bytes.size(), 0),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string recv_client(size_t size) const {
        std::string out;
        char buf[65536];
        while (out.size() < size) {
            const ssize_t n = ::recv(client, buf, std::min(sizeof buf, size - out.size()), 0);
            if (n <= 0) {
                break;
            }
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    void close_client() {
        ::close(client);
        client = -1;
    }
};

TEST(SocketStream, AddressTextsNameTheLoopbackEndsAndTheirPorts) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    EXPECT_STREQ(stream.get_local(false), "127.0.0.1");
    EXPECT_EQ(std::string(stream.get_local(true)), "127.0.0.1|" + std::to_string(pair.serverPort));
    EXPECT_STREQ(stream.get_peer(), "127.0.0.1");
    EXPECT_EQ(std::string(stream.get_peer(true)), "127.0.0.1|" + std::to_string(pair.clientPort));
    EXPECT_EQ(stream.sock_handle(), pair.server);
}

TEST(SocketStream, AddressTextsOfANonSocketAreEmpty) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[1]);
    net::socket_stream stream(fds[0]);
    EXPECT_STREQ(stream.get_peer(true), "");
    EXPECT_STREQ(stream.get_local(true), "");
}

TEST(SocketStream, ContextIsOnePointerOfTheApplication) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    EXPECT_EQ(stream.get_ctx(), nullptr);
    int value = 0;
    stream.set_ctx(&value);
    EXPECT_EQ(stream.get_ctx(), &value);
}

TEST(SocketStream, BytesGivenBackComeFirst) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    pair.send_client("world");
    stream.unread("lo ", 3);
    stream.unread("hel", 3);
    EXPECT_TRUE(stream.has_unread());
    char buf[11] = {};
    ASSERT_TRUE(stream.read_exact(buf, 11));
    EXPECT_EQ(std::string(buf, 11), "hello world");
    EXPECT_FALSE(stream.has_unread());
}

TEST(SocketStream, ReadGivesZeroWhenThePeerClosed) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    pair.send_client("ab");
    pair.close_client();
    char buf[8];
    EXPECT_EQ(stream.read(buf, sizeof buf), 2);
    EXPECT_EQ(stream.read(buf, sizeof buf), 0);
    EXPECT_FALSE(stream.read_exact(buf, 1));
}

TEST(SocketStream, ReadTimesOut) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    stream.set_rw_timeout(1);
    EXPECT_EQ(stream.get_rw_timeout(), 1);
    char buf[8];
    EXPECT_EQ(stream.read(buf, sizeof buf), -1);
    EXPECT_TRUE(stream.timed_out());
    EXPECT_EQ(stream.timeout_count(), 1u);
    pair.send_client("x");
    EXPECT_EQ(stream.read(buf, sizeof buf), 1);
    EXPECT_FALSE(stream.timed_out());
}

TEST(SocketStream, DeadlineCutsAWaitShortEvenWithoutATimeout) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    stream.set_deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
    char buf[8];
    EXPECT_EQ(stream.read(buf, sizeof buf), -1);
    EXPECT_TRUE(stream.timed_out());
    stream.clear_deadline();
    pair.send_client("y");
    EXPECT_EQ(stream.read(buf, sizeof buf), 1);
}

TEST(SocketStream, WriteSendsEveryByte) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    std::string big(4 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::string received;
    std::thread reader([&] { received = pair.recv_client(big.size()); });
    EXPECT_TRUE(stream.write(big.data(), big.size()));
    reader.join();
    EXPECT_EQ(received, big);
}

TEST(SocketStream, WriteTimesOutWhenThePeerNeverReads) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    stream.set_rw_timeout(1);
    const std::string chunk(1024 * 1024, 'z');
    bool ok = true;
    for (int i = 0; i < 256 && ok; ++i) {
        ok = stream.write(chunk.data(), chunk.size());
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(stream.timed_out());
}

TEST(SocketStream, WriteFailsOnceThePeerIsGone) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    pair.close_client();
    const std::string chunk(65536, 'q');
    bool ok = true;
    for (int i = 0; i < 64 && ok; ++i) {
        ok = stream.write(chunk.data(), chunk.size());
    }
    EXPECT_FALSE(ok);
}

TEST(SocketStream, WaitReadableTellsDataTimeOutAndClose) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    stream.set_rw_timeout(1);
    EXPECT_EQ(stream.wait_readable(), net::socket_stream::wait_result::timed_out);
    stream.unread("a", 1);
    EXPECT_EQ(stream.wait_readable(), net::socket_stream::wait_result::ready);
    char c;
    ASSERT_EQ(stream.read(&c, 1), 1);
    pair.send_client("b");
    EXPECT_EQ(stream.wait_readable(), net::socket_stream::wait_result::ready);
    ASSERT_EQ(stream.read(&c, 1), 1);
    EXPECT_EQ(c, 'b');
    pair.close_client();
    EXPECT_EQ(stream.wait_readable(), net::socket_stream::wait_result::closed);
}

// Flips the case bit of every byte each way, and counts its releases.
class flip_hook : public net::stream_hook {
  public:
    explicit flip_hook(bool accept, int* destroyed) : accept_(accept), destroyed_(destroyed) {}
    bool open(net::socket_stream& stream) override {
        stream_ = &stream;
        return accept_;
    }
    ssize_t read(void* buf, size_t len) override {
        const ssize_t n = stream_->sock_read(buf, len);
        for (ssize_t i = 0; i < n; ++i) {
            static_cast<char*>(buf)[i] ^= 0x20;
        }
        return n;
    }
    ssize_t send(const void* buf, size_t len) override {
        std::string flipped(static_cast<const char*>(buf), len);
        for (char& c : flipped) {
            c ^= 0x20;
        }
        return stream_->sock_send(flipped.data(), std::min<size_t>(len, 3));
    }
    void destroy() override {
        ++*destroyed_;
        delete this;
    }

  private:
    bool accept_;
    int* destroyed_;
    net::socket_stream* stream_ = nullptr;
};

TEST(SocketStream, SetupHookReturnsTheHookBeforeOrTheRefusedOne) {
    int destroyed = 0;
    tcp_pair pair;
    {
        net::socket_stream stream(pair.server);
        EXPECT_EQ(stream.get_hook(), nullptr);

        auto* refused = new flip_hook(false, &destroyed);
        EXPECT_EQ(stream.setup_hook(refused), refused);
        EXPECT_EQ(stream.get_hook(), nullptr);
        refused->destroy();

        auto* first = new flip_hook(true, &destroyed);
        EXPECT_EQ(stream.setup_hook(first), nullptr);
        EXPECT_EQ(stream.get_hook(), first);

        auto* second = new flip_hook(true, &destroyed);
        EXPECT_EQ(stream.setup_hook(second), first);
        EXPECT_EQ(stream.get_hook(), second);
        first->destroy();
        EXPECT_EQ(destroyed, 2);
    }
    EXPECT_EQ(destroyed, 3);  // the installed one goes with the stream
}

TEST(SocketStream, ReadsAndWritesGoThroughTheHook) {
    int destroyed = 0;
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    ASSERT_EQ(stream.setup_hook(new flip_hook(true, &destroyed)), nullptr);
    pair.send_client("HELLO");
    char buf[5];
    ASSERT_TRUE(stream.read_exact(buf, 5));
    EXPECT_EQ(std::string(buf, 5), "hello");
    ASSERT_TRUE(stream.write("answer", 6));  // the hook takes 3 bytes at a time
    EXPECT_EQ(pair.recv_client(6), "ANSWER");
    // Bytes given back are above the hook: not flipped again.
    stream.unread("kept", 4);
    ASSERT_TRUE(stream.read_exact(buf, 4));
    EXPECT_EQ(std::string(buf, 4), "kept");
}

// Holds one byte of its own, as a TLS layer holds decrypted bytes.
class holding_hook : public net::stream_hook {
  public:
    bool open(net::socket_stream&) override { return true; }
    ssize_t read(void* buf, size_t len) override {
        if (held_ == 0 || len == 0) {
            return -1;
        }
        *static_cast<char*>(buf) = 'h';
        held_ = 0;
        return 1;
    }
    ssize_t send(const void*, size_t len) override { return static_cast<ssize_t>(len); }
    size_t pending() const override { return held_; }

  private:
    size_t held_ = 1;
};

TEST(SocketStream, BytesHeldByTheHookCountAsReadable) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    stream.set_rw_timeout(1);
    ASSERT_EQ(stream.setup_hook(new holding_hook), nullptr);
    EXPECT_EQ(stream.wait_readable(), net::socket_stream::wait_result::ready);
    char c = 0;
    ASSERT_EQ(stream.read(&c, 1), 1);
    EXPECT_EQ(c, 'h');
    EXPECT_EQ(stream.wait_readable(), net::socket_stream::wait_result::timed_out);
}

}  // namespace
