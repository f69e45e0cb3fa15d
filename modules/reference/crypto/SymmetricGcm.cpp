#include "crypto/SymmetricGcm.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <cstring>
#include <memory>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/SymmetricIo.h"

namespace ref {

namespace {

using CipherCtxPtr =
    std::unique_ptr<EVP_CIPHER_CTX, OsslDeleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;

constexpr char kMagic[] = "ZQTAES1";
constexpr size_t kMagicSize = 7;
constexpr uint8_t kFormat = 1;
constexpr size_t kSaltSize = 16, kNonceSize = 12, kTagSize = 16, kKeySize = 32;
constexpr size_t kHeaderSize = kMagicSize + 1 + kSaltSize + 4 + kNonceSize;
// A reader refuses counts a forged header could use to stall it.
constexpr uint32_t kMinIterations = 1000, kMaxIterations = 10000000;

using Header = std::array<uint8_t, kHeaderSize>;

struct Key {
    std::array<uint8_t, kKeySize> bytes{};
    ~Key() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

void DeriveKey(std::string_view password, const Header& h, uint32_t iterations, Key& key) {
    const uint8_t* salt = h.data() + kMagicSize + 1;
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, kSaltSize,
                          static_cast<int>(iterations), EVP_sha256(), kKeySize,
                          key.bytes.data()) != 1) {
        Fail(kInternal, "deriving the key: " + TakeOpensslError());
    }
}

// The nonce and AAD of chunk index: see the format in the header file.
struct ChunkContext {
    std::array<uint8_t, kNonceSize> nonce{};
    std::array<uint8_t, kHeaderSize + 9> aad{};
};

ChunkContext ContextOf(const Header& h, uint64_t index, bool final) {
    ChunkContext c;
    std::memcpy(c.nonce.data(), h.data() + kHeaderSize - kNonceSize, kNonceSize);
    std::memcpy(c.aad.data(), h.data(), kHeaderSize);
    for (int i = 0; i < 8; ++i) {
        const auto b = static_cast<uint8_t>(index >> (56 - 8 * i));
        c.nonce[kNonceSize - 8 + static_cast<size_t>(i)] ^= b;
        c.aad[kHeaderSize + static_cast<size_t>(i)] = b;
    }
    c.aad[kHeaderSize + 8] = final ? 1 : 0;
    return c;
}

// Encrypts or decrypts one chunk in place; tag is written (encrypt) or
// checked (decrypt). false when the check fails.
bool SealChunk(EVP_CIPHER_CTX* ctx, const Key& key, const ChunkContext& c, uint8_t* data,
               size_t size, uint8_t* tag, bool encrypt) {
    int len = 0;
    if (EVP_CipherInit_ex2(ctx, nullptr, key.bytes.data(), c.nonce.data(), encrypt ? 1 : 0,
                           nullptr) != 1 ||
        EVP_CipherUpdate(ctx, nullptr, &len, c.aad.data(), static_cast<int>(c.aad.size())) != 1 ||
        (size > 0 && EVP_CipherUpdate(ctx, data, &len, data, static_cast<int>(size)) != 1)) {
        Fail(kInternal, "AES-GCM: " + TakeOpensslError());
    }
    if (!encrypt && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, kTagSize, tag) != 1)
        Fail(kInternal, "AES-GCM: " + TakeOpensslError());
    uint8_t rest[16];
    if (EVP_CipherFinal_ex(ctx, rest, &len) != 1) {
        TakeOpensslError();
        return false;
    }
    if (encrypt && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, kTagSize, tag) != 1)
        Fail(kInternal, "AES-GCM: " + TakeOpensslError());
    return true;
}

CipherCtxPtr GcmContext(bool encrypt) {
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex2(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, encrypt ? 1 : 0,
                                   nullptr) != 1) {
        Fail(kInternal, "AES-GCM: " + TakeOpensslError());
    }
    return ctx;
}

struct Wiped {
    explicit Wiped(size_t size) : bytes(size) {}
    ~Wiped() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
    Bytes bytes;
};

}  // namespace

void PasswordEncryptStream(std::string_view password, BIO* in, BIO* out, uint32_t iterations) {
    if (password.empty())
        Fail(kBadParam, "an empty password");
    Header h{};
    std::memcpy(h.data(), kMagic, kMagicSize);
    h[kMagicSize] = kFormat;
    uint8_t* salt = h.data() + kMagicSize + 1;
    uint8_t* nonce = h.data() + kHeaderSize - kNonceSize;
    if (RAND_bytes(salt, kSaltSize) != 1 || RAND_bytes(nonce, kNonceSize) != 1)
        Fail(kInternal, "no random data for the salt");
    for (int i = 0; i < 4; ++i)
        h[kMagicSize + 1 + kSaltSize + static_cast<size_t>(i)] =
            static_cast<uint8_t>(iterations >> (24 - 8 * i));
    Key key;
    DeriveKey(password, h, iterations, key);
    CipherCtxPtr ctx = GcmContext(true);
    WriteAll(out, h.data(), h.size());
    Wiped chunk(kStreamChunk + kTagSize);
    for (uint64_t index = 0;; ++index) {
        const size_t got = ReadFull(in, chunk.bytes.data(), kStreamChunk);
        const bool final = got < kStreamChunk;
        SealChunk(ctx.get(), key, ContextOf(h, index, final), chunk.bytes.data(), got,
                  chunk.bytes.data() + got, true);
        WriteAll(out, chunk.bytes.data(), got + kTagSize);
        if (final)
            break;
    }
}

void PasswordDecryptStream(std::string_view password, BIO* in, BIO* out) {
    Header h{};
    if (ReadFull(in, h.data(), h.size()) != h.size() ||
        std::memcmp(h.data(), kMagic, kMagicSize) != 0 || h[kMagicSize] != kFormat) {
        Fail(kDecrypt, "not a password-encrypted file of this format");
    }
    uint32_t iterations = 0;
    for (size_t i = 0; i < 4; ++i)
        iterations = (iterations << 8) | h[kMagicSize + 1 + kSaltSize + i];
    if (iterations < kMinIterations || iterations > kMaxIterations)
        Fail(kDecrypt, "the file's iteration count is out of range: damaged file");
    Key key;
    DeriveKey(password, h, iterations, key);
    CipherCtxPtr ctx = GcmContext(false);
    Wiped chunk(kStreamChunk + kTagSize);
    for (uint64_t index = 0;; ++index) {
        const size_t got = ReadFull(in, chunk.bytes.data(), chunk.bytes.size());
        const bool final = got < chunk.bytes.size();
        if (got < kTagSize)
            Fail(kDecrypt, "the file is truncated");
        const size_t size = got - kTagSize;
        if (!SealChunk(ctx.get(), key, ContextOf(h, index, final), chunk.bytes.data(), size,
                       chunk.bytes.data() + size, false)) {
            Fail(kDecrypt, "wrong password, or the file was changed or truncated");
        }
        WriteAll(out, chunk.bytes.data(), size);
        if (final)
            break;
    }
}

}  // namespace ref
