// SM2 and RSA encryption of one short message through EVP_PKEY_encrypt /
// EVP_PKEY_decrypt; token RSA keys decrypt through their RSA_METHOD.

#include "crypto/PublicKeyCipher.h"

#include <openssl/rsa.h>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/Algorithms.h"
#include "crypto/CryptoFailure.h"
#include "crypto/Sm2Key.h"

namespace ref {

namespace {

constexpr size_t kSm2Coordinate = 32;
constexpr size_t kSm3Size = 32;

EvpPkeyCtxPtr Context(EVP_PKEY* key) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx)
        FailOpenssl(kInternal, "cannot use the key");
    return ctx;
}

// Runs an EVP_PKEY_encrypt-shaped call twice: for the size, then for real.
template <typename Call>
Bytes Run(EVP_PKEY_CTX* ctx, ByteView in, Call call, int32_t code, const char* what) {
    size_t length = 0;
    if (call(ctx, nullptr, &length, in.data(), in.size()) <= 0)
        FailOpenssl(code, what);
    Bytes out(length);
    if (call(ctx, out.data(), &length, in.data(), in.size()) <= 0)
        FailOpenssl(code, what);
    out.resize(length);
    return out;
}

void SetOaep(EVP_PKEY_CTX* ctx, bool oaep) {
    const bool ok = oaep ? EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) > 0 &&
                               EVP_PKEY_CTX_set_rsa_oaep_md(ctx, EVP_sha256()) > 0 &&
                               EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, EVP_sha256()) > 0
                         : EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0;
    if (!ok)
        FailOpenssl(kInternal, "cannot choose the RSA padding");
}

void RequireRsa(EVP_PKEY* key) {
    if (key == nullptr || KindOf(key) != KeyKind::kRsa)
        Fail(kKeyType, "RSA encryption needs an RSA key");
}

// DER length octets.
void PutLength(Bytes& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    Bytes digits;
    for (; length > 0; length >>= 8)
        digits.insert(digits.begin(), static_cast<uint8_t>(length & 0xFF));
    out.push_back(static_cast<uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

void PutTagged(Bytes& out, uint8_t tag, ByteView body) {
    out.push_back(tag);
    PutLength(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
}

// An unsigned big-endian number as a DER INTEGER.
void PutUnsigned(Bytes& out, ByteView number) {
    size_t skip = 0;
    while (skip + 1 < number.size() && number[skip] == 0) ++skip;
    Bytes body;
    if ((number[skip] & 0x80) != 0)
        body.push_back(0);
    body.insert(body.end(), number.begin() + static_cast<std::ptrdiff_t>(skip), number.end());
    PutTagged(out, 0x02, body);
}

}  // namespace

Bytes Sm2Encrypt(EVP_PKEY* publicKey, ByteView data) {
    if (publicKey == nullptr || KindOf(publicKey) != KeyKind::kSm2)
        Fail(kKeyType, "SM2 encryption needs an SM2 key");
    if (data.empty())
        Fail(kBadParam, "there is nothing to encrypt");
    EvpPkeyPtr sm2 = AsSm2Key(publicKey);
    EvpPkeyCtxPtr ctx = Context(sm2.get());
    if (EVP_PKEY_encrypt_init(ctx.get()) <= 0)
        FailOpenssl(kInternal, "cannot start SM2 encryption");
    return Run(ctx.get(), data, EVP_PKEY_encrypt, kInternal, "SM2 encryption failed");
}

std::optional<Bytes> Sm2RawToDer(ByteView raw) {
    constexpr size_t kHead = 1 + 2 * kSm2Coordinate + kSm3Size;
    if (raw.size() <= kHead || raw[0] != 0x04)
        return std::nullopt;
    Bytes body;
    PutUnsigned(body, raw.subspan(1, kSm2Coordinate));
    PutUnsigned(body, raw.subspan(1 + kSm2Coordinate, kSm2Coordinate));
    PutTagged(body, 0x04, raw.subspan(1 + 2 * kSm2Coordinate, kSm3Size));
    PutTagged(body, 0x04, raw.subspan(kHead));
    Bytes der;
    PutTagged(der, 0x30, body);
    return der;
}

Bytes Sm2Decrypt(EVP_PKEY* key, ByteView ciphertext) {
    if (key == nullptr || KindOf(key) != KeyKind::kSm2)
        Fail(kKeyType, "SM2 decryption needs an SM2 key");
    Bytes der;
    if (!ciphertext.empty() && ciphertext[0] == 0x30) {
        der.assign(ciphertext.begin(), ciphertext.end());
    } else if (auto converted = Sm2RawToDer(ciphertext)) {
        der = std::move(*converted);
    } else {
        Fail(kMalformed, "the SM2 ciphertext is neither DER nor 04 || C1 || C3 || C2");
    }
    EvpPkeyPtr sm2 = AsSm2Key(key);
    EvpPkeyCtxPtr ctx = Context(sm2.get());
    if (EVP_PKEY_decrypt_init(ctx.get()) <= 0)
        FailOpenssl(kInternal, "cannot start SM2 decryption");
    return Run(ctx.get(), der, EVP_PKEY_decrypt, kDecrypt,
               "SM2 decryption failed (wrong key or damaged ciphertext)");
}

size_t RsaCapacity(EVP_PKEY* key, bool oaep) {
    RequireRsa(key);
    const size_t k = static_cast<size_t>(EVP_PKEY_get_size(key));
    const size_t overhead = oaep ? 2 * 32 + 2 : 11;
    return k > overhead ? k - overhead : 0;
}

Bytes RsaEncrypt(EVP_PKEY* publicKey, ByteView data, bool oaep) {
    const size_t capacity = RsaCapacity(publicKey, oaep);
    if (data.empty())
        Fail(kBadParam, "there is nothing to encrypt");
    if (data.size() > capacity) {
        Fail(kBadParam, "RSA encryption with this key carries at most " + std::to_string(capacity) +
                            " bytes, the data has " + std::to_string(data.size()));
    }
    EvpPkeyCtxPtr ctx = Context(publicKey);
    if (EVP_PKEY_encrypt_init(ctx.get()) <= 0)
        FailOpenssl(kInternal, "cannot start RSA encryption");
    SetOaep(ctx.get(), oaep);
    return Run(ctx.get(), data, EVP_PKEY_encrypt, kInternal, "RSA encryption failed");
}

Bytes RsaDecrypt(EVP_PKEY* key, ByteView ciphertext, bool oaep) {
    RequireRsa(key);
    if (ciphertext.size() != static_cast<size_t>(EVP_PKEY_get_size(key))) {
        Fail(kMalformed, "an RSA ciphertext for this key has " +
                             std::to_string(EVP_PKEY_get_size(key)) + " bytes");
    }
    EvpPkeyCtxPtr ctx = Context(key);
    if (EVP_PKEY_decrypt_init(ctx.get()) <= 0)
        FailOpenssl(kInternal, "cannot start RSA decryption");
    SetOaep(ctx.get(), oaep);
    return Run(ctx.get(), ciphertext, EVP_PKEY_decrypt, kDecrypt,
               "RSA decryption failed (wrong key, padding or damaged ciphertext)");
}

}  // namespace ref
