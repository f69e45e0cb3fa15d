// The list library's exports (GetCertAndSeallist, GetCertAndSeallistXEPA).
#include "sidelib/BufferProtocol.h"
#include "sidelib/FreshList.h"
#include "zqtca/cert_seal_list.h"

namespace {

std::string FullList() noexcept {
    return ref::FreshList(ref::ListForm::kFull);
}

std::string CompactList() noexcept {
    return ref::FreshList(ref::ListForm::kCompact);
}

}  // namespace

extern "C" {

ZQT_EXPORT int32_t GetCertAndSeallist(char* buffer) {
    return ref::ServeBufferProtocol(buffer, FullList);
}

ZQT_EXPORT int32_t GetCertAndSeallistXEPA(char* buffer) {
    return ref::ServeBufferProtocol(buffer, CompactList);
}

}  // extern "C"
