// The short ways a request takes: a stream reads what the socket has in one
// go (its wait is its read), an answer's small chunk leaves together with the
// final chunk, and a connection's thread waits a moment for the next
// connection. Each must keep the behaviour of the long way.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "net/HttpServletResponse.h"
#include "net/socket_stream.h"
#include "tests/net/net_core_testkit.h"
#include "tests/net/socket_pair_wire.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

// A connected loopback TCP pair; the stream takes the server end.
struct tcp_pair {
    int server = -1;
    int client = -1;

    tcp_pair() {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size);
        client = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        server = ::accept(listener, nullptr, nullptr);
        ::close(listener);
    }
    ~tcp_pair() {
        if (client >= 0) {
            ::close(client);
        }
    }
    void send(const std::string& bytes) const {
        ASSERT_EQ(::send(client, bytes.data(), bytes.size(), 0),
                  static_cast<ssize_t>(bytes.size()));
    }
};

std::string read_exactly(net::socket_stream& stream, size_t size) {
    std::string out(size, '\0');
    return stream.read_exact(out.data(), size) ? out : std::string();
}

TEST(ReadAhead, WhatAWaitReadIsHandedToTheReaderAndThenTheEnd) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    stream.set_rw_timeout(1);
    pair.send("abc");
    ASSERT_EQ(stream.wait_readable(), net::socket_stream::wait_result::ready);
    ::close(pair.client);
    pair.client = -1;
    // The bytes the wait took are still there, and still come first.
    EXPECT_EQ(stream.wait_readable(), net::socket_stream::wait_result::ready);
    EXPECT_EQ(read_exactly(stream, 3), "abc");
    char c;
    EXPECT_EQ(stream.read(&c, 1), 0);
    EXPECT_EQ(stream.wait_readable(), net::socket_stream::wait_result::closed);
}

TEST(ReadAhead, PiecesOfAnyLengthComeInOrder) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    stream.set_rw_timeout(2);
    std::string sent;
    for (size_t i = 0; i < 3 * net::socket_stream::kReadAhead + 123; ++i) {
        sent += static_cast<char>('a' + i % 26);
    }
    std::thread writer([&] { pair.send(sent); });
    std::string got = read_exactly(stream, 5);                        // from read-ahead
    got += read_exactly(stream, 2 * net::socket_stream::kReadAhead);  // crosses it
    got += read_exactly(stream, sent.size() - got.size());            // the rest
    writer.join();
    EXPECT_EQ(got, sent);
}

// Flips the case bit of every byte it reads, as a TLS layer transforms them.
class flip_hook : public net::stream_hook {
  public:
    bool open(net::socket_stream& stream) override {
        stream_ = &stream;
        return true;
    }
    ssize_t read(void* buf, size_t len) override {
        const ssize_t n = stream_->sock_read(buf, len);
        for (ssize_t i = 0; i < n; ++i) {
            static_cast<char*>(buf)[i] ^= 0x20;
        }
        return n;
    }
    ssize_t send(const void*, size_t len) override { return static_cast<ssize_t>(len); }

  private:
    net::socket_stream* stream_ = nullptr;
};

TEST(ReadAhead, BytesTakenBeforeAHookIsInstalledStillGoThroughIt) {
    // The first read of a TLS port's connection comes before its TLS layer.
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    stream.set_rw_timeout(1);
    pair.send("HELLO");
    ASSERT_EQ(stream.wait_readable(), net::socket_stream::wait_result::ready);
    ASSERT_EQ(stream.setup_hook(new flip_hook), nullptr);
    EXPECT_EQ(read_exactly(stream, 5), "hello");
}

TEST(ReadAhead, ANonBlockingSocketStillWaitsItsTimeOut) {
    tcp_pair pair;
    ASSERT_EQ(::fcntl(pair.server, F_SETFL, ::fcntl(pair.server, F_GETFL) | O_NONBLOCK), 0);
    net::socket_stream stream(pair.server);
    stream.set_rw_timeout(1);
    const auto began = clock_type::now();
    EXPECT_EQ(stream.wait_readable(), net::socket_stream::wait_result::timed_out);
    EXPECT_GE(clock_type::now() - began, 900ms);
    char c;
    EXPECT_EQ(stream.read(&c, 1), -1);
    EXPECT_TRUE(stream.timed_out());
    EXPECT_EQ(stream.timeout_count(), 2u);
}

TEST(ReadAhead, ADeadlineCutsAReadShortOfTheTimeOut) {
    tcp_pair pair;
    net::socket_stream stream(pair.server);
    stream.set_rw_timeout(5);
    stream.set_deadline(clock_type::now() + 200ms);
    const auto began = clock_type::now();
    char c;
    EXPECT_EQ(stream.read(&c, 1), -1);
    EXPECT_TRUE(stream.timed_out());
    EXPECT_LT(clock_type::now() - began, 2s);
    stream.clear_deadline();
    pair.send("x");
    EXPECT_EQ(stream.read(&c, 1), 1);
    EXPECT_EQ(c, 'x');
}

// A response writing into one end of a socket pair; the test reads the other.
class HeldChunk : public net::test::SocketPairWire {
  protected:
    static constexpr char kHead[] =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: keep-alive\r\n\r\n";
};

TEST_F(HeldChunk, ASmallChunkLeavesWithTheFinalChunk) {
    net::HttpServletResponse res(*stream_);
    res.setChunkedTransferEncoding(true);
    ASSERT_TRUE(res.write("abc"));
    EXPECT_TRUE(res.headerSent());
    EXPECT_EQ(sent(), "");
    ASSERT_TRUE(res.write(nullptr, 0));
    EXPECT_EQ(sent(), std::string(kHead) + "3\r\nabc\r\n0\r\n\r\n");
    EXPECT_TRUE(res.reusable());
}

