#pragma once
// Signatures over data or a ready digest, without a container.

#include <openssl/evp.h>

#include <string_view>

#include "core/Bytes.h"
#include "crypto/Algorithms.h"

namespace ref {

enum class SigForm {
    kDer,  // RSA: PKCS#1 v1.5 block; EC/SM2: DER SEQUENCE {r, s}
    kRs,   // EC/SM2: fixed-length r || s (RSA ignores it)
};

// RSA PKCS#1 v1.5 over hash(data); ECDSA over hash(data); SM2 with SM3 over
// Z(id) || data (the hash argument is ignored for SM2). Throws Failure
// (kKeyType for other keys, the token's code when a token key fails).
Bytes SignData(EVP_PKEY* key, Hash hash, ByteView data, SigForm form,
               std::string_view sm2Id = kGmSm2Id);

// Signs a digest of the given hash: RSA with DigestInfo, ECDSA on the digest.
// Throws Failure: kBadParam when the digest's length does not fit the hash,
// kKeyType for SM2 keys.
Bytes SignDigest(EVP_PKEY* key, Hash hash, ByteView digest, SigForm form);

// SM2 over a ready e = SM3(Z || M) (32 bytes): r || s. kKeyType for non-SM2.
Bytes Sm2SignDigest(EVP_PKEY* key, ByteView e);

// Verifies with a public key: RSA takes the hash named in the signature's
// own DigestInfo (so a signature of any supported hash verifies); EC and SM2
// accept DER or r || s. Returns kOk, kBadSignature, or kMalformed when the
// signature cannot be a signature of this key at all.
int32_t VerifyData(EVP_PKEY* publicKey, Hash hash, ByteView data, ByteView signature,
                   std::string_view sm2Id = kGmSm2Id);

// r || s <-> DER SEQUENCE {r, s}; half = the byte length of r (32 for P-256/SM2).
Bytes EcDerToRs(ByteView der, size_t half);  // Failure(kMalformed)
Bytes EcRsToDer(ByteView rs);                // Failure(kMalformed)
size_t EcHalfSize(EVP_PKEY* key);

}  // namespace ref
