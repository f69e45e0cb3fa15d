#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net/websocket_frame.h"
#include "websocket_test_peer.h"

namespace {

using net::test::encode_raw_frame;
using net::test::raw_frame;

bool parse(const std::string& wire, net::websocket_frame_head& head) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(wire.data());
    const size_t size = net::frame_head_size(bytes);
    if (size > wire.size()) {
        return false;
    }
    return net::parse_frame_head(bytes, size, head);
}

struct length_case {
    size_t len;
    size_t unmasked_head_size;
};

class frame_length_test : public testing::TestWithParam<length_case> {};

TEST_P(frame_length_test, ParsesEveryLengthFormMaskedOrNot) {
    for (const bool masked : {false, true}) {
        raw_frame frame;
        frame.masked = masked;
        frame.opcode = 2;
        frame.payload.assign(GetParam().len, 'x');
        const std::string wire = encode_raw_frame(frame);

        const auto* bytes = reinterpret_cast<const unsigned char*>(wire.data());
        EXPECT_EQ(net::frame_head_size(bytes), GetParam().unmasked_head_size + (masked ? 4 : 0));
        net::websocket_frame_head head;
        ASSERT_TRUE(parse(wire, head));
        EXPECT_EQ(head.payload_len, GetParam().len);
        EXPECT_EQ(head.masked, masked);
        EXPECT_EQ(head.opcode, 2);
        EXPECT_TRUE(head.fin);
        if (masked) {
            EXPECT_EQ(std::memcmp(head.mask, frame.mask, 4), 0);
        }
    }
}

TEST_P(frame_length_test, EncodesTheShortestLengthForm) {
    unsigned char out[net::kMaxFrameHeadSize];
    const size_t size = net::encode_frame_head(true, 1, GetParam().len, out);
    raw_frame frame;
    frame.masked = false;
    frame.payload.assign(GetParam().len, 'y');
    const std::string expected = encode_raw_frame(frame).substr(0, GetParam().unmasked_head_size);
    ASSERT_EQ(size, GetParam().unmasked_head_size);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), size), expected);
}

INSTANTIATE_TEST_SUITE_P(LengthForms, frame_length_test,
                         testing::Values(length_case{0, 2}, length_case{1, 2}, length_case{125, 2},
                                         length_case{126, 4}, length_case{65535, 4},
                                         length_case{65536, 10}, length_case{1 << 20, 10}));

TEST(frame_head, EncodesAHugeLengthInEightBytesBigEndian) {
    unsigned char out[net::kMaxFrameHeadSize];
    const uint64_t len = 0x0102030405060708ull;
    ASSERT_EQ(net::encode_frame_head(false, 0, len, out), 10u);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 127);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(out[2 + i], i + 1);
    }
    net::websocket_frame_head head;
    ASSERT_TRUE(net::parse_frame_head(out, 10, head));
    EXPECT_EQ(head.payload_len, len);
    EXPECT_FALSE(head.fin);
}

struct rejected_case {
    const char* name;
    raw_frame frame;
};

class rejected_head_test : public testing::TestWithParam<rejected_case> {};

TEST_P(rejected_head_test, IsRefused) {
    net::websocket_frame_head head;
    head.payload_len = 77;
    EXPECT_FALSE(parse(encode_raw_frame(GetParam().frame), head));
    EXPECT_EQ(head.payload_len, 77u) << "a refused head must leave the old one alone";
}

raw_frame make(unsigned char opcode, bool fin, size_t len, unsigned char rsv = 0,
               uint64_t extra = 0) {
    raw_frame f;
    f.opcode = opcode;
    f.fin = fin;
    f.payload.assign(len, 'p');
    f.rsv = rsv;
    f.extra_length_bits = extra;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    BadHeads, rejected_head_test,
    testing::Values(rejected_case{"TopLengthBit", make(2, true, 0, 0, 1ull << 63)},
                    rejected_case{"TopLengthBitWithPayload", make(1, true, 3, 0, 1ull << 63)},
                    rejected_case{"Rsv1", make(1, true, 3, 4)},
                    rejected_case{"Rsv3", make(1, true, 3, 1)},
                    rejected_case{"LongClose", make(8, true, 200)},
                    rejected_case{"JustTooLongClose", make(8, true, 126)},
                    rejected_case{"FragmentedPing", make(9, false, 0)},
                    rejected_case{"FragmentedClose", make(8, false, 2)},
                    rejected_case{"FragmentedReservedControl", make(11, false, 0)}),
    [](const testing::TestParamInfo<rejected_case>& param_info) { return param_info.param.name; });

