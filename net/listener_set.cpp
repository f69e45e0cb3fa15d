#include "net/listener_set.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace net {

namespace {

int open_one(const listen_address& address, int& port, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = "socket: " + std::string(std::strerror(errno));
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(address.ip);
    addr.sin_port = htons(address.port);
    const char* step = "bind";
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        step = "listen";
        if (::listen(fd, SOMAXCONN) == 0) {
            socklen_t size = sizeof addr;
            step = "getsockname";
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0) {
                port = ntohs(addr.sin_port);
                return fd;
            }
        }
    }
    error = std::string(step) + " " + address.text + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
}

}  // namespace

listener_set::~listener_set() {
    close();
}

bool listener_set::open(const std::vector<listen_address>& addresses, std::string& error) {
    close();
    for (const listen_address& address : addresses) {
        int port = 0;
        const int fd = open_one(address, port, error);
        if (fd < 0) {
            close();
            return false;
        }
        fds_.push_back(fd);
        ports_.push_back(port);
    }
    return true;
}

bool listen_failure_report::failed(clock::time_point now) {
    if (failing_ && now - lastLogged_ < kInterval) {
        ++unlogged_;
        return false;
    }
    failing_ = true;
    lastLogged_ = now;
    return true;
}

bool listen_failure_report::succeeded() {
    const bool was = failing_;
    failing_ = false;
    unlogged_ = 0;
    return was;
}

void listener_set::close() {
    for (const int fd : fds_) {
        ::close(fd);
    }
    fds_.clear();
    ports_.clear();
}

}  // namespace net
