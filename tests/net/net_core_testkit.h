#pragma once
// A raw TCP client, a recording server and a minimal servlet of the tests'
// own, to drive the library over real loopback connections. The service's
// servlet is tested against the real one, in tests/service.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/HttpServlet.h"
#include "net/master_threads.h"
#include "net/socket_stream.h"

namespace net::test {

using namespace std::chrono_literals;

// Time enough for anything that should happen at once, even under a
// sanitizer on a busy machine.
constexpr std::chrono::milliseconds kPatience = 20s;

struct http_answer {
    bool complete = false;  // a whole response was read
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    bool chunked = false;

    std::string header(const std::string& lowerName) const;
};

class raw_client {
  public:
    explicit raw_client(int port, const char* host = "127.0.0.1");
    ~raw_client();
    raw_client(const raw_client&) = delete;
    raw_client& operator=(const raw_client&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool send(std::string_view bytes);
    // In pieces of `piece` bytes with a pause after each.
    bool send_slowly(std::string_view bytes, size_t piece, std::chrono::milliseconds pause);
    void shutdown_write();
    void close();

    // One response: head, then a body by chunks, by length or up to close.
    http_answer read_answer(std::chrono::milliseconds limit = kPatience);
    // Everything until the peer closes (or `limit` passes).
    std::string read_all(std::chrono::milliseconds limit = kPatience);
    // True when the peer closed (or reset) without sending anything more.
    bool peer_closed(std::chrono::milliseconds limit = kPatience);

  private:
    // Reads more into buffered_; false at the end or when time is up.
    bool fill(std::chrono::steady_clock::time_point deadline);
    bool need(size_t size, std::chrono::steady_clock::time_point deadline);
    bool read_line(std::string& line, std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    std::string buffered_;
    bool eof_ = false;
};

// Names of what happened, in order, from any thread.
class event_log {
  public:
    void add(std::string event);
    std::vector<std::string> snapshot() const;
    size_t count(const std::string& event) const;
    // Waits until `event` has been seen `times` times.
    bool wait_count(const std::string& event, size_t times,
                    std::chrono::milliseconds limit = kPatience) const;

  private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::string> events_;
};

// Records which handler the library called; GET echoes the URI, POST the
// "ServeltData" text of its JSON body, so that tests see what was read.
class test_servlet : public HttpServlet {
  public:
    test_servlet(socket_stream* stream, event_log& log, size_t jsonLimit);

  protected:
    bool doGet(HttpServletRequest& req, HttpServletResponse& res) override;
    bool doPost(HttpServletRequest& req, HttpServletResponse& res) override;
    bool doOptions(HttpServletRequest& req, HttpServletResponse& res) override;
    bool doUnknown(HttpServletRequest& req, HttpServletResponse& res) override;
    bool doError(HttpServletRequest& req, HttpServletResponse& res) override;
    bool doWebSocket(HttpServletRequest& req, HttpServletResponse& res) override;

  private:
    event_log& log_;
    size_t jsonLimit_;
};

// Records its callbacks and serves each connection with a test_servlet.
class test_master : public master_threads {
  public:
    explicit test_master(event_log& log) : log_(log) {}

    std::atomic<int> rwTimeout{1};
    std::atomic<bool> acceptResult{true};
    std::atomic<bool> timeoutResult{false};
    std::atomic<size_t> jsonLimit{1024};
    std::atomic<int> initDelayMs{0};
    // Serve with the library's own servlet base, which overrides nothing.
    std::atomic<bool> baseServlet{false};
    // When set, thread_on_read calls this instead of a servlet.
    std::function<bool(socket_stream&)> onRead;
    // When set, makes each connection's servlet instead of a test_servlet.
    std::function<HttpServlet*(socket_stream*)> makeServlet;

  protected:
    bool thread_on_accept(socket_stream* stream) override;
    bool thread_on_read(socket_stream* stream) override;
    bool thread_on_timeout(socket_stream* stream) override;
    void thread_on_close(socket_stream* stream) override;
    void thread_on_init() override;

  private:
    event_log& log_;
};

// Runs a server's run_alone on a thread of its own until it is stopped.
class server_runner {
  public:
    explicit server_runner(master_threads& master, std::string addresses = "127.0.0.1:0");
    ~server_runner();
    server_runner(const server_runner&) = delete;
    server_runner& operator=(const server_runner&) = delete;

    // False when the server never listened.
    bool listening() const { return !ports_.empty(); }
    int port(size_t index = 0) const { return ports_.at(index); }
    // Stops the server and waits for run_alone to return; its result.
    bool stop();

  private:
    master_threads& master_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> result_{false};
    std::vector<int> ports_;
    bool stopped_ = false;
};

// A request with a JSON body carrying `data` under "ServeltData".
std::string post_request(const std::string& body, bool keepAlive = true);

// Runs a shell command; its standard output, and its exit status in `status`.
std::string run_command(const std::string& command, int& status);

}  // namespace net::test
