#include "net/chunk_framing.h"

namespace net {

namespace {

// More hex digits than this cannot be a size we would read.
constexpr size_t kMaxSizeDigits = 15;

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

bool chunk_framing::feed(const char* data, size_t len) {
    for (size_t i = 0; i < len && state_ != state::failed; ++i) {
        if (state_ == state::data) {
            // Skip the data itself in one step.
            const size_t take = remaining_ < len - i ? static_cast<size_t>(remaining_) : len - i;
            remaining_ -= take;
            i += take - 1;
            if (remaining_ == 0) {
                state_ = state::data_cr;
            }
            continue;
        }
        if (!step(data[i])) {
            state_ = state::failed;
        }
    }
    return state_ != state::failed;
}

bool chunk_framing::step(char c) {
    switch (state_) {
        case state::size: {
            const int digit = hex_value(c);
            if (digit >= 0) {
                if (++sizeDigits_ > kMaxSizeDigits) {
                    return false;
                }
                remaining_ = remaining_ * 16 + static_cast<uint64_t>(digit);
                return true;
            }
            if (sizeDigits_ == 0) {
                return false;
            }
            if (c == ';' || c == ' ' || c == '\t') {
                state_ = state::extension;
                return true;
            }
            if (c == '\r') {
                state_ = state::size_lf;
                return true;
            }
            return false;
        }
        case state::extension:
            if (c == '\r') {
                state_ = state::size_lf;
            }
            return c != '\n';
        case state::size_lf:
            if (c != '\n') {
                return false;
            }
            // The last chunk is followed by trailers, which the parser checks.
            state_ = remaining_ == 0 ? state::trailer : state::data;
            sizeDigits_ = 0;
            return true;
        case state::data_cr:
            state_ = state::data_lf;
            return c == '\r';
        case state::data_lf:
            state_ = state::size;
            return c == '\n';
        case state::trailer:
            return true;
        case state::data:
        case state::failed:
            break;
    }
    return false;
}

}  // namespace net
