#pragma once
// Seal records and licence data, on a token as CKO_DATA objects or as
// files in the software store's seal folder.
//
// A record: {"v":1,"name":…,"type":…,"format":…,"certSn":…,"data":"<Base64>"}
// On a token: CKO_DATA, CKA_APPLICATION "zqtca.seal", CKA_LABEL = name,
// CKA_ID = the bound key's CKA_ID (left out on tokens that refuse CKA_ID on
// data objects, as PKCS#11 has it), CKA_PRIVATE false, CKA_VALUE = the record
// as compact UTF-8 JSON. In the store: <sealDir>/<sha256 of the name, hex>.json,
// or <…>.<type>.json for types other than 1.
// Licence data: CKO_DATA, CKA_APPLICATION "zqtca.licence", CKA_PRIVATE true.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "inventory/CertEntry.h"
#include "pkcs11/Pkcs11Registry.h"
#include "pkcs11/TokenSession.h"

namespace ref {

struct SealRecord {
    std::string name;
    int32_t type = 1;    // 1 picture, 2 GB/T 38540 seal data, others opaque
    std::string format;  // "png", "bmp", "gif", "der", or "" when unknown
    std::string certSn;  // the bound certificate's serial (hex), "" when unbound
    Bytes data;
};

// Compact UTF-8 JSON; without "data" when withData is false.
std::string SealRecordJson(const SealRecord& record, bool withData);
// Throws Failure(kMalformed) when the text is not a record.
SealRecord ParseSealRecord(std::string_view json);

struct StoredSeal {
    SealRecord record;
    std::string store;  // "pkcs11" or "soft"
    TokenInfo token;    // "pkcs11": where it lies
    Bytes keyId;        // "pkcs11": the record's CKA_ID, else the bound certificate's
};

// Every public seal record: on each present token (read without logging
// in) and in the seal folder. Records that do not parse are skipped.
std::vector<StoredSeal> ListSeals(Pkcs11Registry& tokens, const std::string& sealDir);

// Logs a read-write session in (asking the user); throws Failure as
// TokenSession::Login does.
using TokenLogin = std::function<void(TokenSession& session)>;

// Writes or replaces (same name and type) the record where boundTo lies:
// on its token, through a read-write session that login logs in, with
// CKA_ID = boundTo's key id; or, for a software certificate, in the seal
// folder. record.certSn is set from boundTo.
void WriteSeal(Pkcs11Registry& tokens, const std::string& sealDir, const CertEntry& boundTo,
               SealRecord record, const TokenLogin& login);

}  // namespace ref
