#pragma once
// What a connection's servlet needs from the host: whether a page's origin
// may be served, a way to run one request text, and the lock that keeps
// request texts from running side by side. The host hands it to every
// servlet it makes, so the servlet never has to find the host.

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "net/adaptive_mutex.h"
#include "service/request_caller.h"

// Thrown instead of running a request once the dispatch is closed; the
// connection that asked ends unanswered.
class request_dropped : public std::runtime_error {
  public:
    request_dropped() : std::runtime_error("the service is stopping; request dropped") {}
};

class request_dispatch {
  public:
    // Runs one UTF-16 request text for its caller and gives its response text.
    using runner = std::function<std::u16string(std::u16string, const request_caller&)>;
    // The same for runners that need not know the caller.
    using plain_runner = std::function<std::u16string(std::u16string)>;
    // Whether a request with this Origin header (null: none) may be served.
    using origin_gate = std::function<bool(const char* origin)>;

    // All must outlive every servlet that is handed this dispatch. Without a
    // gate every origin is served.
    request_dispatch(net::adaptive_mutex& lock, runner run, origin_gate admits = {});
    request_dispatch(net::adaptive_mutex& lock, plain_runner run);

    bool Admits(const char* origin) const { return !admits_ || admits_(origin); }

    // Runs one UTF-8 request text under the lock and returns the UTF-8
    // response text; the conversions happen outside the lock.
    // Throws request_dropped, without running it, when the dispatch was
    // closed before the lock was had.
    std::string RunRequestText(std::string_view utf8Request,
                               const request_caller& caller = request_caller()) const;

    // No request starts after this; the one running, if any, runs on.
    void Close() { closed_.store(true); }
    // Requests running now (0 or 1: they run under the lock).
    int Running() const { return running_.load(); }

  private:
    net::adaptive_mutex& lock_;
    runner run_;
    origin_gate admits_;
    std::atomic<bool> closed_{false};
    mutable std::atomic<int> running_{0};
};
