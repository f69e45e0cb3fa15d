#include "net/http_request_parser.h"

#include <strings.h>
#include <algorithm>

namespace net {

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

int http_request_parser::on_headers_complete(http_parser* p) {
    http_request_parser& me = self(p);
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

size_t http_request_parser::feed(const char* data, size_t len) {
    if (failed_ || messageComplete_ || len == 0) {
        return 0;
    }
    if (headComplete_) {
        const size_t used = run(data, len);
        // The first byte after the pause still ends the head: a failure
        // there is the head's.
        endFailed_ = !resumed_ && failed_ && used == 0;
        resumed_ = true;
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
