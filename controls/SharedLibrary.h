#pragma once
// A shared library opened with dlopen and closed when its handle goes away.

#include <memory>
#include <string>

namespace zqt {

struct LibraryCloser {
    void operator()(void* handle) const noexcept;
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

// Where the reference modules are installed, relative to the prefix.
inline constexpr const char* kReferenceModuleDir = "lib/zqtca/reference";

// Opens fileName by its bare name (so LD_LIBRARY_PATH and the system library
// path apply), failing that from the executable's directory, and last from
// the installed reference modules (<prefix>/lib/zqtca/reference beside
// <prefix>/bin). A name that contains a slash is opened as the path it is.
// Null when none works.
LibraryHandle OpenModuleLibrary(const char* fileName);

// The directory of the running executable, without a trailing slash; empty
// when it cannot be found.
std::string ExecutableDirectory();

// The address of the export `name` of an open library, or null.
void* ResolveExportAddress(const LibraryHandle& library, const char* name);

// The same as a function pointer of the export's C type.
template <typename Function>
Function ResolveExport(const LibraryHandle& library, const char* name) {
    return reinterpret_cast<Function>(ResolveExportAddress(library, name));
}

}  // namespace zqt
