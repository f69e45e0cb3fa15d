#pragma once
// The PKCS#11 tokens of the machine: modules registered with p11-kit (trust
// modules skipped), or the modules named in ZQT_PKCS11_MODULES instead.
// Tokens are found by module, serial and label, never by slot number, so a
// token that was pulled and plugged back is found again.

#include <memory>
#include <string>
#include <vector>

#include "core/Bytes.h"

namespace ref {

class TokenSession;

struct TokenInfo {
    std::string module;  // p11-kit's module name, or the path of an override module
    std::string label;   // CK_TOKEN_INFO fields, blank padding removed
    std::string serial;
    std::string model;
    std::string manufacturer;
    bool pinpad = false;        // CKF_PROTECTED_AUTHENTICATION_PATH: the reader asks
    bool loginRequired = true;  // CKF_LOGIN_REQUIRED
    bool writable = true;       // not CKF_WRITE_PROTECTED
};

// A certificate object on a token, read without login.
struct TokenCertificate {
    TokenInfo token;
    Bytes id;                 // CKA_ID, shared with its key pair
    std::string label;        // CKA_LABEL
    Bytes der;                // CKA_VALUE
    bool keyVisible = false;  // a private or public key object with the same CKA_ID is visible
};

class Pkcs11Registry {
  public:
    // overrideModules: paths loaded instead of p11-kit's registry. An empty
    // list means the registry when discover is true, and no module at all
    // when it is false (the override was set, but to nothing). Loading
    // happens on first use, not here.
    explicit Pkcs11Registry(std::vector<std::string> overrideModules, bool discover = true);
    ~Pkcs11Registry();
    Pkcs11Registry(const Pkcs11Registry&) = delete;
    Pkcs11Registry& operator=(const Pkcs11Registry&) = delete;

    // Finalizes and unloads every module; the next use loads them afresh.
    void Reload();

    // Initialised tokens present now, in module and slot order.
    std::vector<TokenInfo> Tokens();

    // The certificates on every present token, without login.
    std::vector<TokenCertificate> Certificates();

    enum class Access { kReadOnly, kReadWrite };

    // A session on the token with this module, serial and label; throws
    // Failure(kNoToken) when it is not present.
    std::unique_ptr<TokenSession> Open(const TokenInfo& token, Access access = Access::kReadOnly);

    // The versions for GetKRVVersion, e.g. "p11-kit 0.24.1".
    static std::string LibraryVersion();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ref
