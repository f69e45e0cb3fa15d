#pragma once
// ZQT_InstallSeal: a seal record written where its certificate lies.

#include <string>

namespace ref {

class EnrolControl;

// record: a seal record as JSON, or a bare Base64 picture (then a type 1
// record named after the certificate's CN, its format read from the
// picture's first bytes). certSel: the certificate it is bound to (serial,
// thumbprint, PKCS#11 URI or the certificate). Throws Failure: kBadParam,
// kMalformed, kNotFound, kNoKey, kNoToken, kCancelled, kBadPin, kPkcs11.
void InstallSeal(EnrolControl& control, const std::string& record, const std::string& certSel);

}  // namespace ref
