#pragma once
// What the PKCS#11 suites share: a SoftHSM token in a scratch folder with
// the test identities on it, a registry over exactly that module, and the
// openssl command line as the independent check of what the token made.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "core/Outcome.h"
#include "pkcs11/Pkcs11Registry.h"
#include "pkcs11/TokenSession.h"
#include "support/SoftHsmToken.h"
#include "support/TestPki.h"

// CKA_IDs of the objects the suites import.
inline const ref::Bytes kRsaId{0x01};
inline const ref::Bytes kEcId{0x02};
inline const ref::Bytes kCertOnlyId{0x03};
inline const ref::Bytes kAlwaysAuthId{0x04};
inline const ref::Bytes kEcNoDeriveId{0x05};

// A token made once per suite: folder, token, registry, all removed at the end.
class TokenTestBed {
  public:
    // import fills the token (it gets the fresh token).
    TokenTestBed(const std::string& label, const std::function<void(SoftHsmToken&)>& import);
    ~TokenTestBed();

    SoftHsmToken& token() { return *token_; }
    ref::Pkcs11Registry& registry() { return *registry_; }
    const std::string& dir() const { return dir_; }
    // The token as the registry lists it (module, label, serial).
    ref::TokenInfo info() const;

    // A session on the token, logged in with the right PIN.
    std::unique_ptr<ref::TokenSession> LoggedIn();

  private:
    std::string dir_;
    std::unique_ptr<SoftHsmToken> token_;
    std::unique_ptr<ref::Pkcs11Registry> registry_;
    std::string serial_;
};

const TestPki& Pki();
ref::X509Ptr LoadCertificate(const TestIdentity& identity);
ref::Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, ref::ByteView bytes);

// Runs body and returns the Failure it threw; fails the test if none.
ref::Failure CatchFailure(const std::function<void()>& body);
