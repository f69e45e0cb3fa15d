#pragma once
// The base of a request handler bound to one connection. doRun reads one
// request and calls the handler its method selects; a handler returns true
// to keep the connection for the next request.

#include <cstddef>

#include "net/HttpServletRequest.h"
#include "net/HttpServletResponse.h"
#include "net/memcache_session.h"
#include "net/noncopyable.h"

namespace net {

class socket_stream;

class HttpServlet : public noncopyable {
  public:
    // The request line and headers together, at most.
    static constexpr size_t kMaxHeadBytes = 64 * 1024;
    // Seconds a head may take from its first byte, when the stream has no
    // time-out of its own.
    static constexpr int kHeadTimeoutSeconds = 5;

    // Takes ownership of the session (released with the servlet).
    HttpServlet(socket_stream* stream, session* session);
    virtual ~HttpServlet();

    // Serves one request from `stream` (null: the servlet's own). The store
    // address is not used: the servlet keeps the session it was made with.
    virtual bool doRun(const char* memcached_addr, socket_stream* stream);
    virtual bool doRun(session& session, socket_stream* stream = nullptr);
    virtual bool doRun();

    socket_stream* getStream() const { return stream_; }
    session* getSession() const { return session_; }

  protected:
    // Asked once the head is read, before any handler: may this request be
    // served at all? A refusal is answered "403 Forbidden" (a WebSocket
    // handshake too) and closes the connection. The default admits all.
    virtual bool admit(HttpServletRequest& req);
    // The defaults answer "405 Method Not Allowed" and close the connection.
    virtual bool doGet(HttpServletRequest& req, HttpServletResponse& res);
    // After the opening handshake has been answered with 101. True has every
    // later doRun come back here without reading HTTP; the default closes.
    virtual bool doWebSocket(HttpServletRequest& req, HttpServletResponse& res);
    virtual bool doPost(HttpServletRequest& req, HttpServletResponse& res);
    virtual bool doPut(HttpServletRequest& req, HttpServletResponse& res);
    virtual bool doPatch(HttpServletRequest& req, HttpServletResponse& res);
    virtual bool doConnect(HttpServletRequest& req, HttpServletResponse& res);
    virtual bool doPurge(HttpServletRequest& req, HttpServletResponse& res);
    virtual bool doDelete(HttpServletRequest& req, HttpServletResponse& res);
    virtual bool doHead(HttpServletRequest& req, HttpServletResponse& res);
    virtual bool doOptions(HttpServletRequest& req, HttpServletResponse& res);
    virtual bool doPropfind(HttpServletRequest& req, HttpServletResponse& res);
    // Any other method the parser knows (TRACE, COPY, ...).
    virtual bool doOther(HttpServletRequest& req, HttpServletResponse& res, const char* method);
    // A method token the parser does not know; the default answers 400.
    virtual bool doUnknown(HttpServletRequest& req, HttpServletResponse& res);
    // A malformed request, a head over the limit or one not whole in time;
    // the default answers 400 and closes.
    virtual bool doError(HttpServletRequest& req, HttpServletResponse& res);

    // The answer of the defaults: the status, no body, connection closed.
    static bool refuse(HttpServletResponse& res, int status);

  private:
    bool serve(socket_stream& stream);
    bool dispatch(HttpServletRequest& req, HttpServletResponse& res);
    bool open_websocket(HttpServletRequest& req, HttpServletResponse& res, socket_stream& stream);

    socket_stream* stream_;
    session* session_;
    bool upgraded_ = false;
};

}  // namespace net
