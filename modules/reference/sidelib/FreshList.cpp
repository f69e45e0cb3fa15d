#include "sidelib/FreshList.h"

#include <openssl/err.h>

#include <chrono>

#include "core/Config.h"

namespace ref {
namespace {

// The host waits for the list on its window's thread, so enumeration stops
// taking in further sources past this point. A single PKCS#11 call that
// blocks cannot be cut short from here: abandoning it on another thread
// would leave that thread running in code the host is about to unload.
constexpr std::chrono::seconds kListTimeBudget{5};

}  // namespace

std::string FreshList(ListForm form) noexcept {
    try {
        const Config config = LoadConfig();
        // Ours alone; finalised as it goes out of scope, before the host may
        // unload this library.
        Pkcs11Registry tokens(config.pkcs11Modules, config.pkcs11Discover);
        const SoftStore store(config.storeDir);
        const ListSources sources{tokens, store, config.sealDir,
                                  std::chrono::steady_clock::now() + kListTimeBudget};
        return BuildCertSealList(sources, form);
    } catch (...) {
        ERR_clear_error();
        return {};
    }
}

}  // namespace ref
