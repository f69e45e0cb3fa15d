#include "net/HttpServletRequest.h"

#include <strings.h>

#include "net/HttpServletResponse.h"
#include "net/http_request_reader.h"
#include "net/socket_stream.h"

namespace net {

HttpServletRequest::HttpServletRequest(socket_stream& stream, http_request_reader* reader)
    : stream_(stream), reader_(reader) {}

HttpServletRequest::~HttpServletRequest() = default;

const char* HttpServletRequest::getMethod() const {
    return reader_ != nullptr && reader_->parser().head_complete()
               ? reader_->parser().method().c_str()
               : "";
}

const char* HttpServletRequest::getRequestUri() const {
    return reader_ != nullptr ? reader_->parser().url().c_str() : "";
}

std::string HttpServletRequest::getPathInfo() const {
    const std::string uri = getRequestUri();
    return uri.substr(0, uri.find('?'));
}

std::string HttpServletRequest::getQueryString() const {
    const std::string uri = getRequestUri();
    const size_t mark = uri.find('?');
    return mark == std::string::npos ? std::string() : uri.substr(mark + 1);
}

int HttpServletRequest::getHttpMajor() const {
    return reader_ != nullptr ? reader_->parser().http_major() : 1;
}

int HttpServletRequest::getHttpMinor() const {
    return reader_ != nullptr ? reader_->parser().http_minor() : 1;
}

const char* HttpServletRequest::getHeader(const char* name) const {
    if (reader_ == nullptr || name == nullptr) {
        return nullptr;
    }
    for (const auto& [key, value] : reader_->parser().headers()) {
        if (strcasecmp(key.c_str(), name) == 0) {
            return value.c_str();
        }
    }
    return nullptr;
}

bool HttpServletRequest::isKeepAlive() const {
    return reader_ != nullptr && reader_->parser().keep_alive();
}

long long HttpServletRequest::getContentLength() const {
    return reader_ != nullptr && !isChunked() ? reader_->parser().content_length() : -1;
}

bool HttpServletRequest::isChunked() const {
    return reader_ != nullptr && reader_->parser().chunked();
}

const char* HttpServletRequest::getRemoteAddr() const {
    return stream_.get_peer(false);
}

bool HttpServletRequest::expects_continue() const {
    const char* expect = getHeader("Expect");
    return expect != nullptr && strcasecmp(expect, "100-continue") == 0 &&
           (getHttpMajor() > 1 || (getHttpMajor() == 1 && getHttpMinor() >= 1));
}

bool HttpServletRequest::continue_pending() const {
    return reader_ != nullptr && !reader_->parser().message_complete() && expects_continue() &&
           !continueSent_;
}

// The client waits for this before it sends the body; once a final answer
// has gone out it must not come any more.
bool HttpServletRequest::send_continue() {
    if (!continue_pending()) {
        return true;
    }
    if (response_ != nullptr && response_->headerSent()) {
        return false;
    }
    static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
    continueSent_ = true;
    return stream_.write(kContinue, sizeof kContinue - 1);
}

bool HttpServletRequest::readBody(std::string& body, size_t limit) {
    body.clear();
    if (reader_ == nullptr) {
        bodyStatus_ = body_status::broken;
        return false;
    }
    if (reader_->parser().failed()) {
        bodyStatus_ = body_status::malformed;
        return false;
    }
    const long long length = getContentLength();
    if (length > 0 && static_cast<unsigned long long>(length) > limit) {
        bodyStatus_ = body_status::too_long;
        return false;
    }
    if (!send_continue()) {
        bodyStatus_ = body_status::broken;
        return false;
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = reader_->read_body(buf, sizeof buf);
        if (n < 0) {
            bodyStatus_ = reader_->body_malformed() ? body_status::malformed : body_status::broken;
            body.clear();
            return false;
        }
        if (n == 0) {
            bodyStatus_ = body_status::ok;
            return true;
        }
        if (body.size() + static_cast<size_t>(n) > limit) {
            bodyStatus_ = body_status::too_long;
            body.clear();
            return false;
        }
        body.append(buf, static_cast<size_t>(n));
    }
}

const json* HttpServletRequest::getJson(size_t limit) {
    if (!jsonTried_) {
        jsonTried_ = true;
        std::string body;
        if (readBody(body, limit) && !body.empty()) {
            json_ = json::parse(body);
        }
    }
    return json_.get();
}

}  // namespace net
