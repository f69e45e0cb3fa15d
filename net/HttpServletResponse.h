#pragma once
// The answer to one request. The head goes out with sendHeader() or with
// the first write(); the body is framed by chunks, by a length, or by
// closing the connection (then the head says "Connection: close").

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace net {

class socket_stream;
class HttpServletResponse;

// Raw bytes on the connection, past any framing.
class http_output_stream {
  public:
    bool write(const void* data, size_t len);
    bool write(const char* text);
    bool write(const std::string& text) { return write(text.data(), text.size()); }

  private:
    friend class HttpServletResponse;
    explicit http_output_stream(HttpServletResponse& owner) : owner_(owner) {}
    HttpServletResponse& owner_;
};

class HttpServletResponse {
  public:
    explicit HttpServletResponse(socket_stream& stream);
    HttpServletResponse(const HttpServletResponse&) = delete;
    HttpServletResponse& operator=(const HttpServletResponse&) = delete;

    // 200 unless set; a code outside 100..599 becomes 500.
    HttpServletResponse& setStatus(int status);
    HttpServletResponse& setContentType(const char* type);
    HttpServletResponse& setKeepAlive(bool on);
    HttpServletResponse& setChunkedTransferEncoding(bool on);
    HttpServletResponse& setContentLength(long long length);
    // A null value sends no such header. A name set again replaces its
    // value. Line breaks in values become spaces; a name that is not an HTTP
    // token is ignored. Content-Length, Transfer-Encoding and Connection go
    // to the setters above.
    HttpServletResponse& setHeader(const char* name, const char* value);
    HttpServletResponse& setHeader(const char* name, const std::string& value);
    HttpServletResponse& setHeader(const char* name, int value);
    HttpServletResponse& setHeader(const char* name, long long value);

    // True once the head has been sent (now or before), or is held back to
    // go with the body (see write).
    bool sendHeader();

    // Body bytes, after the head; chunked framing when chunked. No data
    // (a null or empty text, or a length of 0) ends the body: the final
    // chunk when chunked. True on success; ending twice is fine, writing
    // after the end is not. A small chunk (with the head, if that has not
    // gone yet) is held back until the next write, the end or flush(), so
    // that a short answer leaves in one segment with its final chunk; a
    // failure to send it shows in that later call.
    bool write(const void* data, size_t len);
    bool write(const char* text);
    bool write(const std::string& text) { return write(text.data(), text.size()); }

    http_output_stream& getOutputStream() { return output_; }

    // Sends what write() holds back. The servlet calls it as soon as the
    // handler returns; the destructor calls it too.
    bool flush();
    ~HttpServletResponse();

    int getStatus() const { return status_; }
    bool headerSent() const { return headSent_; }
    // Whether the connection can carry another request after this answer.
    bool reusable() const;

    // The head the answer would carry now (for tests and for sendHeader).
    std::string head_text() const;

    // Set by the servlet from the request: chunks need HTTP/1.1.
    void set_request_version(int major, int minor);

  private:
    friend class http_output_stream;
    bool send_raw(const void* data, size_t len);
    bool chunks_allowed() const;
    bool delimited() const;

    socket_stream& stream_;
    http_output_stream output_;
    int status_ = 200;
    std::string contentType_;
    bool keepAlive_ = true;
    bool chunked_ = false;
    long long contentLength_ = -1;
    std::vector<std::pair<std::string, std::string>> headers_;
    bool http11_ = true;

    bool headSent_ = false;  // sent, or held back in pending_
    std::string pending_;    // chunked-body bytes not yet on the wire
    bool ended_ = false;
    bool failed_ = false;
    bool rawWritten_ = false;
    long long bodyWritten_ = 0;
};

}  // namespace net