TEST(frame_head, AcceptsControlFramesUpTo125Bytes) {
    for (const unsigned char opcode : {8, 9, 10}) {
        net::websocket_frame_head head;
        ASSERT_TRUE(parse(encode_raw_frame(make(opcode, true, 125)), head));
        EXPECT_EQ(head.opcode, opcode);
        EXPECT_EQ(head.payload_len, 125u);
    }
}

// Pings are answered piece by piece whatever their length, so neither they
// nor pongs are held to the close frame's limit.
TEST(frame_head, AcceptsPingsAndPongsOfAnyLength) {
    for (const unsigned char opcode : {9, 10}) {
        for (const size_t len : {126u, 8191u, 8192u, 20000u, 70000u}) {
            net::websocket_frame_head head;
            ASSERT_TRUE(parse(encode_raw_frame(make(opcode, true, len)), head)) << len;
            EXPECT_EQ(head.payload_len, len);
        }
    }
}

TEST(frame_head, AcceptsANonMinimalLengthForm) {
    raw_frame f = make(1, true, 5);
    f.masked = false;
    std::string wire = encode_raw_frame(f);
    // 5 written in the 16-bit form.
    const std::string longer = std::string("\x81\x7e\x00\x05", 4) + wire.substr(2);
    net::websocket_frame_head head;
    ASSERT_TRUE(parse(longer, head));
    EXPECT_EQ(head.payload_len, 5u);
}

TEST(frame_head, RefusesASizeThatDoesNotMatchTheHead) {
    const std::string wire = encode_raw_frame(make(1, true, 300));
    net::websocket_frame_head head;
    const auto* bytes = reinterpret_cast<const unsigned char*>(wire.data());
    EXPECT_FALSE(net::parse_frame_head(bytes, 3, head));
    EXPECT_FALSE(net::parse_frame_head(bytes, 1, head));
}

struct encode_refusal {
    bool fin;
    unsigned char opcode;
    uint64_t len;
};

class refused_encoding_test : public testing::TestWithParam<encode_refusal> {};

TEST_P(refused_encoding_test, WritesNothing) {
    unsigned char out[net::kMaxFrameHeadSize];
    EXPECT_EQ(net::encode_frame_head(GetParam().fin, GetParam().opcode, GetParam().len, out), 0u);
}

INSTANTIATE_TEST_SUITE_P(BadFrames, refused_encoding_test,
                         testing::Values(encode_refusal{true, 8, 126}, encode_refusal{false, 9, 0},
                                         encode_refusal{true, 8, 1000},
                                         encode_refusal{true, 2, 1ull << 63},
                                         encode_refusal{true, 16, 0}));

TEST(frame_mask, UnmasksPieceByPieceAsInOneGo) {
    const unsigned char mask[4] = {0x12, 0x34, 0x56, 0x78};
    const std::string plain = net::test::pattern_payload(1000);
    std::string whole = plain;
    net::apply_frame_mask(reinterpret_cast<unsigned char*>(whole.data()), whole.size(), mask, 0);
    for (size_t i = 0; i < whole.size(); ++i) {
        ASSERT_EQ(static_cast<unsigned char>(whole[i]),
                  static_cast<unsigned char>(plain[i]) ^ mask[i % 4]);
    }
    for (const size_t piece : {1, 3, 7, 13}) {
        std::string pieces = whole;
        for (size_t at = 0; at < pieces.size(); at += piece) {
            const size_t n = std::min(piece, pieces.size() - at);
            net::apply_frame_mask(reinterpret_cast<unsigned char*>(pieces.data()) + at, n, mask,
                                  at);
        }
        EXPECT_EQ(pieces, plain) << "piece " << piece;
    }
}

}  // namespace
