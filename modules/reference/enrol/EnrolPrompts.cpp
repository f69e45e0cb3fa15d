#include "enrol/EnrolPrompts.h"

#include "core/Outcome.h"
#include "enrol/EnrolControl.h"
#include "pin/CallerText.h"
#include "pin/PinEntry.h"
#include "pkcs11/TokenSession.h"

namespace ref {

namespace {

constexpr const char* kTitle = "Signing service";

PinEntrySettings Settings(const EnrolControl& control) {
    return {control.config.pinentry, control.config.pinTimeoutSeconds};
}

Secret Ask(EnrolControl& control, const std::string& description, const char* prompt, bool repeat) {
    PinRequest request;
    request.title = kTitle;
    request.description = description;
    request.prompt = prompt;
    request.repeat = repeat;
    PinAnswer answer = AskPin(Settings(control), request);
    switch (answer.status) {
        case PinStatus::kOk:
            return std::move(answer.pin);
        case PinStatus::kCancelled:
            Fail(kCancelled, "PIN entry cancelled or timed out");
        case PinStatus::kUnavailable:
            break;
    }
    Fail(kCancelled, "no usable PIN entry" + (answer.detail.empty() ? "" : ": " + answer.detail));
}

std::string Describe(const EnrolControl& control, const std::string& operation,
                     const std::string& where) {
    return Asker(control.caller) + " asks to " + operation + ".\n\n" + where;
}

}  // namespace

void LoginForEnrolment(EnrolControl& control, TokenSession& session, const std::string& operation) {
    const TokenInfo& token = session.token();
    if (token.pinpad) {
        session.Login(nullptr);
        return;
    }
    const Secret pin = Ask(
        control, Describe(control, operation, "Token: " + token.label + " (" + token.serial + ")"),
        "PIN:", false);
    session.Login(&pin);
}

Secret AskNewPassword(EnrolControl& control, const std::string& operation) {
    Secret password =
        Ask(control,
            Describe(control, operation,
                     "Store: software certificate\nChoose a password for the new key; "
                     "it will be asked whenever the key is used."),
            "Password:", true);
    if (password.empty())
        Fail(kBadParam, "an empty password would leave the new key unprotected");
    return password;
}

Secret AskSoftPassword(EnrolControl& control, const std::string& operation) {
    return Ask(control,
               Describe(control, operation,
                        "Store: software certificate\nThe password chosen when the "
                        "key was made."),
               "Password:", false);
}

bool ConfirmWithUser(EnrolControl& control, const std::string& description) {
    return AskConfirm(Settings(control), kTitle, description).status == PinStatus::kOk;
}

}  // namespace ref
