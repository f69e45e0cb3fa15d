#pragma once
// Hashes, key kinds and the SM2 profile shared by signing and verification.

#include <openssl/evp.h>

#include <optional>
#include <string>
#include <string_view>

namespace ref {

enum class Hash { kSha1, kSha256, kSha384, kSha512, kSm3 };

// "SHA1", "SHA256", "SHA384", "SHA512", "SM3" in any case, '-' allowed
// ("SHA-256"). nullopt for anything else.
std::optional<Hash> ParseHash(std::string_view name);
const EVP_MD* HashMd(Hash hash);
size_t HashSize(Hash hash);
const char* HashName(Hash hash);

enum class KeyKind { kRsa, kEc, kSm2, kOther };
KeyKind KindOf(const EVP_PKEY* key);
const char* KindName(KeyKind kind);  // "RSA", "EC", "SM2", "other"

// GM/T 0009's default distinguishing id. OpenSSL 3.0 uses an empty id unless
// told, so every SM2 context gets it explicitly.
inline constexpr std::string_view kGmSm2Id = "1234567812345678";

// Puts the GM id (or the given one) on an SM2 certificate so that chain and
// signature checks of it use the right Z. No-op for other certificates.
void SetSm2CertificateId(X509* cert, std::string_view id = kGmSm2Id);

}  // namespace ref
