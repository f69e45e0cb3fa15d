#include "enrol/EnrolKeys.h"

#include <openssl/sha.h>
#include <openssl/x509.h>

#include "core/Outcome.h"
#include "core/Text.h"

namespace ref {

std::optional<KeySpec> ParseKeySpec(std::string_view text) {
    const std::string upper = AsciiUpper(TrimBlanks(text));
    for (KeySpec keySpec : {KeySpec::kRsa2048, KeySpec::kRsa3072, KeySpec::kEc256, KeySpec::kSm2}) {
        if (upper == KeySpecName(keySpec)) {
            return keySpec;
        }
    }
    return std::nullopt;
}

const char* KeySpecName(KeySpec keySpec) {
    switch (keySpec) {
        case KeySpec::kRsa2048:
            return "RSA2048";
        case KeySpec::kRsa3072:
            return "RSA3072";
        case KeySpec::kEc256:
            return "EC256";
        case KeySpec::kSm2:
            return "SM2";
    }
    return "?";
}

EvpPkeyPtr GenerateSoftKey(KeySpec keySpec) {
    EVP_PKEY* key = nullptr;
    switch (keySpec) {
        case KeySpec::kRsa2048:
            key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048});
            break;
        case KeySpec::kRsa3072:
            key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{3072});
            break;
        case KeySpec::kEc256:
            key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
            break;
        case KeySpec::kSm2:
            key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
            break;
    }
    if (key == nullptr) {
        Fail(kInternal, "key generation failed: " + TakeOpensslError());
    }
    return EvpPkeyPtr(key);
}

Bytes PublicKeyDer(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0) {
        TakeOpensslError();
        Fail(kInternal, "cannot encode the public key");
    }
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

EvpPkeyPtr ParsePublicKeyDer(ByteView der) {
    const unsigned char* p = der.data();
    EvpPkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
    if (!key) {
        TakeOpensslError();
        Fail(kMalformed, "not a public key");
    }
    return key;
}

Bytes KeyId(EVP_PKEY* key) {
    const Bytes spki = PublicKeyDer(key);
    const unsigned char* p = spki.data();
    X509_PUBKEY* pub = d2i_X509_PUBKEY(nullptr, &p, static_cast<long>(spki.size()));
    const unsigned char* bits = nullptr;
    int length = 0;
    if (pub == nullptr || X509_PUBKEY_get0_param(nullptr, &bits, &length, nullptr, pub) != 1) {
        X509_PUBKEY_free(pub);
        TakeOpensslError();
        Fail(kInternal, "cannot read the public key's bits");
    }
    Bytes id(SHA_DIGEST_LENGTH);
    SHA1(bits, static_cast<size_t>(length), id.data());
    X509_PUBKEY_free(pub);
    return id;
}

std::string LowerHex(ByteView bytes) {
    return AsciiLower(HexEncode(bytes));
}

bool SamePublicKey(EVP_PKEY* a, EVP_PKEY* b) {
    // Compared by encoding: an SM2 key and the same point typed EC are one key.
    return a != nullptr && b != nullptr && KeyId(a) == KeyId(b);
}

}  // namespace ref
