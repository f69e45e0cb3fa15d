#pragma once
// Public-key encryption of short data: SM2 (ciphertext as DER
// SEQUENCE{x, y, C3, C2}, OpenSSL's form) and RSA (PKCS#1 v1.5 or OAEP with
// SHA-256 and MGF1-SHA-256).

#include <openssl/evp.h>

#include <optional>

#include "core/Bytes.h"

namespace ref {

// Throws Failure: kBadParam (empty data), kKeyType (not an SM2 key).
Bytes Sm2Encrypt(EVP_PKEY* publicKey, ByteView data);

// Accepts the DER form and the fixed-length form 04 || x || y || C3 || C2
// (GM/T 0003 with C1C3C2 order). Throws Failure: kMalformed (neither form),
// kDecrypt (wrong key or damaged: C3 does not match), kKeyType.
Bytes Sm2Decrypt(EVP_PKEY* key, ByteView ciphertext);

// 04 || x(32) || y(32) || C3(32) || C2 as DER; nullopt when it is not that form.
std::optional<Bytes> Sm2RawToDer(ByteView raw);

// The most bytes one RSA block carries with this key and padding
// (k - 11, or k - 66 for OAEP with SHA-256).
size_t RsaCapacity(EVP_PKEY* key, bool oaep);

// Throws Failure: kBadParam (empty or longer than RsaCapacity), kKeyType.
Bytes RsaEncrypt(EVP_PKEY* publicKey, ByteView data, bool oaep);

// Throws Failure: kMalformed (not k bytes), kDecrypt, kKeyType.
Bytes RsaDecrypt(EVP_PKEY* key, ByteView ciphertext, bool oaep);

}  // namespace ref
