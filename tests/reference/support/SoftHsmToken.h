#pragma once
// A SoftHSM2 token in a scratch folder: SOFTHSM2_CONF points at its own
// configuration, so no system token is touched. Identities of TestPki are
// imported with pkcs11-tool as a certificate, public key and private key
// sharing one CKA_ID.

#include <string>

#include "support/TestPki.h"

class SoftHsmToken {
  public:
    static constexpr const char* kModule = "/usr/lib/softhsm/libsofthsm2.so";
    static constexpr const char* kPin = "123456";
    static constexpr const char* kSoPin = "87654321";

    // Makes the folder and its configuration, sets SOFTHSM2_CONF, and
    // initialises a token with this label.
    SoftHsmToken(const std::string& dir, const std::string& label);

    const std::string& label() const { return label_; }
    std::string Serial() const;  // the token's serial, as C_GetTokenInfo reports it

    // Imports key, certificate (and public key) under CKA_ID idHex, with the
    // given CKA_LABEL. usage: extra pkcs11-tool usage flags (e.g.
    // "--usage-sign --usage-decrypt --usage-derive").
    void Import(const TestIdentity& identity, const std::string& idHex, const std::string& label,
                const std::string& usage = "--usage-sign --usage-decrypt");
    // Only the certificate, or only the key pair.
    void ImportCertificateOnly(const TestIdentity& identity, const std::string& idHex);
    void ImportKeyOnly(const TestIdentity& identity, const std::string& idHex);

    // Removes the token (as if pulled).
    void Delete();

    // The pkcs11-tool command prefix for this token, logged in.
    std::string ToolPrefix() const;

  private:
    std::string dir_;
    std::string label_;
};
