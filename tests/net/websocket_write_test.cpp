#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "net/websocket.h"
#include "websocket_test_peer.h"

namespace {

using net::websocket;
using net::test::pattern_payload;
using net::test::stream_pair;

// What the peer sees of one unmasked frame, decoded here on its own.
struct seen_frame {
    bool ok = false;
    bool fin = false;
    unsigned opcode = 0;
    bool masked = false;
    uint64_t len = 0;
    size_t head_size = 0;
    std::string payload;
};

seen_frame decode(const std::string& wire) {
    seen_frame f;
    if (wire.size() < 2) {
        return f;
    }
    const auto b = [&](size_t i) { return static_cast<unsigned char>(wire[i]); };
    f.fin = (b(0) & 0x80) != 0;
    f.opcode = b(0) & 0x0f;
    f.masked = (b(1) & 0x80) != 0;
    const unsigned short7 = b(1) & 0x7f;
    size_t pos = 2;
    if (short7 == 126) {
        f.len = uint64_t(b(2)) << 8 | b(3);
        pos = 4;
    } else if (short7 == 127) {
        for (size_t i = 2; i < 10; ++i) {
            f.len = f.len << 8 | b(i);
        }
        pos = 10;
    } else {
        f.len = short7;
    }
    f.head_size = pos;
    if (wire.size() != pos + f.len) {
        return f;
    }
    f.payload = wire.substr(pos);
    f.ok = (b(0) & 0x70) == 0;
    return f;
}

size_t expected_head_size(size_t len) {
    return len < 126 ? 2 : len <= 0xffff ? 4 : 10;
}

struct piece_case {
    size_t len;
    size_t piece;
};

class websocket_send_test : public testing::TestWithParam<piece_case> {};

TEST_P(websocket_send_test, SendsOneHeadBeforeTheFirstPieceOnly) {
    const auto [len, piece] = GetParam();
    stream_pair pair;
    const std::string payload = pattern_payload(len);
    std::string wire;
    std::thread reader([&] { wire = pair.read_at_peer(expected_head_size(len) + len); });

    websocket ws(pair.stream());
    ws.reset()
        .set_frame_fin(true)
        .set_frame_opcode(websocket::FRAME_TEXT)
        .set_frame_payload_len(len);
    bool sent = true;
    if (len == 0) {
        sent = ws.send_frame_data(nullptr, 0);
    }
    for (size_t at = 0; at < len && sent; at += piece) {
        sent = ws.send_frame_data(payload.data() + at, std::min(piece, len - at));
    }
    reader.join();
    ASSERT_TRUE(sent);

    const seen_frame f = decode(wire);
    ASSERT_TRUE(f.ok) << "wire of " << wire.size() << " bytes";
    EXPECT_TRUE(f.fin);
    EXPECT_EQ(f.opcode, websocket::FRAME_TEXT);
    EXPECT_FALSE(f.masked) << "a server's frames are never masked";
    EXPECT_EQ(f.len, len);
    EXPECT_EQ(f.head_size, expected_head_size(len));
    EXPECT_TRUE(f.payload == payload);

    pair.close_stream();
    EXPECT_EQ(pair.read_all_at_peer(), "") << "nothing after the frame";
}

INSTANTIATE_TEST_SUITE_P(LengthsAndPieces, websocket_send_test,
                         testing::Values(piece_case{0, 1}, piece_case{1, 1}, piece_case{125, 1},
                                         piece_case{125, 125}, piece_case{126, 7},
                                         piece_case{65535, 8191}, piece_case{65535, 65535},
                                         piece_case{65536, 3}, piece_case{65536, 65536},
                                         piece_case{1 << 20, 5000}, piece_case{1 << 20, 1 << 20}));

TEST(websocket_send, EmptyPiecesAfterTheHeadSendNothing) {
    stream_pair pair;
    websocket ws(pair.stream());
    ws.reset()
        .set_frame_fin(true)
        .set_frame_opcode(websocket::FRAME_BINARY)
        .set_frame_payload_len(2);
    ASSERT_TRUE(ws.send_frame_data("a", 1));
    ASSERT_TRUE(ws.send_frame_data(nullptr, 0));
    ASSERT_TRUE(ws.send_frame_data("b", 1));
    pair.close_stream();
    EXPECT_EQ(pair.read_all_at_peer(), std::string("\x82\x02"
                                                   "ab",
                                                   4));
}

TEST(websocket_send, RefusesMoreDataThanTheFrameHolds) {
    stream_pair pair;
    websocket ws(pair.stream());
    ws.reset().set_frame_fin(true).set_frame_opcode(websocket::FRAME_TEXT).set_frame_payload_len(3);
    EXPECT_FALSE(ws.send_frame_data("abcd", 4)) << "too much at once";
    ASSERT_TRUE(ws.send_frame_data("ab", 2));
    EXPECT_FALSE(ws.send_frame_data("cd", 2)) << "too much in total";
    ASSERT_TRUE(ws.send_frame_data("c", 1));
    EXPECT_FALSE(ws.send_frame_data("d", 1));
    pair.close_stream();
    EXPECT_EQ(pair.read_all_at_peer(),
              "\x81\x03"
              "abc");
}

TEST(websocket_send, ResetStartsANewFrameWithItsOwnHead) {
    stream_pair pair;
    websocket ws(pair.stream());
    ws.reset()
        .set_frame_fin(false)
        .set_frame_opcode(websocket::FRAME_TEXT)
        .set_frame_payload_len(2);
    ASSERT_TRUE(ws.send_frame_data("he", 2));
    ws.reset()
        .set_frame_fin(true)
        .set_frame_opcode(websocket::FRAME_CONTINUATION)
        .set_frame_payload_len(3);
    ASSERT_TRUE(ws.send_frame_data("llo", 3));
    pair.close_stream();
    EXPECT_EQ(pair.read_all_at_peer(), "\x01\x02he\x80\x03llo");
}

TEST(websocket_send, RefusesControlFramesNoPeerWouldAccept) {
    stream_pair pair;
    websocket ws(pair.stream());
    const std::string big(126, 'x');
    ws.reset()
        .set_frame_fin(true)
        .set_frame_opcode(websocket::FRAME_CLOSE)
        .set_frame_payload_len(126);
    EXPECT_FALSE(ws.send_frame_data(big.data(), big.size()));
    ws.reset()
        .set_frame_fin(false)
        .set_frame_opcode(websocket::FRAME_PING)
        .set_frame_payload_len(1);
    EXPECT_FALSE(ws.send_frame_data("x", 1));
    ws.reset()
        .set_frame_fin(true)
        .set_frame_opcode(websocket::FRAME_BINARY)
        .set_frame_payload_len(1ull << 63);
    EXPECT_FALSE(ws.send_frame_data("x", 1));
    pair.close_stream();
    EXPECT_EQ(pair.read_all_at_peer(), "");
}

class websocket_pong_test : public testing::TestWithParam<size_t> {};

TEST_P(websocket_pong_test, SendsAWholeFinalPong) {
    const std::string payload = pattern_payload(GetParam());
    stream_pair pair;
    websocket ws(pair.stream());
    ASSERT_TRUE(ws.send_frame_pong(payload.data(), payload.size()));
    pair.close_stream();
    const seen_frame f = decode(pair.read_all_at_peer());
    ASSERT_TRUE(f.ok);
    EXPECT_TRUE(f.fin);
    EXPECT_EQ(f.opcode, websocket::FRAME_PONG);
    EXPECT_FALSE(f.masked);
    EXPECT_EQ(f.payload, payload);
}

INSTANTIATE_TEST_SUITE_P(PongLengths, websocket_pong_test,
                         testing::Values(0, 3, 125, 126, 8191, 8192, 20000));

TEST(websocket_send, EmptyPongWithoutArguments) {
    stream_pair pair;
    websocket ws(pair.stream());
    ASSERT_TRUE(ws.send_frame_pong());
    pair.close_stream();
    EXPECT_EQ(pair.read_all_at_peer(), std::string("\x8a\x00", 2));
}

TEST(websocket_send, APongBetweenPiecesLeavesTheFrameWhole) {
    stream_pair pair;
    websocket ws(pair.stream());
    ws.reset().set_frame_fin(true).set_frame_opcode(websocket::FRAME_TEXT).set_frame_payload_len(4);
    ASSERT_TRUE(ws.send_frame_data("ab", 2));
    ASSERT_TRUE(ws.send_frame_pong("p", 1));
    ASSERT_TRUE(ws.send_frame_data("cd", 2));
    pair.close_stream();
    // The pong lands inside the text frame's bytes; what matters is that
    // the frame's own head is not sent again and its count carries on.
    EXPECT_EQ(pair.read_all_at_peer(),
              "\x81\x04"
              "ab\x8a\x01p"
              "cd");
}

TEST(websocket_send, FailsOnAClosedPeer) {
    stream_pair pair;
    pair.close_peer();
    websocket ws(pair.stream());
    const std::string payload = pattern_payload(100000);
    ws.reset()
        .set_frame_fin(true)
        .set_frame_opcode(websocket::FRAME_BINARY)
        .set_frame_payload_len(payload.size());
    EXPECT_FALSE(ws.send_frame_data(payload.data(), payload.size()));
    EXPECT_FALSE(ws.send_frame_pong("x", 1));
}

TEST(websocket_send, AnsweringAPingEchoesItsPayload) {
    // The way a server answers a ping: a pong of the same payload, read
    // and sent in pieces.
    stream_pair pair;
    net::test::raw_frame ping;
    ping.opcode = websocket::FRAME_PING;
    ping.payload = "abc";
    pair.send_from_peer(net::test::encode_raw_frame(ping));
    websocket reader(pair.stream());
    websocket writer(pair.stream());
    ASSERT_TRUE(reader.read_frame_head());
    ASSERT_EQ(reader.get_frame_opcode(), websocket::FRAME_PING);
    writer.reset()
        .set_frame_fin(true)
        .set_frame_opcode(websocket::FRAME_PONG)
        .set_frame_payload_len(reader.get_frame_payload_len());
    char piece[2];
    ssize_t n;
    while ((n = reader.read_frame_data(piece, sizeof(piece))) > 0) {
        ASSERT_TRUE(writer.send_frame_data(piece, static_cast<size_t>(n)));
    }
    ASSERT_EQ(n, 0);
    pair.join_sender();
    pair.close_stream();
    EXPECT_EQ(pair.read_all_at_peer(),
              "\x8a\x03"
              "abc");
}

}  // namespace
