#pragma once
// One certificate the user holds, on a token or in the software store.

#include <memory>
#include <string>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "pkcs11/Pkcs11Registry.h"

namespace ref {

enum class Source { kToken, kSoft };

using X509Shared = std::shared_ptr<X509>;
X509Shared ShareCertificate(X509Ptr cert);  // takes ownership
X509Shared ShareCertificate(X509* cert);    // adds a reference

struct CertEntry {
    Source source = Source::kSoft;
    X509Shared cert;
    Bytes der;
    // kToken: the token and the CKA_ID of the key pair.
    TokenInfo token;
    Bytes keyId;
    // kSoft: the PKCS#12 file.
    std::string path;
    // Whether a private key goes with the certificate, as far as can be seen
    // without logging in.
    bool hasKey = false;
};

}  // namespace ref
