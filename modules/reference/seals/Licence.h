#pragma once
// Licence data: named bytes kept where a certificate lies. On its token, a
// private CKO_DATA object (CKA_APPLICATION "zqtca.licence", CKA_LABEL the
// name), so reading and writing both need a login; for a software
// certificate, <licenceDir>/<sha256 of the name, hex>.bin, mode 0600.

#include <string>

#include "core/Bytes.h"
#include "inventory/CertEntry.h"
#include "pkcs11/Pkcs11Registry.h"
#include "seals/SealStore.h"

namespace ref {

// Writes or replaces. Throws Failure: kBadParam (no name, no data, too
// large), kNoToken, kPkcs11 (CKR_DEVICE_MEMORY: the token is full), kFile,
// or what login throws.
void WriteLicence(Pkcs11Registry& tokens, const std::string& licenceDir, const CertEntry& owner,
                  const std::string& name, ByteView data, const TokenLogin& login);

// Throws Failure(kNotFound) when there is no licence data of that name.
Bytes ReadLicence(Pkcs11Registry& tokens, const std::string& licenceDir, const CertEntry& owner,
                  const std::string& name, const TokenLogin& login);

}  // namespace ref
