#pragma once
// The listening sockets of one run of a server: opened together, closed
// together.

#include <chrono>
#include <string>
#include <vector>

#include "net/listen_address.h"

namespace net {

class listener_set {
  public:
    listener_set() = default;
    ~listener_set();
    listener_set(const listener_set&) = delete;
    listener_set& operator=(const listener_set&) = delete;

    // Binds (SO_REUSEADDR) and listens on every address, non-blocking;
    // on any failure closes what it opened and says why in `error`.
    bool open(const std::vector<listen_address>& addresses, std::string& error);
    void close();

    const std::vector<int>& fds() const { return fds_; }
    // The ports actually bound, in the order of the addresses.
    const std::vector<int>& ports() const { return ports_; }

  private:
    std::vector<int> fds_;
    std::vector<int> ports_;
};

// Which failures to listen reach the log while a server retries every
// second: the first, then one a minute while they go on, then the recovery.
class listen_failure_report {
  public:
    using clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kInterval{60};

    // A failed attempt: true when it is to be logged.
    bool failed(clock::time_point now);
    // A working attempt: true once after failures, to say so.
    bool succeeded();
    // Failed attempts not logged since the last logged one.
    unsigned int unlogged() const { return unlogged_; }

  private:
    bool failing_ = false;
    clock::time_point lastLogged_{};
    unsigned int unlogged_ = 0;
};

}  // namespace net
