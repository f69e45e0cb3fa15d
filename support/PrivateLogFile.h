#pragma once
// Opens the day's log file for appending, but only inside a folder that no
// one else can change, and never through a symbolic link.

#include <cstdio>
#include <string>

namespace zqt {

// folder ends with "/". Returns null when the folder is missing, is a link,
// is not owned by the effective user or is writable by group or others, or
// when the file cannot be opened as a regular file. When the folder or file
// exists but is refused, refusal (if given) says why; a missing folder is
// not a refusal.
std::FILE* OpenPrivateLogFile(const char* folder, const char* fileName,
                              std::string* refusal = nullptr);

}  // namespace zqt
