// The owner of a connection's peer socket, found through the kernel's socket
// diagnostics, and the listener's check that it is our own user, over real
// loopback connections. Sockets of another user are made by a child that
// takes that user's uid (root only) and hands the socket back.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <optional>
#include <string>

#include "net/peer_owner.h"
#include "tests/net/net_core_testkit.h"

namespace {

using namespace net::test;

constexpr uid_t kNobody = 65534;

sockaddr_in loopback(const char* ip, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, ip, &addr.sin_addr);
    return addr;
}

sockaddr_in local_of(int fd) {
    sockaddr_in addr{};
    socklen_t size = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    return addr;
}

// A socket that owns its descriptor.
struct fd_guard {
    int fd = -1;
    explicit fd_guard(int f = -1) : fd(f) {}
    ~fd_guard() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    fd_guard(const fd_guard&) = delete;
    fd_guard& operator=(const fd_guard&) = delete;
    int release() {
        const int f = fd;
        fd = -1;
        return f;
    }
};

// A listener on ip:0, a client connected to it (from `clientIp` when
// given, on a socket made beforehand when `clientFd` is given) and the
// accepted end.
struct loopback_pair {
    fd_guard listener, client, accepted;

    explicit loopback_pair(const char* ip = "127.0.0.1", const char* clientIp = nullptr,
                           int clientFd = -1)
        : listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)),
          client(clientFd >= 0 ? clientFd : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr = loopback(ip, 0);
        if (::bind(listener.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener.fd, 4) != 0) {
            return;
        }
        addr = local_of(listener.fd);
        if (clientIp != nullptr) {
            sockaddr_in from = loopback(clientIp, 0);
            if (::bind(client.fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
                return;
            }
        }
        if (::connect(client.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            return;
        }
        accepted.fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
    bool ok() const { return accepted.fd >= 0; }
};

// A TCP socket created by a child process under `uid`, handed back over a
// Unix socket; -1 when that cannot be done. Its kernel owner is that uid.
int socket_of_user(uid_t uid, int family = AF_INET) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        // Raw system calls only: this process is a copy of a threaded one.
        const bool dropped = ::syscall(SYS_setgroups, 0, nullptr) == 0 &&
                             ::syscall(SYS_setresgid, uid, uid, uid) == 0 &&
                             ::syscall(SYS_setresuid, uid, uid, uid) == 0;
        const int fd = dropped ? ::socket(family, SOCK_STREAM, 0) : -1;
        char byte = fd >= 0 ? 1 : 0;
        iovec io{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        if (fd >= 0) {
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            header->cmsg_level = SOL_SOCKET;
            header->cmsg_type = SCM_RIGHTS;
            header->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
        }
        ::sendmsg(pair[1], &message, 0);
        ::_exit(0);
    }
    ::close(pair[1]);
    int fd = -1;
    if (child > 0) {
        char byte = 0;
        iovec io{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(pair[0], &message, MSG_CMSG_CLOEXEC) == 1 && byte == 1) {
            const cmsghdr* header = CMSG_FIRSTHDR(&message);
            if (header != nullptr && header->cmsg_type == SCM_RIGHTS) {
                std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
            }
        }
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    ::close(pair[0]);
    return fd;
}

#define SKIP_UNLESS_ROOT()                                                          \
    if (::geteuid() != 0) {                                                         \
        GTEST_SKIP() << "needs root, to make a socket of another user (uid 65534)"; \
    }

TEST(PeerOwner, FindsOurOwnUidForALoopbackConnection) {
    loopback_pair pair;
    ASSERT_TRUE(pair.ok());
    net::peer_owner_lookup lookup;
    EXPECT_EQ(lookup.owner_of_peer(pair.accepted.fd), std::optional<uid_t>(::geteuid()));
    // And from the client's side: its peer is the accepted socket.
    EXPECT_EQ(lookup.owner_of_peer(pair.client.fd), std::optional<uid_t>(::geteuid()));
}

// Addresses whose bytes differ from each other and read differently in
// either order: a swapped source and destination, or a value in host order,
// finds nothing.
TEST(PeerOwner, FindsAConnectionBetweenTwoOtherLoopbackAddresses) {
    loopback_pair pair("127.0.0.3", "127.0.0.2");
    ASSERT_TRUE(pair.ok());
    net::peer_owner_lookup lookup;
    EXPECT_EQ(lookup.owner_of_peer(pair.accepted.fd), std::optional<uid_t>(::geteuid()));
}

// The one test where the two ends have different owners: the answer must
// be the peer's socket, not our end of the connection and not the listener,
// which are both ours.
TEST(PeerOwner, NamesTheOwnerOfThePeersSocketNotOurEnd) {
    SKIP_UNLESS_ROOT();
    const int theirs = socket_of_user(kNobody);
    ASSERT_GE(theirs, 0);
    loopback_pair pair("127.0.0.1", nullptr, theirs);
    ASSERT_TRUE(pair.ok());
    net::peer_owner_lookup lookup;
    EXPECT_EQ(lookup.owner_of_peer(pair.accepted.fd), std::optional<uid_t>(kNobody));
    EXPECT_EQ(lookup.owner_of_peer(pair.client.fd), std::optional<uid_t>(::geteuid()));
}

TEST(PeerOwner, AFourTupleThatDoesNotExistHasNoOwner) {
    loopback_pair pair;
    ASSERT_TRUE(pair.ok());
    const sockaddr_in client = local_of(pair.client.fd);
    const sockaddr_in server = local_of(pair.accepted.fd);
    net::peer_owner_lookup lookup;
    sockaddr_in otherPort = server;
    otherPort.sin_port = htons(static_cast<uint16_t>(ntohs(server.sin_port) ^ 1));
    EXPECT_EQ(lookup.owner(client, otherPort), std::nullopt);
    sockaddr_in otherIp = server;
    otherIp.sin_addr.s_addr = htonl(0x7f000063);  // 127.0.0.99
    EXPECT_EQ(lookup.owner(client, otherIp), std::nullopt);
    // The ports in host order instead of network order.
    sockaddr_in hostOrder = client;
    sockaddr_in hostOrderServer = server;
    hostOrder.sin_port = ntohs(client.sin_port);
    hostOrderServer.sin_port = ntohs(server.sin_port);
    if (hostOrder.sin_port != client.sin_port) {
        EXPECT_EQ(lookup.owner(hostOrder, hostOrderServer), std::nullopt);
    }
    // And the real one still answers.
    EXPECT_EQ(lookup.owner(client, server), std::optional<uid_t>(::geteuid()));
}

// Asked for a connection from the listener's own address and port that does
// not exist, the kernel answers with the listener itself: that is nobody's
// connection.
TEST(PeerOwner, TheListenerDoesNotAnswerForAConnection) {
    loopback_pair pair;
    ASSERT_TRUE(pair.ok());
    const sockaddr_in listening = local_of(pair.listener.fd);
    sockaddr_in nowhere = local_of(pair.client.fd);
    nowhere.sin_port = htons(static_cast<uint16_t>(ntohs(nowhere.sin_port) ^ 1));
    net::peer_owner_lookup lookup;
    EXPECT_EQ(lookup.owner(listening, nowhere), std::nullopt);
}

TEST(PeerOwner, ADualStackPeerIsFoundInItsMappedForm) {
    const int six = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (six < 0) {
        GTEST_SKIP() << "no IPv6 sockets here";
    }
    fd_guard listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr = loopback("127.0.0.1", 0);
    ASSERT_EQ(::bind(listener.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener.fd, 4), 0);
    addr = local_of(listener.fd);
    fd_guard client(six);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = addr.sin_port;
    ::inet_pton(AF_INET6, "::ffff:127.0.0.1", &to.sin6_addr);
    ASSERT_EQ(::connect(client.fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    fd_guard accepted(::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_GE(accepted.fd, 0);
    net::peer_owner_lookup lookup;
    EXPECT_EQ(lookup.owner_of_peer(accepted.fd), std::optional<uid_t>(::geteuid()));
}

// A peer that has closed its socket is held by no process: nobody can be
// named, whatever uid the kernel still keeps for it.
TEST(PeerOwner, APeerThatClosedItsSocketHasNoOwner) {
    loopback_pair pair;
    ASSERT_TRUE(pair.ok());
    ::close(pair.client.release());
    net::peer_owner_lookup lookup;
    EXPECT_EQ(lookup.owner_of_peer(pair.accepted.fd), std::nullopt);
}

TEST(PeerOwner, ANonTcpOrUnconnectedSocketHasNoOwner) {
    int unix_pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, unix_pair), 0);
    fd_guard a(unix_pair[0]), b(unix_pair[1]);
    fd_guard unconnected(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    net::peer_owner_lookup lookup;
    EXPECT_EQ(lookup.owner_of_peer(a.fd), std::nullopt);
    EXPECT_EQ(lookup.owner_of_peer(unconnected.fd), std::nullopt);
    EXPECT_EQ(lookup.owner_of_peer(-1), std::nullopt);
}

// One netlink socket serves lookup after lookup: an answer, a refusal
// (ENOENT) and an answer again each belong to their own question.
TEST(PeerOwner, OneLookupAnswersManyQuestionsInTurn) {
    loopback_pair pair;
    ASSERT_TRUE(pair.ok());
    const sockaddr_in client = local_of(pair.client.fd);
    sockaddr_in nowhere = local_of(pair.accepted.fd);
    nowhere.sin_port = htons(static_cast<uint16_t>(ntohs(nowhere.sin_port) ^ 1));
    net::peer_owner_lookup lookup;
    ASSERT_TRUE(lookup.open());
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(lookup.owner_of_peer(pair.accepted.fd), std::optional<uid_t>(::geteuid())) << i;
        ASSERT_EQ(lookup.owner(client, nowhere), std::nullopt) << i;
    }
}

// A process with CAP_NET_ADMIN (as the test is, when root) may send a
// netlink message to another process's socket unless that socket is
// connected to the kernel: a forged answer naming our uid for a connection
// that does not exist must never be taken for the kernel's.
TEST(PeerOwner, AForgedAnswerFromAnotherProcessIsNotTaken) {
    loopback_pair pair;
    ASSERT_TRUE(pair.ok());
    const sockaddr_in client = local_of(pair.client.fd);
    sockaddr_in nowhere = local_of(pair.accepted.fd);
    nowhere.sin_port = htons(static_cast<uint16_t>(ntohs(nowhere.sin_port) ^ 1));
    net::peer_owner_lookup lookup;
    // A first lookup binds the socket to its port number (as connecting does).
    ASSERT_EQ(lookup.owner_of_peer(pair.accepted.fd), std::optional<uid_t>(::geteuid()));
    sockaddr_nl target{};
    socklen_t size = sizeof target;
    ASSERT_EQ(::getsockname(lookup.native_handle(), reinterpret_cast<sockaddr*>(&target), &size),
              0);

    struct {
        nlmsghdr head;
        inet_diag_msg body;
    } forged{};
    forged.head.nlmsg_len = sizeof forged;
    forged.head.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    forged.body.idiag_family = AF_INET;
    forged.body.idiag_state = 1;  // established
    forged.body.id.idiag_sport = client.sin_port;
    forged.body.id.idiag_dport = nowhere.sin_port;
    forged.body.id.idiag_src[0] = client.sin_addr.s_addr;
    forged.body.id.idiag_dst[0] = nowhere.sin_addr.s_addr;
    forged.body.idiag_uid = ::geteuid();
    forged.body.idiag_inode = 1;
    fd_guard forger(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    ASSERT_GE(forger.fd, 0);
    ASSERT_NE(target.nl_pid, 0u);
    for (uint32_t seq = 1; seq <= 8; ++seq) {  // whatever the next number is
        forged.head.nlmsg_seq = seq;
        ::sendto(forger.fd, &forged, sizeof forged, MSG_DONTWAIT,
                 reinterpret_cast<sockaddr*>(&target), sizeof target);
    }
    EXPECT_EQ(lookup.owner(client, nowhere), std::nullopt);
    EXPECT_EQ(lookup.owner_of_peer(pair.accepted.fd), std::optional<uid_t>(::geteuid()));
}

// ---------------------------------------------------------------- listener

const std::string kGet = "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// Connects `fd` to the server, sends a GET and reads what comes back until
// the server closes.
std::string exchange(int fd, int port) {
    sockaddr_in to = loopback("127.0.0.1", port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        return "(no connection)";
    }
    const timeval limit{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::send(fd, kGet.data(), kGet.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

TEST(PeerCheck, OurOwnUsersConnectionIsServed) {
    event_log log;
    test_master server(log);
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    raw_client client(running.port());
    ASSERT_TRUE(client.send(kGet));
    EXPECT_EQ(client.read_answer().status, 200);
}

TEST(PeerCheck, AnotherUsersConnectionIsClosedBeforeAnyCallback) {
    SKIP_UNLESS_ROOT();
    event_log log;
    test_master server(log);
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    fd_guard theirs(socket_of_user(kNobody));
    ASSERT_GE(theirs.fd, 0);

    testing::internal::CaptureStderr();
    const std::string answer = exchange(theirs.fd, running.port());
    const sockaddr_in from = local_of(theirs.fd);
    // A connection of our own after it: served, so the refusal is logged by then.
    {
        raw_client ours(running.port());
        ASSERT_TRUE(ours.send(kGet));
        EXPECT_EQ(ours.read_answer().status, 200);
    }
    ASSERT_TRUE(log.wait_count("close", 1));
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(answer, "");
    EXPECT_EQ(log.count("accept"), 1u);  // our own connection only
    EXPECT_EQ(log.count("close"), 1u);
    const std::string line =
        "refused connection from 127.0.0.1:" + std::to_string(ntohs(from.sin_port)) + " to port " +
        std::to_string(running.port()) + ", uid: 65534";
    EXPECT_NE(err.find(line), std::string::npos) << err;
}

TEST(PeerCheck, TurnedOffAnotherUserIsServed) {
    SKIP_UNLESS_ROOT();
    event_log log;
    test_master server(log);
    server.set_peer_check(false);
    server_runner running(server);
    ASSERT_TRUE(running.listening());
    fd_guard theirs(socket_of_user(kNobody));
    ASSERT_GE(theirs.fd, 0);
    EXPECT_EQ(exchange(theirs.fd, running.port()).rfind("HTTP/1.1 200", 0), 0u);
}

}  // namespace
