#pragma once
// Loading and initialising PKCS#11 modules through p11-kit, as managed
// modules: other users of p11-kit in the process (the side library, say)
// keep their own sessions and are not finalised by us.

#include <string>
#include <utility>
#include <vector>

#include "pkcs11/P11Util.h"

namespace ref {

struct LoadedModules {
    std::vector<P11Module> modules;
    // Modules that could not be used, with the reason, for messages.
    std::vector<std::pair<std::string, std::string>> problems;
};

// The modules registered with p11-kit, trust modules left out.
LoadedModules LoadRegisteredModules();

// Exactly these module files; one that fails to load is skipped.
LoadedModules LoadModules(const std::vector<std::string>& paths);

}  // namespace ref
