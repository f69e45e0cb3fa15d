// The service's https_servlet over real loopback connections, with request
// texts run by a recording dispatch in place of RunProcess.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "net/memcache_session.h"
#include "service/https_servlet.h"
#include "tests/net/net_core_testkit.h"
#include "tests/service/RecordingDispatch.h"

namespace {

using namespace net::test;

class HttpsServlet : public ::testing::Test {
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

    service_test::RecordingDispatch runner_;
    event_log log_;
    test_master server_{log_};
    std::unique_ptr<server_runner> running_;
};

void ExpectServiceHeaders(const http_answer& answer) {
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.chunked);
    EXPECT_EQ(answer.header("content-type"), "text/html;charset=utf-8");
    EXPECT_EQ(answer.header("access-control-allow-credentials"), "1");
    EXPECT_EQ(answer.header("access-control-allow-origin"), "*");
    EXPECT_EQ(answer.header("access-control-allow-methods"), "*");
    EXPECT_EQ(answer.header("access-control-allow-headers"), "*");
}

TEST_F(HttpsServlet, APostRunsItsServeltDataUnderTheLockAndAnswersChunked) {
    raw_client client(port());
    ASSERT_TRUE(client.send(post_request(R"({"ServeltData":"ProcessNum{1}"})")));
    const http_answer answer = client.read_answer();
    ASSERT_TRUE(answer.complete);
    ExpectServiceHeaders(answer);
    EXPECT_EQ(answer.header("connection"), "keep-alive");
    EXPECT_EQ(answer.body, "FunctionRes[ProcessNum{1}]");
    EXPECT_EQ(runner_.seen(), std::vector<std::u16string>{u"ProcessNum{1}"});
    EXPECT_TRUE(runner_.lockHeldEveryTime());
    // Kept alive: a second request on the same connection is served too.
    ASSERT_TRUE(client.send(post_request(R"({"ServeltData":"2"})")));
    EXPECT_EQ(client.read_answer().body, "FunctionRes[2]");
}

TEST_F(HttpsServlet, AGetIsServedLikeAPost) {
    raw_client client(port());
    const std::string body = R"({"ServeltData":"by get"})";
    ASSERT_TRUE(
        client.send("GET /ZQTService HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\n\r\n" + body + "GET /bare HTTP/1.1\r\n\r\n"));
    const http_answer answer = client.read_answer();
    ExpectServiceHeaders(answer);
    EXPECT_EQ(answer.body, "FunctionRes[by get]");
    // Without a body the request text is empty, and it still runs.
    EXPECT_EQ(client.read_answer().body, "FunctionRes[]");
    EXPECT_EQ(runner_.seen(), (std::vector<std::u16string>{u"by get", u""}));
}

struct body_case {
    const char* body;
    const char16_t* request;  // what the runner is given
    const char* answer;
};

class Bodies : public HttpsServlet, public ::testing::WithParamInterface<body_case> {};

TEST_P(Bodies, GiveTheRequestTextOfTheirFirstServeltData) {
    raw_client client(port());
    ASSERT_TRUE(client.send(post_request(GetParam().body)));
    EXPECT_EQ(client.read_answer().body, GetParam().answer);
    EXPECT_EQ(runner_.seen(), std::vector<std::u16string>{GetParam().request});
}

INSTANTIATE_TEST_SUITE_P(
    Json, Bodies,
    ::testing::Values(body_case{R"({"ServeltData":"x"})", u"x", "FunctionRes[x]"},
                      body_case{R"({"a":{"ServeltData":"nested"},"ServeltData":"top"})", u"nested",
                                "FunctionRes[nested]"},
                      body_case{R"({"ServeltData":5})", u"", "FunctionRes[]"},
                      body_case{R"({"Other":"x"})", u"", "FunctionRes[]"},
                      body_case{"ServeltData=x", u"", "FunctionRes[]"},
                      body_case{"", u"", "FunctionRes[]"},
                      body_case{"{\"ServeltData\":\"\xe7\xad\xbe\xe5\x90\x8d\"}", u"\u7b7e\u540d",
                                "FunctionRes[\xe7\xad\xbe\xe5\x90\x8d]"},
                      body_case{"{\"ServeltData\":\"a\xff"
                                "b\"}",
                                u"a\ufffdb",
                                "FunctionRes[a\xef\xbf\xbd"
                                "b]"}));

