#pragma once
// The certificate request a new key pair goes to its CA with.

#include <openssl/x509.h>

#include <memory>
#include <string_view>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "pkcs11/TokenKeyPair.h"

namespace ref {

using X509NamePtr = std::unique_ptr<X509_NAME, OsslDeleter<X509_NAME, X509_NAME_free>>;

// An RFC 4514 name ("CN=Zhang San,O=Example", most specific first; '\'
// escapes and \XX hex pairs; '+' joins a multi-valued RDN) as the subject
// to put in a request. Throws Failure(kBadParam) when it is not one.
X509NamePtr ParseSubject(std::string_view text);

// DER PKCS#10 for key (whose private half may live on a token), signed with
// SHA-256, or SM3 with the GM id for SM2. It asks for keyUsage
// digitalSignature,nonRepudiation (signing) or keyEncipherment (RSA, SM2) /
// keyAgreement (EC) for encryption. Throws Failure: kInternal, or whatever
// the caller's token reports through its session afterwards.
Bytes MakeRequest(EVP_PKEY* key, const X509_NAME* subject, KeyRole role);

}  // namespace ref
