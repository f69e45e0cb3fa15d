#pragma once
// A small wrapper over http-parser for one request: it gathers the head
// from fragments, hands out the decoded body, and stops after the head and
// at the end of the message, so bytes that follow (a pipelined request, or
// another protocol after an upgrade) are left to the caller.

#include <http_parser.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "net/chunk_framing.h"

namespace net {

class http_request_parser {
  public:
    using header = std::pair<std::string, std::string>;

    // A head longer than maxHead bytes (request line and headers) fails.
    explicit http_request_parser(size_t maxHead);
    http_request_parser(const http_request_parser&) = delete;
    http_request_parser& operator=(const http_request_parser&) = delete;

    // Takes bytes and returns how many it used: fewer than given once the
    // head or the message is complete, or on an error.
    size_t feed(const char* data, size_t len);

    bool head_complete() const { return headComplete_; }
    bool message_complete() const { return messageComplete_; }
    bool failed() const { return failed_; }
    // The failure lies in the request line or headers, not in the body.
    bool head_failed() const { return failed_ && (!headComplete_ || headTooLarge_ || endFailed_); }
    bool head_too_large() const { return headTooLarge_; }
    // The method token was not one the parser knows.
    bool invalid_method() const { return failed_ && errno_ == HPE_INVALID_METHOD; }
    // The body's length cannot be known: a transfer coding other than chunked.
    bool unsupported_coding() const { return unsupportedCoding_; }
    const char* error_name() const;
    // The message ended and the rest of the bytes are another protocol.
    bool upgrade() const { return parser_.upgrade != 0; }

    // Head (valid once head_complete()).
    const std::string& method() const { return method_; }
    const std::string& url() const { return url_; }
    const std::vector<header>& headers() const { return headers_; }
    int http_major() const { return parser_.http_major; }
    int http_minor() const { return parser_.http_minor; }
    bool keep_alive() const { return keepAlive_; }
    bool chunked() const { return (parser_.flags & F_CHUNKED) != 0; }
    // The Content-Length value; -1 without one.
    long long content_length() const { return contentLength_; }

    // Decoded body bytes parsed so far and not yet taken.
    std::string& body() { return body_; }

  private:
    static int on_url(http_parser* p, const char* at, size_t len);
    static int on_header_field(http_parser* p, const char* at, size_t len);
    static int on_header_value(http_parser* p, const char* at, size_t len);
    static int on_headers_complete(http_parser* p);
    static int on_body(http_parser* p, const char* at, size_t len);
    static int on_message_complete(http_parser* p);
    static http_request_parser& self(http_parser* p);

    size_t run(const char* data, size_t len);
    // What the lenient parser lets through: a version other than 1.0 or
    // 1.1, a header name that is not a token (a space before the colon),
    // a transfer coding we cannot frame. False rejects the head.
    bool head_is_strict();
    // Checks the chunked framing of body bytes the parser has just used.
    void check_chunks(const char* data, size_t used);

    http_parser parser_{};
    http_parser_settings settings_{};
    const size_t maxHead_;
    size_t headBytes_ = 0;
    bool headComplete_ = false;
    bool messageComplete_ = false;
    bool failed_ = false;
    bool headTooLarge_ = false;
    bool resumed_ = false;
    bool endFailed_ = false;
    bool unsupportedCoding_ = false;
    bool strictFailed_ = false;
    chunk_framing chunks_;
    http_errno errno_ = HPE_OK;
    bool inValue_ = false;
    bool keepAlive_ = false;
    long long contentLength_ = -1;
    std::string method_;
    std::string url_;
    std::vector<header> headers_;
    std::string body_;
};

}  // namespace net
