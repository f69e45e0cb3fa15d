#pragma once
// One request as read from its connection: the head, and the body on
// demand.

#include <cstddef>
#include <memory>
#include <string>

#include "net/json.h"

namespace net {

class socket_stream;
class http_request_reader;
class HttpServletResponse;

class HttpServletRequest {
  public:
    // Without a reader the request has no head and no body (a WebSocket
    // connection after its opening handshake).
    HttpServletRequest(socket_stream& stream, http_request_reader* reader);
    ~HttpServletRequest();
    HttpServletRequest(const HttpServletRequest&) = delete;
    HttpServletRequest& operator=(const HttpServletRequest&) = delete;

    // "GET", "POST"...; empty when the method was not recognised.
    const char* getMethod() const;
    // The request target as sent: "/path?query".
    const char* getRequestUri() const;
    // The target up to "?", and what follows it.
    std::string getPathInfo() const;
    std::string getQueryString() const;
    int getHttpMajor() const;
    int getHttpMinor() const;

    // The first header of that name (any case); null when there is none.
    const char* getHeader(const char* name) const;
    bool isKeepAlive() const;
    // The Content-Length value; -1 without one (also when chunked).
    long long getContentLength() const;
    bool isChunked() const;

    // How reading the body went.
    enum class body_status {
        unread,
        ok,
        too_long,   // longer than the limit: reading stopped there
        broken,     // the peer closed, failed or was too slow: the body is incomplete
        malformed,  // its framing (chunks, length) is wrong
    };
    body_status bodyStatus() const { return bodyStatus_; }

    // The whole body, when it is at most `limit` bytes: true with the body
    // (empty when there is none); false when it is longer (reading stops
    // past the limit) or cannot be read.
    bool readBody(std::string& body, size_t limit);
    // The body parsed as JSON; null when there is no body, when it is
    // longer than `limit` bytes, or when it is not JSON. Owned by the
    // request; asking again gives the same document.
    const json* getJson(size_t limit);

    socket_stream& getSocketStream() const { return stream_; }
    // The peer's address, without its port.
    const char* getRemoteAddr() const;

    // The answer, so that "100 Continue" is sent only before it.
    void set_response(const HttpServletResponse* response) { response_ = response; }
    bool continue_pending() const;

  private:
    bool expects_continue() const;
    bool send_continue();

    socket_stream& stream_;
    http_request_reader* reader_;
    const HttpServletResponse* response_ = nullptr;
    bool continueSent_ = false;
    bool jsonTried_ = false;
    body_status bodyStatus_ = body_status::unread;
    std::unique_ptr<json> json_;
};

}  // namespace net
