#pragma once
// SM2 in CMS SignedData, which OpenSSL 3.0's CMS code cannot do by itself:
// it leaves an SM2 signer's signatureAlgorithm empty and signs and verifies
// with an empty distinguishing id.

#include <openssl/cms.h>

#include <string_view>

#include "crypto/Algorithms.h"

namespace ref {

// Adds an SM2/SM3 signer to a CMS made with CMS_PARTIAL, with the
// signatureAlgorithm SM2-with-SM3 and the id on its signing context; the
// signature is made by CMS_final. Throws Failure.
CMS_SignerInfo* AddSm2Signer(CMS_ContentInfo* cms, X509* signer, EVP_PKEY* sm2Key,
                             unsigned int flags, std::string_view id = kGmSm2Id);

// Whether a signer's signatureAlgorithm is one of the two SM2 signature
// OIDs (1.2.156.10197.1.501 SM2-with-SM3, 1.2.156.10197.1.301.1 sm2sign).
bool IsSm2SignatureAlgorithm(CMS_SignerInfo* signerInfo);

// Checks an SM2 signer's signature over its signed attributes (re-encoded
// as the SET they were signed as) with the signer certificate's key and the
// id. The content's messageDigest is CMS_verify's part. kOk, kBadSignature.
int32_t VerifySm2SignedAttributes(CMS_SignerInfo* signerInfo, std::string_view id = kGmSm2Id);

}  // namespace ref
