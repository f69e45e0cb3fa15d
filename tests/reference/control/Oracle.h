#pragma once
// The openssl command line as an independent judge of what the module made.

#include <string>

#include "support/TestPki.h"

class Oracle {
  public:
    explicit Oracle(std::string dir) : dir_(std::move(dir)) {}

    // openssl dgst -<hash> -verify on a raw RSA/ECDSA signature (DER form).
    bool VerifyRaw(const TestIdentity& signer, const std::string& hash, const std::string& data,
                   const std::string& signatureBase64) const;
    // openssl pkeyutl -verify with SM3 and the GM id (DER signature).
    bool VerifySm2(const TestIdentity& signer, const std::string& data,
                   const std::string& signatureBase64, const std::string& id) const;
    // The same for a ready digest e (no Z computed).
    bool VerifySm2Digest(const TestIdentity& signer, const std::string& digest,
                         const std::string& signatureBase64) const;
    // openssl cms -verify; returns the content on success, nullopt-like "\x01FAIL" otherwise.
    std::string VerifyCms(const std::string& caCert, const std::string& cmsBase64,
                          const std::string* detachedContent) const;
    // SM2 CMS, which openssl 3.0's cms command cannot check with the GM id:
    // the signed attributes are taken apart with asn1crypto and checked with
    // openssl pkeyutl; the message digest against SM3 of the content.
    bool VerifySm2Cms(const TestIdentity& signer, const std::string& cmsBase64,
                      const std::string* detachedContent) const;

    // r || s (64 bytes) to DER, for the oracles.
    static std::string RsToDer(const std::string& rs);

    static constexpr const char* kFailed =
        "\x01"
        "FAIL";

  private:
    std::string Write(const std::string& name, const std::string& bytes) const;
    std::string PublicKey(const TestIdentity& signer) const;
    std::string dir_;
};
