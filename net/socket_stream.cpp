#include "net/socket_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace net {

namespace {

using clock_type = std::chrono::steady_clock;

// Milliseconds poll() may wait: the time-out, cut short by the deadline;
// -1 waits for ever.
int wait_budget_ms(int timeoutSeconds, bool hasDeadline, clock_type::time_point deadline) {
    long long ms = timeoutSeconds > 0 ? timeoutSeconds * 1000LL : -1;
    if (hasDeadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now())
                .count();
        const long long leftMs = left < 0 ? 0 : left;
        ms = ms < 0 ? leftMs : std::min(ms, leftMs);
    }
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

socket_stream::socket_stream(int fd) : fd_(fd) {}

socket_stream::~socket_stream() {
    if (hook_ != nullptr) {
        // A farewell (TLS close_notify) goes out only if it fits at once: a
        // peer that stopped reading must not hold up the close.
        set_deadline(clock_type::now());
        hook_->destroy();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void socket_stream::set_rw_timeout(int seconds) {
    rwTimeout_ = seconds;
    timeval limit{};
    limit.tv_sec = seconds > 0 ? seconds : 0;  // 0: no limit, as poll's -1
    const int flags = ::fcntl(fd_, F_GETFL);
    recvWaits_ = flags >= 0 && (flags & O_NONBLOCK) == 0 &&
                 ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

void socket_stream::set_deadline(clock_type::time_point when) {
    deadline_ = when;
    hasDeadline_ = true;
}

const char* socket_stream::address_text(bool local, bool full) const {
    std::string& text = local ? (full ? localFull_ : local_) : (full ? peerFull_ : peer_);
    if (!text.empty()) {
        return text.c_str();
    }
    sockaddr_in addr{};
    socklen_t size = sizeof addr;
    auto* raw = reinterpret_cast<sockaddr*>(&addr);
    const int rc = local ? ::getsockname(fd_, raw, &size) : ::getpeername(fd_, raw, &size);
    if (rc != 0 || addr.sin_family != AF_INET) {
        return "";
    }
    char ip[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip) == nullptr) {
        return "";
    }
    text = ip;
    if (full) {
        text += '|';
        text += std::to_string(ntohs(addr.sin_port));
    }
    return text.c_str();
}

const char* socket_stream::get_peer(bool full) const {
    return address_text(false, full);
}

const char* socket_stream::get_local(bool full) const {
    return address_text(true, full);
}

stream_hook* socket_stream::setup_hook(stream_hook* hook) {
    if (hook != nullptr && !hook->open(*this)) {
        return hook;
    }
    stream_hook* before = hook_;
    hook_ = hook;
    return before;
}

void socket_stream::count_timeout() {
    timedOut_ = true;
    ++timeouts_;
    errno = ETIMEDOUT;
}

int socket_stream::wait_for(short events) {
    for (;;) {
        pollfd p{fd_, events, 0};
        const int ms = wait_budget_ms(rwTimeout_, hasDeadline_, deadline_);
        const int rc = ::poll(&p, 1, ms);
        if (rc > 0) {
            return 1;
        }
        if (rc == 0) {
            count_timeout();
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

ssize_t socket_stream::recv_waiting(void* buf, size_t len) {
    // A deadline changes the time left with every wait, so it waits in poll.
    if (recvWaits_ && !hasDeadline_) {
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, len, 0);
            if (n >= 0) {
                drained_ = static_cast<size_t>(n) < len;
                return n;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                count_timeout();
            }
            return -1;
        }
    }
    for (;;) {
        const ssize_t n = ::recv(fd_, buf, len, MSG_DONTWAIT);
        if (n >= 0) {
            drained_ = static_cast<size_t>(n) < len;
            return n;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return -1;
        }
        if (wait_for(POLLIN) <= 0) {
            return -1;
        }
    }
}

void socket_stream::close_lingering(std::chrono::milliseconds limit, size_t budget) {
    if (fd_ < 0 || ::shutdown(fd_, SHUT_WR) != 0) {
        return;
    }
    aheadBegin_ = aheadEnd_ = 0;  // the buffer is scratch from here on
    const clock_type::time_point until = clock_type::now() + limit;
    size_t dropped = 0;
    while (dropped <= budget) {
        const int ms = wait_budget_ms(0, true, until);
        pollfd p{fd_, POLLIN, 0};
        const int rc = ::poll(&p, 1, ms);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0) {
            return;
        }
        const ssize_t n = ::recv(fd_, ahead_, sizeof ahead_, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            return;
        }
        dropped += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

ssize_t socket_stream::sock_read(void* buf, size_t len) {
    timedOut_ = false;
    if (len == 0) {
        return 0;
    }
    if (aheadBegin_ == aheadEnd_) {
        if (len >= sizeof ahead_) {
            return recv_waiting(buf, len);
        }
        const ssize_t n = recv_waiting(ahead_, sizeof ahead_);
        if (n <= 0) {
            return n;
        }
        aheadBegin_ = 0;
        aheadEnd_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(len, aheadEnd_ - aheadBegin_);
    std::memcpy(buf, ahead_ + aheadBegin_, n);
    aheadBegin_ += n;
    return static_cast<ssize_t>(n);
}

ssize_t socket_stream::sock_send(const void* buf, size_t len) {
    timedOut_ = false;
    if (len == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t n = ::send(fd_, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) {
            return n;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return -1;
        }
        if (wait_for(POLLOUT) <= 0) {
            return -1;
        }
    }
}

ssize_t socket_stream::read(void* buf, size_t len) {
    if (len == 0) {
        return 0;
    }
    if (!pushedBack_.empty()) {
        const size_t n = std::min(len, pushedBack_.size());
        std::memcpy(buf, pushedBack_.data(), n);
        pushedBack_.erase(0, n);
        return static_cast<ssize_t>(n);
    }
    return hook_ != nullptr ? hook_->read(buf, len) : sock_read(buf, len);
}

bool socket_stream::read_exact(void* buf, size_t len) {
    auto* at = static_cast<char*>(buf);
    while (len > 0) {
        const ssize_t n = read(at, len);
        if (n <= 0) {
            return false;
        }
        at += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool socket_stream::write(const void* buf, size_t len) {
    const auto* at = static_cast<const char*>(buf);
    while (len > 0) {
        const ssize_t n = hook_ != nullptr ? hook_->send(at, len) : sock_send(at, len);
        if (n <= 0) {
            return false;
        }
        at += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

void socket_stream::unread(const void* buf, size_t len) {
    pushedBack_.insert(0, static_cast<const char*>(buf), len);
}

bool socket_stream::buffered() const {
    return !pushedBack_.empty() || aheadBegin_ < aheadEnd_ ||
           (hook_ != nullptr && hook_->pending() > 0);
}

socket_stream::wait_result socket_stream::take_ready() {
    if (buffered()) {
        return wait_result::ready;
    }
    timedOut_ = false;
    for (;;) {
        const ssize_t n = ::recv(fd_, ahead_, sizeof ahead_, MSG_DONTWAIT);
        if (n > 0) {
            aheadBegin_ = 0;
            aheadEnd_ = static_cast<size_t>(n);
            drained_ = aheadEnd_ < sizeof ahead_;
            return wait_result::ready;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            drained_ = true;
            return wait_result::nothing;
        }
        // The end, or an error, which a hook tells apart itself.
        return hook_ != nullptr ? wait_result::ready : wait_result::closed;
    }
}

socket_stream::wait_result socket_stream::wait_readable() {
    if (buffered()) {
        return wait_result::ready;
    }
    timedOut_ = false;
    if (recvWaits_ && !hasDeadline_) {
        // Waiting is reading: what comes is kept for the reader.
        const ssize_t n = recv_waiting(ahead_, sizeof ahead_);
        if (n > 0) {
            aheadBegin_ = 0;
            aheadEnd_ = static_cast<size_t>(n);
            return wait_result::ready;
        }
        if (n < 0 && timedOut_) {
            return wait_result::timed_out;
        }
        // The end, or an error, which a hook tells apart itself.
        return hook_ != nullptr ? wait_result::ready : wait_result::closed;
    }
    for (;;) {
        const int rc = wait_for(POLLIN);
        if (rc == 0) {
            return wait_result::timed_out;
        }
        if (rc < 0) {
            return wait_result::closed;
        }
        if (hook_ != nullptr) {
            return wait_result::ready;  // the hook tells an orderly close itself
        }
        char byte;
        const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            return wait_result::ready;
        }
        if (n == 0) {
            return wait_result::closed;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return wait_result::closed;
        }
    }
}

}  // namespace net
