#pragma once
// The spinning mutex lives in support/ so that the log below this library can
// use it; the network code keeps its own name for it.

#include "support/AdaptiveMutex.h"

namespace net {
using adaptive_mutex = zqt::adaptive_mutex;
}  // namespace net
