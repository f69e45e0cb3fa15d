#pragma once
// Paths that pages give for file commands: plain relative names below the
// files folder, opened so that no symbolic link and no ".." can lead out.

#include <string>
#include <string_view>
#include <vector>

#include "files/UniqueFd.h"

namespace ref {

// The components of a page's path. Throws Failure(kPolicy) for an empty
// path, an absolute one, a NUL, an empty component ("a//b", a trailing
// "/"), "." or "..": nothing is touched for such a path.
std::vector<std::string> SplitRelativePath(std::string_view path);

// How OpenBeneath resolves: openat2 where the kernel has it, else a walk
// one component at a time that refuses every symbolic link.
enum class Resolver { kAuto, kOpenat2, kWalk };

// Opens the components below dirfd with flags (and mode with O_CREAT).
// No symbolic link (nor /proc magic link) is followed anywhere in the path
// and nothing outside dirfd is reached. Throws Failure: kPolicy for a link or
// an escape, kFile for anything else (errno's text in the message).
UniqueFd OpenBeneath(int dirfd, const std::vector<std::string>& components, int flags,
                     unsigned mode = 0, Resolver resolver = Resolver::kAuto);

}  // namespace ref
