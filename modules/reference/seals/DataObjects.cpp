#include "seals/DataObjects.h"

#include "core/Outcome.h"
#include "pkcs11/P11Util.h"

namespace ref {

namespace {

CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, const void* value, size_t size) {
    return {type, const_cast<void*>(value), static_cast<CK_ULONG>(size)};
}

// The token's refusal, said of what was being written.
[[noreturn]] void Refused(const Failure& failure, const std::string& what) {
    const std::string reason = failure.what();
    if (failure.code() != kPkcs11)
        throw failure;
    if (reason.find("CKR_DEVICE_MEMORY") != std::string::npos)
        Fail(kPkcs11, "the token has no room for " + what + " (" + reason + ")");
    Fail(kPkcs11, "cannot write " + what + ": " + reason);
}

// PKCS#11 gives data objects no CKA_ID, and standard tokens (SoftHSM)
// refuse it; the record's certSn carries the binding either way, so such a
// token gets the object without it.
CK_OBJECT_HANDLE CreateWithOptionalId(TokenSession& session, std::vector<CK_ATTRIBUTE> attributes,
                                      const Bytes& id) {
    if (id.empty())
        return session.CreateObject(std::move(attributes));
    std::vector<CK_ATTRIBUTE> withId = attributes;
    withId.push_back(Attr(CKA_ID, id.data(), id.size()));
    try {
        return session.CreateObject(std::move(withId));
    } catch (const Failure& failure) {
        if (std::string(failure.what()).find("CKR_ATTRIBUTE_TYPE_INVALID") == std::string::npos)
            throw;
    }
    return session.CreateObject(std::move(attributes));
}

}  // namespace

std::vector<CK_OBJECT_HANDLE> FindDataObjects(TokenSession& session, std::string_view application,
                                              const std::string* label) {
    static const CK_OBJECT_CLASS kData = CKO_DATA;
    std::vector<CK_ATTRIBUTE> match = {
        Attr(CKA_CLASS, &kData, sizeof kData),
        Attr(CKA_APPLICATION, application.data(), application.size()),
    };
    if (label != nullptr)
        match.push_back(Attr(CKA_LABEL, label->data(), label->size()));
    return session.FindObjects(std::move(match), kMaxObjectsPerToken);
}

std::optional<Bytes> DataValue(TokenSession& session, CK_OBJECT_HANDLE object) {
    return session.Attribute(object, CKA_VALUE);
}

void PutDataObject(TokenSession& session, const DataObject& object,
                   const std::vector<CK_OBJECT_HANDLE>& replaced, const std::string& what) {
    static const CK_OBJECT_CLASS kData = CKO_DATA;
    static const CK_BBOOL kTrue = CK_TRUE;
    static const CK_BBOOL kFalse = CK_FALSE;
    std::vector<CK_ATTRIBUTE> attributes = {
        Attr(CKA_CLASS, &kData, sizeof kData),
        Attr(CKA_TOKEN, &kTrue, sizeof kTrue),
        Attr(CKA_PRIVATE, object.isPrivate ? &kTrue : &kFalse, sizeof(CK_BBOOL)),
        Attr(CKA_APPLICATION, object.application.data(), object.application.size()),
        Attr(CKA_LABEL, object.label.data(), object.label.size()),
        Attr(CKA_VALUE, object.value.data(), object.value.size()),
    };

    CK_OBJECT_HANDLE created = CK_INVALID_HANDLE;
    try {
        created = CreateWithOptionalId(session, attributes, object.id);
    } catch (const Failure& failure) {
        Refused(failure, what);
    }
    // A token (or our own reading limit) that cannot give the value back
    // would lose the data silently: keep the old objects instead.
    if (DataValue(session, created) != std::optional<Bytes>(object.value)) {
        try {
            session.DestroyObject(created);
        } catch (const Failure&) {
        }
        Fail(kPkcs11, "the token does not give back " + what +
                          " as written (too large for it?); nothing was changed");
    }
    for (CK_OBJECT_HANDLE old : replaced) {
        try {
            session.DestroyObject(old);
        } catch (const Failure& failure) {
            Refused(failure, what);
        }
    }
}

}  // namespace ref
