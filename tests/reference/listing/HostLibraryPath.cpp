// The host finds the list library by its bare name, and the dynamic loader
// reads LD_LIBRARY_PATH only at start: so the test binary starts itself
// again with the built library's folder on that path.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool OnLibraryPath(const std::string& dir) {
    const char* path = std::getenv("LD_LIBRARY_PATH");
    return path != nullptr && std::string(path).rfind(dir, 0) == 0;
}

void RestartWithLibraryPath() {
    const char* dir = std::getenv("ZQT_TEST_REFERENCE_LIB");
    if (dir == nullptr || OnLibraryPath(dir)) {
        return;
    }
    const char* old = std::getenv("LD_LIBRARY_PATH");
    const std::string path = old != nullptr && *old ? std::string(dir) + ":" + old : dir;
    setenv("LD_LIBRARY_PATH", path.c_str(), 1);
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<char*> argv;
    for (size_t at = 0; at < all.size(); at += std::strlen(&all[at]) + 1) {
        argv.push_back(&all[at]);
    }
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    // Not restarted: the host reader tests then find no library and fail.
}

[[maybe_unused]] const bool restarted = (RestartWithLibraryPath(), true);

}  // namespace
