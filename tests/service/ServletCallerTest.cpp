// Who a request text runs for, as the real servlet tells its dispatch over
// loopback connections: the Origin header of the POST or GET, or of the
// WebSocket handshake for every message; nothing runs for a refused origin.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "net/memcache_session.h"
#include "service/https_servlet.h"
#include "tests/net/net_core_testkit.h"
#include "tests/service/RecordingDispatch.h"

namespace {

using namespace net::test;
using service_test::seen_caller;

constexpr const char* kRefused = "https://evil.example";

class ServletCaller : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.makeServlet = [this](net::socket_stream* stream) -> net::HttpServlet* {
            return new https_servlet(stream, new net::memcache_session("127.0.0.1:11211"),
                                     runner_.dispatch());
        };
        running_ = std::make_unique<server_runner>(server_);
        ASSERT_TRUE(running_->listening());
    }
    void TearDown() override { running_.reset(); }
    int port() const { return running_->port(); }

    service_test::RecordingDispatch runner_{{kRefused}};
    event_log log_;
    test_master server_{log_};
    std::unique_ptr<server_runner> running_;
};

std::string OriginLine(const char* origin) {
    return origin == nullptr ? std::string() : std::string("Origin: ") + origin + "\r\n";
}

std::string Post(const char* origin) {
    const std::string body = R"({"ServeltData":"p"})";
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + OriginLine(origin) +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Get(const char* origin) {
    return "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n" + OriginLine(origin) + "\r\n";
}

std::string Preflight(const char* origin) {
    return "OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + OriginLine(origin) +
           "Access-Control-Request-Method: POST\r\n\r\n";
}

// The handshake, two messages ("ab", "ab") and a close frame.
std::string WebSocket(const char* origin) {
    const std::string frame("\x81\x82\x37\xfa\x21\x3d\x56\x98", 8);
    return "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n" + OriginLine(origin) +
           "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
           "Sec-WebSocket-Version: 13\r\n\r\n" +
           frame + frame + std::string("\x88\x80\x37\xfa\x21\x3d", 6);
}

struct CallerCase {
    const char* name;
    std::string request;
    std::vector<seen_caller> callers;
};

void PrintTo(const CallerCase& c, std::ostream* os) {
    *os << c.name;
}

class Callers : public ServletCaller, public ::testing::WithParamInterface<CallerCase> {};

TEST_P(Callers, ReachTheDispatchWithEveryRequestText) {
    raw_client client(port());
    ASSERT_TRUE(client.send(GetParam().request));
    client.read_all();
    EXPECT_EQ(runner_.callers(), GetParam().callers);
}

const seen_caller kBankHttp{"https://bank.example", "http"};
const seen_caller kBankWs{"https://bank.example", "ws"};

INSTANTIATE_TEST_SUITE_P(
    Requests, Callers,
    ::testing::Values(
        CallerCase{"PostWithOrigin", Post("https://bank.example"), {kBankHttp}},
        CallerCase{"PostWithoutOrigin", Post(nullptr), {{"", "http"}}},
        CallerCase{"GetWithOrigin", Get("https://bank.example"), {kBankHttp}},
        CallerCase{"GetWithoutOrigin", Get(nullptr), {{"", "http"}}},
        CallerCase{"WebSocketWithOrigin", WebSocket("https://bank.example"), {kBankWs, kBankWs}},
        CallerCase{"WebSocketWithoutOrigin", WebSocket(nullptr), {{"", "ws"}, {"", "ws"}}}),
    [](const auto& c) { return std::string(c.param.name); });

TEST_F(ServletCaller, EachRequestOfAKeptConnectionHasItsOwnOrigin) {
    raw_client client(port());
    ASSERT_TRUE(client.send(Post("https://a.example") + Post(nullptr)));
    EXPECT_EQ(client.read_answer().status, 200);
    EXPECT_EQ(client.read_answer().status, 200);
    EXPECT_EQ(runner_.callers(),
              (std::vector<seen_caller>{{"https://a.example", "http"}, {"", "http"}}));
}

struct RefusalCase {
    const char* name;
    std::string request;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class Refusals : public ServletCaller, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, AreForbiddenAndRunNothing) {
    raw_client client(port());
    ASSERT_TRUE(client.send(GetParam().request));
    const http_answer answer = client.read_answer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.status, 403);
    EXPECT_EQ(answer.header("access-control-allow-origin"), "");
    EXPECT_TRUE(client.peer_closed());
    EXPECT_TRUE(runner_.seen().empty());
}

INSTANTIATE_TEST_SUITE_P(RefusedOrigin, Refusals,
                         ::testing::Values(RefusalCase{"Post", Post(kRefused)},
                                           RefusalCase{"Get", Get(kRefused)},
                                           RefusalCase{"Preflight", Preflight(kRefused)},
                                           RefusalCase{"WebSocket", WebSocket(kRefused)}),
                         [](const auto& c) { return std::string(c.param.name); });

TEST_F(ServletCaller, AnAdmittedOriginIsStillPreflighted) {
    raw_client client(port());
    ASSERT_TRUE(client.send(Preflight("https://bank.example")));
    const http_answer answer = client.read_answer();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.header("access-control-allow-origin"), "https://bank.example");
}

}  // namespace
