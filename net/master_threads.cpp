#include "net/master_threads.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string>

#include "net/connection_threads.h"
#include "net/listen_address.h"
#include "net/listener_set.h"
#include "net/log.h"
#include "net/socket_stream.h"

namespace net {

namespace {

// Sanitizers make every frame much larger.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStackScale = 4;
#else
constexpr size_t kStackScale = 1;
#endif

// Idle accept loops wake this often to join finished threads.
constexpr int kReapIntervalMs = 1000;
// After running out of descriptors, wait this long before accepting again.
constexpr int kBackOffMs = 100;
// Accepted in one go from one listener before the others get a turn.
constexpr int kAcceptBurst = 64;

// Enough descriptors for the cap of connections and some to spare.
void raise_descriptor_limit(size_t connections) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return;
    }
    const rlim_t wanted = static_cast<rlim_t>(connections) + 64;
    if (limit.rlim_cur >= wanted) {
        return;
    }
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
}

bool out_of_resources(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

master_threads::master_threads() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    }
}

master_threads::~master_threads() {
    if (wakeRead_ >= 0) {
        ::close(wakeRead_);
        ::close(wakeWrite_);
    }
}

bool master_threads::thread_on_accept(socket_stream*) {
    return true;
}
bool master_threads::thread_on_timeout(socket_stream*) {
    return false;
}
void master_threads::thread_on_close(socket_stream*) {}
void master_threads::thread_on_init() {}

std::vector<int> master_threads::bound_ports() const {
    std::lock_guard<std::mutex> guard(portsLock_);
    return ports_;
}

void master_threads::stop() {
    stopping_ = true;
    if (wakeWrite_ >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &byte, 1);
    }
}

bool master_threads::run_alone(const char* addrs, const char* path, unsigned int, int) {
    if (path != nullptr && *path != '\0') {
        log::msg4(__FILE__, __LINE__, __func__, "configuration file %s is not read; defaults apply",
                  path);
    }
    if (stopping_) {
        return true;
    }
    std::vector<listen_address> addresses;
    std::string error;
    if (wakeRead_ < 0) {
        error = "no wake-up pipe";
    } else if (parse_listen_addresses(addrs != nullptr ? addrs : "", addresses, error)) {
        raise_descriptor_limit(maxConnections_);
    }
    listener_set listeners;
    const char* list = addrs != nullptr ? addrs : "";
    if (!error.empty() || !listeners.open(addresses, error)) {
        // A port held by another program stays so for a while, and the
        // caller retries every second: the log gets the first failure and
        // then one line a minute.
        const unsigned int unlogged = listenReport_.unlogged();
        if (listenReport_.failed(listen_failure_report::clock::now())) {
            if (unlogged == 0) {
                log::error4(__FILE__, __LINE__, __func__, "cannot listen on \"%s\": %s", list,
                            error.c_str());
            } else {
                log::error4(__FILE__, __LINE__, __func__,
                            "cannot listen on \"%s\": %s (still, after %u more tries)", list,
                            error.c_str(), unlogged);
            }
        }
        return false;
    }
    if (listenReport_.succeeded()) {
        log::msg4(__FILE__, __LINE__, __func__, "listening on \"%s\" again", list);
    }
    {
        std::lock_guard<std::mutex> guard(portsLock_);
        ports_ = listeners.ports();
    }
    if (!initDone_) {
        initDone_ = true;
        thread_on_init();
    }
    accept_loop(listeners);
    {
        std::lock_guard<std::mutex> guard(portsLock_);
        ports_.clear();
    }
    return true;
}

void master_threads::accept_loop(listener_set& listeners) {
    connection_threads threads([this](socket_stream& stream) { serve(stream); },
                               stackSize_ * kStackScale);
    std::vector<pollfd> fds;
    for (const int fd : listeners.fds()) {
        fds.push_back({fd, POLLIN, 0});
    }
    fds.push_back({wakeRead_, POLLIN, 0});
    while (!stopping_) {
        threads.reap();
        const int rc = ::poll(fds.data(), fds.size(), kReapIntervalMs);
        if (rc < 0 && errno != EINTR) {
            log::error4(__FILE__, __LINE__, __func__, "poll: %s", std::strerror(errno));
            back_off();
        }
        if (rc <= 0 || stopping_) {
            continue;
        }
        if (fds.back().revents != 0) {
            // Not a stop, so a stray byte: left there it would wake every poll.
            drain_wake_pipe();
        }
        for (size_t i = 0; i + 1 < fds.size(); ++i) {
            if (fds[i].revents != 0) {
                accept_ready(fds[i].fd, threads);
            }
        }
    }
    // Nobody new gets in while the connections are being taken down.
    listeners.close();
    threads.stop_all();
}

void master_threads::drain_wake_pipe() {
    char bytes[64];
    while (::read(wakeRead_, bytes, sizeof bytes) > 0) {
    }
}

void master_threads::accept_ready(int listener, connection_threads& threads) {
    for (int n = 0; n < kAcceptBurst && !stopping_; ++n) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (out_of_resources(errno)) {
                log::error4(__FILE__, __LINE__, __func__, "accept: %s", std::strerror(errno));
                back_off();
                return;
            }
            // EAGAIN: none left; ECONNABORTED, EPROTO and the like: that one
            // is gone, the next may be fine.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return;
            }
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        threads.start(fd, maxConnections_);
    }
}

// Sleeps a little, unless a stop comes first.
void master_threads::back_off() {
    pollfd wake{wakeRead_, POLLIN, 0};
    ::poll(&wake, 1, kBackOffMs);
}

void master_threads::serve(socket_stream& stream) {
    // One fault boundary per connection: whatever a handler throws, an
    // allocation failure included, ends this connection and nothing else.
    try {
        serve_requests(stream);
    } catch (const std::exception& error) {
        log::error4(__FILE__, __LINE__, __func__, "connection from %s ended by an error: %s",
                    stream.get_peer(false), error.what());
    } catch (...) {
        log::error4(__FILE__, __LINE__, __func__, "connection from %s ended by an error",
                    stream.get_peer(false));
    }
    thread_on_close(&stream);
}

void master_threads::serve_requests(socket_stream& stream) {
    bool keep = thread_on_accept(&stream);
    while (keep && !stopping_) {
        switch (stream.wait_readable()) {
            case socket_stream::wait_result::ready: {
                const unsigned timeoutsBefore = stream.timeout_count();
                keep = thread_on_read(&stream);
                if (stream.timeout_count() != timeoutsBefore) {
                    keep = thread_on_timeout(&stream) && keep;
                }
                break;
            }
            case socket_stream::wait_result::timed_out:
                keep = thread_on_timeout(&stream);
                break;
            case socket_stream::wait_result::closed:
                keep = false;
                break;
        }
    }
}

}  // namespace net
