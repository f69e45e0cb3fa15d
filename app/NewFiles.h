#pragma once
// Writes a set of files that must all be new: either every one is written or
// none is left behind.

#include <sys/types.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zqt {

struct NewFile {
    std::string name;  // relative to the directory
    std::string_view content;
    mode_t mode;
};

// Refuses, writing nothing, when any of the names exists already (a symbolic
// link included). Each file is created exclusively, without following links,
// with its mode, and synced. When one fails, those already written are
// removed. Returns the error message, or nothing on success.
std::optional<std::string> WriteNewFiles(const std::string& directory,
                                         std::span<const NewFile> files);

}  // namespace zqt
