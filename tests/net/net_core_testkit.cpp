#include "tests/net/net_core_testkit.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace net::test {

namespace {

using clock_type = std::chrono::steady_clock;

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string trim(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return {};
    }
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

}  // namespace

std::string http_answer::header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

raw_client::raw_client(int port, const char* host) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host, &addr.sin_addr);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

raw_client::~raw_client() {
    close();
}

void raw_client::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool raw_client::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool raw_client::send_slowly(std::string_view bytes, size_t piece,
                             std::chrono::milliseconds pause) {
    while (!bytes.empty()) {
        const size_t n = std::min(piece, bytes.size());
        if (!send(bytes.substr(0, n))) {
            return false;
        }
        bytes.remove_prefix(n);
        std::this_thread::sleep_for(pause);
    }
    return true;
}

void raw_client::shutdown_write() {
    ::shutdown(fd_, SHUT_WR);
}

bool raw_client::fill(clock_type::time_point deadline) {
    if (eof_ || fd_ < 0) {
        return false;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    if (left.count() <= 0) {
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        return false;
    }
    char buf[65536];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
        eof_ = true;
        return false;
    }
    buffered_.append(buf, static_cast<size_t>(n));
    return true;
}

bool raw_client::need(size_t size, clock_type::time_point deadline) {
    while (buffered_.size() < size) {
        if (!fill(deadline)) {
            return false;
        }
    }
    return true;
}

bool raw_client::read_line(std::string& line, clock_type::time_point deadline) {
    size_t end;
    while ((end = buffered_.find("\r\n")) == std::string::npos) {
        if (!fill(deadline)) {
            return false;
        }
    }
    line = buffered_.substr(0, end);
    buffered_.erase(0, end + 2);
    return true;
}

http_answer raw_client::read_answer(std::chrono::milliseconds limit) {
    const auto deadline = clock_type::now() + limit;
    http_answer answer;
    std::string line;
    if (!read_line(line, deadline) || line.rfind("HTTP/1.1 ", 0) != 0 || line.size() < 12) {
        return answer;
    }
    answer.status = std::atoi(line.c_str() + 9);
    while (read_line(line, deadline) && !line.empty()) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            return answer;
        }
        answer.headers[lower(line.substr(0, colon))] = trim(line.substr(colon + 1));
    }
    if (!line.empty()) {
        return answer;
    }
    if (lower(answer.header("transfer-encoding")) == "chunked") {
        answer.chunked = true;
        for (;;) {
            if (!read_line(line, deadline)) {
                return answer;
            }
            char* end = nullptr;
            const unsigned long size = std::strtoul(line.c_str(), &end, 16);
            if (line.empty() || *end != '\0') {
                return answer;
            }
            if (!need(size + 2, deadline) || buffered_.compare(size, 2, "\r\n") != 0) {
                return answer;
            }
            answer.body += buffered_.substr(0, size);
            buffered_.erase(0, size + 2);
            if (size == 0) {
                break;
            }
        }
    } else if (!answer.header("content-length").empty()) {
        const size_t size = std::stoul(answer.header("content-length"));
        if (!need(size, deadline)) {
            return answer;
        }
        answer.body = buffered_.substr(0, size);
        buffered_.erase(0, size);
    } else if (answer.status / 100 != 1) {
        while (fill(deadline)) {
        }
        if (!eof_) {
            return answer;
        }
        answer.body = buffered_;
        buffered_.clear();
    }
    answer.complete = true;
    return answer;
}

std::string raw_client::read_all(std::chrono::milliseconds limit) {
    const auto deadline = clock_type::now() + limit;
    while (fill(deadline)) {
    }
    std::string all = std::move(buffered_);
    buffered_.clear();
    return all;
}

bool raw_client::peer_closed(std::chrono::milliseconds limit) {
    const auto deadline = clock_type::now() + limit;
    if (!buffered_.empty()) {
        return false;
    }
    while (fill(deadline)) {
        if (!buffered_.empty()) {
            return false;
        }
    }
    return eof_;
}

void event_log::add(std::string event) {
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(std::move(event));
    changed_.notify_all();
}

std::vector<std::string> event_log::snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

size_t event_log::count(const std::string& event) const {
    std::lock_guard<std::mutex> guard(lock_);
    size_t n = 0;
    for (const std::string& e : events_) {
        n += e == event ? 1 : 0;
    }
    return n;
}

