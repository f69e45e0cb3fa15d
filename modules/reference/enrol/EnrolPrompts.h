#pragma once
// What the enrolment control asks the user through pinentry: a token's PIN
// (once per call and token), a new password for a software key, that
// password again at installation, and consent to trust a CA.

#include <string>

#include "core/Secret.h"
#include "enrol/Devices.h"

namespace ref {

class EnrolControl;
class TokenSession;

// Logs the session in: the PIN pad asks, or pinentry. The description names
// the operation and the token. Throws Failure: kCancelled, kBadPin,
// kPinLocked, kNoToken.
void LoginForEnrolment(EnrolControl& control, TokenSession& session, const std::string& operation);

// A new password, typed twice (SETREPEAT), for keys kept in the software
// store. Throws kCancelled, or kBadParam for an empty one.
Secret AskNewPassword(EnrolControl& control, const std::string& operation);

// The password of pending software keys. Throws kCancelled.
Secret AskSoftPassword(EnrolControl& control, const std::string& operation);

// One CONFIRM; false when declined, cancelled or no pinentry is usable.
bool ConfirmWithUser(EnrolControl& control, const std::string& description);

}  // namespace ref
