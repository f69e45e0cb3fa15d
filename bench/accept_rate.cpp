// New connections per second through the network library's own listener
// (net::master_threads, as the service uses it), with the same-user check on
// every accepted connection and without it, in one run: rounds alternate
// between the two, and each figure is the median of its rounds.
//
// Each of C client threads connects, sends a small request, reads the
// answer until the server closes, closes, and starts again. The server
// answers each connection once from its thread_on_read and closes it: the
// least work a connection can cost, so the check's share is at its largest.
//
//   zqt-bench-accept [--clients C] [--rounds R] [--duration S]
//
// Prints one line: rate= (check on) rate_off= (check off) ratio= (on / off),
// connections per second.
//
// With --connect PORT the same clients run for --duration against a server
// already listening there (the service, started with the check on or with
// ZQT_PEER_CHECK=off by bench/run), sending the bytes of --request-file,
// which must ask for the connection to be closed; an answer must begin with
// "HTTP/1.1 200". Prints rate= for that server alone.
//
//   zqt-bench-accept --connect PORT --request-file F [--clients C] [--duration S]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "load_stats.h"
#include "net/master_threads.h"
#include "net/socket_stream.h"

namespace {

const std::string kRequest = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
const std::string kAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";

class answer_once : public net::master_threads {
  protected:
    bool thread_on_accept(net::socket_stream* stream) override {
        stream->set_rw_timeout(5);
        return true;
    }
    bool thread_on_read(net::socket_stream* stream) override {
        char buf[1024];
        if (stream->read(buf, sizeof buf) > 0) {
            stream->write(kAnswer.data(), kAnswer.size());
        }
        return false;  // closed by the library
    }
};

std::string gRequest = kRequest;
// What an answer must begin with, and its whole length when known (0: any).
std::string gAnswerStart = kAnswer;
size_t gAnswerBytes = kAnswer.size();

// One connection from start to the server's close; false on any failure.
bool one_connection(const sockaddr_in& to) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
              ::send(fd, gRequest.data(), gRequest.size(), MSG_NOSIGNAL) ==
                  static_cast<ssize_t>(gRequest.size());
    std::string got;
    char buf[2048];
    for (ssize_t n; ok && (n = ::recv(fd, buf, sizeof buf, 0)) != 0;) {
        if (n < 0) {
            ok = errno == EINTR;
            continue;
        }
        got.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok && got.compare(0, gAnswerStart.size(), gAnswerStart) == 0 &&
           (gAnswerBytes == 0 || got.size() == gAnswerBytes);
}

struct round_result {
    double rate = 0;
    uint64_t errors = 0;
};

round_result run_round(const sockaddr_in& to, int clients, double seconds) {
    std::atomic<uint64_t> done{0};
    std::atomic<uint64_t> errors{0};
    const uint64_t start = bench::NowMicros();
    const uint64_t end = start + static_cast<uint64_t>(seconds * 1e6);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&] {
            uint64_t mine = 0;
            uint64_t failed = 0;
            while (bench::NowMicros() < end) {
                if (one_connection(to)) {
                    ++mine;
                } else {
                    ++failed;
                }
            }
            done += mine;
            errors += failed;
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    const double elapsed = (bench::NowMicros() - start) / 1e6;
    return {done / elapsed, errors.load()};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Options options(argc, argv);
    const int clients = static_cast<int>(options.Number("--clients", 8));
    const int rounds = static_cast<int>(options.Number("--rounds", 5));
    const double duration = options.Real("--duration", 1);

    if (const long port = options.Number("--connect", 0); port != 0) {
        const char* file = options.Text("--request-file", nullptr);
        if (file == nullptr) {
            std::fprintf(stderr, "--connect needs --request-file\n");
            return 2;
        }
        std::ifstream in(file, std::ios::binary);
        gRequest.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        gAnswerStart = "HTTP/1.1 200";
        gAnswerBytes = 0;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<uint16_t>(port));
        run_round(to, clients, std::min(duration / 4, 0.5));  // warm-up
        const round_result r = run_round(to, clients, duration);
        std::printf("accept-client rate=%.1f clients=%d errors=%llu\n", r.rate, clients,
                    static_cast<unsigned long long>(r.errors));
        return r.errors == 0 ? 0 : 1;
    }

    answer_once server;
    std::thread listening([&] { server.run_alone("127.0.0.1:0"); });
    for (int i = 0; i < 5000 && server.bound_ports().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::vector<int> ports = server.bound_ports();
    if (ports.empty()) {
        std::fprintf(stderr, "the server did not listen\n");
        server.stop();
        listening.join();
        return 1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(ports[0]));

    run_round(to, clients, duration / 2);  // warm-up: threads, caches
    std::vector<double> on, off;
    uint64_t errors = 0;
    for (int i = 0; i < rounds; ++i) {
        // Alternating which goes first, so that a drift in the machine's
        // load favours neither.
        for (const bool check : {i % 2 == 0, i % 2 != 0}) {
            server.set_peer_check(check);
            const round_result r = run_round(to, clients, duration);
            (check ? on : off).push_back(r.rate);
            errors += r.errors;
        }
    }
    server.stop();
    listening.join();

    const double rateOn = median(on);
    const double rateOff = median(off);
    std::printf("accept rate=%.1f rate_off=%.1f ratio=%.3f rounds=%d clients=%d errors=%llu\n",
                rateOn, rateOff, rateOff > 0 ? rateOn / rateOff : 0.0, rounds, clients,
                static_cast<unsigned long long>(errors));
    return errors == 0 ? 0 : 1;
}