bool event_log::wait_count(const std::string& event, size_t times,
                           std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, limit, [&] {
        size_t n = 0;
        for (const std::string& e : events_) {
            n += e == event ? 1 : 0;
        }
        return n >= times;
    });
}

test_servlet::test_servlet(socket_stream* stream, event_log& log, size_t jsonLimit)
    : HttpServlet(stream, new memcache_session("127.0.0.1:11211")),
      log_(log),
      jsonLimit_(jsonLimit) {}

bool test_servlet::doGet(HttpServletRequest& req, HttpServletResponse& res) {
    log_.add("get");
    const std::string body = "GET " + std::string(req.getRequestUri());
    res.setContentType("text/plain").setContentLength(static_cast<long long>(body.size()));
    return res.write(body) && req.isKeepAlive();
}

bool test_servlet::doPost(HttpServletRequest& req, HttpServletResponse& res) {
    log_.add("post");
    const bool keepAlive = req.isKeepAlive();
    res.setContentType("text/plain").setKeepAlive(keepAlive).setChunkedTransferEncoding(true);
    std::string text = "nojson";
    if (const json* body = req.getJson(jsonLimit_)) {
        const json_node* node = body->getFirstElementByTagName("ServeltData");
        text = node != nullptr ? node->get_string() : "nodata";
    }
    res.write("data[" + text + "]");
    return res.write(nullptr, 0) && keepAlive;
}

bool test_servlet::doOptions(HttpServletRequest&, HttpServletResponse& res) {
    log_.add("options");
    res.setStatus(200);
    res.sendHeader();
    return false;
}

bool test_servlet::doUnknown(HttpServletRequest&, HttpServletResponse&) {
    log_.add("unknown");
    return false;
}

bool test_servlet::doError(HttpServletRequest&, HttpServletResponse&) {
    log_.add("error");
    return false;
}

// Echoes four raw bytes, so a test sees what came after the handshake.
bool test_servlet::doWebSocket(HttpServletRequest& req, HttpServletResponse&) {
    log_.add("websocket");
    char bytes[4];
    socket_stream& stream = req.getSocketStream();
    if (stream.read_exact(bytes, sizeof bytes)) {
        stream.write(bytes, sizeof bytes);
    }
    return false;
}

bool test_master::thread_on_accept(socket_stream* stream) {
    log_.add("accept");
    stream->set_rw_timeout(rwTimeout);
    HttpServlet* servlet = makeServlet ? makeServlet(stream)
                           : baseServlet
                               ? new HttpServlet(stream, new memcache_session("127.0.0.1:11211"))
                               : new test_servlet(stream, log_, jsonLimit);
    stream->set_ctx(servlet);
    return acceptResult;
}

bool test_master::thread_on_read(socket_stream* stream) {
    log_.add("read");
    if (onRead) {
        return onRead(*stream);
    }
    return static_cast<HttpServlet*>(stream->get_ctx())->doRun("127.0.0.1:11211", stream);
}

bool test_master::thread_on_timeout(socket_stream*) {
    log_.add("timeout");
    return timeoutResult;
}

void test_master::thread_on_close(socket_stream* stream) {
    log_.add("close");
    delete static_cast<HttpServlet*>(stream->get_ctx());
    stream->set_ctx(nullptr);
}

void test_master::thread_on_init() {
    std::this_thread::sleep_for(std::chrono::milliseconds(initDelayMs.load()));
    log_.add("init");
}

server_runner::server_runner(master_threads& master, std::string addresses) : master_(master) {
    thread_ = std::thread([this, addresses] {
        result_ = master_.run_alone(addresses.c_str(), nullptr, 5, 1);
        finished_ = true;
    });
    const auto deadline = clock_type::now() + kPatience;
    while (!finished_ && clock_type::now() < deadline) {
        ports_ = master_.bound_ports();
        if (!ports_.empty()) {
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
}

server_runner::~server_runner() {
    stop();
}

bool server_runner::stop() {
    if (!stopped_) {
        stopped_ = true;
        master_.stop();
        thread_.join();
    }
    return result_;
}

std::string post_request(const std::string& body, bool keepAlive) {
    return "POST /ZQTService HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
           std::string(keepAlive ? "" : "Connection: close\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string run_command(const std::string& command, int& status) {
    std::string out;
    status = -1;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    const int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

}  // namespace net::test
