#pragma once
// CMS SignedData, attached and detached: RSA and EC through OpenSSL's CMS
// (token keys included), SM2 with SM3 and the GM id built around OpenSSL
// 3.0's gaps; and verification of all three.

#include <string>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "crypto/Algorithms.h"
#include "crypto/Trust.h"

namespace ref {

// DER ContentInfo with the signer certificate (and chain, if given) and a
// signingTime attribute. detached: the content is not included. Throws Failure.
Bytes CmsSign(EVP_PKEY* key, X509* signer, STACK_OF(X509) * chain, ByteView content, bool detached,
              Hash hash);

struct CmsVerification {
    int32_t code = 0;     // kOk, kBadSignature, kUntrusted, kExpired, kMalformed
    std::string message;  // "OK" or the cause
    Bytes content;        // the signed content (attached: from inside; detached: as given)
    X509Ptr signer;       // the signer certificate, when found
};

// Verifies a DER (or Base64-decoded) SignedData. detachedContent: nullptr
// for attached signatures. checkChain false skips the trust check but not
// the validity period.
CmsVerification CmsVerify(ByteView cms, const Bytes* detachedContent, TrustStore& trust,
                          bool checkChain);

}  // namespace ref
