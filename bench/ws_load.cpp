// WebSocket round trips: N connections on one epoll thread, each sending one
// masked text message, waiting for the answer frame, then sending the next.
// With --self-echo it measures itself against a trivial echo server on a
// thread of its own, to show how much the client can drive.
//
//   zqt-bench-ws --port P [--connections N] [--duration S] [--warmup S]
//                [--message TEXT] [--expect TEXT] [--self-echo]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "load_stats.h"

namespace {

constexpr char kKey[] = "dGhlIHNhbXBsZSBub25jZQ==";
// The accept value for kKey (RFC 6455, section 1.3).
constexpr char kAccept[] = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

void SetNoDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// A whole frame at the start of `in`: its opcode, payload (unmasked) and size.
struct Frame {
    unsigned char opcode = 0;
    std::string payload;
    size_t size = 0;
};

bool TakeFrame(const std::string& in, Frame& frame) {
    if (in.size() < 2) {
        return false;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(in.data());
    size_t head = 2;
    uint64_t len = b[1] & 0x7f;
    if (len == 126) {
        head += 2;
    } else if (len == 127) {
        head += 8;
    }
    const bool masked = (b[1] & 0x80) != 0;
    if (masked) {
        head += 4;
    }
    if (in.size() < head) {
        return false;
    }
    if (len >= 126) {
        const size_t bytes = len == 126 ? 2 : 8;
        len = 0;
        for (size_t i = 0; i < bytes; ++i) {
            len = len << 8 | b[2 + i];
        }
    }
    if (in.size() < head + len) {
        return false;
    }
    frame.opcode = b[0] & 0x0f;
    frame.payload.assign(in, head, len);
    if (masked) {
        const unsigned char* mask = b + head - 4;
        for (size_t i = 0; i < len; ++i) {
            frame.payload[i] = static_cast<char>(frame.payload[i] ^ mask[i & 3]);
        }
    }
    frame.size = head + len;
    return true;
}

std::string FrameHead(unsigned char opcode, size_t len, bool masked) {
    std::string head;
    head += static_cast<char>(0x80 | opcode);
    const char maskBit = masked ? static_cast<char>(0x80) : 0;
    if (len < 126) {
        head += static_cast<char>(maskBit | static_cast<char>(len));
    } else if (len <= 0xffff) {
        head += static_cast<char>(maskBit | 126);
        head += static_cast<char>(len >> 8);
        head += static_cast<char>(len & 0xff);
    } else {
        head += static_cast<char>(maskBit | 127);
        for (int i = 7; i >= 0; --i) {
            head += static_cast<char>((static_cast<uint64_t>(len) >> (8 * i)) & 0xff);
        }
    }
    return head;
}

// Sends all of it on a blocking or non-blocking socket; false on failure.
bool SendAll(int fd, const char* data, size_t len) {
    while (len > 0) {
        const ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// ---- The trivial echo server for --self-echo ----

class EchoServer {
  public:
    EchoServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listener_, SOMAXCONN) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
            std::perror("echo server");
            std::exit(2);
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~EchoServer() {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    int port() const { return port_; }

  private:
    struct Peer {
        std::string in;
        bool open = false;
    };

    void Run() {
        const int ep = epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = listener_;
        epoll_ctl(ep, EPOLL_CTL_ADD, listener_, &ev);
        std::vector<std::unique_ptr<Peer>> peers;
        std::vector<epoll_event> events(256);
        char buf[65536];
        while (!stop_) {
            const int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), 100);
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                if (fd == listener_) {
                    const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                    if (c < 0) {
                        continue;
                    }
                    SetNoDelay(c);
                    if (static_cast<size_t>(c) >= peers.size()) {
                        peers.resize(c + 1);
                    }
                    peers[c] = std::make_unique<Peer>();
                    epoll_event cev{};
                    cev.events = EPOLLIN;
                    cev.data.fd = c;
                    epoll_ctl(ep, EPOLL_CTL_ADD, c, &cev);
                    continue;
                }
                const ssize_t got = recv(fd, buf, sizeof buf, 0);
                if (got <= 0 || !Serve(fd, *peers[fd], buf, static_cast<size_t>(got))) {
                    epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
                    close(fd);
                    peers[fd].reset();
                }
            }
        }
        for (size_t fd = 0; fd < peers.size(); ++fd) {
            if (peers[fd]) {
                close(static_cast<int>(fd));
            }
        }
        close(ep);
    }

    static bool Serve(int fd, Peer& peer, const char* data, size_t len) {
        peer.in.append(data, len);
        if (!peer.open) {
            const size_t end = peer.in.find("\r\n\r\n");
            if (end == std::string::npos) {
                return true;
            }
            peer.in.erase(0, end + 4);
            peer.open = true;
            const std::string answer = std::string(
                                           "HTTP/1.1 101 Switching Protocols\r\nUpgrade: "
                                           "websocket\r\nConnection: Upgrade\r\n"
                                           "Sec-WebSocket-Accept: ") +
                                       kAccept + "\r\n\r\n";
            if (!SendAll(fd, answer.data(), answer.size())) {
                return false;
            }
        }
        Frame frame;
        while (TakeFrame(peer.in, frame)) {
            peer.in.erase(0, frame.size);
            if (frame.opcode == 0x8) {
                return false;
            }
            const std::string out =
                FrameHead(frame.opcode, frame.payload.size(), false) + frame.payload;
            if (!SendAll(fd, out.data(), out.size())) {
                return false;
            }
        }
        return true;
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// ---- The load client ----

struct Connection {
    int fd = -1;
    enum class State { connecting, upgrading, open, dead } state = State::connecting;
    std::string in;
    std::string out;  // bytes not yet taken by the socket
    uint64_t sentAt = 0;
};

class Client {
  public:
    Client(int port, const std::string& message, const std::string* expect)
        : port_(port), message_(message), expect_(expect) {}

    bool Connect(int count) {
        ep_ = epoll_create1(EPOLL_CLOEXEC);
        for (int i = 0; i < count; ++i) {
            auto c = std::make_unique<Connection>();
            c->fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            SetNoDelay(c->fd);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<uint16_t>(port_));
            if (connect(c->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
                errno != EINPROGRESS) {
                std::perror("connect");
                return false;
            }
            c->out = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                     "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + kKey +
                     "\r\nSec-WebSocket-Version: 13\r\n\r\n";
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLOUT;
            ev.data.ptr = c.get();
            epoll_ctl(ep_, EPOLL_CTL_ADD, c->fd, &ev);
            connections_.push_back(std::move(c));
        }
        // Every connection upgraded before the clock starts.
        const uint64_t deadline = bench::NowMicros() + 10 * 1000000u;
        while (CountIn(Connection::State::open) + CountIn(Connection::State::dead) <
               connections_.size()) {
            if (bench::NowMicros() > deadline) {
                std::fprintf(stderr, "ws: handshakes did not finish\n");
                return false;
            }
            Poll(100);
        }
        return CountIn(Connection::State::dead) == 0;
    }

    // Round trips until `end`; those answered after `measureFrom` are counted.
    void Run(uint64_t measureFrom, uint64_t end, bench::Result& result) {
        result_ = &result;
        measureFrom_ = measureFrom;
        for (auto& c : connections_) {
            SendMessage(*c);
        }
        while (bench::NowMicros() < end && CountIn(Connection::State::dead) < connections_.size()) {
            Poll(50);
        }
        stopping_ = true;
    }

    ~Client() {
        for (auto& c : connections_) {
            if (c->fd >= 0) {
                close(c->fd);
            }
        }
        if (ep_ >= 0) {
            close(ep_);
        }
    }

  private:
    size_t CountIn(Connection::State state) const {
        size_t n = 0;
        for (const auto& c : connections_) {
            n += c->state == state;
        }
        return n;
    }

    void Poll(int timeoutMs) {
        epoll_event events[256];
        const int n = epoll_wait(ep_, events, 256, timeoutMs);
        for (int i = 0; i < n; ++i) {
            auto* c = static_cast<Connection*>(events[i].data.ptr);
            if (c->state == Connection::State::dead) {
                continue;
            }
            if ((events[i].events & EPOLLOUT) != 0 && !Flush(*c)) {
                Kill(*c);
                continue;
            }
            if ((events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0 && !Receive(*c)) {
                Kill(*c);
            }
        }
    }

    void Kill(Connection& c) {
        if (result_ != nullptr && !stopping_) {
            ++result_->errors;
        }
        c.state = Connection::State::dead;
        epoll_ctl(ep_, EPOLL_CTL_DEL, c.fd, nullptr);
    }

    void WatchOutput(Connection& c, bool on) {
        epoll_event ev{};
        ev.events = EPOLLIN | (on ? EPOLLOUT : 0u);
        ev.data.ptr = &c;
        epoll_ctl(ep_, EPOLL_CTL_MOD, c.fd, &ev);
    }

    bool Flush(Connection& c) {
        if (c.state == Connection::State::connecting) {
            int error = 0;
            socklen_t size = sizeof error;
            getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &size);
            if (error != 0) {
                return false;
            }
            c.state = Connection::State::upgrading;
        }
        while (!c.out.empty()) {
            const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EAGAIN) {
                WatchOutput(c, true);
                return true;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            c.out.erase(0, static_cast<size_t>(n));
        }
        WatchOutput(c, false);
        return true;
    }

    void SendMessage(Connection& c) {
        // A fresh masking key per frame, as a browser does.
        rng_ ^= rng_ << 13;
        rng_ ^= rng_ >> 7;
        rng_ ^= rng_ << 17;
        unsigned char mask[4];
        std::memcpy(mask, &rng_, 4);
        std::string frame = FrameHead(0x1, message_.size(), true);
        frame.append(reinterpret_cast<const char*>(mask), 4);
        const size_t at = frame.size();
        frame += message_;
        for (size_t i = 0; i < message_.size(); ++i) {
            frame[at + i] = static_cast<char>(frame[at + i] ^ mask[i & 3]);
        }
        c.sentAt = bench::NowMicros();
        const bool wasEmpty = c.out.empty();
        c.out += frame;
        if (wasEmpty) {
            const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
            if (n > 0) {
                c.out.erase(0, static_cast<size_t>(n));
            }
            if (!c.out.empty()) {
                WatchOutput(c, true);
            }
        }
    }

    bool Receive(Connection& c) {
        char buf[65536];
        const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return true;
        }
        if (n <= 0) {
            return false;
        }
        c.in.append(buf, static_cast<size_t>(n));
        if (c.state == Connection::State::upgrading) {
            const size_t end = c.in.find("\r\n\r\n");
            if (end == std::string::npos) {
                return true;
            }
            if (c.in.compare(0, 12, "HTTP/1.1 101") != 0) {
                std::fprintf(stderr, "ws: upgrade refused: %.40s\n", c.in.c_str());
                return false;
            }
            c.in.erase(0, end + 4);
            c.state = Connection::State::open;
        }
        Frame frame;
        while (TakeFrame(c.in, frame)) {
            c.in.erase(0, frame.size);
            if (frame.opcode != 0x1 && frame.opcode != 0x2) {
                return false;
            }
            if (result_ == nullptr || stopping_) {
                continue;
            }
            const uint64_t now = bench::NowMicros();
            if (expect_ != nullptr && frame.payload != *expect_) {
                ++result_->errors;
            } else if (now >= measureFrom_) {
                ++result_->completed;
                result_->latencies.Add(now - c.sentAt);
            }
            SendMessage(c);
        }
        return true;
    }

    const int port_;
    const std::string message_;
    const std::string* expect_;
    int ep_ = -1;
    std::vector<std::unique_ptr<Connection>> connections_;
    bench::Result* result_ = nullptr;
    uint64_t measureFrom_ = 0;
    bool stopping_ = false;
    uint64_t rng_ = 0x9e3779b97f4a7c15ull;
};

}  // namespace

int main(int argc, char** argv) {
    const bench::Options options(argc, argv);
    const int connections = static_cast<int>(options.Number("--connections", 1));
    const double duration = options.Real("--duration", 5);
    const double warmup = options.Real("--warmup", 1);
    const std::string message = options.Text(
        "--message", "ProcessNum{1}ProcessEntity-1{FunctionType[11]}ProcessCallBackName{cb}");
    const char* expectText = options.Text("--expect", nullptr);
    const bool selfEcho = options.Flag("--self-echo");

    std::unique_ptr<EchoServer> echo;
    int port = static_cast<int>(options.Number("--port", 0));
    std::string expect = expectText != nullptr ? expectText : "";
    if (selfEcho) {
        echo = std::make_unique<EchoServer>();
        port = echo->port();
        expect = message;
    }
    if (port <= 0 || connections <= 0) {
        std::fprintf(stderr, "usage: %s --port P [--connections N] [--duration S] ...\n", argv[0]);
        return 2;
    }

    const uint64_t wallStart = bench::NowMicros();
    const double cpuStart = bench::ThreadCpuSeconds();
    bench::Result result;
    {
        Client client(port, message, selfEcho || expectText != nullptr ? &expect : nullptr);
        if (!client.Connect(connections)) {
            return 1;
        }
        const uint64_t start = bench::NowMicros();
        const auto from = start + static_cast<uint64_t>(warmup * 1e6);
        const auto end = from + static_cast<uint64_t>(duration * 1e6);
        client.Run(from, end, result);
        result.seconds = (bench::NowMicros() - from) / 1e6;
    }
    result.clientCpu = bench::ThreadCpuSeconds() - cpuStart;
    result.clientWall = (bench::NowMicros() - wallStart) / 1e6;
    bench::PrintResult(selfEcho ? "ws-self-echo" : "ws", result);
    return result.errors == 0 ? 0 : 1;
}
