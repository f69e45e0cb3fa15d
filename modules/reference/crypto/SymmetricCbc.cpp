#include "crypto/SymmetricCbc.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/SymmetricIo.h"

namespace ref {

namespace {

using CipherCtxPtr =
    std::unique_ptr<EVP_CIPHER_CTX, OsslDeleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;

SymmetricKey KeyFromHex(std::string_view hex, const char* what,
                        const char* (*nameForLength)(size_t)) {
    std::optional<Bytes> key = HexDecode(hex);
    if (!key)
        Fail(kBadParam, std::string("the ") + what + " key is not hexadecimal");
    SymmetricKey out;
    out.key = std::move(*key);
    const char* name = nameForLength(out.key.size());
    if (name == nullptr) {
        Fail(kBadParam, std::string("a ") + what + " key of " + std::to_string(out.key.size()) +
                            " bytes fits no cipher");
    }
    LoadProviders();
    out.cipher.reset(EVP_CIPHER_fetch(nullptr, name, nullptr));
    if (!out.cipher)
        Fail(kUnsupported, std::string(name) + " is not available: " + TakeOpensslError());
    return out;
}

const char* DesName(size_t length) {
    switch (length) {
        case 8:
            return "DES-CBC";
        case 16:
            return "DES-EDE-CBC";
        case 24:
            return "DES-EDE3-CBC";
        default:
            return nullptr;
    }
}

const char* AesName(size_t length) {
    switch (length) {
        case 16:
            return "AES-128-CBC";
        case 24:
            return "AES-192-CBC";
        case 32:
            return "AES-256-CBC";
        default:
            return nullptr;
    }
}

CipherCtxPtr StartCipher(const SymmetricKey& key, const uint8_t* iv, bool encrypt) {
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex2(ctx.get(), key.cipher.get(), key.key.data(), iv, encrypt ? 1 : 0,
                                   nullptr) != 1) {
        Fail(kInternal, "starting the cipher: " + TakeOpensslError());
    }
    return ctx;
}

}  // namespace

SymmetricKey::~SymmetricKey() {
    if (!key.empty())
        OPENSSL_cleanse(key.data(), key.size());
}

SymmetricKey DesKeyFromHex(std::string_view hex) {
    return KeyFromHex(hex, "DES", DesName);
}

SymmetricKey AesKeyFromHex(std::string_view hex) {
    return KeyFromHex(hex, "AES", AesName);
}

bool IsAesKeyHex(std::string_view text) {
    std::optional<Bytes> key = HexDecode(text);
    const bool fits = key && AesName(key->size()) != nullptr;
    if (key)
        OPENSSL_cleanse(key->data(), key->size());
    return fits;
}

void CbcEncryptStream(const SymmetricKey& key, BIO* in, BIO* out) {
    const size_t block = static_cast<size_t>(EVP_CIPHER_get_block_size(key.cipher.get()));
    Bytes iv(static_cast<size_t>(EVP_CIPHER_get_iv_length(key.cipher.get())));
    if (RAND_bytes(iv.data(), static_cast<int>(iv.size())) != 1)
        Fail(kInternal, "no random data for the IV");
    CipherCtxPtr ctx = StartCipher(key, iv.data(), true);
    WriteAll(out, iv);
    Bytes plain(kStreamChunk), cipher(kStreamChunk + block);
    while (true) {
        const size_t got = ReadFull(in, plain.data(), plain.size());
        int outLen = 0;
        if (got > 0 && EVP_CipherUpdate(ctx.get(), cipher.data(), &outLen, plain.data(),
                                        static_cast<int>(got)) != 1) {
            Fail(kInternal, "encrypting: " + TakeOpensslError());
        }
        WriteAll(out, cipher.data(), static_cast<size_t>(outLen));
        if (got < plain.size())
            break;
    }
    int outLen = 0;
    if (EVP_CipherFinal_ex(ctx.get(), cipher.data(), &outLen) != 1)
        Fail(kInternal, "encrypting: " + TakeOpensslError());
    WriteAll(out, cipher.data(), static_cast<size_t>(outLen));
    OPENSSL_cleanse(plain.data(), plain.size());
}

void CbcDecryptStream(const SymmetricKey& key, BIO* in, BIO* out) {
    const size_t block = static_cast<size_t>(EVP_CIPHER_get_block_size(key.cipher.get()));
    Bytes iv(static_cast<size_t>(EVP_CIPHER_get_iv_length(key.cipher.get())));
    if (ReadFull(in, iv.data(), iv.size()) != iv.size())
        Fail(kMalformed, "the ciphertext is too short");
    CipherCtxPtr ctx = StartCipher(key, iv.data(), false);
    Bytes cipher(kStreamChunk), plain(kStreamChunk + block);
    size_t total = 0;
    while (true) {
        const size_t got = ReadFull(in, cipher.data(), cipher.size());
        total += got;
        int outLen = 0;
        if (got > 0 && EVP_CipherUpdate(ctx.get(), plain.data(), &outLen, cipher.data(),
                                        static_cast<int>(got)) != 1) {
            Fail(kDecrypt, "decrypting: " + TakeOpensslError());
        }
        WriteAll(out, plain.data(), static_cast<size_t>(outLen));
        if (got < cipher.size())
            break;
    }
    if (total == 0 || total % block != 0)
        Fail(kMalformed, "the ciphertext is not a whole number of blocks");
    int outLen = 0;
    if (EVP_CipherFinal_ex(ctx.get(), plain.data(), &outLen) != 1) {
        TakeOpensslError();
        Fail(kDecrypt, "decryption failed: wrong key or damaged ciphertext");
    }
    WriteAll(out, plain.data(), static_cast<size_t>(outLen));
    OPENSSL_cleanse(plain.data(), plain.size());
}

std::string CbcEncryptText(const SymmetricKey& key, ByteView plain) {
    BioPtr in = MemoryBio(plain);
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!in || !out)
        Fail(kInternal, "out of memory");
    CbcEncryptStream(key, in.get(), out.get());
    return Base64Encode(BioBytes(out.get()));
}

Bytes CbcDecryptText(const SymmetricKey& key, std::string_view base64) {
    const std::optional<Bytes> bytes = Base64Decode(base64);
    if (!bytes || bytes->empty())
        Fail(kMalformed, "the ciphertext is not Base64");
    BioPtr in = MemoryBio(*bytes);
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!in || !out)
        Fail(kInternal, "out of memory");
    CbcDecryptStream(key, in.get(), out.get());
    return BioBytes(out.get());
}

}  // namespace ref
