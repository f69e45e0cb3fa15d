#pragma once
// The kinds of key a page may ask for, software keys of those kinds, and
// the id a key pair is known by.

#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "core/Ossl.h"

namespace ref {

enum class KeySpec { kRsa2048, kRsa3072, kEc256, kSm2 };

// "RSA2048", "RSA3072", "EC256", "SM2" in any case; nullopt otherwise.
std::optional<KeySpec> ParseKeySpec(std::string_view text);
const char* KeySpecName(KeySpec keySpec);

// A new software key pair. Throws Failure(kInternal).
EvpPkeyPtr GenerateSoftKey(KeySpec keySpec);

// SHA-1 of the public key's bits (the subjectPublicKey of its
// SubjectPublicKeyInfo, as a subject key identifier is made): the CKA_ID of
// the pair and the name of a pending file.
Bytes KeyId(EVP_PKEY* key);

// DER SubjectPublicKeyInfo, and back.
Bytes PublicKeyDer(EVP_PKEY* key);
EvpPkeyPtr ParsePublicKeyDer(ByteView der);

// Lower-case hex, as file names are written.
std::string LowerHex(ByteView bytes);

// Whether both keys have the same public half.
bool SamePublicKey(EVP_PKEY* a, EVP_PKEY* b);

}  // namespace ref
