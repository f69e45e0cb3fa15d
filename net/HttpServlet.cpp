#include "net/HttpServlet.h"

#include <chrono>
#include <cstring>
#include <string>

#include "net/http_request_reader.h"
#include "net/socket_stream.h"
#include "net/websocket_upgrade.h"

namespace net {

namespace {

// A body the handler left unread is read and dropped up to this size so
// the connection can go on; a longer one closes it.
constexpr size_t kDrainBytes = 1024 * 1024;

// After an answer to a request whose body is still arriving, the rest is
// read and dropped for this long, and up to this much, before the socket
// closes, so that the peer gets to read the answer.
constexpr std::chrono::milliseconds kLingerTime{2000};
constexpr size_t kLingerBytes = 8 * 1024 * 1024;

}  // namespace

HttpServlet::HttpServlet(socket_stream* stream, session* session)
    : stream_(stream), session_(session) {}

HttpServlet::~HttpServlet() {
    delete session_;
}

bool HttpServlet::doRun(const char*, socket_stream* stream) {
    socket_stream* target = stream != nullptr ? stream : stream_;
    return target != nullptr && serve(*target);
}

bool HttpServlet::doRun(session&, socket_stream* stream) {
    return doRun(nullptr, stream);
}

bool HttpServlet::doRun() {
    return stream_ != nullptr && serve(*stream_);
}

bool HttpServlet::serve(socket_stream& stream) {
    if (upgraded_) {
        HttpServletRequest req(stream, nullptr);
        HttpServletResponse res(stream);
        upgraded_ = doWebSocket(req, res);
        return upgraded_;
    }
    http_request_reader reader(stream, kMaxHeadBytes);
    const int timeout = stream.get_rw_timeout() > 0 ? stream.get_rw_timeout() : kHeadTimeoutSeconds;
    const http_request_reader::head_result head = reader.read_head(timeout);
    HttpServletRequest req(stream, &reader);
    HttpServletResponse res(stream);
    req.set_response(&res);
    res.setKeepAlive(false);

    // After a bad head the bytes that follow cannot be told apart, so the
    // connection ends whatever the handler says.
    switch (head) {
        case http_request_reader::head_result::no_request:
            return false;
        case http_request_reader::head_result::invalid_method:
            doUnknown(req, res);
            return false;
        case http_request_reader::head_result::malformed:
        case http_request_reader::head_result::timed_out:
        case http_request_reader::head_result::broken:
            doError(req, res);
            return false;
        case http_request_reader::head_result::ok:
            break;
    }

    res.set_request_version(req.getHttpMajor(), req.getHttpMinor());
    res.setKeepAlive(req.isKeepAlive());
    if (!admit(req)) {
        return refuse(res, 403);
    }
    const websocket_upgrade upgrade = check_websocket_upgrade(req);
    if (upgrade == websocket_upgrade::accepted && reader.parser().message_complete()) {
        return open_websocket(req, res, stream);
    }
    if (upgrade != websocket_upgrade::none) {
        const std::string refusal = websocket_refusal_head(
            upgrade == websocket_upgrade::accepted ? websocket_upgrade::bad_request : upgrade);
        stream.write(refusal.data(), refusal.size());
        return false;
    }

    // Keeping the connection needs an answer that was sent whole and a
    // request that was read whole.
    const bool keep = dispatch(req, res);
    // What the handler wrote goes out before anything more is read.
    res.flush();
    if (!keep || !res.reusable()) {
        if (res.headerSent() && !reader.parser().message_complete()) {
            stream.close_lingering(kLingerTime, kLingerBytes);
        }
        return false;
    }
    if (!reader.parser().message_complete()) {
        if (req.continue_pending() || !reader.drain(kDrainBytes)) {
            return false;
        }
    }
    return !reader.body_broken();
}

bool HttpServlet::open_websocket(HttpServletRequest& req, HttpServletResponse& res,
                                 socket_stream& stream) {
    const std::string head = websocket_accept_head(req.getHeader("Sec-WebSocket-Key"));
    if (head.empty() || !stream.write(head.data(), head.size())) {
        return false;
    }
    upgraded_ = doWebSocket(req, res);
    return upgraded_;
}

bool HttpServlet::dispatch(HttpServletRequest& req, HttpServletResponse& res) {
    using handler = bool (HttpServlet::*)(HttpServletRequest&, HttpServletResponse&);
    static constexpr struct {
        const char* method;
        handler run;
    } kHandlers[] = {
        {"GET", &HttpServlet::doGet},         {"POST", &HttpServlet::doPost},
        {"PUT", &HttpServlet::doPut},         {"PATCH", &HttpServlet::doPatch},
        {"CONNECT", &HttpServlet::doConnect}, {"PURGE", &HttpServlet::doPurge},
        {"DELETE", &HttpServlet::doDelete},   {"HEAD", &HttpServlet::doHead},
        {"OPTIONS", &HttpServlet::doOptions}, {"PROPFIND", &HttpServlet::doPropfind},
    };
    const char* method = req.getMethod();
    for (const auto& entry : kHandlers) {
        if (std::strcmp(entry.method, method) == 0) {
            return (this->*entry.run)(req, res);
        }
    }
    return doOther(req, res, method);
}

bool HttpServlet::refuse(HttpServletResponse& res, int status) {
    res.setStatus(status).setKeepAlive(false).setChunkedTransferEncoding(false).setContentLength(0);
    res.sendHeader();
    return false;
}

bool HttpServlet::admit(HttpServletRequest&) {
    return true;
}
bool HttpServlet::doGet(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doWebSocket(HttpServletRequest&, HttpServletResponse&) {
    return false;
}
bool HttpServlet::doPost(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doPut(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doPatch(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doConnect(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doPurge(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doDelete(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doHead(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doOptions(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doPropfind(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 405);
}
bool HttpServlet::doOther(HttpServletRequest&, HttpServletResponse& res, const char*) {
    return refuse(res, 405);
}
bool HttpServlet::doUnknown(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 400);
}
bool HttpServlet::doError(HttpServletRequest&, HttpServletResponse& res) {
    return refuse(res, 400);
}

}  // namespace net
