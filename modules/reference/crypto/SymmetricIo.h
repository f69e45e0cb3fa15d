#pragma once
// Reading and writing BIOs in whole pieces, for the streamed file formats:
// a short read means the end of the input, a short write is retried.

#include <openssl/bio.h>

#include <cstddef>
#include <cstdint>

#include "core/Bytes.h"

namespace ref {

// The size of one piece of a streamed format: memory stays flat in the
// size of the file.
constexpr size_t kStreamChunk = 64 * 1024;

// Reads until size bytes or the end; returns how many. Throws
// Failure(kFile) when the input fails.
size_t ReadFull(BIO* in, uint8_t* data, size_t size);

// Writes all of it. Throws Failure(kFile).
void WriteAll(BIO* out, const uint8_t* data, size_t size);
inline void WriteAll(BIO* out, ByteView bytes) {
    WriteAll(out, bytes.data(), bytes.size());
}

}  // namespace ref
