// One connection's bytes through the service's https_servlet: POST and GET
// bodies read as JSON, the CORS preflight, unknown methods, the base's 400
// and 405 answers, and after a WebSocket upgrade the service's message loop.
// Requests may be pipelined. Whatever was written, when no write failed, must
// read back as well-formed HTTP/1.1 responses. Flag bit 0 makes every request
// text answer with the empty text, so that empty chunked bodies are written
// too; flag bit 1 repeats the second line of the traffic until the head is about as
// long as the head limit, so that small inputs reach it from both sides.

#include <http_parser.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/MemoryStream.h"
#include "net/HttpServlet.h"
#include "net/adaptive_mutex.h"
#include "net/json.h"
#include "net/memcache_session.h"
#include "service/https_servlet.h"
#include "service/request_dispatch.h"

namespace {

constexpr int kMaxRequests = 16;
// The body limit of the service's servlet.
constexpr size_t kBodyLimit = 1024000;

// The service's own servlet, with checks on each request's head before it
// is served; request texts run through a dispatch that echoes them.
class FuzzServlet : public https_servlet {
  public:
    FuzzServlet(net::socket_stream* stream, const request_dispatch& dispatch)
        : https_servlet(stream, new net::memcache_session("127.0.0.1:11211"), dispatch) {}

  protected:
    bool doPost(net::HttpServletRequest& req, net::HttpServletResponse& res) override {
        CheckHead(req);
        // The servlet reads the body with the same limit: the document must
        // be the one read here, not a second parse.
        if (const net::json* body = req.getJson(kBodyLimit)) {
            FUZZ_CHECK(req.getJson(kBodyLimit) == body);
        }
        return https_servlet::doPost(req, res);
    }

    bool doOptions(net::HttpServletRequest& req, net::HttpServletResponse& res) override {
        CheckHead(req);
        return https_servlet::doOptions(req, res);
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
};

// Every request text comes back whole inside the answer.
std::u16string Echo(std::u16string request) {
    return u"FunctionRes[" + request + u"]";
}

std::u16string Nothing(std::u16string) {
    return {};
}

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
    static net::adaptive_mutex lock;
    static const request_dispatch echo(lock, &Echo);
    static const request_dispatch nothing(lock, &Nothing);
    {
        FuzzServlet servlet(&connection.stream, (options.flags & 1) != 0 ? nothing : echo);
        for (int i = 0; i < kMaxRequests && servlet.doRun(); ++i) {
        }
    }
    fuzz::ShowOutput(connection.hook);
    if (!connection.hook.write_failed()) {
        ResponseCheck::Run(connection.hook.output());
    }
    return 0;
}
