#pragma once
// The listening sockets of one run of a server: opened together, closed
// together.

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

}  // namespace net
