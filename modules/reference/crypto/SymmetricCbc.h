#pragma once
// CBC formats: IV (one random block) || CBC ciphertext with PKCS#7 padding.
// DES keys of 8, 16 or 24 bytes give DES-CBC (legacy provider), two-key and
// three-key 3DES; AES keys of 16, 24 or 32 bytes give AES-128/192/256-CBC.
// CBC carries no integrity check: a changed file is caught only when the
// padding comes out wrong. The password format (SymmetricGcm.h) is
// authenticated.

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <memory>
#include <string_view>

#include "core/Bytes.h"

namespace ref {

struct CipherDeleter {
    void operator()(EVP_CIPHER* cipher) const noexcept { EVP_CIPHER_free(cipher); }
};
using CipherPtr = std::unique_ptr<EVP_CIPHER, CipherDeleter>;

// A key and its cipher. The key bytes are wiped when it goes away.
struct SymmetricKey {
    SymmetricKey() = default;
    SymmetricKey(SymmetricKey&&) noexcept = default;
    SymmetricKey& operator=(SymmetricKey&&) noexcept = default;
    ~SymmetricKey();
    CipherPtr cipher;
    Bytes key;
};

// Throws Failure(kBadParam) for non-hex text or a length that fits no cipher.
SymmetricKey DesKeyFromHex(std::string_view hex);
SymmetricKey AesKeyFromHex(std::string_view hex);
// Whether the text is a hex AES key (else it is taken as a password).
bool IsAesKeyHex(std::string_view text);

// Reads in to its end and writes IV || ciphertext to out.
void CbcEncryptStream(const SymmetricKey& key, BIO* in, BIO* out);

// The inverse. Throws Failure: kMalformed when shorter than IV plus one block
// or not whole blocks, kDecrypt when the padding is wrong (a wrong key). The
// plaintext is written as it comes, so after a failure out holds part of it:
// file callers discard the output then.
void CbcDecryptStream(const SymmetricKey& key, BIO* in, BIO* out);

// The text form: Base64(IV || ciphertext) of the bytes, and back.
std::string CbcEncryptText(const SymmetricKey& key, ByteView plain);
// Throws kMalformed (not Base64, too short) or kDecrypt.
Bytes CbcDecryptText(const SymmetricKey& key, std::string_view base64);

}  // namespace ref
