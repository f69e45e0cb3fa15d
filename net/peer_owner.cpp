#include "net/peer_owner.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace net {

namespace {

struct diag_request {
    nlmsghdr head;
    inet_diag_req_v2 body;
};

// TCP states (netinet/tcp.h numbers them as the kernel does).
constexpr uint8_t kListen = TCP_LISTEN;

// Reads for one answer before giving up (each waits up to the time-out);
// more than one only when leftovers of an earlier lookup come first.
constexpr int kMaxReads = 8;

// The timer the kernel reports for a TIME_WAIT (or orphaned FIN_WAIT2)
// mini-socket, whose uid it always gives as 0.
constexpr uint8_t kTimeWaitTimer = 3;

bool same_address(const inet_diag_msg& answer, const __be32 (&ip)[4], uint32_t expected) {
    if (answer.idiag_family == AF_INET) {
        return ip[0] == expected;
    }
    // A dual-stack socket connected to ::ffff:127.0.0.1 has the same
    // connection and reports it in the IPv4-mapped form.
    return answer.idiag_family == AF_INET6 && ip[0] == 0 && ip[1] == 0 && ip[2] == htonl(0xffff) &&
           ip[3] == expected;
}

// The answer is for exactly the connection asked about: the kernel's lookup
// falls back to a listener on the source port when there is no such
// connection, and that listener would answer with its own owner.
bool is_connection(const inet_diag_msg& answer, const sockaddr_in& source,
                   const sockaddr_in& destination) {
    return answer.idiag_state != kListen && answer.id.idiag_sport == source.sin_port &&
           answer.id.idiag_dport == destination.sin_port &&
           same_address(answer, answer.id.idiag_src, source.sin_addr.s_addr) &&
           same_address(answer, answer.id.idiag_dst, destination.sin_addr.s_addr);
}

}  // namespace

peer_owner_lookup::~peer_owner_lookup() {
    reset();
}

void peer_owner_lookup::reset() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool peer_owner_lookup::open() {
    if (fd_ >= 0) {
        return true;
    }
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd_ < 0) {
        return false;
    }
    // Connected to the kernel, the socket takes no message from any other
    // process (one with CAP_NET_ADMIN could otherwise send it a forged
    // answer); the sender of each message is checked all the same.
    const sockaddr_nl kernel{AF_NETLINK, 0, 0, 0};
    const timeval timeout{0, kReceiveTimeoutMs * 1000};
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) != 0 ||
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        const int error = errno;
        reset();
        errno = error;
        return false;
    }
    return true;
}

std::optional<uid_t> peer_owner_lookup::owner_of_peer(int fd) {
    sockaddr_in peer{};
    sockaddr_in local{};
    socklen_t peerSize = sizeof peer;
    socklen_t localSize = sizeof local;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
        peer.sin_family != AF_INET || local.sin_family != AF_INET) {
        return std::nullopt;
    }
    // The peer's own socket has the peer's end as its source.
    return owner(peer, local);
}

std::optional<uid_t> peer_owner_lookup::owner(const sockaddr_in& source,
                                              const sockaddr_in& destination) {
    if (!open()) {
        return std::nullopt;
    }
    diag_request request{};
    request.head.nlmsg_len = sizeof request;
    request.head.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.head.nlmsg_flags = NLM_F_REQUEST;  // one socket, not a dump
    request.head.nlmsg_seq = ++seq_;
    request.body.sdiag_family = AF_INET;
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0u;
    request.body.id.idiag_sport = source.sin_port;  // both in network order
    request.body.id.idiag_dport = destination.sin_port;
    request.body.id.idiag_src[0] = source.sin_addr.s_addr;
    request.body.id.idiag_dst[0] = destination.sin_addr.s_addr;
    request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    ssize_t sent;
    do {
        sent = ::send(fd_, &request, sizeof request, 0);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof request)) {
        reset();
        return std::nullopt;
    }

    alignas(nlmsghdr) char buffer[8192];
    for (int reads = 0; reads < kMaxReads; ++reads) {
        sockaddr_nl from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got > 0 && (from.nl_pid != 0 || from.nl_groups != 0)) {
            continue;  // not from the kernel (which a connected socket never gets)
        }
        if (got <= 0) {
            // No answer in time, or the socket failed: a late answer must not
            // be taken for the next lookup's, so start afresh next time.
            reset();
            return std::nullopt;
        }
        // The messages in what came, walked by hand (NLMSG_OK mixes signs).
        size_t left = static_cast<size_t>(got);
        for (size_t at = 0; left - at >= sizeof(nlmsghdr);) {
            auto* message = reinterpret_cast<nlmsghdr*>(buffer + at);
            if (message->nlmsg_len < sizeof(nlmsghdr) || message->nlmsg_len > left - at) {
                break;
            }
            at += std::min<size_t>(NLMSG_ALIGN(message->nlmsg_len), left - at);
            if (message->nlmsg_seq != request.head.nlmsg_seq) {
                continue;  // a leftover of an earlier lookup
            }
            if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                return std::nullopt;  // NLMSG_ERROR (ENOENT: no such socket) or odd
            }
            const auto* answer = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
            if (!is_connection(*answer, source, destination) ||
                answer->idiag_timer == kTimeWaitTimer || answer->idiag_inode == 0) {
                // Not that connection, or a socket that no process holds any
                // more: nobody can be named as its owner.
                return std::nullopt;
            }
            return static_cast<uid_t>(answer->idiag_uid);
        }
    }
    reset();  // only leftovers came: start afresh
    return std::nullopt;
}

}  // namespace net
