#include "net/master_threads.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include "net/event_core.h"
#include "net/listen_address.h"
#include "net/listener_set.h"
#include "net/log.h"
#include "net/peer_owner.h"
#include "net/socket_stream.h"

namespace net {

namespace {

// Sanitizers make every frame much larger.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStackScale = 4;
#else
constexpr size_t kStackScale = 1;
#endif

// The accept loop wakes this often to see a stop it missed.
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

// "127.0.0.1:40312", or "unknown", into `text`.
const char* address_text(const sockaddr_in& address, bool known, char (&text)[32]) {
    char ip[INET_ADDRSTRLEN];
    if (!known || ::inet_ntop(AF_INET, &address.sin_addr, ip, sizeof ip) == nullptr) {
        return "unknown";
    }
    std::snprintf(text, sizeof text, "%s:%u", ip, static_cast<unsigned>(ntohs(address.sin_port)));
    return text;
}

// True when the peer's socket belongs to our own user; otherwise one line
// on the log, and false. `peer` is what accept gave, `local` the listener's
// own address, which is the connection's (listeners are bound to one
// address each).
bool same_user(int fd, const sockaddr_in& peer, bool peerKnown, const sockaddr_in& local,
               peer_owner_lookup& owners, uid_t self) {
    const std::optional<uid_t> owner = peerKnown && local.sin_addr.s_addr != htonl(INADDR_ANY)
                                           ? owners.owner(peer, local)
                                           : owners.owner_of_peer(fd);
    if (owner == self) {
        return true;
    }
    char from[32];
    const int port = ntohs(local.sin_port);
    // Refused all the same if the line cannot be written (no memory for it):
    // the accept loop goes on.
    try {
        if (owner) {
            log::error4(__FILE__, __LINE__, __func__,
                        "refused connection from %s to port %d, uid: %u (not the service's user)",
                        address_text(peer, peerKnown, from), port, static_cast<unsigned>(*owner));
        } else {
            log::error4(__FILE__, __LINE__, __func__,
                        "refused connection from %s to port %d, uid: unknown",
                        address_text(peer, peerKnown, from), port);
        }
    } catch (...) {
    }
    return false;
}

// ZQT_PEER_CHECK=off in the environment turns the same-user check off, for
// the benchmark's comparison only (bench/run); read once.
bool peer_check_default() {
    static const bool on = [] {
        const char* value = std::getenv("ZQT_PEER_CHECK");
        return value == nullptr || std::strcmp(value, "off") != 0;
    }();
    return on;
}

// The address each listener is bound to, in the order of `fds`.
std::vector<sockaddr_in> bound_addresses(const std::vector<int>& fds) {
    std::vector<sockaddr_in> addresses(fds.size());
    for (size_t i = 0; i < fds.size(); ++i) {
        socklen_t size = sizeof addresses[i];
        ::getsockname(fds[i], reinterpret_cast<sockaddr*>(&addresses[i]), &size);
    }
    return addresses;
}

}  // namespace

master_threads::master_threads() : peerCheck_(peer_check_default()) {
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
    event_core core(*this, stackSize_ * kStackScale, maxConnections_ + event_core::kExtraThreads);
    std::string coreError;
    if (!core.open(coreError)) {
        log::error4(__FILE__, __LINE__, __func__, "cannot serve connections: %s",
                    coreError.c_str());
        listeners.close();
        return;
    }
    peer_owner_lookup owners;  // this thread's, for every connection it accepts
    ownUid_ = ::geteuid();
    if (!peerCheck_) {
        log::error4(__FILE__, __LINE__, __func__,
                    "the same-user check is off: other users' connections are served");
    } else if (!owners.open()) {
        log::error4(__FILE__, __LINE__, __func__,
                    "no socket diagnostics (NETLINK_SOCK_DIAG): %s; connections whose owner "
                    "cannot be found are refused",
                    std::strerror(errno));
    }
    std::vector<pollfd> fds;
    for (const int fd : listeners.fds()) {
        fds.push_back({fd, POLLIN, 0});
    }
    const std::vector<sockaddr_in> locals = bound_addresses(listeners.fds());
    fds.push_back({wakeRead_, POLLIN, 0});
    while (!stopping_) {
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
                accept_ready(fds[i].fd, locals[i], core, owners);
            }
        }
    }
    // Nobody new gets in while the connections are being taken down.
    listeners.close();
    core.stop_all();
}

void master_threads::drain_wake_pipe() {
    char bytes[64];
    while (::read(wakeRead_, bytes, sizeof bytes) > 0) {
    }
}

void master_threads::accept_ready(int listener, const sockaddr_in& local, event_core& core,
                                  peer_owner_lookup& owners) {
    for (int n = 0; n < kAcceptBurst && !stopping_; ++n) {
        sockaddr_in peer{};
        socklen_t peerSize = sizeof peer;
        const int fd =
            ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peerSize, SOCK_CLOEXEC);
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
        // Before anything is read, and before the connection costs a thread
        // or a handshake: it never reaches a callback.
        const bool peerKnown = peerSize == sizeof peer && peer.sin_family == AF_INET;
        if (peerCheck_ && !same_user(fd, peer, peerKnown, local, owners, ownUid_)) {
            ::close(fd);
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        core.add(fd, maxConnections_);
    }
}

// Sleeps a little, unless a stop comes first.
void master_threads::back_off() {
    pollfd wake{wakeRead_, POLLIN, 0};
    ::poll(&wake, 1, kBackOffMs);
}

namespace {

// Runs one callback; what it throws ends the connection, with a line.
template <typename Call>
bool guarded(socket_stream& stream, Call&& call) {
    try {
        return call();
    } catch (const std::exception& error) {
        log::error4(__FILE__, __LINE__, __func__, "connection from %s ended by an error: %s",
                    stream.get_peer(false), error.what());
    } catch (...) {
        log::error4(__FILE__, __LINE__, __func__, "connection from %s ended by an error",
                    stream.get_peer(false));
    }
    return false;
}

}  // namespace

bool master_threads::on_open(socket_stream& stream) {
    return guarded(stream, [&] { return thread_on_accept(&stream) && !stopping_; });
}

bool master_threads::on_ready(socket_stream& stream) {
    return guarded(stream, [&] {
        const unsigned timeoutsBefore = stream.timeout_count();
        bool keep = thread_on_read(&stream);
        if (stream.timeout_count() != timeoutsBefore) {
            keep = thread_on_timeout(&stream) && keep;
        }
        return keep && !stopping_;
    });
}

bool master_threads::on_idle(socket_stream& stream) {
    return guarded(stream, [&] { return thread_on_timeout(&stream) && !stopping_; });
}

void master_threads::on_close(socket_stream& stream) {
    guarded(stream, [&] {
        thread_on_close(&stream);
        return true;
    });
}

}  // namespace net
