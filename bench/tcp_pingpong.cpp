// The floor for one connection's round trip on loopback: a client sends a
// request of R bytes, a server thread in the same process reads all of them
// and answers with A bytes, the client reads those, and so on, with
// TCP_NODELAY on both ends and blocking sockets, as a keep-alive HTTP client
// and a thread-per-connection server would.
//
// With --connect PORT the same client loop runs against a server that is
// already listening there: it sends the bytes of --request-file and reads
// --response-bytes (a server whose answer always has that size).
//
//   zqt-bench-tcp [--request-bytes R] [--response-bytes A] [--duration S] [--warmup S]
//   zqt-bench-tcp --connect PORT --request-file F --response-bytes A [--duration S]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "load_stats.h"

namespace {

bool ReadExact(int fd, char* buf, size_t len) {
    while (len > 0) {
        const ssize_t n = recv(fd, buf, len, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const char* buf, size_t len) {
    while (len > 0) {
        const ssize_t n = send(fd, buf, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

void NoDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Options options(argc, argv);
    const int connectPort = static_cast<int>(options.Number("--connect", 0));
    std::string request;
    if (const char* file = options.Text("--request-file", nullptr)) {
        std::ifstream in(file, std::ios::binary);
        request.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        request.assign(static_cast<size_t>(options.Number("--request-bytes", 200)), 'q');
    }
    const size_t requestBytes = request.size();
    const auto responseBytes = static_cast<size_t>(options.Number("--response-bytes", 300));
    const double duration = options.Real("--duration", 5);
    const double warmup = options.Real("--warmup", 1);
    if (requestBytes == 0 || responseBytes == 0) {
        std::fprintf(stderr, "sizes must be positive\n");
        return 2;
    }

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(connectPort));
    int listener = -1;
    if (connectPort == 0) {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        socklen_t size = sizeof addr;
        if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listener, 1) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
            std::perror("listen");
            return 1;
        }
    }

    std::thread server([&] {
        if (listener < 0) {
            return;
        }
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        NoDelay(fd);
        std::string in(requestBytes, '\0');
        const std::string out(responseBytes, 'r');
        while (ReadExact(fd, in.data(), in.size()) && WriteAll(fd, out.data(), out.size())) {
        }
        close(fd);
    });

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    NoDelay(fd);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("connect");
        return 1;
    }
    std::string answer(responseBytes, '\0');

    bench::Result result;
    const uint64_t wallStart = bench::NowMicros();
    const double cpuStart = bench::ThreadCpuSeconds();
    const uint64_t from = wallStart + static_cast<uint64_t>(warmup * 1e6);
    const uint64_t end = from + static_cast<uint64_t>(duration * 1e6);
    for (uint64_t now = wallStart; now < end;) {
        const uint64_t sent = now;
        if (!WriteAll(fd, request.data(), request.size()) ||
            !ReadExact(fd, answer.data(), answer.size())) {
            ++result.errors;
            break;
        }
        now = bench::NowMicros();
        if (sent >= from) {
            ++result.completed;
            result.latencies.Add(now - sent);
        }
    }
    result.seconds = (bench::NowMicros() - from) / 1e6;
    result.clientCpu = bench::ThreadCpuSeconds() - cpuStart;
    result.clientWall = (bench::NowMicros() - wallStart) / 1e6;
    shutdown(fd, SHUT_RDWR);
    close(fd);
    server.join();
    if (listener >= 0) {
        close(listener);
    }
    bench::PrintResult(connectPort != 0 ? "tcp-client" : "tcp", result);
    return result.errors == 0 ? 0 : 1;
}
