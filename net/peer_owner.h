#pragma once
// Who owns the other end of a loopback TCP connection: the uid of the peer's
// own socket, asked of the kernel's socket diagnostics (NETLINK_SOCK_DIAG,
// an inet_diag lookup of the connection's exact four-tuple). Both ends are on
// loopback, so the peer's socket is in our network namespace.

#include <netinet/in.h>
#include <sys/types.h>
#include <cstdint>
#include <optional>

namespace net {

class peer_owner_lookup {
  public:
    // How long a lookup waits for the kernel's answer (which in practice is
    // there as soon as the request has been sent).
    static constexpr int kReceiveTimeoutMs = 100;

    peer_owner_lookup() = default;
    ~peer_owner_lookup();
    peer_owner_lookup(const peer_owner_lookup&) = delete;
    peer_owner_lookup& operator=(const peer_owner_lookup&) = delete;

    // The uid owning the socket at the other end of `fd`, a connected IPv4
    // TCP socket; none when it cannot be found. The netlink socket is opened
    // on first use and kept for the next lookups: one object per thread.
    std::optional<uid_t> owner_of_peer(int fd);

    // The uid owning the TCP socket whose own end is `source` and whose
    // other end is `destination`. Only that exact connection answers: not a
    // listener, not a closed socket lingering in TIME_WAIT, not one that no
    // process holds any more.
    std::optional<uid_t> owner(const sockaddr_in& source, const sockaddr_in& destination);

    // Opens the netlink socket now rather than at the first lookup (which
    // could then find the descriptor table full); false when it cannot.
    bool open();
    // The netlink socket, -1 before open(); for tests.
    int native_handle() const { return fd_; }

  private:
    void reset();

    int fd_ = -1;
    uint32_t seq_ = 0;
};

}  // namespace net
