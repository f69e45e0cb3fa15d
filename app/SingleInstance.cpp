#include "app/SingleInstance.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace zqt {

SingleInstanceGuard::SingleInstanceGuard(std::string name) : m_name(std::move(name)) {}

SingleInstanceGuard::~SingleInstanceGuard() {
    Release();
}

bool SingleInstanceGuard::Acquire() {
    if (Held()) {
        return true;
    }
    sockaddr_un address{};
    // sun_path[0] is the abstract-namespace marker; the name follows, unterminated.
    // An empty name would ask the kernel for an autobound one.
    if (m_name.empty()) {
        m_lastError = EINVAL;
        return false;
    }
    if (m_name.size() > sizeof(address.sun_path) - 1) {
        m_lastError = ENAMETOOLONG;
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, m_name.data(), m_name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + m_name.size());

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_lastError = errno;
        return false;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        m_lastError = errno;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_lastError = 0;
    return true;
}

void SingleInstanceGuard::Release() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace zqt
