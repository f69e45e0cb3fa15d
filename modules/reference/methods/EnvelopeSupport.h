#pragma once
// What the envelope and public-key cipher methods share: the recipients a
// page names, the user's own certificate an envelope is for, and the
// content buffer's filling.

#include <string>
#include <vector>

#include "control/KeyAccess.h"
#include "control/MainControl.h"
#include "core/Bytes.h"
#include "inventory/CertEntry.h"

namespace ref {

// "," joined certificate parameters (each a certificate or a sel); ""
// alone is the chosen certificate. kBadParam for an empty item.
std::vector<X509Shared> ChooseRecipients(MainControl& control, const std::string& list);

// Raw pointers of the certificates; sm2Only: each must be SM2 (kKeyType).
std::vector<X509*> RecipientPointers(const std::vector<X509Shared>& certs, bool sm2Only);

// Seals content for the recipients; sm2Only: each must be SM2 (kKeyType).
Bytes SealFor(MainControl& control, const std::string& recipients, const std::string& cipher,
              ByteView content, bool sm2Only);

// Opens a DER envelope (PKCS#7 or GM/T 0010 content types) with the user's own key for it, asking
// once. Throws kDecrypt, without asking, when no own certificate is a recipient; sm2Only: kKeyType
// when that certificate is not SM2.
Bytes OpenOwn(MainControl& control, const Bytes& envelope, bool sm2Only);

// The content as the buffer holds it after an opened envelope.
void KeepContent(MainControl& control, Bytes content, bool binary);

}  // namespace ref
