#pragma once
// One file command: an input read and an output written inside the files
// folder, the output kept only when the whole command succeeded.

#include <openssl/bio.h>

#include <functional>
#include <string>
#include <string_view>

#include "files/SafePath.h"

namespace ref {

// Checks both paths before anything is touched (kPolicy), opens the input
// (kFile when missing), creates the output's temporary file (kFile when the
// output exists) and runs work on them as BIOs. The output gets its name
// only when work returns; on any Failure it is removed. Returns the output's
// full path.
std::string TransformFile(const std::string& folder, std::string_view inPath,
                          std::string_view outPath, const std::function<void(BIO*, BIO*)>& work,
                          Resolver resolver = Resolver::kAuto);

}  // namespace ref
