#include "controls/CertSealList.h"

#include <cstring>
#include <exception>
#include <vector>

#include "controls/ListReadError.h"
#include "controls/SharedLibrary.h"
#include "support/TextConversion.h"
#include "zqtca/cert_seal_list.h"

namespace {

// No real list comes near this; a larger size is treated as no list at all.
constexpr int32_t kMaxListBytes = 64 * 1024 * 1024;

std::u16string CallByBufferProtocol(zqt_cert_seal_list_fn listExport) {
    int32_t size = listExport(nullptr);
    if (size <= 0 || size > kMaxListBytes) {
        return {};
    }
    std::vector<char> buffer(static_cast<size_t>(size), '\0');
    listExport(buffer.data());
    const void* end = std::memchr(buffer.data(), '\0', buffer.size());
    if (end == nullptr) {
        return {};  // no terminator within the size the library asked for
    }
    size_t length = static_cast<size_t>(static_cast<const char*>(end) - buffer.data());
    return zqt::LocaleToUtf16(std::string_view(buffer.data(), length));
}

std::u16string ReadFromExport(const char* exportName) noexcept {
    // Declared outside the try block so that an exception raised inside the
    // library is handled while its code is still mapped.
    zqt::LibraryHandle library;
    try {
        library = zqt::OpenModuleLibrary(ZQT_CERT_SEAL_LIST_LIBRARY);
        auto listExport = zqt::ResolveExport<zqt_cert_seal_list_fn>(library, exportName);
        if (listExport == nullptr) {
            return {};
        }
        return CallByBufferProtocol(listExport);
    } catch (const std::exception& error) {
        zqt::ReportListReadError(error.what());
    } catch (...) {
        zqt::ReportListReadError("unknown error");
    }
    return {};
}

}  // namespace

std::u16string ReadCertAndSealList() {
    return ReadFromExport(ZQT_CERT_SEAL_LIST_EXPORT);
}

std::u16string ReadCertAndSealListXEPA() {
    return ReadFromExport(ZQT_CERT_SEAL_LIST_XEPA_EXPORT);
}

CertSealListCache& TheCertSealListCache() {
    static CertSealListCache cache;
    return cache;
}