TEST_F(HeldChunk, FlushSendsWhatIsHeldAndTheEndFollows) {
    net::HttpServletResponse res(*stream_);
    res.setChunkedTransferEncoding(true);
    ASSERT_TRUE(res.write("abc"));
    ASSERT_TRUE(res.write("de"));
    ASSERT_TRUE(res.flush());
    EXPECT_EQ(sent(), std::string(kHead) + "3\r\nabc\r\n2\r\nde\r\n");
    ASSERT_TRUE(res.write(nullptr, 0));
    EXPECT_EQ(sent(), "0\r\n\r\n");
}

TEST_F(HeldChunk, RawBytesAndBigChunksGoOutInOrderAtOnce) {
    {
        net::HttpServletResponse res(*stream_);
        res.setChunkedTransferEncoding(true);
        ASSERT_TRUE(res.write("abc"));
        ASSERT_TRUE(res.getOutputStream().write("raw"));
        EXPECT_EQ(sent(), std::string(kHead) + "3\r\nabc\r\nraw");
    }
    net::HttpServletResponse res(*stream_);
    res.setChunkedTransferEncoding(true);
    ASSERT_TRUE(res.write("abc"));
    const std::string big(8192, 'b');
    ASSERT_TRUE(res.write(big));
    EXPECT_EQ(sent(), std::string(kHead) + "3\r\nabc\r\n2000\r\n" + big + "\r\n");
}

TEST_F(HeldChunk, AResponseDestroyedUnendedStillSendsWhatItHeld) {
    {
        net::HttpServletResponse res(*stream_);
        res.setChunkedTransferEncoding(true);
        ASSERT_TRUE(res.write("abc"));
    }
    EXPECT_EQ(sent(), std::string(kHead) + "3\r\nabc\r\n");
}

TEST_F(HeldChunk, AFailedSendOfWhatWasHeldShowsAtTheEnd) {
    net::HttpServletResponse res(*stream_);
    res.setChunkedTransferEncoding(true);
    ASSERT_TRUE(res.write("abc"));
    ::close(peer_);
    peer_ = ::dup(0);  // keep TearDown's close harmless
    EXPECT_FALSE(res.write(nullptr, 0));
    EXPECT_FALSE(res.reusable());
}

int thread_count() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stoi(line.substr(8));
        }
    }
    return -1;
}

const std::string kGet = "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

TEST(ConnectionThreads, OneThreadServesConnectionsOneAfterAnother) {
    net::test::event_log log;
    net::test::test_master server(log);
    std::mutex lock;
    std::set<std::thread::id> threads;
    server.onRead = [&](net::socket_stream& stream) {
        char buf[256];
        stream.read(buf, sizeof buf);
        std::lock_guard<std::mutex> guard(lock);
        threads.insert(std::this_thread::get_id());
        return false;
    };
    net::test::server_runner running(server);
    ASSERT_TRUE(running.listening());
    constexpr size_t kConnections = 10;
    for (size_t i = 0; i < kConnections; ++i) {
        net::test::raw_client client(running.port());
        ASSERT_TRUE(client.send(kGet));
        ASSERT_TRUE(client.peer_closed());
        ASSERT_TRUE(log.wait_count("close", i + 1));
    }
    std::lock_guard<std::mutex> guard(lock);
    // Each came after the one before had closed, so a waiting thread took it
    // (a very slow machine may now and then have let a thread go first).
    EXPECT_LT(threads.size(), kConnections);
}

TEST(ConnectionThreads, OpenConnectionsCostNoThreadEach) {
    net::test::event_log log;
    net::test::test_master server(log);
    net::test::server_runner running(server);
    ASSERT_TRUE(running.listening());
    {
        // The server's own threads are all there once it has served one.
        net::test::raw_client first(running.port());
        ASSERT_TRUE(first.send(kGet));
        EXPECT_EQ(first.read_answer().status, 200);
    }
    ASSERT_TRUE(log.wait_count("close", 1));
    const int before = thread_count();
    {
        std::vector<std::unique_ptr<net::test::raw_client>> clients;
        for (int i = 0; i < 32; ++i) {
            clients.push_back(std::make_unique<net::test::raw_client>(running.port()));
            ASSERT_TRUE(clients.back()->send(kGet));
        }
        for (auto& client : clients) {
            EXPECT_EQ(client->read_answer().status, 200);
        }
        ASSERT_TRUE(log.wait_count("accept", 33));
        // All 32 open and idle, on the few threads there were before.
        EXPECT_LT(thread_count(), before + 8);
    }
    ASSERT_TRUE(log.wait_count("close", 33));
    const auto deadline = clock_type::now() + net::test::kPatience;
    while (thread_count() > before && clock_type::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(thread_count(), before);
}

TEST(ConnectionThreads, AStopEndsThreadsThatWaitForAConnection) {
    net::test::event_log log;
    net::test::test_master server(log);
    auto running = std::make_unique<net::test::server_runner>(server);
    ASSERT_TRUE(running->listening());
    {
        net::test::raw_client client(running->port());
        ASSERT_TRUE(client.send(kGet));
        EXPECT_EQ(client.read_answer().status, 200);
    }
    ASSERT_TRUE(log.wait_count("close", 1));
    // Its thread now waits for a next connection; the stop must not wait
    // for that to run out.
    const auto began = clock_type::now();
    EXPECT_TRUE(running->stop());
    EXPECT_LT(clock_type::now() - began, 5s);
}

}  // namespace
