#pragma once
// Small helpers over the raw Cryptoki calls: a loaded module, padded text
// fields, attribute reads and bounded object searches.

#include <p11-kit/pkcs11.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "pkcs11/Pkcs11Registry.h"

namespace ref {

// One initialised module. owner keeps it loaded: the registry and every
// session opened on it hold a copy, so a Reload never pulls a module from
// under a session that is still in use.
struct P11Module {
    std::string name;
    CK_FUNCTION_LIST* fn = nullptr;
    std::shared_ptr<void> owner;
};

// A fixed-width, blank-padded CK_*_INFO field as text, padding removed.
std::string PaddedText(const unsigned char* field, size_t size);

TokenInfo MakeTokenInfo(const std::string& module, const CK_TOKEN_INFO& info);

// The slots with a token present, in the module's order.
CK_RV PresentSlots(CK_FUNCTION_LIST* fn, std::vector<CK_SLOT_ID>& slots);

// An attribute's value; nullopt when the object has none, it is sensitive,
// or it is larger than any sane certificate or key attribute.
std::optional<Bytes> ReadAttribute(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session,
                                   CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
std::optional<CK_ULONG> ReadUlong(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session,
                                  CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
// A CK_BBOOL attribute, fallback when the token does not have it.
bool ReadBool(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
              CK_ATTRIBUTE_TYPE type, bool fallback);

// The objects matching the template, at most limit of them.
CK_RV FindObjects(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session, CK_ATTRIBUTE* match,
                  CK_ULONG count, size_t limit, std::vector<CK_OBJECT_HANDLE>& found);

// The most objects read from one token in one listing: a broken or hostile
// token cannot make a listing run without end.
inline constexpr size_t kMaxObjectsPerToken = 1024;

}  // namespace ref
