#pragma once
// Assuan's line protocol on two non-blocking pipe descriptors: whole lines
// out, whole lines in, every wait a poll() bounded by one deadline. What
// comes in may be a PIN, so the receive buffer is wiped as lines are
// consumed and when the connection goes away, and never grows.

#include <array>
#include <cstddef>
#include <string_view>

#include "pin/PinEntryProcess.h"

namespace ref::pinentry {

enum class Io {
    kOk,
    kEof,         // the other side closed its output (ended, crashed, killed)
    kBrokenPipe,  // the other side closed its input
    kTimeout,     // the deadline passed
    kTooLong,     // a line longer than the buffer
    kError,       // another read or write error (see lastErrno())
};

class AssuanConnection {
  public:
    // Assuan's limit for a line we send, LF included.
    static constexpr size_t kMaxLine = 1000;

    AssuanConnection(int readFd, int writeFd, Clock::time_point deadline)
        : readFd_(readFd), writeFd_(writeFd), deadline_(deadline) {}
    ~AssuanConnection();
    AssuanConnection(const AssuanConnection&) = delete;
    AssuanConnection& operator=(const AssuanConnection&) = delete;

    // Sends `line` and a LF. A closed pipe gives kBrokenPipe, never SIGPIPE.
    Io Send(std::string_view line);

    // The next line, without its LF (and a CR before it). The view points
    // into the buffer and is valid (and wiped after) until the next call.
    Io Receive(std::string_view& line);

    int lastErrno() const { return lastErrno_; }

  private:
    bool WaitFor(int fd, short events, Io& io);
    void Discard();  // wipes and drops the line last returned

    int readFd_;
    int writeFd_;
    Clock::time_point deadline_;
    int lastErrno_ = 0;
    std::array<char, 4096> buffer_{};
    size_t begin_ = 0;     // first byte not yet returned
    size_t end_ = 0;       // one past the last byte read
    size_t returned_ = 0;  // one past the line last returned (LF included)
};

}  // namespace ref::pinentry
