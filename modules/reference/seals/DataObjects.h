#pragma once
// CKO_DATA objects of one application on a token: found, read, and put in
// place of older ones without ever leaving the token with neither.

#include <p11-kit/pkcs11.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "pkcs11/TokenSession.h"

namespace ref {

inline constexpr std::string_view kSealApplication = "zqtca.seal";
inline constexpr std::string_view kLicenceApplication = "zqtca.licence";

struct DataObject {
    std::string_view application;
    std::string label;
    Bytes id;  // CKA_ID; left out when empty or the token refuses it
    bool isPrivate = false;
    Bytes value;
};

// The data objects of the application the session can see, optionally only
// those with this label.
std::vector<CK_OBJECT_HANDLE> FindDataObjects(TokenSession& session, std::string_view application,
                                              const std::string* label = nullptr);

// CKA_VALUE; nullopt when the token does not give it.
std::optional<Bytes> DataValue(TokenSession& session, CK_OBJECT_HANDLE object);

// Creates the object, checks the token gives its value back whole, and only
// then destroys the objects it replaces. what names it in messages (e.g.
// "the seal \"Finance\""). Throws Failure: kNoToken for a pulled token,
// kPkcs11 naming what and the CKR (CKR_DEVICE_MEMORY: the token is full).
void PutDataObject(TokenSession& session, const DataObject& object,
                   const std::vector<CK_OBJECT_HANDLE>& replaced, const std::string& what);

}  // namespace ref
