#pragma once
// A daemon may be started with standard input, output or error closed. The
// first descriptors it opens would then take their numbers, and a stray
// printf would write into a pipe or a socket of its own.

namespace zqt {

// Opens each of descriptors 0, 1 and 2 that is closed on /dev/null. Safe to
// call before any other initialisation: no allocation, no stdio.
void OpenMissingStandardDescriptors() noexcept;

}  // namespace zqt
