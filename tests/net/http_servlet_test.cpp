#include <gtest/gtest.h>
#include <cstring>

#include "tests/net/net_core_testkit.h"

namespace {

using namespace net::test;

// A fresh recording server for each test.
class Servlet : public ::testing::Test {
  protected:
    void SetUp() override {
        running_ = std::make_unique<server_runner>(server_);
        ASSERT_TRUE(running_->listening());
    }
    void TearDown() override { running_.reset(); }
    int port() const { return running_->port(); }

    event_log log_;
    test_master server_{log_};
    std::unique_ptr<server_runner> running_;
};

TEST_F(Servlet, APostIsAnsweredWithAChunkedBodyFromItsJson) {
    raw_client client(port());
    ASSERT_TRUE(client.send(post_request(R"({"ServeltData":"ProcessNum{1}"})")));
    const http_answer answer = client.read_answer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.chunked);
    EXPECT_EQ(answer.body, "data[ProcessNum{1}]");
    EXPECT_EQ(answer.header("content-type"), "text/plain");
    EXPECT_EQ(answer.header("connection"), "keep-alive");
    EXPECT_EQ(log_.count("post"), 1u);
}

struct body_case {
    const char* body;
    const char* answer;
};

class PostBodies : public Servlet, public ::testing::WithParamInterface<body_case> {};

TEST_P(PostBodies, AreReadAsJsonOrNotAtAll) {
    raw_client client(port());
    ASSERT_TRUE(client.send(post_request(GetParam().body)));
    EXPECT_EQ(client.read_answer().body, GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, PostBodies,
    ::testing::Values(body_case{R"({"ServeltData":"x"})", "data[x]"},
                      body_case{R"({"a":{"ServeltData":"nested"},"ServeltData":"top"})",
                                "data[nested]"},
                      body_case{R"({"ServeltData":5})", "data[]"},
                      body_case{R"({"Other":"x"})", "data[nodata]"},
                      body_case{"ServeltData=x", "data[nojson]"}, body_case{"", "data[nojson]"},
                      body_case{"{\"ServeltData\":\"a\xff"
                                "b\"}",
                                "data[a\xef\xbf\xbd"
                                "b]"}));

TEST_F(Servlet, AGetWithoutABodyIsServed) {
    raw_client client(port());
    ASSERT_TRUE(client.send("GET /ZQTService?a=1 HTTP/1.1\r\nHost: x\r\n\r\n"));
    const http_answer answer = client.read_answer();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "GET /ZQTService?a=1");
}

