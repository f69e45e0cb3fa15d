#pragma once
// Seal records and licence data as files of the user's own folders. Files
// are named by the SHA-256 of the name, so no name can reach outside the
// folder, and written whole (temporary file, then rename), mode 0600.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "seals/SealStore.h"

namespace ref {

// Lower-case hex SHA-256 of the name's UTF-8 bytes.
std::string NameDigest(std::string_view name);

// "<digest>.json" for a picture (type 1), "<digest>.<type>.json" for the
// others, so one name can hold a seal of each type.
std::string SealFileName(std::string_view name, int32_t type);

// A regular file of at most limit bytes, never through a symbolic link;
// nullopt when it does not exist. Throws Failure(kFile) otherwise.
std::optional<Bytes> ReadOwnFile(const std::string& path, size_t limit);

// Every record in the folder that parses (none when the folder is missing),
// by name and type.
std::vector<SealRecord> FolderSeals(const std::string& sealDir);

// Writes or replaces the record of that name and type.
void PutFolderSeal(const std::string& sealDir, const SealRecord& record);

}  // namespace ref
