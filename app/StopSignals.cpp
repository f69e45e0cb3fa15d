#include "app/StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace zqt {

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler's only state: the pipe's write end, or -1.
std::atomic<int> g_writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    const int fd = g_writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        // A full pipe already holds more stops than anyone needs.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

StopSignals::~StopSignals() {
    if (m_installed) {
        for (const int signal : kStopSignals) {
            ::signal(signal, SIG_DFL);
        }
        g_writeEnd.store(-1);
    }
    if (m_read >= 0) {
        ::close(m_read);
        ::close(m_write);
    }
}

bool StopSignals::Install() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    m_read = fds[0];
    m_write = fds[1];
    g_writeEnd.store(m_write);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Threads interrupted by a stop go on with what they were doing.
    action.sa_flags = SA_RESTART;
    for (const int signal : kStopSignals) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            return false;
        }
        m_installed = true;
    }
    // A signal blocked by whoever started us would never arrive.
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kStopSignals) {
        sigaddset(&set, signal);
    }
    return pthread_sigmask(SIG_UNBLOCK, &set, nullptr) == 0;
}

int StopSignals::Take() {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t n = ::read(m_read, &byte, 1);
        if (n == 1) {
            return byte;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return 0;
    }
}

}  // namespace zqt
