#pragma once
// Scratch folders, files and certificates made in C for the store and
// inventory tests (for what the openssl command line cannot set: back-dated
// validity, odd key usages, hand-built PKCS#12 bag layouts).

#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "inventory/Inventory.h"
#include "support/TestPki.h"

// A folder removed with everything in it when the test ends.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs a shell command that must succeed; its output. Throws otherwise.
std::string Sh(const std::string& command);

ref::Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, ref::ByteView bytes);
ref::EvpPkeyPtr LoadKey(const std::string& pemPath);
ref::X509Ptr LoadCert(const std::string& pemOrDerPath);
std::string PemOf(X509* cert);

struct MadeCert {
    ref::EvpPkeyPtr key;
    ref::X509Ptr cert;
};

struct CertRecipe {
    std::string cn = "leaf";
    std::string org = "";        // O= when not empty
    std::string keyType = "EC";  // "EC" (P-256) or "RSA" (2048 bits)
    std::string serialHex = "01";
    long notBeforeDays = -1;  // relative to now
    long notAfterDays = 30;
    std::string keyUsage = "critical,digitalSignature";  // "" for no keyUsage extension
    bool ca = false;
    const MadeCert* issuer = nullptr;  // null: self-signed
};

MadeCert MakeCert(const CertRecipe& recipe);

// A PKCS#12 built bag by bag: the certificates in this order, unencrypted;
// the key (if any) shrouded with AES-256, its localKeyID that of keyIdOf;
// that certificate carries the same localKeyID. SHA-256 MAC.
ref::Bytes BuildPfx(const std::vector<X509*>& certs, EVP_PKEY* key, X509* keyIdOf,
                    const std::string& password);

// Upper-case hex SHA-1 of a certificate, as a page passes a thumbprint.
std::string Sha1Hex(X509* cert);

// Criteria by field, e.g. Crit({{kSerial, "0a:bc"}, {kUsage, "sign"}}).
inline constexpr auto kSerial = &ref::Criteria::serial;
inline constexpr auto kIssuer = &ref::Criteria::issuer;
inline constexpr auto kSubject = &ref::Criteria::subject;
inline constexpr auto kUsage = &ref::Criteria::usage;
inline constexpr auto kAlgorithm = &ref::Criteria::algorithm;
inline constexpr auto kThumbprint = &ref::Criteria::thumbprint;
inline constexpr auto kToken = &ref::Criteria::token;
using CriteriaField = std::pair<std::string ref::Criteria::*, std::string>;
ref::Criteria Crit(std::initializer_list<CriteriaField> fields);
