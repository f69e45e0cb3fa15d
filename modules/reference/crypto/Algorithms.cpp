#include "crypto/Algorithms.h"

#include <openssl/x509.h>

#include <cstring>
#include <string>

namespace ref {

std::optional<Hash> ParseHash(std::string_view name) {
    std::string key;
    for (char c : name) {
        if (c != '-') {
            key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    static constexpr struct {
        const char* name;
        Hash hash;
    } kNames[] = {{"SHA1", Hash::kSha1},
                  {"SHA256", Hash::kSha256},
                  {"SHA384", Hash::kSha384},
                  {"SHA512", Hash::kSha512},
                  {"SM3", Hash::kSm3}};
    for (const auto& entry : kNames) {
        if (key == entry.name) {
            return entry.hash;
        }
    }
    return std::nullopt;
}

const EVP_MD* HashMd(Hash hash) {
    switch (hash) {
        case Hash::kSha1:
            return EVP_sha1();
        case Hash::kSha256:
            return EVP_sha256();
        case Hash::kSha384:
            return EVP_sha384();
        case Hash::kSha512:
            return EVP_sha512();
        case Hash::kSm3:
            return EVP_sm3();
    }
    return EVP_sha256();
}

size_t HashSize(Hash hash) {
    switch (hash) {
        case Hash::kSha1:
            return 20;
        case Hash::kSha256:
        case Hash::kSm3:
            return 32;
        case Hash::kSha384:
            return 48;
        case Hash::kSha512:
            return 64;
    }
    return 0;
}

const char* HashName(Hash hash) {
    switch (hash) {
        case Hash::kSha1:
            return "SHA1";
        case Hash::kSha256:
            return "SHA256";
        case Hash::kSha384:
            return "SHA384";
        case Hash::kSha512:
            return "SHA512";
        case Hash::kSm3:
            return "SM3";
    }
    return "?";
}

KeyKind KindOf(const EVP_PKEY* key) {
    if (key == nullptr) {
        return KeyKind::kOther;
    }
    if (EVP_PKEY_is_a(key, "SM2")) {
        return KeyKind::kSm2;
    }
    if (EVP_PKEY_is_a(key, "RSA")) {
        return KeyKind::kRsa;
    }
    if (EVP_PKEY_is_a(key, "EC")) {
        // An EC key on the SM2 curve (imported as plain EC by some paths) is
        // an SM2 key for every purpose here.
        char group[64] = {};
        size_t length = 0;
        if (EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
            std::strcmp(group, "SM2") == 0) {
            return KeyKind::kSm2;
        }
        return KeyKind::kEc;
    }
    return KeyKind::kOther;
}

const char* KindName(KeyKind kind) {
    switch (kind) {
        case KeyKind::kRsa:
            return "RSA";
        case KeyKind::kEc:
            return "EC";
        case KeyKind::kSm2:
            return "SM2";
        case KeyKind::kOther:
            break;
    }
    return "other";
}

void SetSm2CertificateId(X509* cert, std::string_view id) {
    if (cert == nullptr || KindOf(X509_get0_pubkey(cert)) != KeyKind::kSm2) {
        return;
    }
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    if (value == nullptr ||
        ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char*>(id.data()),
                              static_cast<int>(id.size())) != 1) {
        ASN1_OCTET_STRING_free(value);
        return;
    }
    X509_set0_distinguishing_id(cert, value);  // the certificate owns it now
}

}  // namespace ref
