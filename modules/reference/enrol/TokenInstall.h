#pragma once
// Installing certificates on a token next to their key pairs.

#include <string>

#include "core/Ossl.h"
#include "enrol/InstallUndo.h"
#include "enrol/PendingKeys.h"

namespace ref {

class TokenSession;

// The label an installed key pair and its certificate get: the subject's CN
// (its serial when it has none).
std::string InstalledLabel(X509* cert);

// The private half of a pending pair, usable by OpenSSL through the
// (logged-in) session. Throws kNoKey when the token has none.
EvpPkeyPtr PendingPrivateKey(TokenSession& session, const PendingKey& pending);

// Opens the CA's envelope with the pending signing key. The key may only
// sign, so for this one operation it is allowed to decrypt (RSA) or derive
// (EC), and set back after. Throws kUnsupported when the token will not
// allow it, and as OpenEncKey does.
EvpPkeyPtr OpenSentKey(TokenSession& session, const PendingKey& signing, ByteView envelope,
                       X509* signCert, X509* encCert);

// Puts cert on the token with the pending pair's CKA_ID and relabels the
// pair. Throws Failure naming what could not be written.
void InstallNextToKey(TokenSession& session, const PendingKey& pending, X509* cert,
                      InstallUndo& undo);

// Imports an encryption key sent by the CA (sensitive, not extractable),
// its public key and its certificate, all under the key's id.
void ImportKeyWithCertificate(TokenSession& session, EVP_PKEY* key, X509* cert, InstallUndo& undo);

}  // namespace ref
