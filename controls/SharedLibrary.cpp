#include "controls/SharedLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace zqt {

void LibraryCloser::operator()(void* handle) const noexcept {
    if (handle != nullptr) {
        dlclose(handle);
    }
}

std::string ExecutableDirectory() {
    std::vector<char> path(256);
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<size_t>(length) < path.size()) {
            std::string full(path.data(), static_cast<size_t>(length));
            size_t slash = full.rfind('/');
            return slash == std::string::npos ? std::string() : full.substr(0, slash);
        }
        path.resize(path.size() * 2);  // the link may have been cut short
    }
}

LibraryHandle OpenModuleLibrary(const char* fileName) {
    constexpr int kMode = RTLD_NOW | RTLD_LOCAL;
    if (fileName == nullptr || *fileName == '\0') {
        return nullptr;
    }
    if (void* handle = dlopen(fileName, kMode)) {
        return LibraryHandle(handle);
    }
    if (std::strchr(fileName, '/') != nullptr) {
        return nullptr;
    }
    std::string directory = ExecutableDirectory();
    if (directory.empty()) {
        return nullptr;
    }
    const std::string besideExecutable = directory + "/" + fileName;
    if (void* handle = dlopen(besideExecutable.c_str(), kMode)) {
        return LibraryHandle(handle);
    }
    // The project's own reference modules, installed beside bin/: the last
    // resort, so that a maker's module of the same name always wins.
    const std::string reference = directory + "/../" + kReferenceModuleDir + "/" + fileName;
    return LibraryHandle(dlopen(reference.c_str(), kMode));
}

void* ResolveExportAddress(const LibraryHandle& library, const char* name) {
    return library ? dlsym(library.get(), name) : nullptr;
}

}  // namespace zqt
