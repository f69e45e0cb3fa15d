#pragma once
// An encryption key made by the CA and sent with its certificate: a CMS
// EnvelopedData for the new signing certificate whose content is the
// PKCS#8 private key (DER or PEM).

#include <string_view>

#include "core/Bytes.h"
#include "core/Ossl.h"

namespace ref {

// The DER envelope. Throws Failure(kUnsupported) for anything that is not a
// CMS EnvelopedData (such as a vendor's key blob).
Bytes EncKeyEnvelope(std::string_view text);

// Opens the envelope with the signing key and returns the key inside.
// Throws Failure: kDecrypt (not for this certificate), kMalformed (no
// PKCS#8 key inside), kNoKey (the key is not encCert's).
EvpPkeyPtr OpenEncKey(ByteView envelope, EVP_PKEY* signKey, X509* signCert, X509* encCert);

}  // namespace ref
