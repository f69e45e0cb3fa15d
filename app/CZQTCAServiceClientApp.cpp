#include "app/CZQTCAServiceClientApp.h"

#include <clocale>
#include <iostream>

#include "app/CZQTCAServiceClientDlg.h"
#include "app/CommandLineAction.h"
#include "app/Options.h"
#include "app/SingleInstance.h"

int CZQTCAServiceClientApp::InitInstance(int argc, const char* const* argv) {
    zqt::CommandLine line = zqt::ParseCommandLine(argc, argv);
    if (auto status = zqt::RunCommandLineAction(line, std::cout, std::cerr)) {
        return *status;
    }
    std::setlocale(LC_ALL, "");
    zqt::SingleInstanceGuard guard;
    if (!guard.Acquire()) {
        return 0;  // another instance serves: end at once, silently
    }
    CZQTCAServiceClientDlg dlg;
    return dlg.DoModal();
}
