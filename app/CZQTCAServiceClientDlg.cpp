#include "app/CZQTCAServiceClientDlg.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "app/StartupReport.h"
#include "controls/HostedControl.h"
#include "net/acl_cpp_init.h"
#include "service/master_services.h"
#include "support/DiagnosticLog.h"

namespace {

constexpr const char* kFile = "CZQTCAServiceClientDlg";

}  // namespace

CZQTCAServiceClientDlg::CZQTCAServiceClientDlg() = default;

CZQTCAServiceClientDlg::~CZQTCAServiceClientDlg() {
    if (m_serviceDoneRead >= 0) {
        ::close(m_serviceDoneRead);
        ::close(m_serviceDoneWrite);
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
    if (!m_stopSignals.Install()) {
        zqt::log::error4(kFile, __LINE__, __func__, "cannot catch the stop signals: %s",
                         std::strerror(errno));
        return false;
    }
    // A peer that closes early must not kill the process with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);

    // Controls that cannot be created leave their commands failing; the
    // service starts all the same.
    CUlvoctrlctrl::Instance().Create();
    CUlvocertenrollctrl::Instance().Create();
    zqt::ReportLoadedModules();
    net::acl_cpp_init();
    // Without udev the service runs on; key events are then not seen.
    const bool usbOn = m_usbMonitor.Open();
    zqt::ReportUsbWatcher(usbOn, usbOn ? 0 : errno);
    if (!StartServiceThread()) {
        ReleaseControls();
        return false;
    }
    return true;
}

bool CZQTCAServiceClientDlg::StartServiceThread() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        zqt::log::error4(kFile, __LINE__, __func__, "cannot start the service thread: %s",
                         std::strerror(errno));
        return false;
    }
    m_serviceDoneRead = fds[0];
    m_serviceDoneWrite = fds[1];
    ServiceRunFlag().store(true);
    try {
        m_serviceThread = std::thread([done = m_serviceDoneWrite] {
            ServiceThreadProc(nullptr);
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = ::write(done, &byte, 1);
        });
    } catch (const std::system_error& error) {
        ServiceRunFlag().store(false);
        zqt::log::error4(kFile, __LINE__, __func__, "cannot start the service thread: %s",
                         error.what());
        return false;
    }
    return true;
}

void CZQTCAServiceClientDlg::RunLoop() {
    for (;;) {
        pollfd fds[2] = {{m_stopSignals.fd(), POLLIN, 0}, {m_usbMonitor.fd(), POLLIN, 0}};
        nfds_t count = m_usbMonitor.IsOpen() ? 2 : 1;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0 && m_stopSignals.Take() != 0) {
            return;
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
    const stop_wait outcome = WaitForServiceThread();
    if (outcome != stop_wait::finished) {
        CutOff(outcome);
    }
    m_serviceThread.join();
    ReleaseControls();
}

CZQTCAServiceClientDlg::stop_wait CZQTCAServiceClientDlg::WaitForServiceThread() {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(kStopGraceMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) {
            return stop_wait::grace_over;
        }
        pollfd fds[2] = {{m_serviceDoneRead, POLLIN, 0}, {m_stopSignals.fd(), POLLIN, 0}};
        const int rc = ::poll(fds, 2, static_cast<int>(left));
        if (rc < 0 && errno != EINTR) {
            return stop_wait::grace_over;
        }
        if (rc <= 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            return stop_wait::finished;
        }
        if (fds[1].revents != 0 && m_stopSignals.Take() != 0) {
            return stop_wait::second_signal;
        }
    }
}

void CZQTCAServiceClientDlg::CutOff(stop_wait why) {
    // The threads still running hold the dispatch lock and the controls, so
    // nothing may be destroyed under them: leave without the destructors.
    const char* what = master_services::get_instance().requests_running() > 0
                           ? "a control call still running"
                           : "connections still closing";
    if (why == stop_wait::second_signal) {
        zqt::log::error4(kFile, __LINE__, __func__, "second stop signal: exiting now, %s cut off",
                         what);
    } else {
        zqt::log::error4(kFile, __LINE__, __func__, "stop: after %d s, exiting with %s cut off",
                         kStopGraceMs / 1000, what);
    }
    std::fflush(nullptr);
    ::_exit(0);
}

void CZQTCAServiceClientDlg::ReleaseControls() {
    CUlvocertenrollctrl::Instance().Release();
    CUlvoctrlctrl::Instance().Release();
}
