#pragma once
// What a Cryptoki return value means for the caller: one of our codes and a
// message that names the function and the CKR.

#include <p11-kit/pkcs11.h>

#include <string>

#include "core/Outcome.h"
#include "pkcs11/Pkcs11Registry.h"

namespace ref {

// Return values that say the token or its session is gone.
bool MeansTokenGone(CK_RV rv);

// The Failure for rv returned by function on token. tokenGone: the caller
// found the token absent after an ambiguous error (CKR_DEVICE_ERROR).
Failure CkrFailure(const std::string& function, CK_RV rv, const TokenInfo& token,
                   bool tokenGone = false);

// "token <label> (<serial>) is not present"
std::string NotPresentMessage(const TokenInfo& token);

}  // namespace ref
