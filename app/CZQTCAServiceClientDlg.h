#pragma once
// The main loop object: brings the service up in order, then waits for a
// stop signal or USB events, and on a stop takes everything down in reverse.

#include <thread>

#include "app/UsbKeyWatcher.h"
#include "app/UsbMonitor.h"

class CZQTCAServiceClientDlg {
  public:
    CZQTCAServiceClientDlg();
    ~CZQTCAServiceClientDlg();
    CZQTCAServiceClientDlg(const CZQTCAServiceClientDlg&) = delete;
    CZQTCAServiceClientDlg& operator=(const CZQTCAServiceClientDlg&) = delete;

    // Initialisation, the loop, then the orderly stop. Returns the exit status.
    int DoModal();

  private:
    bool OnInitDialog();
    void RunLoop();
    void OnClose();

    int m_signalFd = -1;
    zqt::UsbMonitor m_usbMonitor;
    zqt::UsbKeyWatcher m_watcher;
    std::thread m_serviceThread;
};
