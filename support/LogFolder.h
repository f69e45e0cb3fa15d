#pragma once
// Where the daily log lives: the temporary directory plus "ZQTCA/".

#include <cstddef>

namespace zqt {

// Writes $TMPDIR (when set and absolute, else /tmp) with a trailing "/" and
// then "ZQTCA/" into buffer. When that does not fit in size bytes the buffer
// is left empty and the result is false: no log rather than a cut path.
bool BuildLogFolder(char* buffer, std::size_t size);

}  // namespace zqt
