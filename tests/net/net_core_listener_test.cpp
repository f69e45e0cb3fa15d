#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <memory>

#include "tests/net/net_core_testkit.h"

namespace {

using namespace net::test;

const std::string kGet = "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

TEST(Listener, CallbacksComeInOrderWithInitFirst) {
    event_log log;
    test_master server(log);
    server.initDelayMs = 300;  // a client that is quick must still wait for it
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    {
        raw_client client(running.port());
        ASSERT_TRUE(client.send(kGet));
        const http_answer answer = client.read_answer();
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "GET /x");
    }
    ASSERT_TRUE(log.wait_count("close", 1));
    EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"init", "accept", "read", "get", "close"}));
}

TEST(Listener, AKeptConnectionIsReadOncePerRequest) {
    event_log log;
    test_master server(log);
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    {
        raw_client client(running.port());
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(client.send(kGet));
            EXPECT_EQ(client.read_answer().body, "GET /x") << i;
        }
    }
    ASSERT_TRUE(log.wait_count("close", 1));
    EXPECT_EQ(log.count("accept"), 1u);
    EXPECT_EQ(log.count("read"), 3u);
    EXPECT_EQ(log.count("init"), 1u);
}

TEST(Listener, HoldsManyConnectionsOpenAtOnce) {
    constexpr size_t kClients = 300;
    event_log log;
    test_master server(log);
    server.rwTimeout = 0;
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    std::vector<std::unique_ptr<raw_client>> clients;
    for (size_t i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<raw_client>(running.port()));
        ASSERT_TRUE(clients.back()->connected()) << i;
    }
    ASSERT_TRUE(log.wait_count("accept", kClients));
    for (auto& client : clients) {
        ASSERT_TRUE(client->send(kGet));
    }
    for (auto& client : clients) {
        EXPECT_EQ(client->read_answer().body, "GET /x");
    }
    EXPECT_EQ(log.count("close"), 0u);
    clients.clear();
    EXPECT_TRUE(log.wait_count("close", kClients));
}

TEST(Listener, PastTheCapANewConnectionIsClosedAtOnce) {
    event_log log;
    test_master server(log);
    server.rwTimeout = 0;
    server.set_max_connections(3);
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    std::vector<std::unique_ptr<raw_client>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<raw_client>(running.port()));
        ASSERT_TRUE(clients.back()->send(kGet));
        ASSERT_EQ(clients.back()->read_answer().status, 200);
    }
    raw_client refused(running.port());
    refused.send(kGet);
    EXPECT_TRUE(refused.peer_closed());
    EXPECT_EQ(log.count("accept"), 3u);

    clients.erase(clients.begin());
    ASSERT_TRUE(log.wait_count("close", 1));
    // Room again once that connection's thread is done.
    bool served = false;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!served && std::chrono::steady_clock::now() < deadline) {
        raw_client again(running.port());
        again.send(kGet);
        served = again.read_answer(2s).status == 200;
        if (!served) {
            std::this_thread::sleep_for(20ms);
        }
    }
    EXPECT_TRUE(served);
}

TEST(Listener, StopClosesEveryConnectionAndJoinsEveryThread) {
    event_log log;
    test_master server(log);
    server.rwTimeout = 60;  // nothing would end by itself during the test
    auto running = std::make_unique<server_runner>(server);
    ASSERT_TRUE(running->listening());
    const int port = running->port();
    std::vector<std::unique_ptr<raw_client>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<raw_client>(port));
    }
    clients[0]->send(kGet);
    ASSERT_EQ(clients[0]->read_answer().status, 200);
    clients[1]->send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"Servelt");  // mid-body
    clients[2]->send("GET / HTTP/1.1\r\nHost");                                    // mid-head
    ASSERT_TRUE(log.wait_count("accept", 5));
    ASSERT_TRUE(log.wait_count("read", 3));

    EXPECT_TRUE(running->stop());
    // Joined: every connection has been through its close callback already.
    EXPECT_EQ(log.count("close"), 5u);
    EXPECT_TRUE(server.bound_ports().empty());
    for (auto& client : clients) {
        EXPECT_TRUE(client->peer_closed(5s));
    }
    raw_client late(port);
    EXPECT_FALSE(late.connected());
}

TEST(Listener, AStopBeforeRunMakesItReturnAtOnce) {
    event_log log;
    test_master server(log);
    server.stop();
    EXPECT_TRUE(server.stopped());
    EXPECT_TRUE(server.run_alone("127.0.0.1:0"));
    EXPECT_EQ(log.count("init"), 0u);
}

