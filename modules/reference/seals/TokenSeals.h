#pragma once
// Seal records on one token, through a session the caller opened.

#include <vector>

#include "core/Bytes.h"
#include "pkcs11/TokenSession.h"
#include "seals/SealStore.h"

namespace ref {

// The public seal records the session sees; objects that do not parse are
// skipped. Needs no login.
std::vector<StoredSeal> TokenSeals(TokenSession& session);

// Writes the record as a public object with CKA_ID keyId, replacing the
// records of the same name and type. The session is read-write and logged in.
void PutTokenSeal(TokenSession& session, const SealRecord& record, ByteView keyId);

}  // namespace ref
