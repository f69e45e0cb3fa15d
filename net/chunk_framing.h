#pragma once
// A second, strict look at a chunked body's framing. The packaged HTTP
// parser is built lenient: it takes any two bytes after a chunk's data as
// its CRLF, so a body could end somewhere other than where the peer meant.

#include <cstddef>
#include <cstdint>

namespace net {

class chunk_framing {
  public:
    // Takes the body's bytes as they come; false once the framing is wrong.
    bool feed(const char* data, size_t len);
    bool failed() const { return state_ == state::failed; }

  private:
    enum class state { size, extension, size_lf, data, data_cr, data_lf, trailer, failed };

    bool step(char c);

    state state_ = state::size;
    uint64_t remaining_ = 0;
    size_t sizeDigits_ = 0;
};

}  // namespace net
