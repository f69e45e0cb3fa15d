#include "net/HttpServletResponse.h"

#include <strings.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/http_status_text.h"
#include "net/socket_stream.h"

namespace net {

namespace {

bool is_separator(unsigned char ch) {
    switch (ch) {
        case '"':
        case '(':
        case ')':
        case ',':
        case '/':
        case ':':
        case ';':
        case '<':
        case '=':
        case '>':
        case '?':
        case '@':
        case '[':
        case '\\':
        case ']':
        case '{':
        case '}':
            return true;
        default:
            return false;
    }
}

bool is_token(const char* name) {
    if (name == nullptr || *name == '\0') {
        return false;
    }
    for (const char* c = name; *c != '\0'; ++c) {
        const auto ch = static_cast<unsigned char>(*c);
        if (ch <= ' ' || ch >= 0x7f || is_separator(ch)) {
            return false;
        }
    }
    return true;
}

std::string one_line(const char* value) {
    std::string text = value;
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
    return text;
}

// A chunked body's bytes are held back up to this size (see write).
constexpr size_t kHoldBytes = 4096;

}  // namespace

bool http_output_stream::write(const void* data, size_t len) {
    owner_.rawWritten_ = true;
    return owner_.send_raw(data, len);
}

bool http_output_stream::write(const char* text) {
    return text == nullptr || write(text, std::strlen(text));
}

HttpServletResponse::HttpServletResponse(socket_stream& stream) : stream_(stream), output_(*this) {}

HttpServletResponse::~HttpServletResponse() {
    flush();
}

HttpServletResponse& HttpServletResponse::setStatus(int status) {
    status_ = status >= 100 && status <= 599 ? status : 500;
    return *this;
}

HttpServletResponse& HttpServletResponse::setContentType(const char* type) {
    contentType_ = type != nullptr ? one_line(type) : std::string();
    return *this;
}

HttpServletResponse& HttpServletResponse::setKeepAlive(bool on) {
    keepAlive_ = on;
    return *this;
}

HttpServletResponse& HttpServletResponse::setChunkedTransferEncoding(bool on) {
    chunked_ = on;
    return *this;
}

HttpServletResponse& HttpServletResponse::setContentLength(long long length) {
    contentLength_ = length < 0 ? -1 : length;
    return *this;
}

HttpServletResponse& HttpServletResponse::setHeader(const char* name, const char* value) {
    if (!is_token(name) || headSent_) {
        return *this;
    }
    // The three framing headers all start with a "c" or a "t".
    const char first = static_cast<char>(name[0] | 0x20);
    if (first == 'c' || first == 't') {
        if (strcasecmp(name, "Content-Length") == 0) {
            return setContentLength(value != nullptr ? std::strtoll(value, nullptr, 10) : -1);
        }
        if (strcasecmp(name, "Transfer-Encoding") == 0) {
            return setChunkedTransferEncoding(value != nullptr && strcasestr(value, "chunked"));
        }
        if (strcasecmp(name, "Connection") == 0) {
            return setKeepAlive(value == nullptr || strcasestr(value, "close") == nullptr);
        }
    }
    for (auto it = headers_.begin(); it != headers_.end(); ++it) {
        if (strcasecmp(it->first.c_str(), name) == 0) {
            headers_.erase(it);
            break;
        }
    }
    if (value != nullptr) {
        if (headers_.empty()) {
            headers_.reserve(8);
        }
        headers_.emplace_back(name, one_line(value));
    }
    return *this;
}

HttpServletResponse& HttpServletResponse::setHeader(const char* name, const std::string& value) {
    return setHeader(name, value.c_str());
}

HttpServletResponse& HttpServletResponse::setHeader(const char* name, int value) {
    return setHeader(name, static_cast<long long>(value));
}

HttpServletResponse& HttpServletResponse::setHeader(const char* name, long long value) {
    return setHeader(name, std::to_string(value).c_str());
}

void HttpServletResponse::set_request_version(int major, int minor) {
    http11_ = major > 1 || (major == 1 && minor >= 1);
}

bool HttpServletResponse::chunks_allowed() const {
    return chunked_ && http11_;
}

bool HttpServletResponse::delimited() const {
    return chunks_allowed() || contentLength_ >= 0;
}

std::string HttpServletResponse::head_text() const {
    std::string head;
    head.reserve(256);
    head += "HTTP/1.1 ";
    head += std::to_string(status_);
    head += ' ';
    head += http_status_text(status_);
    head += "\r\n";
    if (!contentType_.empty()) {
        head += "Content-Type: ";
        head += contentType_;
        head += "\r\n";
    }
    if (chunks_allowed()) {
        head += "Transfer-Encoding: chunked\r\n";
    } else if (contentLength_ >= 0) {
        head += "Content-Length: ";
        head += std::to_string(contentLength_);
        head += "\r\n";
    }
    head += keepAlive_ && delimited() ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (const auto& [name, value] : headers_) {
        head += name;
        head += ": ";
        head += value;
        head += "\r\n";
    }
    head += "\r\n";
    return head;
}

// What is held back goes first, in the same write.
bool HttpServletResponse::send_raw(const void* data, size_t len) {
    if (failed_) {
        return false;
    }
    bool ok = true;
    if (!pending_.empty()) {
        if (len > 0) {
            pending_.append(static_cast<const char*>(data), len);
        }
        ok = stream_.write(pending_.data(), pending_.size());
        pending_.clear();
    } else if (len > 0) {
        ok = stream_.write(data, len);
    }
    failed_ = !ok;
    return ok;
}

bool HttpServletResponse::flush() {
    return send_raw(nullptr, 0);
}

bool HttpServletResponse::sendHeader() {
    if (headSent_) {
        return true;
    }
    const std::string head = head_text();
    if (!send_raw(head.data(), head.size())) {
        return false;
    }
    headSent_ = true;
    return true;
}

bool HttpServletResponse::write(const char* text) {
    return write(text, text != nullptr ? std::strlen(text) : 0);
}

bool HttpServletResponse::write(const void* data, size_t len) {
    if (failed_) {
        return false;
    }
    if (data == nullptr || len == 0) {
        if (ended_) {
            return true;
        }
        if (!sendHeader()) {
            return false;
        }
        ended_ = true;
        return !chunks_allowed() || send_raw("0\r\n\r\n", 5);
    }
    if (ended_ ||
        (contentLength_ >= 0 && static_cast<unsigned long long>(contentLength_ - bodyWritten_) <
                                    static_cast<unsigned long long>(len))) {
        return false;
    }
    std::string out;
    if (!headSent_) {
        out = head_text();
    }
    if (chunks_allowed()) {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", len);
        out += size;
    }
    out.append(static_cast<const char*>(data), len);
    if (chunks_allowed()) {
        out += "\r\n";
    }
    // A chunked body always ends with a final chunk of its own, so a small
    // chunk can wait for it and leave with it.
    if (chunks_allowed() && pending_.size() + out.size() <= kHoldBytes) {
        pending_ += out;
    } else if (!send_raw(out.data(), out.size())) {
        return false;
    }
    headSent_ = true;
    bodyWritten_ += static_cast<long long>(len);
    return true;
}

bool HttpServletResponse::reusable() const {
    if (failed_ || rawWritten_ || !keepAlive_) {
        return false;
    }
    if (!headSent_) {
        return true;
    }
    if (chunks_allowed()) {
        return ended_;
    }
    return contentLength_ >= 0 && bodyWritten_ == contentLength_;
}

}  // namespace net
