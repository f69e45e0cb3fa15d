#pragma once
// ZQT_InstallSignCertAndEnCert: the CA's certificates go next to the
// pending key pairs they were issued for, found by public key.

#include <string>

#include "core/Outcome.h"

namespace ref {

class EnrolControl;

// signText, encText: Base64 DER, PEM or a certs-only PKCS#7 ("" for no
// encryption certificate). encKeyText: "" when the encryption key was made
// here, else a Base64 CMS EnvelopedData for the signing certificate holding
// the PKCS#8 encryption key. All or nothing: a failure takes back what was
// written. CA certificates that came along are trusted only if the user
// confirms. Throws Failure: kNoKey (no pending key for a certificate),
// kUnsupported (encKey not an envelope), kNoToken, kBadPin, kCancelled,
// kDecrypt, kMalformed, kPkcs11, kFile.
void InstallCertificates(EnrolControl& control, const std::string& signText,
                         const std::string& encText, const std::string& encKeyText);

}  // namespace ref
