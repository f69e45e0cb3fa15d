// The object calls of a session: find, create, change, destroy, generate.
// Like every call of the session they hold its mutex.

#include "pkcs11/P11Session.h"

namespace ref {

namespace {

// No token offers more; a module claiming more is not believed.
constexpr CK_ULONG kMaxMechanisms = 4096;

CK_ULONG Count(const std::vector<CK_ATTRIBUTE>& attributes) {
    return static_cast<CK_ULONG>(attributes.size());
}

}  // namespace

std::vector<CK_OBJECT_HANDLE> SessionCore::Find(std::vector<CK_ATTRIBUTE>& match, size_t limit) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_FindObjects");
    std::vector<CK_OBJECT_HANDLE> found;
    CK_RV rv = FindObjects(fn_, handle_, match.data(), Count(match), limit, found);
    if (rv != CKR_OK) {
        throw FailureFor("C_FindObjects", rv);
    }
    return found;
}

CK_OBJECT_HANDLE SessionCore::Create(std::vector<CK_ATTRIBUTE>& attributes) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_CreateObject");
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    CK_RV rv = fn_->C_CreateObject(handle_, attributes.data(), Count(attributes), &object);
    if (rv != CKR_OK) {
        throw FailureFor("C_CreateObject", rv);
    }
    return object;
}

void SessionCore::SetAttributes(CK_OBJECT_HANDLE object, std::vector<CK_ATTRIBUTE>& attributes) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_SetAttributeValue");
    CK_RV rv = fn_->C_SetAttributeValue(handle_, object, attributes.data(), Count(attributes));
    if (rv != CKR_OK) {
        throw FailureFor("C_SetAttributeValue", rv);
    }
}

void SessionCore::Destroy(CK_OBJECT_HANDLE object) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_DestroyObject");
    CK_RV rv = fn_->C_DestroyObject(handle_, object);
    if (rv != CKR_OK) {
        throw FailureFor("C_DestroyObject", rv);
    }
}

std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> SessionCore::GenerateKeyPair(
    CK_MECHANISM& mechanism, std::vector<CK_ATTRIBUTE>& publicTemplate,
    std::vector<CK_ATTRIBUTE>& privateTemplate) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_GenerateKeyPair");
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
    CK_RV rv = fn_->C_GenerateKeyPair(handle_, &mechanism, publicTemplate.data(),
                                      Count(publicTemplate), privateTemplate.data(),
                                      Count(privateTemplate), &publicKey, &privateKey);
    if (rv != CKR_OK) {
        throw FailureFor("C_GenerateKeyPair", rv);
    }
    return {publicKey, privateKey};
}

std::vector<CK_MECHANISM_TYPE> SessionCore::Mechanisms() {
    std::lock_guard lock(mutex_);
    RequireOpen("C_GetMechanismList");
    CK_ULONG count = 0;
    CK_RV rv = fn_->C_GetMechanismList(slot_, nullptr, &count);
    if (rv != CKR_OK) {
        throw FailureFor("C_GetMechanismList", rv);
    }
    std::vector<CK_MECHANISM_TYPE> mechanisms(count > kMaxMechanisms ? kMaxMechanisms : count);
    count = static_cast<CK_ULONG>(mechanisms.size());
    rv = fn_->C_GetMechanismList(slot_, mechanisms.data(), &count);
    if (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL) {
        throw FailureFor("C_GetMechanismList", rv);
    }
    mechanisms.resize(count < mechanisms.size() ? count : mechanisms.size());
    return mechanisms;
}

}  // namespace ref
