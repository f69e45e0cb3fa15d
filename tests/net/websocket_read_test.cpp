#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "net/websocket.h"
#include "websocket_test_peer.h"

namespace {

using net::websocket;
using net::test::encode_raw_frame;
using net::test::pattern_payload;
using net::test::raw_frame;
using net::test::stream_pair;

raw_frame frame_of(unsigned char opcode, std::string payload, bool masked = true, bool fin = true) {
    raw_frame f;
    f.opcode = opcode;
    f.payload = std::move(payload);
    f.masked = masked;
    f.fin = fin;
    return f;
}

// Reads the rest of the payload in pieces of at most `piece` bytes.
bool read_payload(websocket& ws, size_t piece, std::string& out) {
    std::vector<char> buf(piece);
    for (;;) {
        const ssize_t n = ws.read_frame_data(buf.data(), buf.size());
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            return false;
        }
        if (static_cast<size_t>(n) > piece) {
            return false;
        }
        out.append(buf.data(), static_cast<size_t>(n));
    }
}

using read_case = std::tuple<size_t, bool, size_t>;  // length, masked, piece size

class websocket_read_test : public testing::TestWithParam<read_case> {};

TEST_P(websocket_read_test, ReadsAndUnmasksThePayloadInPieces) {
    const auto [len, masked, piece] = GetParam();
    stream_pair pair;
    const std::string payload = pattern_payload(len);
    // A second frame after it shows the first was read to its exact end.
    pair.send_from_peer(encode_raw_frame(frame_of(websocket::FRAME_BINARY, payload, masked)) +
                        encode_raw_frame(frame_of(websocket::FRAME_TEXT, "next", masked)));

    websocket ws(pair.stream());
    ASSERT_TRUE(ws.read_frame_head());
    EXPECT_EQ(ws.get_frame_opcode(), websocket::FRAME_BINARY);
    EXPECT_EQ(ws.get_frame_payload_len(), len);
    EXPECT_EQ(ws.is_frame_masked(), masked);
    EXPECT_TRUE(ws.is_frame_fin());
    std::string got;
    ASSERT_TRUE(read_payload(ws, piece, got));
    EXPECT_EQ(got.size(), len);
    EXPECT_TRUE(got == payload);
    EXPECT_EQ(ws.read_frame_data(got.data(), 1), 0) << "the end stays the end";

    ASSERT_TRUE(ws.read_frame_head());
    EXPECT_EQ(ws.get_frame_opcode(), websocket::FRAME_TEXT);
    std::string next;
    ASSERT_TRUE(read_payload(ws, piece, next));
    EXPECT_EQ(next, "next");
}

INSTANTIATE_TEST_SUITE_P(LengthsMasksPieces, websocket_read_test,
                         testing::Combine(testing::Values(0, 1, 125, 126, 65535, 65536),
                                          testing::Bool(), testing::Values(1, 3, 7, 8191)));

INSTANTIATE_TEST_SUITE_P(OneMebibyte, websocket_read_test,
                         testing::Combine(testing::Values(1 << 20), testing::Bool(),
                                          testing::Values(7, 8191, 1 << 20)));

TEST(websocket_read, ReadsPingPongAndCloseFrames) {
    stream_pair pair;
    pair.send_from_peer(encode_raw_frame(frame_of(websocket::FRAME_PING, "abc")) +
                        encode_raw_frame(frame_of(websocket::FRAME_PONG, "")) +
                        encode_raw_frame(frame_of(websocket::FRAME_CLOSE, "\x03\xe8")));
    websocket ws(pair.stream());
    const std::vector<std::pair<unsigned char, std::string>> expected = {
        {websocket::FRAME_PING, "abc"},
        {websocket::FRAME_PONG, ""},
        {websocket::FRAME_CLOSE, "\x03\xe8"},
    };
    for (const auto& [opcode, payload] : expected) {
        ASSERT_TRUE(ws.read_frame_head());
        EXPECT_EQ(ws.get_frame_opcode(), opcode);
        EXPECT_TRUE(ws.is_frame_fin());
        std::string got;
        ASSERT_TRUE(read_payload(ws, 8191, got));
        EXPECT_EQ(got, payload);
    }
}

TEST(websocket_read, ReportsAFragmentedMessage) {
    stream_pair pair;
    pair.send_from_peer(
        encode_raw_frame(frame_of(websocket::FRAME_TEXT, "hel", true, false)) +
        encode_raw_frame(frame_of(websocket::FRAME_CONTINUATION, "lo", true, true)));
    websocket ws(pair.stream());
    ASSERT_TRUE(ws.read_frame_head());
    EXPECT_EQ(ws.get_frame_opcode(), websocket::FRAME_TEXT);
    EXPECT_FALSE(ws.is_frame_fin());
    std::string got;
    ASSERT_TRUE(read_payload(ws, 100, got));
    ASSERT_TRUE(ws.read_frame_head());
    EXPECT_EQ(ws.get_frame_opcode(), websocket::FRAME_CONTINUATION);
    EXPECT_TRUE(ws.is_frame_fin());
    ASSERT_TRUE(read_payload(ws, 100, got));
    EXPECT_EQ(got, "hello");
}

TEST(websocket_read, ReportsReservedOpcodesForTheCallerToRefuse) {
    stream_pair pair;
    raw_frame f = frame_of(3, "zz");
    pair.send_from_peer(encode_raw_frame(f));
    websocket ws(pair.stream());
    ASSERT_TRUE(ws.read_frame_head());
    EXPECT_EQ(ws.get_frame_opcode(), 3);
}

