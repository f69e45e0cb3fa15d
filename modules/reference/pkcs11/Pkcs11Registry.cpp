#include "pkcs11/Pkcs11Registry.h"

#include <functional>
#include <mutex>
#include <utility>

#include "pkcs11/ModuleLoader.h"
#include "pkcs11/P11Errors.h"
#include "pkcs11/P11Session.h"
#include "pkcs11/TokenCertificates.h"

namespace ref {

struct Pkcs11Registry::Impl {
    std::vector<std::string> overrides;
    bool discover = true;

    std::mutex mutex;  // guards what follows
    bool loaded = false;
    LoadedModules modules;

    // The modules as they are now, loaded on first use. The copies keep
    // the modules alive while the caller uses them, even across a Reload.
    std::vector<P11Module> Snapshot() {
        std::lock_guard lock(mutex);
        if (!loaded) {
            modules =
                overrides.empty() && discover ? LoadRegisteredModules() : LoadModules(overrides);
            loaded = true;
        }
        return modules.modules;
    }

    std::string ProblemsWith(const std::string& module) {
        std::lock_guard lock(mutex);
        std::string text;
        for (const auto& [name, reason] : modules.problems) {
            if (name == module || module.empty()) {
                text += "; module " + name + " not loaded: " + reason;
            }
        }
        return text;
    }

    void Unload() {
        std::lock_guard lock(mutex);
        // Modules still used by open sessions finalise when those close.
        modules = LoadedModules();
        loaded = false;
    }
};

namespace {

using TokenVisitor =
    std::function<void(const P11Module&, CK_SLOT_ID, const CK_TOKEN_INFO&, const TokenInfo&)>;

// Every initialised token present now. Slot ids are read afresh each time
// and never leave this walk.
void ForEachToken(const std::vector<P11Module>& modules, const TokenVisitor& visit) {
    for (const P11Module& module : modules) {
        std::vector<CK_SLOT_ID> slots;
        if (PresentSlots(module.fn, slots) != CKR_OK) {
            continue;  // one failing module must not hide the others
        }
        for (CK_SLOT_ID slot : slots) {
            CK_TOKEN_INFO info{};
            if (module.fn->C_GetTokenInfo(slot, &info) != CKR_OK ||
                (info.flags & CKF_TOKEN_INITIALIZED) == 0) {
                continue;
            }
            visit(module, slot, info, MakeTokenInfo(module.name, info));
        }
    }
}

}  // namespace

Pkcs11Registry::Pkcs11Registry(std::vector<std::string> overrideModules, bool discover)
    : impl_(std::make_unique<Impl>()) {
    impl_->overrides = std::move(overrideModules);
    impl_->discover = discover;
}

Pkcs11Registry::~Pkcs11Registry() {
    impl_->Unload();
}

void Pkcs11Registry::Reload() {
    impl_->Unload();
}

std::vector<TokenInfo> Pkcs11Registry::Tokens() {
    std::vector<TokenInfo> tokens;
    ForEachToken(impl_->Snapshot(), [&](const P11Module&, CK_SLOT_ID, const CK_TOKEN_INFO&,
                                        const TokenInfo& token) { tokens.push_back(token); });
    return tokens;
}

std::vector<TokenCertificate> Pkcs11Registry::Certificates() {
    std::vector<TokenCertificate> certificates;
    ForEachToken(impl_->Snapshot(), [&](const P11Module& module, CK_SLOT_ID slot,
                                        const CK_TOKEN_INFO&, const TokenInfo& token) {
        ReadTokenCertificates(module.fn, slot, token, certificates);
    });
    return certificates;
}

std::unique_ptr<TokenSession> Pkcs11Registry::Open(const TokenInfo& token, Access access) {
    std::unique_ptr<TokenSession> session;
    ForEachToken(impl_->Snapshot(), [&](const P11Module& module, CK_SLOT_ID slot,
                                        const CK_TOKEN_INFO&, const TokenInfo& found) {
        if (session || module.name != token.module || found.serial != token.serial ||
            found.label != token.label) {
            return;
        }
        CK_SESSION_HANDLE handle = CK_INVALID_HANDLE;
        CK_FLAGS flags = CKF_SERIAL_SESSION;
        if (access == Access::kReadWrite) {
            flags |= CKF_RW_SESSION;
        }
        CK_RV rv = module.fn->C_OpenSession(slot, flags, nullptr, nullptr, &handle);
        if (rv != CKR_OK) {
            throw CkrFailure("C_OpenSession", rv, token);
        }
        session = std::make_unique<P11Session>(
            std::make_shared<SessionCore>(module, slot, handle, found));
    });
    if (!session) {
        Fail(kNoToken, NotPresentMessage(token) + impl_->ProblemsWith(token.module));
    }
    return session;
}

std::string Pkcs11Registry::LibraryVersion() {
#ifdef ZQT_P11KIT_VERSION
    return std::string("p11-kit ") + ZQT_P11KIT_VERSION;
#else
    // p11-kit's headers carry no version; the build passes pkg-config's.
    return "p11-kit";
#endif
}

}  // namespace ref
