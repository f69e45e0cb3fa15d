#include "app/CZQTCAServiceClientApp.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <iostream>

#include "app/CZQTCAServiceClientDlg.h"
#include "app/CommandLineAction.h"
#include "app/Options.h"
#include "app/SingleInstance.h"
#include "support/DiagnosticLog.h"

int CZQTCAServiceClientApp::InitInstance(int argc, const char* const* argv) {
    zqt::CommandLine line = zqt::ParseCommandLine(argc, argv);
    if (auto status = zqt::RunCommandLineAction(line, std::cout, std::cerr)) {
        return *status;
    }
    std::setlocale(LC_ALL, "");
    zqt::SingleInstanceGuard guard;
    if (!guard.Acquire()) {
        if (guard.lastError() == EADDRINUSE) {
            return 0;  // another instance serves: end at once, silently
        }
        // Not knowing whether another instance runs, do not serve; a status
        // of 1 lets the unit's Restart=on-failure try again.
        zqt::log::error4(__FILE__, __LINE__, __func__,
                         "cannot take the single-instance name: %s; not starting",
                         std::strerror(guard.lastError()));
        return 1;
    }
    CZQTCAServiceClientDlg dlg;
    return dlg.DoModal();
}
