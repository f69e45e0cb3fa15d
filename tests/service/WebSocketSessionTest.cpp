// The service's WebSocket message loop over a socket pair: the test is the
// page, with a frame encoder of its own.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <thread>

#include "service/websocket_session.h"
#include "tests/net/websocket_test_peer.h"
#include "tests/service/RecordingDispatch.h"

namespace {

using net::test::encode_raw_frame;
using net::test::raw_frame;

raw_frame Frame(unsigned char opcode, std::string payload) {
    raw_frame frame;
    frame.opcode = opcode;
    frame.payload = std::move(payload);
    return frame;
}

// A server frame: unmasked, final, its length in the short or 16-bit form.
std::string ServerFrame(unsigned char opcode, const std::string& payload) {
    raw_frame frame = Frame(opcode, payload);
    frame.masked = false;
    return encode_raw_frame(frame);
}

class Session : public ::testing::Test {
  protected:
    void Start() {
        thread_ = std::thread(
            [this] { RunWebSocketSession(pair_.stream(), runner_.dispatch(), caller_); });
    }
    // The session has ended on its own; everything it sent before that,
    // which is all in the socket by now.
    std::string Ended() {
        thread_.join();
        pair_.join_sender();
        std::string out;
        char buf[65536];
        ssize_t n;
        while ((n = ::recv(pair_.peer_fd(), buf, sizeof buf, MSG_DONTWAIT)) > 0) {
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    void TearDown() override {
        if (thread_.joinable()) {
            pair_.close_peer();
            thread_.join();
        }
    }

    service_test::RecordingDispatch runner_;
    request_caller caller_{"https://page.example", "wss"};
    net::test::stream_pair pair_;
    std::thread thread_;
};

TEST_F(Session, TextAndBinaryMessagesRunAndAreAnsweredAsText) {
    Start();
    pair_.send_from_peer(encode_raw_frame(Frame(1, "ProcessNum{1}")) +
                         encode_raw_frame(Frame(2, "\xe7\xad\xbe")) +
                         encode_raw_frame(Frame(8, "")));
    EXPECT_EQ(Ended(), ServerFrame(1, "FunctionRes[ProcessNum{1}]") +
                           ServerFrame(1, "FunctionRes[\xe7\xad\xbe]"));
    EXPECT_EQ(runner_.seen(), (std::vector<std::u16string>{u"ProcessNum{1}", u"\u7b7e"}));
    EXPECT_TRUE(runner_.lockHeldEveryTime());
    // Every message of the connection runs for the handshake's caller.
    const service_test::seen_caller handshake{"https://page.example", "wss"};
    EXPECT_EQ(runner_.callers(), (std::vector<service_test::seen_caller>{handshake, handshake}));
}

TEST_F(Session, AMessageEndsAtItsFirstNul) {
    Start();
    pair_.send_from_peer(encode_raw_frame(Frame(1, std::string("ab\0cd", 5))) +
                         encode_raw_frame(Frame(8, "")));
    EXPECT_EQ(Ended(), ServerFrame(1, "FunctionRes[ab]"));
}

TEST_F(Session, PingsAreAnsweredWithTheirPayloadAndPongsAreRead) {
    Start();
    const std::string big = net::test::pattern_payload(125);
    pair_.send_from_peer(encode_raw_frame(Frame(9, "")) + encode_raw_frame(Frame(9, big)) +
                         encode_raw_frame(Frame(10, "unasked")) + encode_raw_frame(Frame(1, "x")) +
                         encode_raw_frame(Frame(8, "")));
    EXPECT_EQ(Ended(),
              ServerFrame(10, "") + ServerFrame(10, big) + ServerFrame(1, "FunctionRes[x]"));
    EXPECT_EQ(runner_.seen(), std::vector<std::u16string>{u"x"});
}

TEST_F(Session, AMessageTooLongForTheBufferEndsTheSessionUnrun) {
    Start();
    const std::string fits(20479, 'a');
    pair_.send_from_peer(encode_raw_frame(Frame(1, fits)) +
                         encode_raw_frame(Frame(1, std::string(20480, 'b'))));
    EXPECT_EQ(Ended(), ServerFrame(1, "FunctionRes[" + fits + "]"));
    ASSERT_EQ(runner_.seen().size(), 1u);
    EXPECT_EQ(runner_.seen()[0].size(), fits.size());
}

struct ending_case {
    const char* name;
    unsigned char opcode;
};

class EndingOpcodes : public Session, public ::testing::WithParamInterface<ending_case> {};

// Continuation, close and the reserved opcodes end the session without a
// close frame or anything else sent.
TEST_P(EndingOpcodes, EndTheSessionSilently) {
    Start();
    pair_.send_from_peer(encode_raw_frame(Frame(GetParam().opcode, "zz")) +
                         encode_raw_frame(Frame(1, "never")));
    EXPECT_EQ(Ended(), "");
    EXPECT_TRUE(runner_.seen().empty());
}

INSTANTIATE_TEST_SUITE_P(Opcodes, EndingOpcodes,
                         ::testing::Values(ending_case{"Continuation", 0}, ending_case{"Close", 8},
                                           ending_case{"Reserved3", 3},
                                           ending_case{"Reserved11", 11}),
                         [](const ::testing::TestParamInfo<ending_case>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(Session, APeerGoneMidFrameEndsTheSession) {
    Start();
    const std::string frame = encode_raw_frame(Frame(1, "cut short"));
    pair_.send_from_peer(frame.substr(0, 5));
    pair_.join_sender();
    pair_.close_peer();
    thread_.join();
    EXPECT_TRUE(runner_.seen().empty());
}

}  // namespace
