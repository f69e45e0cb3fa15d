#pragma once
// The main loop object: brings the service up in order, then waits for a
// stop signal or USB events, and on a stop takes everything down in reverse.

#include <thread>

#include "app/StopSignals.h"
#include "app/UsbKeyWatcher.h"
#include "app/UsbMonitor.h"

class CZQTCAServiceClientDlg {
  public:
    // How long the control call running at a stop may take to finish.
    static constexpr int kStopGraceMs = 5000;

    CZQTCAServiceClientDlg();
    ~CZQTCAServiceClientDlg();
    CZQTCAServiceClientDlg(const CZQTCAServiceClientDlg&) = delete;
    CZQTCAServiceClientDlg& operator=(const CZQTCAServiceClientDlg&) = delete;

    // Initialisation, the loop, then the orderly stop. Returns the exit status:
    // 1 when the service could not be brought up.
    int DoModal();

  private:
    enum class stop_wait { finished, grace_over, second_signal };

    bool OnInitDialog();
    bool StartServiceThread();
    void RunLoop();
    void OnClose();
    stop_wait WaitForServiceThread();
    [[noreturn]] void CutOff(stop_wait why);
    void ReleaseControls();

    zqt::StopSignals m_stopSignals;
    zqt::UsbMonitor m_usbMonitor;
    zqt::UsbKeyWatcher m_watcher;
    std::thread m_serviceThread;
    // Written by the service thread as it ends, so the stop can wait for it
    // with a time limit.
    int m_serviceDoneRead = -1;
    int m_serviceDoneWrite = -1;
};
