#pragma once
// ZQT_CreateP10 and ZQT_CreatedoubleP10: new key pairs on the chosen device
// and a request for each.

#include <string>
#include <vector>

#include "core/Outcome.h"
#include "pkcs11/TokenKeyPair.h"

namespace ref {

class EnrolControl;

// Base64 DER PKCS#10 per role, in order. One login (token) or one new
// password (software store) for all of them. Throws Failure: kState (no
// device chosen), kNoToken, kCancelled, kBadPin, kKeyType, kPkcs11.
std::vector<std::string> CreateRequests(EnrolControl& control, const std::vector<KeyRole>& roles);

// Wraps a failure while writing to a token so that its message says what
// was being written.
template <typename Operation>
auto Writing(const std::string& what, Operation&& operation) {
    try {
        return operation();
    } catch (const Failure& failure) {
        throw Failure(failure.code(), "cannot write " + what + ": " + failure.what());
    }
}

}  // namespace ref
