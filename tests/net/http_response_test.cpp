#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/HttpServletResponse.h"
#include "net/socket_stream.h"
#include "tests/net/socket_pair_wire.h"

namespace {

// A response writing into one end of a socket pair; the test reads the other.
class ResponseWire : public net::test::SocketPairWire {};

TEST_F(ResponseWire, ChunkedBodyIsFramedAndEndedByTheFinalChunk) {
    net::HttpServletResponse res(*stream_);
    res.setContentType("text/html;charset=utf-8")
        .setKeepAlive(true)
        .setChunkedTransferEncoding(true)
        .setHeader("Access-Control-Allow-Credentials", 1)
        .setHeader("Access-Control-Allow-Origin", "*");
    ASSERT_TRUE(res.write("FunctionRes[-1]ProcessCallBackName[]"));
    EXPECT_FALSE(res.reusable());  // not ended yet
    ASSERT_TRUE(res.write(nullptr, 0));
    EXPECT_TRUE(res.reusable());
    EXPECT_EQ(sent(),
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: text/html;charset=utf-8\r\n"
              "Transfer-Encoding: chunked\r\n"
              "Connection: keep-alive\r\n"
              "Access-Control-Allow-Credentials: 1\r\n"
              "Access-Control-Allow-Origin: *\r\n"
              "\r\n"
              "24\r\nFunctionRes[-1]ProcessCallBackName[]\r\n"
              "0\r\n\r\n");
}

TEST_F(ResponseWire, AnEmptyTextEndsTheBodyAndEndingTwiceIsFine) {
    net::HttpServletResponse res(*stream_);
    res.setChunkedTransferEncoding(true);
    EXPECT_TRUE(res.write(""));
    EXPECT_TRUE(res.write(nullptr, 0));
    EXPECT_FALSE(res.write("late"));
    const std::string out = sent();
    EXPECT_EQ(out.substr(out.find("\r\n\r\n") + 4), "0\r\n\r\n");
}

TEST_F(ResponseWire, AHeadWithoutLengthOrChunksSaysCloseAndIsNotReusable) {
    net::HttpServletResponse res(*stream_);
    res.setKeepAlive(true).setHeader("Access-Control-Max-Age", 3600);
    ASSERT_TRUE(res.sendHeader());
    EXPECT_TRUE(res.sendHeader());  // once only
    EXPECT_EQ(sent(),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nAccess-Control-Max-Age: 3600\r\n\r\n");
    EXPECT_FALSE(res.reusable());
}

TEST_F(ResponseWire, AnAbsentHeaderValueIsLeftOut) {
    net::HttpServletResponse res(*stream_);
    res.setContentLength(0).setHeader("Access-Control-Allow-Origin",
                                      static_cast<const char*>(nullptr));
    res.setHeader("X-Kept", "1").setHeader("X-Kept", nullptr);
    ASSERT_TRUE(res.sendHeader());
    const std::string out = sent();
    EXPECT_EQ(out.find("Access-Control-Allow-Origin"), std::string::npos) << out;
    EXPECT_EQ(out.find("X-Kept"), std::string::npos) << out;
    EXPECT_TRUE(res.reusable());
}

TEST_F(ResponseWire, HeaderValuesCannotBreakTheHead) {
    net::HttpServletResponse res(*stream_);
    res.setContentLength(0)
        .setHeader("Access-Control-Allow-Origin", "a\r\nSet-Cookie: x=1")
        .setHeader("Bad Name", "v")
        .setHeader("X-Twice", "one")
        .setHeader("x-twice", std::string("two"));
    ASSERT_TRUE(res.sendHeader());
    EXPECT_EQ(sent(),
              "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: keep-alive\r\n"
              "Access-Control-Allow-Origin: a  Set-Cookie: x=1\r\nx-twice: two\r\n\r\n");
}

TEST_F(ResponseWire, ContentLengthBodiesRefuseToOverrun) {
    net::HttpServletResponse res(*stream_);
    res.setStatus(201).setContentLength(5);
    EXPECT_TRUE(res.write("abc"));
    EXPECT_FALSE(res.reusable());
    EXPECT_FALSE(res.write("def"));
    EXPECT_TRUE(res.write("de"));
    EXPECT_TRUE(res.reusable());
    EXPECT_EQ(sent(),
              "HTTP/1.1 201 Created\r\nContent-Length: 5\r\nConnection: keep-alive\r\n\r\n"
              "abcde");
}

TEST_F(ResponseWire, FramingHeadersGoToTheirSetters) {
    net::HttpServletResponse res(*stream_);
    res.setHeader("Content-Length", 2).setHeader("Connection", "close");
    ASSERT_TRUE(res.write("ok"));
    EXPECT_EQ(sent(), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    EXPECT_FALSE(res.reusable());
}

TEST_F(ResponseWire, AnHttp10ClientGetsNoChunks) {
    net::HttpServletResponse res(*stream_);
    res.set_request_version(1, 0);
    res.setChunkedTransferEncoding(true).setKeepAlive(true);
    ASSERT_TRUE(res.write("plain"));
    ASSERT_TRUE(res.write(nullptr, 0));
    EXPECT_EQ(sent(), "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nplain");
    EXPECT_FALSE(res.reusable());
}

TEST_F(ResponseWire, OutputStreamWritesRawBytesAfterTheHead) {
    net::HttpServletResponse res(*stream_);
    res.setStatus(400).setContentType("text/html; charset=");
    ASSERT_TRUE(res.sendHeader());
    ASSERT_TRUE(res.getOutputStream().write("<root error='unkown request method' />\r\n"));
    EXPECT_EQ(sent(),
              "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html; charset=\r\n"
              "Connection: close\r\n\r\n<root error='unkown request method' />\r\n");
    EXPECT_FALSE(res.reusable());
}

struct status_case {
    int set;
    const char* line;
};

class StatusLine : public ::testing::TestWithParam<status_case> {};

TEST_P(StatusLine, CarriesTheCodeAndItsReason) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    net::socket_stream stream(fds[0]);
    net::HttpServletResponse res(stream);
    res.setStatus(GetParam().set);
    const std::string head = res.head_text();
    EXPECT_EQ(head.substr(0, head.find("\r\n")), GetParam().line);
    ::close(fds[1]);
}

INSTANTIATE_TEST_SUITE_P(Codes, StatusLine,
                         ::testing::Values(status_case{200, "HTTP/1.1 200 OK"},
                                           status_case{400, "HTTP/1.1 400 Bad Request"},
                                           status_case{405, "HTTP/1.1 405 Method Not Allowed"},
                                           status_case{599, "HTTP/1.1 599 Server Error"},
                                           status_case{42, "HTTP/1.1 500 Internal Server Error"},
                                           status_case{1000,
                                                       "HTTP/1.1 500 Internal Server Error"}));

TEST_F(ResponseWire, AFailedWriteIsReportedAndSticks) {
    ::close(peer_);
    peer_ = ::dup(0);  // keep TearDown's close harmless
    net::HttpServletResponse res(*stream_);
    res.setChunkedTransferEncoding(true);
    const std::string big(1 << 20, 'x');
    bool ok = true;
    for (int i = 0; i < 8 && ok; ++i) {
        ok = res.write(big);
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(res.write(nullptr, 0));
    EXPECT_FALSE(res.reusable());
}

}  // namespace
