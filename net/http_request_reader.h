#pragma once
// Reads one request from a connection: the head within its time limit,
// then the body on demand. Bytes the request does not use go back to the
// stream for whatever comes next.

#include <sys/types.h>
#include <cstddef>
#include <memory>

#include "net/http_request_parser.h"

namespace net {

class socket_stream;

class http_request_reader {
  public:
    enum class head_result {
        ok,
        no_request,      // the peer closed before sending a byte
        invalid_method,  // the method token is not one the parser knows
        malformed,       // any other parse error, or a head over the limit
        timed_out,       // the head did not arrive whole in time
        broken,          // the peer closed or failed within the head
    };

    http_request_reader(socket_stream& stream, size_t maxHead);

    // The head must be complete within timeoutSeconds of its first byte.
    head_result read_head(int timeoutSeconds);

    // Decoded body bytes: > 0, 0 at the end of the body, -1 when the peer
    // closed, failed or sent a malformed body.
    ssize_t read_body(void* buf, size_t len);
    // Reads and drops the rest of the body; false when it ends badly or is
    // longer than `budget`.
    bool drain(size_t budget);

    bool body_broken() const { return bodyBroken_; }
    // The body broke because its framing was wrong, not because the peer
    // went away or was too slow.
    bool body_malformed() const { return bodyBroken_ && parser_.failed(); }
    const http_request_parser& parser() const { return parser_; }

  private:
    // Reads more bytes into the parser; false when none came.
    bool pump();

    socket_stream& stream_;
    http_request_parser parser_;
    std::unique_ptr<char[]> buf_;
    bool bodyBroken_ = false;
};

}  // namespace net
