#pragma once
// Information lines at start-up, so that a log shows which modules this run
// uses and whether USB keys are watched.

#include <string>

namespace zqt {

// Where a module or side library of this name is loaded from, as the
// service would load it; empty when it is not found.
std::string ModuleLocation(const char* fileName);

// One line for each control module and for the list library.
void ReportLoadedModules();

// On, or off with the reason (an errno value, 0 when none is known).
void ReportUsbWatcher(bool on, int error);

}  // namespace zqt
