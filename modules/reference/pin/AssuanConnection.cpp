#include "pin/AssuanConnection.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace ref::pinentry {

namespace {

// write() that cannot raise SIGPIPE in this process: SIGPIPE is blocked in
// this thread for the call, and one the write raised is taken back with
// sigtimedwait before the mask is restored (a SIGPIPE pending before is
// left alone). Works whether the host ignores SIGPIPE or not.
ssize_t WriteWithoutSigpipe(int fd, const char* data, size_t size) {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;

    const ssize_t written = ::write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && !pendingBefore) {
        const timespec zero{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

}  // namespace

AssuanConnection::~AssuanConnection() {
    OPENSSL_cleanse(buffer_.data(), buffer_.size());
}

bool AssuanConnection::WaitFor(int fd, short events, Io& io) {
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline_) {
            io = Io::kTimeout;
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now);
        pollfd entry{fd, events, 0};
        const int ready = ::poll(
            &entry, 1, static_cast<int>(std::clamp<long long>(left.count() + 1, 1, INT_MAX)));
        if (ready > 0) {
            // POLLHUP / POLLERR too: the next read or write tells which.
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            lastErrno_ = errno;
            io = Io::kError;
            return false;
        }
    }
}

Io AssuanConnection::Send(std::string_view line) {
    std::string out;
    out.reserve(line.size() + 1);
    out.append(line);
    out.push_back('\n');
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t written = WriteWithoutSigpipe(writeFd_, out.data() + done, out.size() - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno == EPIPE) {
            return Io::kBrokenPipe;
        }
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            lastErrno_ = errno;
            return Io::kError;
        }
        Io io = Io::kOk;
        if (!WaitFor(writeFd_, POLLOUT, io)) {
            return io;
        }
    }
    return Io::kOk;
}

void AssuanConnection::Discard() {
    if (returned_ > begin_) {
        OPENSSL_cleanse(buffer_.data() + begin_, returned_ - begin_);
        begin_ = returned_;
    }
}

Io AssuanConnection::Receive(std::string_view& line) {
    Discard();
    // Checked here too, so a child flooding us with status lines cannot
    // keep us past the deadline without ever making us wait.
    if (Clock::now() >= deadline_) {
        return Io::kTimeout;
    }
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const void* found = std::memchr(start, '\n', end_ - begin_);
        if (found != nullptr) {
            const char* newline = static_cast<const char*>(found);
            size_t length = static_cast<size_t>(newline - start);
            returned_ = begin_ + length + 1;
            if (length > 0 && start[length - 1] == '\r') {
                --length;
            }
            line = std::string_view(start, length);
            return Io::kOk;
        }
        if (begin_ > 0) {
            // Move the partial line to the front and wipe what it left behind.
            const size_t kept = end_ - begin_;
            std::memmove(buffer_.data(), start, kept);
            OPENSSL_cleanse(buffer_.data() + kept, end_ - kept);
            begin_ = 0;
            returned_ = 0;
            end_ = kept;
        }
        if (end_ == buffer_.size()) {
            return Io::kTooLong;
        }
        const ssize_t got = ::read(readFd_, buffer_.data() + end_, buffer_.size() - end_);
        if (got > 0) {
            end_ += static_cast<size_t>(got);
            continue;
        }
        if (got == 0) {
            return Io::kEof;  // a partial last line is dropped with the rest
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            lastErrno_ = errno;
            return Io::kError;
        }
        Io io = Io::kOk;
        if (!WaitFor(readFd_, POLLIN, io)) {
            return io;
        }
    }
}

}  // namespace ref::pinentry