TEST_F(HttpsServlet, OptionsMirrorsTheRequestAndCloses) {
    raw_client client(port());
    ASSERT_TRUE(
        client.send("OPTIONS / HTTP/1.1\r\nOrigin: http://page.example\r\n"
                    "Access-Control-Request-Method: POST\r\n\r\n"));
    const http_answer answer = client.read_answer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.header("access-control-allow-origin"), "http://page.example");
    EXPECT_EQ(answer.header("access-control-allow-methods"), "POST");
    EXPECT_EQ(answer.headers.count("access-control-allow-headers"), 0u);
    EXPECT_EQ(answer.header("access-control-max-age"), "3600");
    EXPECT_EQ(answer.header("access-control-allow-credentials"), "1");
    EXPECT_EQ(answer.header("access-control-allow-private-network"), "1");
    EXPECT_EQ(answer.header("connection"), "close");
    EXPECT_EQ(answer.body, "");
    EXPECT_TRUE(client.peer_closed());
    EXPECT_TRUE(runner_.seen().empty());
}

struct bad_case {
    std::string bytes;
    bool unknownMethod;  // else the error handler, which answers nothing
};

void PrintTo(const bad_case& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.bytes);
}

class BadRequests : public HttpsServlet, public ::testing::WithParamInterface<bad_case> {};

TEST_P(BadRequests, AreRefusedWithoutRunningAnything) {
    raw_client client(port());
    client.send(GetParam().bytes);
    const std::string all = client.read_all();
    EXPECT_EQ(all, GetParam().unknownMethod
                       ? "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html; charset=\r\n"
                         "Connection: close\r\n\r\n<root error='unkown request method' />\r\n"
                       : "");
    ASSERT_TRUE(log_.wait_count("close", 1));
    EXPECT_TRUE(runner_.seen().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, BadRequests,
    ::testing::Values(
        bad_case{"BREW /pot HTTP/1.1\r\n\r\n", true}, bad_case{"post / HTTP/1.1\r\n\r\n", true},
        bad_case{std::string("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", 11), true},
        bad_case{std::string("\0\1\2\3garbage\r\n\r\n", 15), true},
        bad_case{"GET / HTTP/1.1\r\nNo colon here\r\n\r\n", false},
        bad_case{"GET / XTTP/1.1\r\n\r\n", false}, bad_case{"GET /\x01 HTTP/1.1\r\n\r\n", false},
        bad_case{"POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", false},
        bad_case{"POST / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", false},
        bad_case{"POST / HTTP/1.1\r\nContent-Length: 2\r\n"
                 "Transfer-Encoding: chunked\r\n\r\n",
                 false}));

TEST_F(HttpsServlet, ABodyCutShortRunsNothingAndIsNotAnswered) {
    raw_client client(port());
    ASSERT_TRUE(client.send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"ServeltData\""));
    client.shutdown_write();
    EXPECT_TRUE(client.peer_closed());
    EXPECT_TRUE(runner_.seen().empty());
}