TEST(Listener, AnIdleConnectionTimesOutAndCloses) {
    event_log log;
    test_master server(log);
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    raw_client client(running.port());
    EXPECT_TRUE(client.peer_closed());
    ASSERT_TRUE(log.wait_count("close", 1));
    EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"init", "accept", "timeout", "close"}));
}

TEST(Listener, ATrueTimeoutResultKeepsTheConnection) {
    event_log log;
    test_master server(log);
    server.timeoutResult = true;
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    raw_client client(running.port());
    ASSERT_TRUE(log.wait_count("timeout", 2));
    ASSERT_TRUE(client.send(kGet));
    EXPECT_EQ(client.read_answer().body, "GET /x");
    EXPECT_EQ(log.count("close"), 0u);
}

TEST(Listener, ATimeOutInsideAReadIsReportedToo) {
    event_log log;
    test_master server(log);
    server.timeoutResult = true;  // the read's false result still closes
    server.onRead = [](net::socket_stream& stream) {
        char buf[10];
        return stream.read_exact(buf, sizeof buf);
    };
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    raw_client client(running.port());
    client.send("x");
    EXPECT_TRUE(client.peer_closed());
    ASSERT_TRUE(log.wait_count("close", 1));
    EXPECT_EQ(log.snapshot(),
              (std::vector<std::string>{"init", "accept", "read", "timeout", "close"}));
}

TEST(Listener, AFalseAcceptClosesAndStillCallsCloseOnce) {
    event_log log;
    test_master server(log);
    server.acceptResult = false;
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    raw_client client(running.port());
    client.send(kGet);
    EXPECT_TRUE(client.peer_closed());
    ASSERT_TRUE(log.wait_count("close", 1));
    EXPECT_EQ(log.count("read"), 0u);
}

TEST(Listener, AClientThatClosesAbruptlyIsClosedOnce) {
    event_log log;
    test_master server(log);
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    for (int i = 0; i < 5; ++i) {
        raw_client client(running.port());
        client.send("POST / HTTP/1.1\r\nContent-Length: 50\r\n\r\n{\"a\":");
        ASSERT_TRUE(log.wait_count("read", static_cast<size_t>(i + 1)));
    }
    ASSERT_TRUE(log.wait_count("close", 5));
    EXPECT_EQ(log.count("accept"), 5u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(log.count("close"), 5u);
}

TEST(Listener, InitRunsOnceAndOnlyAfterListeningWorked) {
    event_log log;
    test_master holder(log);
    server_runner held(holder);
    ASSERT_TRUE(held.listening());

    event_log log2;
    test_master server(log2);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(server.run_alone(("127.0.0.1:" + std::to_string(held.port())).c_str()));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(log2.count("init"), 0u);
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    raw_client client(running.port());
    client.send(kGet);
    EXPECT_EQ(client.read_answer().status, 200);
    EXPECT_EQ(log2.count("init"), 1u);
}

}  // namespace

namespace {

using namespace net::test;

// Fills the descriptor table, connects a socket made beforehand, and lets
// the server accept it only once descriptors are free again.
TEST(Listener, TheAcceptLoopSurvivesRunningOutOfDescriptors) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 512);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);

    event_log log;
    test_master server(log);
    server.set_max_connections(8);  // needs no more descriptors than the limit has
    {
        server_runner running(server);
        ASSERT_TRUE(running.listening());
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(client, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(running.port()));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

        testing::internal::CaptureStderr();
        std::vector<int> filler;
        for (int fd; (fd = ::dup(client)) >= 0;) {
            filler.push_back(fd);
        }
        ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        const std::string get = "GET /late HTTP/1.1\r\n\r\n";
        ASSERT_EQ(::send(client, get.data(), get.size(), 0), static_cast<ssize_t>(get.size()));
        std::this_thread::sleep_for(300ms);  // the server meets EMFILE meanwhile
        for (const int fd : filler) {
            ::close(fd);
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("accept:"), std::string::npos) << err;

        ASSERT_TRUE(log.wait_count("get", 1));
        char buf[512];
        const ssize_t n = ::recv(client, buf, sizeof buf, 0);
        ASSERT_GT(n, 0);
        EXPECT_NE(std::string(buf, static_cast<size_t>(n)).find("GET /late"), std::string::npos);
        ::close(client);
    }
    setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
