#include "net/http_request_parser.h"

#include <strings.h>
#include <algorithm>
#include <string_view>

namespace net {

namespace {

// RFC 9110 tchar: what a header name may be made of.
bool is_token_char(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return true;
    }
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool is_token(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return is_token_char(static_cast<unsigned char>(c));
    });
}

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

http_request_parser::http_request_parser(size_t maxHead) : maxHead_(maxHead) {
    http_parser_init(&parser_, HTTP_REQUEST);
    parser_.data = this;
    http_parser_settings_init(&settings_);
    settings_.on_url = &http_request_parser::on_url;
    settings_.on_header_field = &http_request_parser::on_header_field;
    settings_.on_header_value = &http_request_parser::on_header_value;
    settings_.on_headers_complete = &http_request_parser::on_headers_complete;
    settings_.on_body = &http_request_parser::on_body;
    settings_.on_message_complete = &http_request_parser::on_message_complete;
}

http_request_parser& http_request_parser::self(http_parser* p) {
    return *static_cast<http_request_parser*>(p->data);
}

int http_request_parser::on_url(http_parser* p, const char* at, size_t len) {
    self(p).url_.append(at, len);
    return 0;
}

int http_request_parser::on_header_field(http_parser* p, const char* at, size_t len) {
    http_request_parser& me = self(p);
    if (me.inValue_ || me.headers_.empty()) {
        me.headers_.emplace_back();
        me.inValue_ = false;
    }
    me.headers_.back().first.append(at, len);
    return 0;
}

int http_request_parser::on_header_value(http_parser* p, const char* at, size_t len) {
    http_request_parser& me = self(p);
    if (me.headers_.empty()) {
        me.headers_.emplace_back();
    }
    me.inValue_ = true;
    me.headers_.back().second.append(at, len);
    return 0;
}

bool http_request_parser::head_is_strict() {
    if (parser_.http_major != 1 || parser_.http_minor > 1) {
        return false;
    }
    for (const header& h : headers_) {
        if (!is_token(h.first)) {
            return false;
        }
        if (strcasecmp(h.first.c_str(), "Transfer-Encoding") == 0 &&
            strcasecmp(std::string(trimmed(h.second)).c_str(), "chunked") != 0) {
            unsupportedCoding_ = true;
            return false;
        }
    }
    return true;
}

int http_request_parser::on_headers_complete(http_parser* p) {
    http_request_parser& me = self(p);
    if (!me.head_is_strict()) {
        me.strictFailed_ = true;
        return -1;  // the parser stops with an error; the head is refused
    }
    me.headComplete_ = true;
    me.method_ = http_method_str(static_cast<http_method>(p->method));
    me.keepAlive_ = http_should_keep_alive(p) != 0;
    for (const header& h : me.headers_) {
        if (strcasecmp(h.first.c_str(), "Content-Length") == 0) {
            me.contentLength_ = static_cast<long long>(p->content_length);
            break;
        }
    }
    http_parser_pause(p, 1);
    return 0;
}

int http_request_parser::on_body(http_parser* p, const char* at, size_t len) {
    self(p).body_.append(at, len);
    return 0;
}

int http_request_parser::on_message_complete(http_parser* p) {
    self(p).messageComplete_ = true;
    http_parser_pause(p, 1);
    return 0;
}

const char* http_request_parser::error_name() const {
    if (headTooLarge_) {
        return "head too large";
    }
    if (unsupportedCoding_) {
        return "transfer coding not implemented";
    }
    if (strictFailed_) {
        return "malformed request line or header";
    }
    if (chunks_.failed()) {
        return "malformed chunk";
    }
    return http_errno_description(errno_);
}

size_t http_request_parser::run(const char* data, size_t len) {
    if (HTTP_PARSER_ERRNO(&parser_) == HPE_PAUSED) {
        http_parser_pause(&parser_, 0);
    }
    const size_t used = http_parser_execute(&parser_, &settings_, data, len);
    const auto code = static_cast<http_errno>(HTTP_PARSER_ERRNO(&parser_));
    if (code != HPE_OK && code != HPE_PAUSED) {
        failed_ = true;
        errno_ = code;
    }
    return used;
}

void http_request_parser::check_chunks(const char* data, size_t used) {
    if (!chunked() || failed_ || used == 0) {
        return;
    }
    if (!chunks_.feed(data, used)) {
        // The parser may have seen an end where there was none.
        failed_ = true;
        messageComplete_ = false;
        errno_ = HPE_INVALID_CHUNK_SIZE;
    }
}

size_t http_request_parser::feed(const char* data, size_t len) {
    if (failed_ || messageComplete_ || len == 0) {
        return 0;
    }
    if (headComplete_) {
        const size_t used = run(data, len);
        // The first byte after the pause still ends the head: a failure
        // there is the head's.
        endFailed_ = !resumed_ && failed_ && used == 0;
        // That byte is fed again on resuming; it is not the body's.
        const size_t skip = resumed_ || used == 0 ? 0 : 1;
        resumed_ = true;
        check_chunks(data + skip, used - skip);
        return used;
    }
    // Give the parser no more than one byte past the limit, so a head that
    // ends exactly at the limit still passes.
    const size_t room = maxHead_ + 1 - headBytes_;
    const size_t used = run(data, std::min(len, room));
    if (!headComplete_) {
        headBytes_ += used;
        if (!failed_ && headBytes_ > maxHead_) {
            failed_ = true;
            headTooLarge_ = true;
        }
        return used;
    }
    // Paused on the head's last byte, which it leaves to be fed again.
    headBytes_ += used + 1;
    if (headBytes_ > maxHead_) {
        failed_ = true;
        headTooLarge_ = true;
    }
    return used;
}

}  // namespace net
