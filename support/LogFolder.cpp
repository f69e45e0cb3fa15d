#include "support/LogFolder.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace zqt {

bool BuildLogFolder(char* buffer, std::size_t size) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string folder = tmpdir && tmpdir[0] == '/' ? tmpdir : "/tmp";
    if (folder.back() != '/') {
        folder += '/';
    }
    folder += "ZQTCA/";
    if (folder.size() >= size) {
        if (size > 0) {
            buffer[0] = '\0';
        }
        return false;
    }
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return true;
}

}  // namespace zqt
