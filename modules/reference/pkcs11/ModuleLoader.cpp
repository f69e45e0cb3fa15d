#include "pkcs11/ModuleLoader.h"

#include <p11-kit/p11-kit.h>

#include <algorithm>
#include <cstdlib>

#include "pkcs11/TokenSession.h"

namespace ref {

namespace {

std::string LastP11KitMessage(const std::string& fallback) {
    const char* message = p11_kit_message();
    return message != nullptr && *message != '\0' ? std::string(message) : fallback;
}

void FinalizeList(void* list) {
    p11_kit_modules_finalize_and_release(static_cast<CK_FUNCTION_LIST**>(list));
}

void FinalizeOne(void* module) {
    auto* fn = static_cast<CK_FUNCTION_LIST*>(module);
    p11_kit_module_finalize(fn);
    p11_kit_module_release(fn);
}

}  // namespace

LoadedModules LoadRegisteredModules() {
    LoadedModules loaded;
    // Modules that fail to initialise are left out of the list by p11-kit.
    CK_FUNCTION_LIST** list = p11_kit_modules_load_and_initialize(0);
    if (list == nullptr) {
        loaded.problems.emplace_back("p11-kit",
                                     LastP11KitMessage("the registered modules did not load"));
        return loaded;
    }
    // One owner for the whole list: p11-kit finalises and releases it as a
    // whole, when the registry and every session on it are done.
    std::shared_ptr<void> owner(list, FinalizeList);
    for (CK_FUNCTION_LIST** entry = list; *entry != nullptr; ++entry) {
        // The trust module's "System Trust" token holds the root store, not
        // the user's keys.
        if (p11_kit_module_get_flags(*entry) & P11_KIT_MODULE_TRUSTED) {
            continue;
        }
        char* name = p11_kit_module_get_name(*entry);
        loaded.modules.push_back(P11Module{name != nullptr ? name : "(unnamed)", *entry, owner});
        std::free(name);
    }
    return loaded;
}

LoadedModules LoadModules(const std::vector<std::string>& paths) {
    LoadedModules loaded;
    std::vector<std::string> seen;
    for (const std::string& path : paths) {
        // The same module twice would list each of its tokens twice.
        if (path.empty() || std::find(seen.begin(), seen.end(), path) != seen.end()) {
            continue;
        }
        seen.push_back(path);
        CK_FUNCTION_LIST* fn = p11_kit_module_load(path.c_str(), 0);
        if (fn == nullptr) {
            loaded.problems.emplace_back(path, LastP11KitMessage("it cannot be loaded"));
            continue;
        }
        CK_RV rv = p11_kit_module_initialize(fn);
        if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
            loaded.problems.emplace_back(path, "C_Initialize: " + CkrName(rv));
            p11_kit_module_release(fn);
            continue;
        }
        loaded.modules.push_back(P11Module{path, fn, std::shared_ptr<void>(fn, FinalizeOne)});
    }
    return loaded;
}

}  // namespace ref
