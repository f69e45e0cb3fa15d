#include "pkcs11/P11Util.h"

#include <algorithm>
#include <iterator>

namespace ref {

namespace {

// Larger attribute values than this are not certificates, keys or seal
// records (whose pictures may be up to 8 MiB, a third more as Base64 JSON).
constexpr CK_ULONG kMaxAttributeSize = 16 << 20;

}  // namespace

std::string PaddedText(const unsigned char* field, size_t size) {
    size_t end = size;
    while (end > 0 && (field[end - 1] == ' ' || field[end - 1] == '\0')) {
        --end;
    }
    return std::string(reinterpret_cast<const char*>(field), end);
}

TokenInfo MakeTokenInfo(const std::string& module, const CK_TOKEN_INFO& info) {
    TokenInfo token;
    token.module = module;
    token.label = PaddedText(info.label, sizeof info.label);
    token.serial = PaddedText(info.serialNumber, sizeof info.serialNumber);
    token.model = PaddedText(info.model, sizeof info.model);
    token.manufacturer = PaddedText(info.manufacturerID, sizeof info.manufacturerID);
    token.pinpad = (info.flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0;
    token.loginRequired = (info.flags & CKF_LOGIN_REQUIRED) != 0;
    token.writable = (info.flags & CKF_WRITE_PROTECTED) == 0;
    return token;
}

CK_RV PresentSlots(CK_FUNCTION_LIST* fn, std::vector<CK_SLOT_ID>& slots) {
    // The count can grow between the two calls when a reader is plugged in.
    for (int attempt = 0; attempt < 4; ++attempt) {
        CK_ULONG count = 0;
        CK_RV rv = fn->C_GetSlotList(CK_TRUE, nullptr, &count);
        if (rv != CKR_OK) {
            return rv;
        }
        slots.assign(count, 0);
        if (count == 0) {
            return CKR_OK;
        }
        rv = fn->C_GetSlotList(CK_TRUE, slots.data(), &count);
        if (rv == CKR_BUFFER_TOO_SMALL) {
            continue;
        }
        if (rv == CKR_OK) {
            slots.resize(count);
        }
        return rv;
    }
    return CKR_BUFFER_TOO_SMALL;
}

std::optional<Bytes> ReadAttribute(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session,
                                   CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE attribute{type, nullptr, 0};
    if (fn->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION ||
        attribute.ulValueLen > kMaxAttributeSize) {
        return std::nullopt;
    }
    Bytes value(attribute.ulValueLen);
    attribute.pValue = value.data();
    if (fn->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen > value.size()) {
        return std::nullopt;
    }
    value.resize(attribute.ulValueLen);
    return value;
}

std::optional<CK_ULONG> ReadUlong(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session,
                                  CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_ULONG value = 0;
    CK_ATTRIBUTE attribute{type, &value, sizeof value};
    if (fn->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen != sizeof value) {
        return std::nullopt;
    }
    return value;
}

bool ReadBool(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
              CK_ATTRIBUTE_TYPE type, bool fallback) {
    CK_BBOOL value = CK_FALSE;
    CK_ATTRIBUTE attribute{type, &value, sizeof value};
    if (fn->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen != sizeof value) {
        return fallback;
    }
    return value != CK_FALSE;
}

CK_RV FindObjects(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session, CK_ATTRIBUTE* match,
                  CK_ULONG count, size_t limit, std::vector<CK_OBJECT_HANDLE>& found) {
    found.clear();
    CK_RV rv = fn->C_FindObjectsInit(session, match, count);
    if (rv != CKR_OK) {
        return rv;
    }
    CK_OBJECT_HANDLE batch[64];
    while (found.size() < limit) {
        CK_ULONG want = static_cast<CK_ULONG>(std::min(limit - found.size(), std::size(batch)));
        CK_ULONG got = 0;
        rv = fn->C_FindObjects(session, batch, want, &got);
        if (rv != CKR_OK || got == 0) {
            break;
        }
        found.insert(found.end(), batch, batch + std::min(got, want));
    }
    CK_RV final = fn->C_FindObjectsFinal(session);
    return rv != CKR_OK ? rv : final;
}

}  // namespace ref
