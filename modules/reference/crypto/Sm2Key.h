#pragma once
// SM2 keys and the contexts that carry the distinguishing id.

#include <openssl/evp.h>

#include <string_view>

#include "core/Ossl.h"

namespace ref {

// The key as an SM2 key OpenSSL signs and verifies with SM2 rules.
// - A provider key of type SM2 (what 3.0 makes of SM2 PEM, PKCS#12 and
//   certificates) is shared, a reference taken.
// - A provider EC key on the SM2 curve (made by generating an "EC" key on
//   it) is made anew as SM2 from its parameters: 3.0 signs it as ECDSA and
//   cannot retype it (EVP_PKEY_set_alias_type is gone; EC import refuses
//   the curve, SM2 import takes it).
// - A legacy EC_KEY on the SM2 curve (EVP_PKEY_assign_EC_KEY makes it type
//   SM2) is made anew the same way when its private half can be exported,
//   because 3.0's CMS code cannot sign with it; a token key whose private
//   half stays on the token is kept as it is (EVP signing works with it).
// Throws Failure(kKeyType) for other keys or when the key cannot be exported.
EvpPkeyPtr AsSm2Key(EVP_PKEY* key);

// A legacy (EVP_PKEY_assign_*) SM2 key rather than a provider one.
bool IsLegacySm2Key(const EVP_PKEY* key);

// A context for an SM2 key with the id set, for EVP_PKEY_sign/verify or to
// hand to an EVP_MD_CTX (EVP_MD_CTX_set_pkey_ctx) before DigestSign/Verify.
EvpPkeyCtxPtr Sm2Context(EVP_PKEY* sm2Key, std::string_view id);

}  // namespace ref
