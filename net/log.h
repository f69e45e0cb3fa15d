#pragma once
// The library's log is the process's diagnostic log in support/, which the
// controls share; the network code keeps calling it net::log.

#include "support/DiagnosticLog.h"

namespace net {
using log = zqt::log;
}  // namespace net
