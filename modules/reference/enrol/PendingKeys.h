#pragma once
// Key pairs made for a request whose certificate has not arrived yet. On a
// token they are the key objects labelled "zqtca pending ..."; in the
// software store, one file per key in the pending folder: its public key in
// the clear (to match certificates without asking) and the private key as
// PKCS#8 encrypted with PBES2/AES-256 under the password chosen for it.

#include <p11-kit/pkcs11.h>

#include <ctime>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "core/Secret.h"
#include "pkcs11/TokenKeyPair.h"

namespace ref {

class TokenSession;

inline constexpr std::string_view kPendingPrefix = "zqtca pending ";

// "zqtca pending sign 2026-12-09T22:30:00Z" (or "enc").
std::string PendingLabel(KeyRole role, std::time_t now);
const char* RoleName(KeyRole role);  // "sign", "enc"

struct PendingKey {
    Bytes id;
    std::string label;
    std::string kind;  // "sign" or "enc", from the label
    EvpPkeyPtr publicKey;
    CK_OBJECT_HANDLE publicObject = CK_INVALID_HANDLE;  // token keys
    std::string path;                                   // software keys
};

// The pending key pairs of a token, read without login from their public
// key objects. Keys whose public half cannot be read are skipped.
std::vector<PendingKey> PendingOnToken(TokenSession& session);

// The pending software keys; unreadable files are skipped. A missing
// folder holds none.
std::vector<PendingKey> PendingInFolder(const std::string& dir);

// Writes key into the folder under the password; returns the file's path.
// Throws Failure(kFile).
std::string WritePendingFile(const std::string& dir, EVP_PKEY* key, KeyRole role,
                             const Secret& password);

// The private key of a pending file. Throws kBadPin (wrong password),
// kFile, kMalformed.
EvpPkeyPtr OpenPendingFile(const PendingKey& pending, const Secret& password);

}  // namespace ref
