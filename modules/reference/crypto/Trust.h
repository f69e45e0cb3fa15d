#pragma once
// Trust anchors for verification: the system's bundle plus the user's own
// folder of PEM files (where SM2 roots go).

#include <string>

#include "core/Config.h"
#include "core/Ossl.h"

namespace ref {

class TrustStore {
  public:
    explicit TrustStore(const Config& config);

    // Checks a certificate now: kOk, kExpired (it or a chain member is out of
    // its validity), kUntrusted (no path to an anchor); with checkChain
    // false only the validity period is checked. SM2 certificates get the
    // GM id first. untrusted: further certificates that may complete the chain.
    int32_t Check(X509* cert, STACK_OF(X509) * untrusted, bool checkChain, std::string& message);

    // The store, loaded on first use; reloaded by Reload().
    X509_STORE* store();
    void Reload();

  private:
    const Config& config_;
    X509StorePtr store_;
};

}  // namespace ref
