#include "service/https_servlet.h"

#include <string>

#include "net/json.h"
#include "net/socket_stream.h"
#include "net/sslbase_io.h"
#include "net/websocket_upgrade.h"
#include "service/audit_line.h"
#include "service/websocket_session.h"

namespace {

// A POST body is read up to this many bytes.
constexpr size_t kMaxJsonBytes = 1024000;

std::string ServeltDataOf(net::HttpServletRequest& req) {
    const net::json* body = req.getJson(kMaxJsonBytes);
    if (body == nullptr) {
        return {};
    }
    const net::json_node* node = body->getFirstElementByTagName("ServeltData");
    return node == nullptr ? std::string() : node->text();
}

bool OverTls(net::HttpServletRequest& req) {
    return dynamic_cast<net::sslbase_io*>(req.getSocketStream().get_hook()) != nullptr;
}

request_caller CallerOf(net::HttpServletRequest& req, const char* plain, const char* secure) {
    const char* origin = req.getHeader("Origin");
    return request_caller{origin != nullptr ? origin : "", OverTls(req) ? secure : plain};
}

}  // namespace

https_servlet::https_servlet(net::socket_stream* stream, net::session* session,
                             const request_dispatch& dispatch)
    : HttpServlet(stream, session), dispatch_(dispatch) {}

https_servlet::~https_servlet() = default;

bool https_servlet::doGet(net::HttpServletRequest& req, net::HttpServletResponse& res) {
    return doPost(req, res);
}

bool https_servlet::doPost(net::HttpServletRequest& req, net::HttpServletResponse& res) {
    bool keepAlive = req.isKeepAlive();
    res.setContentType("text/html;charset=utf-8")
        .setKeepAlive(keepAlive)
        .setChunkedTransferEncoding(true);
    res.setHeader("Access-Control-Allow-Credentials", 1)
        .setHeader("Access-Control-Allow-Origin", "*")
        .setHeader("Access-Control-Allow-Methods", "*")
        .setHeader("Access-Control-Allow-Headers", "*");

    std::string requestText = ServeltDataOf(req);
    using body_status = net::HttpServletRequest::body_status;
    switch (req.bodyStatus()) {
        case body_status::broken:
        case body_status::malformed:
            // Half a request, or one whose end cannot be told: nothing runs,
            // and the stream is out of step, so the connection ends unanswered.
            return doError(req, res);
        case body_status::too_long:
            // The rest of the body is still on its way: answer, then close.
            keepAlive = false;
            res.setKeepAlive(false);
            break;
        case body_status::unread:
        case body_status::ok:
            break;
    }
    std::string answer = dispatch_.RunRequestText(requestText, CallerOf(req, "http", "https"));
    res.write(answer);
    bool ended = res.write(nullptr, 0);
    return ended && keepAlive;
}

bool https_servlet::doOptions(net::HttpServletRequest& req, net::HttpServletResponse& res) {
    res.setStatus(200);
    const char* method = req.getHeader("Access-Control-Request-Method");
    const char* headers = req.getHeader("Access-Control-Request-Headers");
    const char* origin = req.getHeader("Origin");
    res.setHeader("Access-Control-Allow-Origin", origin)
        .setHeader("Access-Control-Allow-Methods", method)
        .setHeader("Access-Control-Allow-Headers", headers)
        .setHeader("Access-Control-Max-Age", 3600)
        .setHeader("Access-Control-Allow-Credentials", 1)
        .setHeader("Access-Control-Allow-Private-Network", 1);
    res.sendHeader();
    return false;
}

bool https_servlet::doUnknown(net::HttpServletRequest&, net::HttpServletResponse& res) {
    res.setStatus(400).setContentType("text/html; charset=");
    if (res.sendHeader()) {
        res.getOutputStream().write("<root error='unkown request method' />\r\n");
    }
    return false;
}

bool https_servlet::doError(net::HttpServletRequest&, net::HttpServletResponse&) {
    return false;
}

bool https_servlet::admit(net::HttpServletRequest& req) {
    if (dispatch_.Admits(req.getHeader("Origin"))) {
        return true;
    }
    // Nothing runs, but the refusal is on record like any request.
    const bool upgrade = net::check_websocket_upgrade(req) != net::websocket_upgrade::none;
    WriteAuditLine(upgrade ? CallerOf(req, "ws", "wss") : CallerOf(req, "http", "https"),
                   RunSummary(), true);
    return false;
}

bool https_servlet::doWebSocket(net::HttpServletRequest& req, net::HttpServletResponse&) {
    net::socket_stream& stream = req.getSocketStream();
    if (!webSocketOpen_) {
        // Right after the handshake, whose origin stands for every message
        // on the connection. The first frame may not be there yet: then the
        // connection waits for it like any idle one.
        webSocketOpen_ = true;
        webSocketCaller_ = CallerOf(req, "ws", "wss");
        if (!stream.buffered()) {
            return true;
        }
    }
    return ServeWebSocketFrames(stream, dispatch_, webSocketCaller_);
}