TEST_F(Servlet, PipelinedRequestsAreAnsweredInOrder) {
    raw_client client(port());
    ASSERT_TRUE(client.send("GET /1 HTTP/1.1\r\n\r\n" + post_request(R"({"ServeltData":"2"})") +
                            "GET /3 HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.read_answer().body, "GET /1");
    EXPECT_EQ(client.read_answer().body, "data[2]");
    EXPECT_EQ(client.read_answer().body, "GET /3");
    EXPECT_EQ(log_.count("read"), 3u);
}

struct pace_case {
    size_t piece;
    int pauseMs;
};

class SlowWrites : public Servlet, public ::testing::WithParamInterface<pace_case> {};

TEST_P(SlowWrites, ARequestInPiecesIsPutTogether) {
    raw_client client(port());
    const std::string request = post_request(R"({"ServeltData":"pieces"})");
    ASSERT_TRUE(client.send_slowly(request, GetParam().piece,
                                   std::chrono::milliseconds(GetParam().pauseMs)));
    EXPECT_EQ(client.read_answer().body, "data[pieces]");
    // And the connection goes on.
    ASSERT_TRUE(client.send("GET /after HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.read_answer().body, "GET /after");
}

INSTANTIATE_TEST_SUITE_P(Paces, SlowWrites,
                         ::testing::Values(pace_case{1, 2}, pace_case{3, 1}, pace_case{17, 5},
                                           pace_case{100, 50}));

TEST_F(Servlet, AChunkedRequestBodyIsDecoded) {
    raw_client client(port());
    ASSERT_TRUE(
        client.send("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "9\r\n{\"Servelt\r\n"
                    "a;ext=1\r\nData\":\"chu\r\n"
                    "6\r\nnked\"}\r\n"
                    "0\r\nX-Trailer: t\r\n\r\n"
                    "GET /next HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.read_answer().body, "data[chunked]");
    EXPECT_EQ(client.read_answer().body, "GET /next");
}

TEST_F(Servlet, ExpectContinueIsAnsweredBeforeTheBodyIsRead) {
    raw_client client(port());
    const std::string body = R"({"ServeltData":"later"})";
    ASSERT_TRUE(client.send("POST / HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n"));
    const http_answer interim = client.read_answer();
    EXPECT_EQ(interim.status, 100);
    ASSERT_TRUE(client.send(body));
    const http_answer final = client.read_answer();
    EXPECT_EQ(final.status, 200);
    EXPECT_EQ(final.body, "data[later]");
}

TEST_F(Servlet, ExpectContinueForABodyOverTheLimitGetsTheAnswerAndAClose) {
    raw_client client(port());
    ASSERT_TRUE(
        client.send("POST / HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 5000\r\n\r\n"));
    const http_answer answer = client.read_answer();
    EXPECT_EQ(answer.status, 200);  // no 100 first
    EXPECT_EQ(answer.body, "data[nojson]");
    EXPECT_TRUE(client.peer_closed());
}

TEST_F(Servlet, ABodyOverTheJsonLimitIsNotParsedAndTheConnectionGoesOn) {
    server_.jsonLimit = 64;
    raw_client client(port());
    const std::string big = R"({"ServeltData":")" + std::string(100, 'x') + "\"}";
    ASSERT_TRUE(client.send(post_request(big)));
    EXPECT_EQ(client.read_answer().body, "data[nojson]");
    ASSERT_TRUE(client.send("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" +
                            std::string("64\r\n") + std::string(100, ' ') + "\r\n0\r\n\r\n"));
    EXPECT_EQ(client.read_answer().body, "data[nojson]");
    const std::string fits = R"({"ServeltData":"ok"})";
    ASSERT_TRUE(client.send(post_request(fits)));
    EXPECT_EQ(client.read_answer().body, "data[ok]");
}

TEST_F(Servlet, ABodyOfExactlyTheLimitIsRead) {
    const std::string body = R"({"ServeltData":"edge"})";
    server_.jsonLimit = body.size();
    raw_client client(port());
    ASSERT_TRUE(client.send(post_request(body)));
    EXPECT_EQ(client.read_answer().body, "data[edge]");
}

TEST_F(Servlet, AHeadOverTheLimitGoesToTheErrorHandler) {
    raw_client client(port());
    const std::string head = "GET / HTTP/1.1\r\nX-Big: " + std::string(65 * 1024, 'a') + "\r\n\r\n";
    client.send(head);
    EXPECT_TRUE(client.peer_closed());
    ASSERT_TRUE(log_.wait_count("close", 1));
    EXPECT_EQ(log_.count("error"), 1u);
    EXPECT_EQ(log_.count("get"), 0u);
}

TEST_F(Servlet, AHeadJustUnderTheLimitIsServed) {
    raw_client client(port());
    const std::string start = "GET /big HTTP/1.1\r\nX-Big: ";
    const std::string head = start + std::string(64 * 1024 - start.size() - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(head.size(), 64u * 1024);
    ASSERT_TRUE(client.send(head));
    EXPECT_EQ(client.read_answer().body, "GET /big");
}

struct bad_case {
    std::string bytes;
    const char* handler;
};

class BadRequests : public Servlet, public ::testing::WithParamInterface<bad_case> {};

// Neither handler writes here, so nothing but the handler's own answer (see
// the service's servlet tests) ever goes out.
TEST_P(BadRequests, GoToTheirHandlerAndCloseTheConnection) {
    raw_client client(port());
    client.send(GetParam().bytes);
    const std::string all = client.read_all();
    ASSERT_TRUE(log_.wait_count("close", 1));
    EXPECT_EQ(log_.count(GetParam().handler), 1u);
    EXPECT_EQ(log_.count(GetParam().handler == std::string("unknown") ? "error" : "unknown"), 0u);
    EXPECT_EQ(all, "");
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, BadRequests,
    ::testing::Values(
        bad_case{"BREW /pot HTTP/1.1\r\n\r\n", "unknown"},
        bad_case{"post / HTTP/1.1\r\n\r\n", "unknown"},
        bad_case{std::string("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", 11), "unknown"},
        bad_case{std::string("\0\1\2\3garbage\r\n\r\n", 15), "unknown"},
        bad_case{"GET / HTTP/1.1\r\nNo colon here\r\n\r\n", "error"},
        bad_case{"GET / XTTP/1.1\r\n\r\n", "error"},
        bad_case{"GET /\x01 HTTP/1.1\r\n\r\n", "error"},
        bad_case{"POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", "error"},
        bad_case{"POST / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", "error"},
        bad_case{"POST / HTTP/1.1\r\nContent-Length: 2\r\n"
                 "Transfer-Encoding: chunked\r\n\r\n",
                 "error"}));

TEST_F(Servlet, AMalformedChunkedBodyClosesTheConnection) {
    raw_client client(port());
    client.send(
        "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n0\r\n\r\n"
        "GET /never HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.read_answer().body, "data[nojson]");
    EXPECT_TRUE(client.peer_closed());
    EXPECT_EQ(log_.count("get"), 0u);
}

TEST_F(Servlet, AClientGoneMidHeadEndsInTheErrorHandler) {
    {
        raw_client client(port());
        client.send("GET / HTTP/1.1\r\nHost: 127.");
        ASSERT_TRUE(log_.wait_count("read", 1));
    }
    ASSERT_TRUE(log_.wait_count("close", 1));
    EXPECT_EQ(log_.count("error"), 1u);
}

TEST_F(Servlet, AHeadNotWholeInTimeGoesToTheErrorHandler) {
    raw_client client(port());
    client.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    EXPECT_TRUE(client.peer_closed());
    ASSERT_TRUE(log_.wait_count("close", 1));
    EXPECT_EQ(log_.count("error"), 1u);
    EXPECT_EQ(log_.count("timeout"), 1u);
}

TEST_F(Servlet, AHeadDribbledInIsCutOffAtItsDeadline) {
    raw_client client(port());
    std::atomic<bool> sending{true};
    std::thread dribble([&] {
        const std::string endless = "GET / HTTP/1.1\r\nX: " + std::string(1000, 'a');
        client.send_slowly(endless, 1, 20ms);  // each byte well within the read time-out
        sending = false;
    });
    ASSERT_TRUE(log_.wait_count("close", 1));
    EXPECT_EQ(log_.count("error"), 1u);
    EXPECT_TRUE(sending);  // cut off long before the sender was done
    client.shutdown_write();
    dribble.join();
}

TEST_F(Servlet, ConnectionCloseIsHonoured) {
    raw_client client(port());
    ASSERT_TRUE(client.send(post_request(R"({"ServeltData":"bye"})", false)));
    const http_answer answer = client.read_answer();
    EXPECT_EQ(answer.body, "data[bye]");
    EXPECT_EQ(answer.header("connection"), "close");
    EXPECT_TRUE(client.peer_closed());
}

TEST_F(Servlet, AnHttp10ClientGetsABodyEndedByTheClose) {
    raw_client client(port());
    const std::string body = R"({"ServeltData":"old"})";
    ASSERT_TRUE(client.send("POST / HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\n\r\n" + body));
    const http_answer answer = client.read_answer();
    ASSERT_TRUE(answer.complete);
    EXPECT_FALSE(answer.chunked);
    EXPECT_EQ(answer.body, "data[old]");
    EXPECT_EQ(answer.header("connection"), "close");
}

TEST_F(Servlet, OptionsGoesToItsHandlerWhoseAnswerCloses) {
    raw_client client(port());
    ASSERT_TRUE(
        client.send("OPTIONS / HTTP/1.1\r\nOrigin: http://page.example\r\n"
                    "Access-Control-Request-Method: POST\r\n\r\n"));
    const http_answer answer = client.read_answer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.header("connection"), "close");
    EXPECT_EQ(answer.body, "");
    EXPECT_TRUE(client.peer_closed());
    EXPECT_EQ(log_.count("options"), 1u);
}

TEST_F(Servlet, MethodsNotHandledGet405AndAClose) {
    for (const char* method : {"PUT", "DELETE", "PATCH", "HEAD", "TRACE", "PROPFIND"}) {
        raw_client client(port());
        ASSERT_TRUE(client.send(std::string(method) + " / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
        const http_answer answer = client.read_answer();
        EXPECT_EQ(answer.status, 405) << method;
        EXPECT_EQ(answer.header("content-length"), "0") << method;
        EXPECT_EQ(answer.header("connection"), "close") << method;
        EXPECT_TRUE(client.peer_closed()) << method;
    }
}

TEST_F(Servlet, TheBaseAnswers405ForEveryMethodAnd400ForBadOnes) {
    server_.baseServlet = true;
    for (const char* method : {"GET", "POST", "OPTIONS"}) {
        raw_client client(port());
        ASSERT_TRUE(client.send(std::string(method) + " / HTTP/1.1\r\n\r\n"));
        EXPECT_EQ(client.read_answer().status, 405) << method;
        EXPECT_TRUE(client.peer_closed()) << method;
    }
    for (const char* bad : {"BREW / HTTP/1.1\r\n\r\n", "GET / HTTP/1.1\r\nbad\r\n\r\n"}) {
        raw_client client(port());
        ASSERT_TRUE(client.send(bad));
        const http_answer answer = client.read_answer();
        EXPECT_EQ(answer.status, 400) << bad;
        EXPECT_EQ(answer.header("connection"), "close") << bad;
        EXPECT_TRUE(client.peer_closed()) << bad;
    }
}

const std::string kHandshake =
    "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
    "Connection: keep-alive, Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
    "Sec-WebSocket-Version: 13\r\n\r\n";

TEST_F(Servlet, TheOpeningHandshakeIsAnsweredWith101ThenTheWebSocketHandler) {
    raw_client client(port());
    ASSERT_TRUE(client.send(kHandshake + "ping"));  // the first bytes after the head, at once
    const std::string all = client.read_all();
    EXPECT_EQ(all,
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\nping");
    EXPECT_EQ(log_.count("websocket"), 1u);
}

struct handshake_case {
    const char* from;
    const char* to;
    int status;
};

class BadHandshakes : public Servlet, public ::testing::WithParamInterface<handshake_case> {};

TEST_P(BadHandshakes, AreRefusedWithoutTheWebSocketHandler) {
    std::string request = kHandshake;
    request.replace(request.find(GetParam().from), std::strlen(GetParam().from), GetParam().to);
    raw_client client(port());
    ASSERT_TRUE(client.send(request));
    const http_answer answer = client.read_answer();
    EXPECT_EQ(answer.status, GetParam().status) << request;
    if (GetParam().status == 426) {
        EXPECT_EQ(answer.header("sec-websocket-version"), "13");
    }
    EXPECT_TRUE(client.peer_closed());
    EXPECT_EQ(log_.count("websocket"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, BadHandshakes,
    ::testing::Values(
        handshake_case{"Version: 13", "Version: 8", 426},
        handshake_case{"Sec-WebSocket-Version: 13\r\n", "", 400},
        handshake_case{"dGhlIHNhbXBsZSBub25jZQ==", "dGhlIHNhbXBsZSBub25jZQ", 400},
        handshake_case{"dGhlIHNhbXBsZSBub25jZQ==", "dGhlIHNhbXBsZSBub25jZQ==AAAA", 400},
        handshake_case{"dGhlIHNhbXBsZSBub25jZQ==", "dGhlIHNhbXBsZSBub2*jZQ==", 400},
        handshake_case{"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", "", 400},
        handshake_case{"Connection: keep-alive, Upgrade", "Connection: keep-alive", 400}));

TEST_F(Servlet, AnUpgradeToAnotherProtocolIsAnOrdinaryRequest) {
    raw_client client(port());
    ASSERT_TRUE(client.send("GET /h2 HTTP/1.1\r\nUpgrade: h2c\r\nConnection: Upgrade\r\n\r\n"));
    EXPECT_EQ(client.read_answer().body, "GET /h2");
    EXPECT_EQ(log_.count("websocket"), 0u);
}

}  // namespace
