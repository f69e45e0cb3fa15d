#pragma once
// A private key made usable for one operation, with the user's consent:
// the token's PIN or the PKCS#12 password is asked through pinentry, used
// once and wiped. The token session stays logged in while the key lives.

#include <memory>
#include <string>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "inventory/CertEntry.h"
#include "pkcs11/TokenSession.h"

namespace ref {

class MainControl;

class UnlockedKey {
  public:
    UnlockedKey(CertEntry entry, std::unique_ptr<TokenSession> session, EvpPkeyPtr key,
                X509StackPtr chain);
    ~UnlockedKey();

    EVP_PKEY* key() const { return key_.get(); }
    X509* cert() const { return entry_.cert.get(); }
    STACK_OF(X509) * chain() const { return chain_.get(); }
    const CertEntry& entry() const { return entry_; }

    // After an OpenSSL call with a token key failed: throws what the token
    // answered (a pulled token, a refused mechanism), if it answered anything.
    void ThrowTokenFailure(const char* operation) const {
        if (session_)
            session_->ThrowIfFailed(operation);
    }

  private:
    CertEntry entry_;
    std::unique_ptr<TokenSession> session_;  // declared before key_: the key goes first
    EvpPkeyPtr key_;
    X509StackPtr chain_;
};

// Runs an operation with the key; a failure the token caused is reported as
// the token's, not as OpenSSL's generic one.
template <typename Operation>
auto WithKey(const UnlockedKey& key, const char* name, Operation&& operation) {
    try {
        return operation();
    } catch (const Failure&) {
        key.ThrowTokenFailure(name);
        throw;
    }
}

// Unlocks the key of entry for the operation named (e.g. "Sign data"),
// asking exactly once, or not at all when the control's signing window
// holds this key. Throws Failure: kCancelled, kBadPin, kPinLocked, kNoKey,
// kNoToken, kUnsupported (an SM2 key on a token).
std::shared_ptr<UnlockedKey> UnlockKey(MainControl& control, const CertEntry& entry,
                                       const std::string& operation);

// The text of the prompt: who asks (the page's origin, see Asker), the
// operation, subject, serial and where the key is.
std::string PromptDescription(const std::string& caller, const CertEntry& entry,
                              const std::string& operation);

}  // namespace ref
