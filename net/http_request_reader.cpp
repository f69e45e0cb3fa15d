#include "net/http_request_reader.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "net/socket_stream.h"

namespace net {

namespace {

// At least one TLS record, so a hook never keeps decrypted bytes behind.
constexpr size_t kReadChunk = 16 * 1024 + 512;

}  // namespace

http_request_reader::http_request_reader(socket_stream& stream, size_t maxHead)
    : stream_(stream), parser_(maxHead), buf_(new char[kReadChunk]) {}

bool http_request_reader::pump() {
    char* buf = buf_.get();
    const ssize_t n = stream_.read(buf, kReadChunk);
    if (n <= 0) {
        return false;
    }
    const auto size = static_cast<size_t>(n);
    size_t used = parser_.feed(buf, size);
    if (used < size && parser_.head_complete() && !parser_.failed() &&
        !parser_.message_complete()) {
        // The parser stops on the head's last byte; going on at once ends a
        // message without a body before its handler runs, and takes what
        // has already come of the body.
        used += parser_.feed(buf + used, size - used);
    }
    if (used < size && !parser_.failed()) {
        stream_.unread(buf + used, size - used);
    }
    return true;
}

http_request_reader::head_result http_request_reader::read_head(int timeoutSeconds) {
    // The clock starts with the first byte.
    const ssize_t n = stream_.read(buf_.get(), kReadChunk);
    if (n <= 0) {
        return n == 0 ? head_result::no_request
                      : (stream_.timed_out() ? head_result::timed_out : head_result::broken);
    }
    stream_.unread(buf_.get(), static_cast<size_t>(n));
    stream_.set_deadline(std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds));
    head_result result = head_result::ok;
    while (!parser_.head_complete() && !parser_.failed()) {
        if (!pump()) {
            result = stream_.timed_out() ? head_result::timed_out : head_result::broken;
            break;
        }
    }
    stream_.clear_deadline();
    if (result != head_result::ok) {
        return result;
    }
    if (parser_.head_failed()) {
        return parser_.invalid_method() ? head_result::invalid_method : head_result::malformed;
    }
    return head_result::ok;  // a bad body shows when it is read
}

ssize_t http_request_reader::read_body(void* buf, size_t len) {
    std::string& body = parser_.body();
    while (body.empty() && !parser_.message_complete()) {
        if (parser_.failed() || !parser_.head_complete() || !pump()) {
            bodyBroken_ = true;
            return -1;
        }
    }
    const size_t n = std::min(len, body.size());
    std::memcpy(buf, body.data(), n);
    body.erase(0, n);
    return static_cast<ssize_t>(n);
}

bool http_request_reader::drain(size_t budget) {
    char buf[4096];
    size_t total = 0;
    for (;;) {
        const ssize_t n = read_body(buf, sizeof buf);
        if (n <= 0) {
            return n == 0;
        }
        total += static_cast<size_t>(n);
        if (total > budget) {
            return false;
        }
    }
}

}  // namespace net
