#pragma once
// The password file format, authenticated and streamed:
//
//   header (40 bytes): "ZQTAES1" | format 0x01 | salt (16) |
//                      PBKDF2-SHA256 iterations (4, big-endian) | nonce (12)
//   then chunks:       AES-256-GCM ciphertext | tag (16)
//
// The key is PBKDF2-HMAC-SHA256(password, salt, iterations), 32 bytes. The
// plaintext is cut into chunks of 64 KiB; every chunk but the last is full,
// the last is shorter (an empty one follows when the size is a multiple of
// 64 KiB), so a reader knows the last chunk by its length. Chunk i uses the
// nonce XOR i (big-endian, in its last 8 bytes) and authenticates
// header | i (8 bytes, big-endian) | final flag (1 byte) as AAD. So a wrong
// password, a changed byte anywhere (header included), reordered chunks, a
// file cut at a chunk boundary or inside a chunk, and appended data all fail
// a tag check.

#include <openssl/bio.h>

#include <cstdint>
#include <string_view>

namespace ref {

constexpr uint32_t kPasswordIterations = 200000;

// Reads in to its end and writes the format to out. Throws Failure
// (kBadParam for an empty password).
void PasswordEncryptStream(std::string_view password, BIO* in, BIO* out,
                           uint32_t iterations = kPasswordIterations);

// The inverse. Throws Failure(kDecrypt) for a wrong password or a changed,
// truncated or foreign file. Each chunk is written only after its tag is
// checked, but a later chunk may still fail: file callers write to a
// temporary file and keep it only when this returns.
void PasswordDecryptStream(std::string_view password, BIO* in, BIO* out);

}  // namespace ref
