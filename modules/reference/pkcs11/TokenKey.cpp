#include "pkcs11/TokenKey.h"

#include <openssl/err.h>

#include <new>
#include <string>

#include "pkcs11/P11Session.h"

namespace ref {

namespace {

struct RecordedFailure {
    uint64_t session = 0;  // 0: nothing recorded
    int32_t code = kOk;
    std::string message;
};

// Callbacks run on the caller's thread, inside the OpenSSL call the caller
// made, so the caller's thread is where the failure must be found again.
thread_local RecordedFailure lastFailure;

}  // namespace

void ClearKeyFailure() {
    lastFailure.session = 0;
    lastFailure.code = kOk;
    lastFailure.message.clear();
}

void RecordKeyFailure(uint64_t session, const Failure& failure) {
    lastFailure.session = session;
    lastFailure.code = failure.code();
    lastFailure.message = failure.what();
}

std::optional<Failure> TakeKeyFailure(uint64_t session) {
    if (lastFailure.session == 0 || lastFailure.session != session) {
        return std::nullopt;
    }
    Failure failure(lastFailure.code, lastFailure.message);
    ClearKeyFailure();
    return failure;
}

void RecordCallbackFailure(const KeyLink& link, const Failure& failure) noexcept {
    try {
        RecordKeyFailure(link.session->id(), failure);
    } catch (...) {
        lastFailure.session = link.session->id();
        lastFailure.code = failure.code();
    }
    // OpenSSL's own callers (CMS, X509_REQ) then show the cause too.
    ERR_raise_data(ERR_LIB_USER, ERR_R_OPERATION_FAIL, "%s", failure.what());
}

int DupKeyLink(CRYPTO_EX_DATA*, const CRYPTO_EX_DATA*, void** fromData, int, long, void*) {
    if (fromData == nullptr || *fromData == nullptr) {
        return 1;
    }
    auto* copy = new (std::nothrow) KeyLink(*static_cast<KeyLink*>(*fromData));
    *fromData = copy;
    return copy != nullptr ? 1 : 0;
}

void FreeKeyLink(void*, void* data, CRYPTO_EX_DATA*, int, long, void*) {
    delete static_cast<KeyLink*>(data);
}

}  // namespace ref