TEST_F(HttpsServlet, ConnectionCloseAndHttp10AreHonoured) {
    {
        raw_client client(port());
        ASSERT_TRUE(client.send(post_request(R"({"ServeltData":"bye"})", false)));
        const http_answer answer = client.read_answer();
        EXPECT_EQ(answer.body, "FunctionRes[bye]");
        EXPECT_EQ(answer.header("connection"), "close");
        EXPECT_TRUE(client.peer_closed());
    }
    raw_client client(port());
    const std::string body = R"({"ServeltData":"old"})";
    ASSERT_TRUE(client.send("POST / HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\n\r\n" + body));
    const http_answer answer = client.read_answer();
    ASSERT_TRUE(answer.complete);
    EXPECT_FALSE(answer.chunked);
    EXPECT_EQ(answer.body, "FunctionRes[old]");
    EXPECT_EQ(answer.header("connection"), "close");
}

TEST_F(HttpsServlet, MethodsItDoesNotServeGetTheLibrarys405) {
    for (const char* method : {"PUT", "DELETE"}) {
        raw_client client(port());
        ASSERT_TRUE(client.send(std::string(method) + " / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
        EXPECT_EQ(client.read_answer().status, 405) << method;
        EXPECT_TRUE(client.peer_closed()) << method;
    }
    EXPECT_TRUE(runner_.seen().empty());
}

TEST_F(HttpsServlet, AWebSocketMessageIsRunAfterTheHandshake) {
    raw_client client(port());
    // "ab" masked with 37 fa 21 3d, then a close frame that ends the session.
    const std::string frame = "\x81\x82\x37\xfa\x21\x3d\x56\x98";
    ASSERT_TRUE(
        client.send("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                    "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                    "Sec-WebSocket-Version: 13\r\n\r\n" +
                    frame + std::string("\x88\x80\x37\xfa\x21\x3d", 6)));
    const std::string answer = "FunctionRes[ab]";
    EXPECT_EQ(client.read_all(),
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n\x81" +
                  std::string(1, static_cast<char>(answer.size())) + answer);
    EXPECT_EQ(runner_.seen(), std::vector<std::u16string>{u"ab"});
}

bool have(const char* probe) {
    int status = -1;
    run_command(std::string(probe) + " >/dev/null 2>&1", status);
    return status == 0;
}

TEST_F(HttpsServlet, CurlReadsThePreflightAndTheRefusal) {
    if (!have("curl --version")) {
        GTEST_SKIP() << "no curl";
    }
    const std::string base = "http://127.0.0.1:" + std::to_string(port()) + "/";
    int status = -1;
    std::string out = run_command(
        "curl -sS --max-time 20 -i -X OPTIONS -H 'Origin: http://page' "
        "-H 'Access-Control-Request-Method: POST' " +
            base + " 2>&1",
        status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("HTTP/1.1 200 OK"), std::string::npos) << out;
    EXPECT_NE(out.find("Access-Control-Allow-Origin: http://page"), std::string::npos) << out;
    out = run_command("curl -sS --max-time 20 -X BREW " + base + " 2>&1", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "<root error='unkown request method' />\r\n");
}

TEST_F(HttpsServlet, PythonReadsThePostAndThePreflight) {
    if (!have("python3 -c 'import http.client'")) {
        GTEST_SKIP() << "no python3";
    }
    const std::string script =
        "import http.client\n"
        "c=http.client.HTTPConnection('127.0.0.1'," +
        std::to_string(port()) +
        ",timeout=20)\n"
        "out=[]\n"
        "c.request('POST','/',body='{\"ServeltData\":\"py\"}')\n"
        "r=c.getresponse();out.append('%d %s %s'%(r.status,r.getheader('Transfer-Encoding'),"
        "r.read().decode()))\n"
        "c.request('OPTIONS','/',headers={'Origin':'o'})\n"
        "r=c.getresponse();out.append('%d %s %r'%(r.status,"
        "r.getheader('Access-Control-Allow-Origin'),r.read()))\n"
        "print('|'.join(out))\n";
    int status = -1;
    const std::string out =
        run_command("python3 -c \"$(cat <<'PYEOF'\n" + script + "PYEOF\n)\" 2>&1", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "200 chunked FunctionRes[py]|200 o b''\n");
}

}  // namespace
