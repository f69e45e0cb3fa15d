#pragma once
// A connection without a socket: a stream_hook that serves the fuzzer's
// bytes to the reader in pieces of a chosen size, keeps what is written, and
// can fail the Nth write. The stream's descriptor is -1, so nothing touches
// the system.

#include <sys/types.h>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "net/socket_stream.h"
#include "net/stream_hook.h"

namespace fuzz {

class MemoryHook : public net::stream_hook {
  public:
    // piece 0 hands out everything at once; failWrite 0 never fails.
    MemoryHook(std::string_view input, size_t piece, unsigned failWrite)
        : input_(input), piece_(piece), failWrite_(failWrite) {}

    bool open(net::socket_stream&) override { return true; }
    ssize_t read(void* buf, size_t len) override {
        const size_t n = std::min({len, input_.size(), piece_ == 0 ? len : piece_});
        if (n > 0) {
            std::memcpy(buf, input_.data(), n);
            input_.remove_prefix(n);
        }
        return static_cast<ssize_t>(n);  // 0 once the input is used up: the peer closed
    }
    ssize_t send(const void* buf, size_t len) override {
        if (failWrite_ != 0 && ++writes_ >= failWrite_) {
            failed_ = true;
            return -1;
        }
        output_.append(static_cast<const char*>(buf), len);
        return static_cast<ssize_t>(len);
    }
    size_t pending() const override { return input_.size(); }
    void destroy() override {}  // owned by the caller, not by the stream

    const std::string& output() const { return output_; }
    bool write_failed() const { return failed_; }
    size_t unread() const { return input_.size(); }

  private:
    std::string_view input_;
    size_t piece_;
    unsigned failWrite_;
    unsigned writes_ = 0;
    bool failed_ = false;
    std::string output_;
};

// A stream over a MemoryHook: declared after the hook, so it goes first.
struct MemoryConnection {
    MemoryConnection(std::string_view input, size_t piece, unsigned failWrite)
        : hook(input, piece, failWrite), stream(-1) {
        stream.setup_hook(&hook);
    }
    MemoryHook hook;
    net::socket_stream stream;
};

// The first two bytes of an I/O target's input: the read piece size in the
// low six bits of the first (0: all at once) and the write that fails in the
// low four bits of the second (0: none), and four bits of the target's own
// in the high half of the second, so that "@@" reads everything at once and
// never fails, and "A@" reads one byte at a time. The rest is the traffic.
struct IoOptions {
    size_t piece = 0;
    unsigned failWrite = 0;
    unsigned flags = 0;  // the target's own switches: bit 0 is 0x10 of the byte ("P" sets it)
    std::string_view traffic;
};

inline IoOptions SplitIoOptions(const uint8_t* data, size_t size) {
    IoOptions options;
    if (size < 2) {
        return options;
    }
    options.piece = data[0] & 0x3f;
    options.failWrite = data[1] & 0x0f;
    options.flags = (data[1] >> 4) & 0x0f;
    options.traffic = std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2);
    return options;
}

// With FUZZ_SHOW_OUTPUT set, what a target wrote goes to standard error, to
// look at one input by hand.
inline void ShowOutput(const MemoryHook& hook) {
    if (std::getenv("FUZZ_SHOW_OUTPUT") != nullptr) {
        std::fwrite(hook.output().data(), 1, hook.output().size(), stderr);
        std::fprintf(stderr, "\n-- %zu bytes written%s, %zu left unread\n", hook.output().size(),
                     hook.write_failed() ? ", a write failed" : "", hook.unread());
    }
}

}  // namespace fuzz
