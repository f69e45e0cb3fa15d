#pragma once
// File access for the store folder: nothing here follows a symbolic link,
// and what is written appears whole or not at all.

#include <string>

#include "core/Bytes.h"

namespace ref {

// Files larger than this are not identities; reading stops short of them.
inline constexpr size_t kMaxStoreFileSize = 1 << 20;

// Reads a regular file (not through a symbolic link, at most
// kMaxStoreFileSize bytes). Throws Failure(kFile) with the system's reason.
Bytes ReadPrivateFile(const std::string& path);

// Writes name inside dir as a 0600 file (dir is made 0700 when missing and
// refused when it is a symbolic link or not a private folder of ours): a fresh temporary file in
// the same folder, flushed to disk, then renamed over name. Throws Failure(kFile).
void WritePrivateFile(const std::string& dir, const std::string& name, ByteView bytes);

}  // namespace ref
