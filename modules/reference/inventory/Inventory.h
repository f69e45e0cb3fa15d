#pragma once
// What the user holds, re-read at each use so that a pulled token is gone
// at once; and the choice among it that SetCert/SetCertEx/SetCertChooseType
// describe.

#include <string>
#include <string_view>
#include <vector>

#include "core/Config.h"
#include "inventory/CertEntry.h"
#include "pkcs11/Pkcs11Registry.h"
#include "store/SoftStore.h"

namespace ref {

// SetCertChooseType: 0 all stores, 1 tokens only, 2 software store only;
// +16 also offers expired (and not yet valid) certificates.
struct StoreFilter {
    bool tokens = true;
    bool soft = true;
    bool includeExpired = false;
};
// nullopt-like: false when t is not one of 0, 1, 2, 16, 17, 18.
bool ParseStoreFilter(int32_t t, StoreFilter& out);

// SetCert (p1..p6) and SetCertEx (p7); "" matches anything.
struct Criteria {
    std::string serial;      // hex, compared by value
    std::string issuer;      // issuer DN contains (case-insensitive)
    std::string subject;     // subject DN or CN contains (case-insensitive)
    std::string usage;       // "sign" or "enc"
    std::string algorithm;   // "RSA", "EC" or "SM2"
    std::string thumbprint;  // SHA-1, 40 hex digits
    std::string token;       // token serial or label
};
// kBadParam when usage or algorithm is not one of the words above, or the
// serial/thumbprint is not hex.
int32_t CheckCriteria(const Criteria& criteria, std::string& message);

class Inventory {
  public:
    Inventory(Pkcs11Registry& tokens, const SoftStore& store) : tokens_(tokens), store_(store) {}

    // Every certificate the filter lets through, tokens first.
    std::vector<CertEntry> Scan(const StoreFilter& filter);

    // The entries that match the criteria and have a private key, best
    // first: valid now before not, then the latest notBefore.
    std::vector<CertEntry> Match(const StoreFilter& filter, const Criteria& criteria);

    // A certificate parameter of a method that uses a private key:
    //  "" -> the entry the criteria choose (-4 when none was chosen or it is gone),
    //  a serial (hex, ':' allowed), a SHA-1 thumbprint, a PKCS#11 URI (with id=),
    //  or a certificate (Base64 DER or PEM) that the user holds.
    // Throws Failure: kNotFound (none, or a serial matching two), kNoKey
    // (found without its private key), kNoToken (its token is gone).
    CertEntry ResolveSigner(const StoreFilter& filter, const Criteria& criteria,
                            std::string_view sel);

    // A certificate parameter of a method that needs only a public key: a
    // certificate itself (Base64 DER or PEM), else as ResolveSigner without
    // the private-key requirement.
    X509Shared ResolveCertificate(const StoreFilter& filter, const Criteria& criteria,
                                  std::string_view sel);

  private:
    Pkcs11Registry& tokens_;
    const SoftStore& store_;
};

// Matching helpers, shared with the list and enrolment code.
bool SerialMatches(X509* cert, std::string_view serialText);
bool ThumbprintMatches(ByteView der, std::string_view sha1Hex);
bool LooksLikeCertificate(std::string_view sel);

}  // namespace ref
