#include <gtest/gtest.h>

#include "net/http_request_parser.h"

namespace {

constexpr size_t kLimit = 64 * 1024;

// Feeds `bytes` in pieces of `piece`, as a reader would: what the parser
// does not take is offered again with the next piece. Returns what was left
// once the message ended.
std::string feed_in_pieces(net::http_request_parser& parser, const std::string& bytes,
                           size_t piece) {
    std::string pending;
    size_t at = 0;
    while (!parser.failed() && !parser.message_complete()) {
        if (at < bytes.size()) {
            pending += bytes.substr(at, piece);
            at += piece;
        }
        const size_t used = parser.feed(pending.data(), pending.size());
        pending.erase(0, used);
        if (used == 0 && at >= bytes.size()) {
            break;
        }
    }
    return pending + (at < bytes.size() ? bytes.substr(at) : std::string());
}

class HttpParserPieces : public ::testing::TestWithParam<size_t> {};

TEST_P(HttpParserPieces, HeadAndChunkedBodyComeTogetherFromAnyFragments) {
    const std::string request =
        "POST /ZQTService?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Long: abc\r\n"
        "Transfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n5\r\npedia\r\n0\r\n\r\n"
        "GET /next HTTP/1.1\r\n\r\n";
    net::http_request_parser parser(kLimit);
    const std::string rest = feed_in_pieces(parser, request, GetParam());
    ASSERT_FALSE(parser.failed()) << parser.error_name();
    ASSERT_TRUE(parser.message_complete());
    EXPECT_EQ(parser.method(), "POST");
    EXPECT_EQ(parser.url(), "/ZQTService?x=1");
    ASSERT_EQ(parser.headers().size(), 3u);
    EXPECT_EQ(parser.headers()[1].first, "X-Long");
    EXPECT_EQ(parser.headers()[1].second, "abc");
    EXPECT_TRUE(parser.chunked());
    EXPECT_TRUE(parser.keep_alive());
    EXPECT_EQ(parser.body(), "Wikipedia");
    EXPECT_EQ(rest, "GET /next HTTP/1.1\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(Sizes, HttpParserPieces, ::testing::Values(1, 2, 3, 7, 64, 4096));

TEST(HttpParser, StopsAfterTheHeadAndAfterTheMessage) {
    const std::string bytes =
        "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcGET / HTTP/1.1\r\n\r\n";
    net::http_request_parser parser(kLimit);
    const size_t head = parser.feed(bytes.data(), bytes.size());
    EXPECT_TRUE(parser.head_complete());
    EXPECT_FALSE(parser.message_complete());
    EXPECT_EQ(parser.content_length(), 3);
    EXPECT_EQ(parser.body(), "");
    const size_t body = parser.feed(bytes.data() + head, bytes.size() - head);
    EXPECT_TRUE(parser.message_complete());
    EXPECT_EQ(parser.body(), "abc");
    EXPECT_EQ(bytes.substr(head + body), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(parser.feed("x", 1), 0u);
}

TEST(HttpParser, AnUpgradeEndsTheMessageAndLeavesTheRest) {
    const std::string bytes =
        "GET /ws HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n\x81\x05hello";
    net::http_request_parser parser(kLimit);
    const std::string rest = feed_in_pieces(parser, bytes, bytes.size());
    EXPECT_TRUE(parser.upgrade());
    EXPECT_TRUE(parser.message_complete());
    EXPECT_EQ(rest, "\x81\x05hello");
}

struct verdict_case {
    const char* bytes;
    bool invalidMethod;
};

class HttpParserRefuses : public ::testing::TestWithParam<verdict_case> {};

TEST_P(HttpParserRefuses, MalformedRequests) {
    const verdict_case c = GetParam();
    net::http_request_parser parser(kLimit);
    const std::string bytes = c.bytes;
    feed_in_pieces(parser, bytes, bytes.size());
    EXPECT_TRUE(parser.failed()) << c.bytes;
    EXPECT_EQ(parser.invalid_method(), c.invalidMethod) << c.bytes << parser.error_name();
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpParserRefuses,
    ::testing::Values(verdict_case{"FOO / HTTP/1.1\r\n\r\n", true},
                      verdict_case{"get / HTTP/1.1\r\n\r\n", true},
                      verdict_case{"GETT / HTTP/1.1\r\n\r\n", true},
                      verdict_case{"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", true},
                      verdict_case{"GET / HTTP/1.1\r\nBad Header\r\n\r\n", false},
                      verdict_case{"GET / XTTP/1.1\r\n\r\n", false},
                      verdict_case{"POST / HTTP/1.1\r\nContent-Length: 1\r\n"
                                   "Transfer-Encoding: chunked\r\n\r\n",
                                   false},
                      verdict_case{"POST / HTTP/1.1\r\nContent-Length: x\r\n\r\n", false},
                      verdict_case{"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                                   "zz\r\n",
                                   false}));

// What the packaged parser, built lenient, would let through. Fed in
// several piece sizes, since the chunk check follows the bytes across feeds.
struct strict_case {
    const char* name;
    std::string bytes;
    bool headFailed;  // refused in the head rather than in the body
};

class HttpParserStrict : public ::testing::TestWithParam<std::tuple<strict_case, size_t>> {};

TEST_P(HttpParserStrict, RefusesWhatALenientParserTakes) {
    const auto& [c, piece] = GetParam();
    net::http_request_parser parser(kLimit);
    feed_in_pieces(parser, c.bytes, piece);
    EXPECT_TRUE(parser.failed()) << c.name;
    EXPECT_FALSE(parser.message_complete()) << c.name;
    EXPECT_EQ(parser.head_failed(), c.headFailed) << c.name << ": " << parser.error_name();
}

const std::string kChunkedHead = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpParserStrict,
    ::testing::Combine(
        ::testing::Values(
            strict_case{"Http09", "GET /\r\n\r\n", true},
            strict_case{"Http20", "GET / HTTP/2.0\r\n\r\n", true},
            strict_case{"Http12", "GET / HTTP/1.2\r\n\r\n", true},
            strict_case{"SpaceBeforeColon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", true},
            strict_case{"SpaceInName", "GET / HTTP/1.1\r\nX Y: x\r\n\r\n", true},
            strict_case{"Gzip", "POST / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\nabc", true},
            strict_case{"GzipChunked",
                        "POST / HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n",
                        true},
            strict_case{"ChunkWithoutCrlf", kChunkedHead + "5\r\nhelloXX0\r\n\r\n", false},
            strict_case{"ChunkWithLfOnly", kChunkedHead + "5\r\nhello\n0\r\n\r\n", false},
            strict_case{"ChunkWithCrOnly", kChunkedHead + "5\r\nhello\r0\r\n\r\n", false},
            strict_case{"SecondChunkWithoutCrlf", kChunkedHead + "1\r\na\r\n2\r\nbcXY0\r\n\r\n",
                        false},
            strict_case{"OverflowingChunkSize", kChunkedHead + "fffffffffffffffffff\r\n", false},
            strict_case{"NegativeChunkSize", kChunkedHead + "-5\r\nhello\r\n0\r\n\r\n", false}),
        ::testing::Values(1, 3, 4096)),
    [](const testing::TestParamInfo<std::tuple<strict_case, size_t>>& param_info) {
        return std::string(std::get<0>(param_info.param).name) + "_" +
               std::to_string(std::get<1>(param_info.param));
    });

TEST(HttpParser, ChunkExtensionsTrailersAndUpperCaseSizesStillPass) {
    for (const size_t piece : {1u, 2u, 4096u}) {
        net::http_request_parser parser(kLimit);
        feed_in_pieces(parser, kChunkedHead + "A;name=v\r\n0123456789\r\n0\r\nX-T: 1\r\n\r\n",
                       piece);
        ASSERT_FALSE(parser.failed()) << piece << parser.error_name();
        EXPECT_TRUE(parser.message_complete());
        EXPECT_EQ(parser.body(), "0123456789");
    }
}

TEST(HttpParser, AHeadOfExactlyTheLimitPassesAndOneByteMoreFails) {
    const std::string start = "GET / HTTP/1.1\r\nX: ";
    const std::string end = "\r\n\r\n";
    const std::string filler(kLimit - start.size() - end.size(), 'a');
    const std::string exact = start + filler + end;
    ASSERT_EQ(exact.size(), kLimit);
    {
        net::http_request_parser parser(kLimit);
        feed_in_pieces(parser, exact, 1000);
        EXPECT_FALSE(parser.failed()) << parser.error_name();
        EXPECT_TRUE(parser.message_complete());
    }
    {
        net::http_request_parser parser(kLimit);
        feed_in_pieces(parser, start + "b" + filler + end, 1000);
        EXPECT_TRUE(parser.failed());
        EXPECT_TRUE(parser.head_too_large());
    }
    {
        // Endless headers fail as soon as the limit is passed.
        net::http_request_parser parser(kLimit);
        std::string endless = start;
        while (endless.size() < 3 * kLimit) {
            endless += "aaaaaaaaaaaaaaaa";
        }
        feed_in_pieces(parser, endless, 4096);
        EXPECT_TRUE(parser.head_too_large());
    }
}

TEST(HttpParser, KeepAliveFollowsTheVersionAndConnectionHeader) {
    struct {
        const char* bytes;
        bool keepAlive;
    } cases[] = {{"GET / HTTP/1.1\r\n\r\n", true},
                 {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n", false},
                 {"GET / HTTP/1.0\r\n\r\n", false},
                 {"GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", true}};
    for (const auto& c : cases) {
        net::http_request_parser parser(kLimit);
        feed_in_pieces(parser, c.bytes, 100);
        ASSERT_TRUE(parser.head_complete()) << c.bytes;
        EXPECT_EQ(parser.keep_alive(), c.keepAlive) << c.bytes;
    }
}

TEST(HttpParser, ContentLengthIsMinusOneWithoutTheHeader) {
    net::http_request_parser parser(kLimit);
    feed_in_pieces(parser, "GET / HTTP/1.1\r\n\r\n", 100);
    EXPECT_EQ(parser.content_length(), -1);
    net::http_request_parser zero(kLimit);
    feed_in_pieces(zero, "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 100);
    EXPECT_EQ(zero.content_length(), 0);
    EXPECT_TRUE(zero.message_complete());
}

}  // namespace