TEST(websocket_read, SkipsTheUnreadRestOfAFrame) {
    stream_pair pair;
    const std::string big = pattern_payload(70000);
    pair.send_from_peer(encode_raw_frame(frame_of(websocket::FRAME_BINARY, big)) +
                        encode_raw_frame(frame_of(websocket::FRAME_TEXT, "after")));
    websocket ws(pair.stream());
    ASSERT_TRUE(ws.read_frame_head());
    char some[10];
    ASSERT_EQ(ws.read_frame_data(some, sizeof(some)), 10);
    ASSERT_TRUE(ws.read_frame_head());
    EXPECT_EQ(ws.get_frame_opcode(), websocket::FRAME_TEXT);
    std::string got;
    ASSERT_TRUE(read_payload(ws, 64, got));
    EXPECT_EQ(got, "after");
}

TEST(websocket_read, RefusesUnmaskedFramesWhenMaskingIsRequired) {
    stream_pair pair;
    pair.send_from_peer(encode_raw_frame(frame_of(websocket::FRAME_TEXT, "ok", true)) +
                        encode_raw_frame(frame_of(websocket::FRAME_TEXT, "bare", false)));
    websocket ws(pair.stream());
    ws.require_masked(true);
    ASSERT_TRUE(ws.read_frame_head());
    std::string got;
    ASSERT_TRUE(read_payload(ws, 64, got));
    EXPECT_EQ(got, "ok");
    EXPECT_FALSE(ws.read_frame_head());
    EXPECT_LT(ws.read_frame_data(got.data(), 1), 0);
}

TEST(websocket_read, ReadingDataWithoutAHeadFails) {
    stream_pair pair;
    websocket ws(pair.stream());
    char c;
    EXPECT_LT(ws.read_frame_data(&c, 1), 0);
}

// Bytes sent, then the peer closes: every one of these must fail, not hang.
struct truncated_case {
    const char* name;
    std::string bytes;
    bool head_reads;  // the head is whole, only the payload is cut
};

class websocket_truncated_test : public testing::TestWithParam<truncated_case> {};

TEST_P(websocket_truncated_test, FailsWhenThePeerCloses) {
    stream_pair pair;
    pair.send_from_peer(GetParam().bytes);
    pair.close_peer();
    websocket ws(pair.stream());
    if (!GetParam().head_reads) {
        EXPECT_FALSE(ws.read_frame_head());
        return;
    }
    ASSERT_TRUE(ws.read_frame_head());
    std::string got;
    EXPECT_FALSE(read_payload(ws, 3, got));
    EXPECT_LT(got.size(), ws.get_frame_payload_len());
    EXPECT_FALSE(ws.read_frame_head()) << "the stream is out of step now";
}

std::string cut(const std::string& s, size_t keep) {
    return s.substr(0, keep);
}

const std::string kMasked300 = encode_raw_frame(frame_of(1, pattern_payload(300)));
const std::string kUnmasked70000 = encode_raw_frame(frame_of(2, pattern_payload(70000), false));

INSTANTIATE_TEST_SUITE_P(
    CutFrames, websocket_truncated_test,
    testing::Values(truncated_case{"Nothing", "", false},
                    truncated_case{"OneByte", cut(kMasked300, 1), false},
                    truncated_case{"HalfA16BitLength", cut(kMasked300, 3), false},
                    truncated_case{"HalfAMask", cut(kMasked300, 6), false},
                    truncated_case{"HalfA64BitLength", cut(kUnmasked70000, 6), false},
                    truncated_case{"NoPayload", cut(kMasked300, 8), true},
                    truncated_case{"HalfAPayload", cut(kMasked300, 150), true},
                    truncated_case{"AllButOneByte", cut(kUnmasked70000, 70009), true}),
    [](const testing::TestParamInfo<truncated_case>& param_info) { return param_info.param.name; });

TEST(websocket_read, FailsOnAHeadNoFrameHas) {
    raw_frame huge = frame_of(2, "", false);
    huge.extra_length_bits = 1ull << 63;
    raw_frame long_close = frame_of(websocket::FRAME_CLOSE, std::string(126, 'p'));
    raw_frame split_close = frame_of(websocket::FRAME_CLOSE, "", true, false);
    for (const raw_frame& f : {huge, long_close, split_close}) {
        stream_pair pair;
        pair.send_from_peer(encode_raw_frame(f));
        websocket ws(pair.stream());
        EXPECT_FALSE(ws.read_frame_head());
    }
}

TEST(websocket_read, TimesOutOnASilentPeer) {
    stream_pair pair;
    pair.stream().set_rw_timeout(1);
    websocket ws(pair.stream());
    EXPECT_FALSE(ws.read_frame_head());
}

TEST(websocket_read, TimesOutInTheMiddleOfAPayload) {
    stream_pair pair;
    pair.stream().set_rw_timeout(1);
    pair.send_from_peer(cut(kMasked300, 100));  // the peer stays open
    websocket ws(pair.stream());
    ASSERT_TRUE(ws.read_frame_head());
    std::string got;
    EXPECT_FALSE(read_payload(ws, 50, got));
    EXPECT_EQ(got.size(), 100u - 8u);
}

}  // namespace
