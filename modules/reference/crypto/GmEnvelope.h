#pragma once
// GM/T 0010 envelopes: the EnvelopedData of PKCS#7 with an SM2 recipient
// (sm2encrypt) and SM4-CBC, but under GM/T 0010's own content types
// (1.2.156.10197.6.1.4.2.3 envelopedData around 1.2.156.10197.6.1.4.2.1
// data), which OpenSSL's CMS cannot emit or read by itself.

#include <openssl/x509.h>

#include <vector>

#include "core/Bytes.h"

namespace ref {

// DER of a GM/T 0010 envelope for the SM2 recipients. Throws Failure:
// kKeyType (a recipient that is not SM2), kBadParam (none).
Bytes GmEnvelopeEncrypt(const std::vector<X509*>& recipients, ByteView content);

// The same envelope under PKCS#7's envelopedData type, which OpenSSL's CMS
// opens (the inner content type stays GM/T 0010's). Throws Failure
// (kMalformed) when it is not a GM/T 0010 envelope.
Bytes GmEnvelopeAsCms(ByteView gm);

}  // namespace ref
