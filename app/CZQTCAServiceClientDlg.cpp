#include "app/CZQTCAServiceClientDlg.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "controls/HostedControl.h"
#include "net/acl_cpp_init.h"
#include "service/master_services.h"

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

CZQTCAServiceClientDlg::CZQTCAServiceClientDlg() = default;

CZQTCAServiceClientDlg::~CZQTCAServiceClientDlg() {
    if (m_signalFd >= 0) {
        ::close(m_signalFd);
    }
}

int CZQTCAServiceClientDlg::DoModal() {
    if (!OnInitDialog()) {
        return 1;
    }
    RunLoop();
    OnClose();
    return 0;
}

bool CZQTCAServiceClientDlg::OnInitDialog() {
    // The stop signals are read from a descriptor, never delivered: blocked
    // here, before any thread starts, so that every thread inherits the mask.
    sigset_t stop = StopSignals();
    if (pthread_sigmask(SIG_BLOCK, &stop, nullptr) != 0) {
        return false;
    }
    m_signalFd = ::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_signalFd < 0) {
        std::perror("signalfd");
        return false;
    }
    // A peer that closes early must not kill the process with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);

    // Controls that cannot be created leave their commands failing; the
    // service starts all the same.
    CUlvoctrlctrl::Instance().Create();
    CUlvocertenrollctrl::Instance().Create();
    net::acl_cpp_init();
    // Without udev the service runs on; key events are then not seen.
    m_usbMonitor.Open();
    ServiceRunFlag().store(true);
    m_serviceThread = std::thread([] { ServiceThreadProc(nullptr); });
    return true;
}

void CZQTCAServiceClientDlg::RunLoop() {
    for (;;) {
        pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_usbMonitor.fd(), POLLIN, 0}};
        nfds_t count = m_usbMonitor.IsOpen() ? 2 : 1;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            signalfd_siginfo info{};
            if (::read(m_signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                return;
            }
        }
        if (count == 2 && fds[1].revents != 0) {
            while (auto record = m_usbMonitor.Receive()) {
                m_watcher.OnDeviceChange(*record);
            }
        }
    }
}

void CZQTCAServiceClientDlg::OnClose() {
    m_watcher.Stop();
    StopService();
    if (m_serviceThread.joinable()) {
        m_serviceThread.join();
    }
    CUlvocertenrollctrl::Instance().Release();
    CUlvoctrlctrl::Instance().Release();
}
