// One connection's bytes through the HTTP servlet base and a servlet that
// answers like the service does: POST and GET bodies read as JSON, the CORS
// preflight, unknown methods, and the base's 400 and 405 answers. Requests
// may be pipelined; a WebSocket upgrade echoes one message. Whatever was
// written, when no write failed, must read back as well-formed HTTP/1.1
// responses. Flag bit 0 lowers the JSON body limit to 64 bytes; flag bit 1
// repeats the second line of the traffic until the head is about as long as
// the head limit, so that small inputs reach it from both sides.

#include <http_parser.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/MemoryStream.h"
#include "net/HttpServlet.h"
#include "net/json.h"
#include "net/memcache_session.h"
#include "net/websocket.h"

namespace {

constexpr int kMaxRequests = 16;

class FuzzServlet : public net::HttpServlet {
  public:
    FuzzServlet(net::socket_stream* stream, size_t jsonLimit)
        : HttpServlet(stream, new net::memcache_session("127.0.0.1:11211")),
          jsonLimit_(jsonLimit) {}

  protected:
    bool doGet(net::HttpServletRequest& req, net::HttpServletResponse& res) override {
        return doPost(req, res);
    }

    bool doPost(net::HttpServletRequest& req, net::HttpServletResponse& res) override {
        CheckHead(req);
        const bool keepAlive = req.isKeepAlive();
        res.setContentType("text/html;charset=utf-8")
            .setKeepAlive(keepAlive)
            .setChunkedTransferEncoding(true)
            .setHeader("Access-Control-Allow-Origin", "*");
        std::string text;
        if (const net::json* body = req.getJson(jsonLimit_)) {
            FUZZ_CHECK(req.getJson(jsonLimit_) == body);  // the same document again
            if (const net::json_node* node = body->getFirstElementByTagName("ServeltData")) {
                text = node->get_string();
            }
        }
        res.write("FunctionRes[" + text + "]");
        return res.write(nullptr, 0) && keepAlive;
    }

    bool doOptions(net::HttpServletRequest& req, net::HttpServletResponse& res) override {
        CheckHead(req);
        res.setStatus(200)
            .setHeader("Access-Control-Allow-Origin", req.getHeader("Origin"))
            .setHeader("Access-Control-Allow-Methods",
                       req.getHeader("Access-Control-Request-Method"))
            .setHeader("Access-Control-Allow-Headers",
                       req.getHeader("Access-Control-Request-Headers"))
            .setHeader("Access-Control-Max-Age", 3600);
        res.sendHeader();
        return false;
    }

    bool doUnknown(net::HttpServletRequest&, net::HttpServletResponse& res) override {
        res.setStatus(400).setContentType("text/html; charset=");
        if (res.sendHeader()) {
            res.getOutputStream().write("<root error='unkown request method' />\r\n");
        }
        return false;
    }

    bool doWebSocket(net::HttpServletRequest& req, net::HttpServletResponse&) override {
        net::websocket reader(req.getSocketStream());
        net::websocket writer(req.getSocketStream());
        if (!reader.read_frame_head() || reader.get_frame_payload_len() > 4096) {
            return false;
        }
        std::string payload(static_cast<size_t>(reader.get_frame_payload_len()), '\0');
        size_t used = 0;
        for (ssize_t n;
             (n = reader.read_frame_data(payload.data() + used, payload.size() - used)) > 0;) {
            used += static_cast<size_t>(n);
        }
        writer.reset().set_frame_fin(true).set_frame_opcode(net::websocket::FRAME_TEXT);
        writer.set_frame_payload_len(used);
        writer.send_frame_data(payload.data(), used);
        return false;
    }

  private:
    static void CheckHead(const net::HttpServletRequest& req) {
        FUZZ_CHECK(*req.getMethod() != '\0');
        const std::string uri = req.getRequestUri();
        const std::string query = req.getQueryString();
        const bool marked = uri.find('?') != std::string::npos;
        FUZZ_CHECK(req.getPathInfo() + (marked ? "?" + query : "") == uri);
        FUZZ_CHECK(req.getHeader(nullptr) == nullptr);
        if (req.isChunked()) {
            FUZZ_CHECK(req.getContentLength() == -1);
        }
    }

    size_t jsonLimit_;
};

// The answers as a client reads them: no parse error, nothing cut short.
// A 101 hands the rest of the bytes to WebSocket frames.
struct ResponseCheck {
    static int on_message_complete(http_parser* p) {
        ++*static_cast<int*>(p->data);
        return 0;
    }

    static void Run(const std::string& output) {
        http_parser parser;
        http_parser_init(&parser, HTTP_RESPONSE);
        int messages = 0;
        parser.data = &messages;
        http_parser_settings settings;
        http_parser_settings_init(&settings);
        settings.on_message_complete = &on_message_complete;
        const size_t used = http_parser_execute(&parser, &settings, output.data(), output.size());
        if (parser.upgrade != 0) {
            return;
        }
        FUZZ_CHECK(HTTP_PARSER_ERRNO(&parser) == HPE_OK);
        FUZZ_CHECK(used == output.size());
        http_parser_execute(&parser, &settings, nullptr, 0);  // the connection closes
        FUZZ_CHECK(HTTP_PARSER_ERRNO(&parser) == HPE_OK);
        FUZZ_CHECK(output.empty() || messages > 0);
    }
};

// The request line, then its next line repeated to about the head limit, then
// the rest; unchanged when there is no second line.
std::string NearHeadLimit(std::string_view traffic) {
    const size_t first = traffic.find('\n');
    const size_t second = first == std::string_view::npos ? first : traffic.find('\n', first + 1);
    if (second == std::string_view::npos) {
        return std::string(traffic);
    }
    const std::string_view line = traffic.substr(first + 1, second - first);
    std::string out(traffic.substr(0, first + 1));
    // The rest of the traffic then decides which side of the limit it ends.
    const size_t room = net::HttpServlet::kMaxHeadBytes - 1024;
    for (size_t i = 0; i < room / line.size(); ++i) {
        out += line;
    }
    out += traffic.substr(second + 1);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::IoOptions options = fuzz::SplitIoOptions(data, size);
    const std::string traffic =
        (options.flags & 2) != 0 ? NearHeadLimit(options.traffic) : std::string(options.traffic);
    fuzz::MemoryConnection connection(traffic, options.piece, options.failWrite);
    {
        FuzzServlet servlet(&connection.stream, (options.flags & 1) != 0 ? 64 : 1024000);
        for (int i = 0; i < kMaxRequests && servlet.doRun(); ++i) {
        }
    }
    fuzz::ShowOutput(connection.hook);
    if (!connection.hook.write_failed()) {
        ResponseCheck::Run(connection.hook.output());
    }
    return 0;
}
