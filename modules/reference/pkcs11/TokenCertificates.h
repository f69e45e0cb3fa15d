#pragma once
// The certificates on one token, read in a session of their own without
// logging in.

#include <vector>

#include "pkcs11/P11Util.h"

namespace ref {

// Appends the token's X.509 certificates; a token that fails adds nothing
// and does not throw, so it cannot hide the others.
void ReadTokenCertificates(CK_FUNCTION_LIST* fn, CK_SLOT_ID slot, const TokenInfo& token,
                           std::vector<TokenCertificate>& out) noexcept;

}  // namespace ref
