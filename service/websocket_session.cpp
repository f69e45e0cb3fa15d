#include "service/websocket_session.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "net/socket_stream.h"
#include "net/websocket.h"
#include "service/PrintLine.h"
#include "service/request_dispatch.h"

namespace {

// A text or binary message must be shorter than this.
constexpr uint64_t kMessageBufferBytes = 20480;
// Ping and pong payloads are read in pieces of at most this many bytes.
constexpr size_t kControlPieceBytes = 8191;

void Print(const char* line) {
    PrintLine("%s", line);
}

void PrintPiece(const char* piece, ssize_t length) {
    PrintLine("read: [%.*s]\r\n", static_cast<int>(length), piece);
}

bool RunMessage(net::websocket& reader, net::websocket& writer, const request_dispatch& dispatch,
                const request_caller& caller) {
    // Only the bytes read are looked at (up to the first NUL among them), so
    // the buffer need not be cleared first.
    char buffer[kMessageBufferBytes];
    size_t used = 0;
    for (;;) {
        ssize_t n = reader.read_frame_data(buffer + used, kMessageBufferBytes - 1 - used);
        if (n < 0) {
            Print("read_frame_data error\r\n");
            return false;
        }
        if (n == 0) {
            break;
        }
        used += static_cast<size_t>(n);
    }
    std::string answer =
        dispatch.RunRequestText(std::string_view(buffer, ::strnlen(buffer, used)), caller);
    writer.reset().set_frame_fin(true).set_frame_opcode(net::websocket::FRAME_TEXT);
    writer.set_frame_payload_len(answer.size());
    if (!writer.send_frame_data(answer.data(), answer.size())) {
        Print("send_frame_data error\r\n");
        return false;
    }
    return true;
}

// Reads a ping's or pong's payload in pieces, printing each; with a writer,
// each piece is also sent on as the payload of a pong.
bool RelayPayload(net::websocket& reader, net::websocket* writer) {
    char piece[kControlPieceBytes + 1];
    for (;;) {
        ssize_t n = reader.read_frame_data(piece, kControlPieceBytes);
        if (n < 0) {
            Print("read_frame_data error\r\n");
            return false;
        }
        if (n == 0) {
            return true;
        }
        PrintPiece(piece, n);
        if (writer != nullptr && !writer->send_frame_data(piece, static_cast<size_t>(n))) {
            Print("send_frame_data error\r\n");
            return false;
        }
    }
}

bool AnswerPing(net::websocket& reader, net::websocket& writer) {
    uint64_t length = reader.get_frame_payload_len();
    if (length == 0) {
        return writer.send_frame_pong();
    }
    writer.reset().set_frame_fin(true).set_frame_opcode(net::websocket::FRAME_PONG);
    writer.set_frame_payload_len(length);
    return RelayPayload(reader, &writer);
}

bool ReadPong(net::websocket& reader) {
    if (reader.get_frame_payload_len() == 0) {
        return true;
    }
    return RelayPayload(reader, nullptr);
}

bool ServeOneFrame(net::websocket& reader, net::websocket& writer, const request_dispatch& dispatch,
                   const request_caller& caller) {
    if (!reader.read_frame_head()) {
        Print("read_frame_head error\r\n");
        return false;
    }
    unsigned char opcode = reader.get_frame_opcode() & 0x0f;
    PrintLine("opcode: 0x%x\r\n", opcode);
    switch (opcode) {
        case net::websocket::FRAME_TEXT:
        case net::websocket::FRAME_BINARY:
            return reader.get_frame_payload_len() < kMessageBufferBytes &&
                   RunMessage(reader, writer, dispatch, caller);
        case net::websocket::FRAME_PING:
            return AnswerPing(reader, writer);
        case net::websocket::FRAME_PONG:
            return ReadPong(reader);
        default:  // continuation, close and the reserved opcodes
            return false;
    }
}

}  // namespace

bool ServeWebSocketFrames(net::socket_stream& stream, const request_dispatch& dispatch,
                          const request_caller& caller) {
    net::websocket reader(stream);
    net::websocket writer(stream);
    do {
        if (!ServeOneFrame(reader, writer, dispatch, caller)) {
            return false;
        }
    } while (stream.buffered());
    return true;
}

void RunWebSocketSession(net::socket_stream& stream, const request_dispatch& dispatch,
                         const request_caller& caller) {
    while (ServeWebSocketFrames(stream, dispatch, caller)) {
    }
}
